// Jobs with a scripted archiver: archive sizes that fix the progress plan,
// failing exit codes and an archive that never appears.
#include "jobtext.h"
#include "toolfiles.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>

#include <csignal>
#endif

class FakeArchiverTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void progressPlan_data();
    void progressPlan();
    void exitCodeFails_data();
    void exitCodeFails();
    void archiveNeverWritten();
    void archiverKilled();
    void failingSteps_data();
    void failingSteps();
    void failedJobKeepsPreviousOutput_data();
    void failedJobKeepsPreviousOutput();

private:
    JobArgs argsFor(const QString &name, const QString &mode);
    QTemporaryDir m_dir;
};

namespace {

#ifdef Q_OS_UNIX
// Lowers this process's file size limit (inherited by the archiver) while it
// lives: writes beyond it fail for real, as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};
#endif

} // namespace

void FakeArchiverTest::initTestCase()
{
#ifdef Q_OS_UNIX
    // Writing beyond the file size limit fails with EFBIG instead of a signal.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

JobArgs FakeArchiverTest::argsFor(const QString &name, const QString &mode)
{
    JobArgs args;
    makeSmallJob(m_dir.filePath(name), args);
    args.method = mode;
    args.cleanup = QStringLiteral("0");
    return args;
}

void FakeArchiverTest::progressPlan_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("3,000,000 bytes: three pieces") << qint64(3000000) << QList<int>{65, 81, 95};
    QTest::newRow("2,097,152 bytes: two pieces") << qint64(2097152) << QList<int>{72, 95};
    QTest::newRow("empty archive") << qint64(0) << QList<int>{};
}

void FakeArchiverTest::progressPlan()
{
    QFETCH(qint64, size);
    QFETCH(QList<int>, pieces);
    const JobArgs args =
        argsFor(QStringLiteral("size-%1").arg(size), QStringLiteral("size:%1").arg(size));
    const JobRun run = runJob(args);
    QVERIFY2(run.succeeded(), qPrintable(run.log.join('\n')));

    // The scripted archiver prints 40% first (then 100%, possibly in the same
    // chunk): values taken while it runs, never above 45.
    const QList<int> compressing = archiverProgress(run);
    QVERIFY2(!compressing.isEmpty() && compressing.first() == 18,
             qPrintable(run.events.join('\n')));
    for (int value : compressing) {
        QVERIFY(value == 18 || value == 45);
    }

    // Lines and values of the assembly, in the order emitted.
    const qint64 blockSize = quillon::buildSfxConfig(args.mainExe).toUtf8().size();
    const qint64 moduleSize = readFile(QStringLiteral(ENGINE_FAKE_MODULE)).size();
    const QString output = args.outputDir + QStringLiteral("/app.exe");
    QCOMPARE(QFileInfo(output).size(), moduleSize + blockSize + size);
    QStringList expected{QStringLiteral("log 压缩包创建成功，大小: %1 字节").arg(size),
                         QStringLiteral("progress 50"), QStringLiteral("log SFX模块写入成功"),
                         QStringLiteral("log 配置写入成功，大小: %1 字节").arg(blockSize),
                         QStringLiteral("log 准备写入压缩包数据，大小: %1 字节").arg(size)};
    for (int value : pieces) {
        expected << QStringLiteral("progress %1").arg(value);
    }
    expected << QStringLiteral("log 压缩包数据写入完成，共写入: %1 字节").arg(size)
             << QStringLiteral("log 成功创建便携应用！最终文件大小: %1 字节")
                    .arg(moduleSize + blockSize + size)
             << QStringLiteral("log 输出文件: %1").arg(QDir::toNativeSeparators(output))
             << QStringLiteral("progress 100") << QStringLiteral("finished 1");
    QCOMPARE(assemblyEvents(run), expected);
}

void FakeArchiverTest::exitCodeFails_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("1") << 1;
    QTest::newRow("2") << 2;
    QTest::newRow("255") << 255;
}

void FakeArchiverTest::exitCodeFails()
{
    QFETCH(int, code);
    const JobArgs args =
        argsFor(QStringLiteral("exit-%1").arg(code), QStringLiteral("fail:%1").arg(code));
    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QVERIFY(run.log.size() >= 3);
    // The archiver's own message reached the log through the parser first.
    QVERIFY(run.log.contains(QStringLiteral("ERROR: simulated failure")));
    QCOMPARE(
        run.log.mid(run.log.size() - 2),
        (QStringList{QStringLiteral("7z错误输出: "), QStringLiteral("7z退出代码: %1").arg(code)}));
    QVERIFY(run.progress.isEmpty());
    // The partial archive is gone, nothing was written.
    QVERIFY(!QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
}

void FakeArchiverTest::archiveNeverWritten()
{
    const JobArgs args = argsFor(QStringLiteral("noarchive"), QStringLiteral("noarchive"));
    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QCOMPARE(run.log.last(), QStringLiteral("错误：压缩包未生成"));
    QVERIFY(run.progress.isEmpty());
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
}

void FakeArchiverTest::archiverKilled()
{
    // A crash is never taken for success, whatever is left on disk.
    const JobArgs args = argsFor(QStringLiteral("killed"), QStringLiteral("killed"));
    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QVERIFY(run.log.last().startsWith(QStringLiteral("7z退出代码: ")));
    QVERIFY(run.log.last() != QStringLiteral("7z退出代码: 0"));
    QVERIFY(!QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
}

void FakeArchiverTest::failingSteps_data()
{
    // The archiver mode, what is done to the job's surroundings, and the
    // failure line that must end the job (a prefix where it carries the
    // system's reason).
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("surroundings");
    QTest::addColumn<QString>("line");
    // The start of a later line that must not have been logged.
    QTest::addColumn<QString>("notReached");
    const QString writeError = QStringLiteral("写入错误: ");
    QTest::newRow("archiver copy cannot be made") << "size:1000"
                                                  << "limit:10 fresh archiver copy"
                                                  << "错误：无法复制7zr.exe到临时目录"
                                                  << "执行命令: ";
    QTest::newRow("3 work copy cannot be made") << "size:1000"
                                                << "limit:module-1"
                                                << "错误：无法创建 SFX 模板副本"
                                                << "SFX模块写入成功";
    const QString cannotCreate = QStringLiteral("错误：无法创建输出文件: ");
    QTest::newRow("5 output is a link to a device")
        << "size:1000"
        << "output on /dev/full" << cannotCreate << "SFX模块写入成功";
    QTest::newRow("8 block write fails") << "size:1000"
                                         << "limit:module+10" << writeError << "配置写入成功";
    QTest::newRow("11 archive write cut short")
        << "size:4000"
        << "limit:module+block+2000" << writeError << "压缩包数据写入完成";
    QTest::newRow("9 archive cannot be read") << "dir"
                                              << ""
                                              << "错误：无法读取压缩包文件"
                                              << "准备写入压缩包数据";
    QTest::newRow("temporary output gone before the move")
        << "fifo"
        << "" << cannotCreate << "成功创建便携应用";
}

void FakeArchiverTest::failingSteps()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, mode);
    QFETCH(QString, surroundings);
    QFETCH(QString, line);
    QFETCH(QString, notReached);
    const JobArgs args = argsFor(QStringLiteral("step-%1").arg(QTest::currentDataTag()), mode);
    const QString output = args.outputDir + QStringLiteral("/app.exe");
    const qint64 moduleSize = readFile(QStringLiteral(ENGINE_FAKE_MODULE)).size();
    const qint64 blockSize = quillon::buildSfxConfig(args.mainExe).toUtf8().size();

    // The helper copies exist and match, so only the step under test writes.
    JobArgs warmUp =
        argsFor(QStringLiteral("warm-%1").arg(QTest::currentDataTag()), QStringLiteral("size:10"));
    QVERIFY(runJob(warmUp).succeeded());
    if (surroundings.contains(QLatin1String("fresh archiver copy"))) {
        QVERIFY(QFile::remove(quillon::privateToolDirectory() + QStringLiteral("/7zr.exe")));
    }
    if (surroundings == QLatin1String("output on /dev/full")) {
        QVERIFY(QDir().mkpath(args.outputDir));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), output));
    }
    qint64 limit = RLIM_INFINITY;
    if (surroundings.startsWith(QLatin1String("limit:"))) {
        const QString spec = surroundings.mid(6).section(QLatin1Char(' '), 0, 0);
        limit = spec == QLatin1String("10")                  ? 10
                : spec == QLatin1String("module-1")          ? moduleSize - 1
                : spec == QLatin1String("module+10")         ? moduleSize + 10
                : spec == QLatin1String("module+block+2000") ? moduleSize + blockSize + 2000
                                                             : -1;
        QVERIFY(limit > 0);
    }

    JobRun run;
    {
        const FileSizeLimit sizeLimit{static_cast<rlim_t>(limit)};
        QVERIFY(sizeLimit.ok());
        run = runJob(args);
    }
    QVERIFY(run.failed());
    // The failure line, then finished(false) and nothing more.
    QVERIFY(run.events.size() >= 2);
    QCOMPARE(run.events.last(), QStringLiteral("finished 0"));
    const QString failure = run.events.at(run.events.size() - 2);
    QVERIFY2(failure.startsWith(QStringLiteral("log ") + line), qPrintable(run.events.join('\n')));
    if (line.endsWith(QStringLiteral(": "))) {
        // The system's reason follows.
        QVERIFY(failure.size() > line.size() + 4);
    } else {
        QCOMPARE(failure, QStringLiteral("log ") + line);
    }
    QVERIFY2(std::none_of(
                 run.log.cbegin(), run.log.cend(),
                 [&notReached](const QString &logged) { return logged.startsWith(notReached); }),
             qPrintable(run.log.join('\n')));
    if (surroundings == QLatin1String("output on /dev/full")) {
        // Neither the link nor the device it names is replaced.
        QCOMPARE(QFileInfo(output).symLinkTarget(), QStringLiteral("/dev/full"));
        QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
    } else {
        QVERIFY(!QFileInfo::exists(output) && !QFileInfo(output).isSymLink());
    }
    QCOMPARE(QDir(args.outputDir).entryList(QDir::Files | QDir::System | QDir::Hidden),
             QFileInfo(output).isSymLink() ? QStringList{QStringLiteral("app.exe")}
                                           : QStringList());
    QCOMPARE(QFileInfo::exists(args.archive),
             mode != QLatin1String("size:1000") ||
                 !surroundings.contains(QLatin1String("archiver")));
#else
    QSKIP("file size limits and named pipes are POSIX");
#endif
}

void FakeArchiverTest::failedJobKeepsPreviousOutput_data()
{
    // The archiver mode and the file size limit beyond the module.
    QTest::addColumn<QString>("mode");
    QTest::addColumn<qint64>("limitBeyondModule");
    QTest::newRow("block write fails") << "size:1000" << qint64(10);
    QTest::newRow("archive write cut short") << "size:400000" << qint64(2000);
    QTest::newRow("temporary output gone before the move") << "fifo" << qint64(-1);
}

void FakeArchiverTest::failedJobKeepsPreviousOutput()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, mode);
    QFETCH(qint64, limitBeyondModule);
    const JobArgs args = argsFor(QStringLiteral("previous-%1").arg(QTest::currentDataTag()), mode);
    const QString output = args.outputDir + QStringLiteral("/app.exe");
    JobArgs warmUp =
        argsFor(QStringLiteral("warm-previous-%1").arg(QTest::currentDataTag()), "size:10");
    QVERIFY(runJob(warmUp).succeeded());
    // Yesterday's good output, larger than any limit here.
    QByteArray previous;
    for (int i = 0; i < 40000; ++i)
        previous += QByteArray::number(i) + ' ';
    QVERIFY(QDir().mkpath(args.outputDir));
    QVERIFY(writeFile(output, previous));
    const qint64 moduleSize = readFile(QStringLiteral(ENGINE_FAKE_MODULE)).size();

    JobRun run;
    {
        const FileSizeLimit sizeLimit{limitBeyondModule < 0
                                          ? RLIM_INFINITY
                                          : static_cast<rlim_t>(moduleSize + limitBeyondModule)};
        QVERIFY(sizeLimit.ok());
        run = runJob(args);
    }
    QVERIFY2(run.failed(), qPrintable(run.log.join('\n')));
    QVERIFY(readFile(output) == previous);
    QCOMPARE(QDir(args.outputDir).entryList(QDir::Files | QDir::System | QDir::Hidden),
             QStringList{QStringLiteral("app.exe")});
#else
    QSKIP("file size limits and named pipes are POSIX");
#endif
}

QTEST_GUILESS_MAIN(FakeArchiverTest)
#include "tst_fakearchiver.moc"
