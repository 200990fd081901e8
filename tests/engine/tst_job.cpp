// Whole jobs with the real archiver and a stand-in module: input checks,
// output naming and layout, clean-up, failures of the archiver and of the
// output file, and two jobs at once.
#include "jobtext.h"
#include "toolfiles.h"
#include "worker.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

const QString ArchiveOk = QStringLiteral("压缩包创建成功，大小: ");

QByteArray moduleBytes()
{
    return readFile(QStringLiteral(ENGINE_FAKE_MODULE));
}

// The job's own lines with the archiver's output (between the start line and
// the archive line) and the icon step's lines taken out.
QStringList engineLines(const QStringList &log)
{
    QStringList kept;
    bool inArchiver = false;
    for (const QString &line : withoutIconStep(log)) {
        if (line.startsWith(ArchiveOk)) {
            inArchiver = false;
        }
        if (!inArchiver) {
            kept << line;
        }
        if (line == QStringLiteral("7z进程已启动，开始压缩...")) {
            inArchiver = true;
        }
    }
    return kept;
}

QStringList workCopiesLeft()
{
    return QDir(quillon::privateToolDirectory())
        .entryList({QStringLiteral("Quillon_sfx_work*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class JobTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void failingInputSteps_data();
    void failingInputSteps();
    void invalidMainProgramName_data();
    void invalidMainProgramName();
    void outputIsModuleBlockArchive();
    void outputNaming_data();
    void outputNaming();
    void cleanupFlag_data();
    void cleanupFlag();
    void archiverRefusesMethod();
    void outputCannotBeOpened();
    void existingOutputOverwritten();
    void plantedArchiverIsReplaced();
    void concurrentJobs();

private:
    JobArgs argsFor(const QString &name);
    QTemporaryDir m_dir;
};

void JobTest::init()
{
    QVERIFY(m_dir.isValid());
}

JobArgs JobTest::argsFor(const QString &name)
{
    JobArgs args;
    makeSmallJob(m_dir.filePath(name), args);
    writeFile(args.folder + QStringLiteral("/readme.txt"), "hello");
    return args;
}

void JobTest::failingInputSteps_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("4 source folder missing") << "nofolder";
    QTest::newRow("5 main program missing") << "noprogram";
    QTest::newRow("6 output directory cannot be made") << "badoutdir";
    QTest::newRow("8 output is the main program") << "sameasmain";
    QTest::newRow("8 output directory links to the source") << "linkedoutdir";
}

void JobTest::failingInputSteps()
{
    QFETCH(QString, kind);
    JobArgs args = argsFor(QStringLiteral("fail-") + kind);
    QStringList tail;
    const QString mainPath = QDir(args.folder).filePath(args.mainExe);
    if (kind == QLatin1String("nofolder")) {
        QDir(args.folder).removeRecursively();
        tail << QStringLiteral("错误：源文件夹不存在");
    } else if (kind == QLatin1String("noprogram")) {
        args.mainExe = QStringLiteral("missing.exe");
        tail << QStringLiteral("错误：主程序 missing.exe 不存在于源文件夹中")
             << QStringLiteral("完整路径: %1").arg(args.folder + QStringLiteral("/missing.exe"));
    } else if (kind == QLatin1String("badoutdir")) {
        // A file where a parent directory would have to be.
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("fail-badoutdir/blocker")), "x"));
        args.outputDir = m_dir.filePath(QStringLiteral("fail-badoutdir/blocker/out"));
        tail << QStringLiteral("主程序路径验证成功: %1").arg(mainPath)
             << QStringLiteral("错误：无法创建输出目录: %1").arg(args.outputDir);
    } else {
        if (kind == QLatin1String("sameasmain")) {
            args.outputDir = args.folder;
        } else {
            args.outputDir = m_dir.filePath(QStringLiteral("fail-linkedoutdir/linked"));
            QVERIFY(QFile::link(args.folder, args.outputDir));
        }
        tail << QStringLiteral("主程序路径验证成功: %1").arg(mainPath)
             << QStringLiteral("错误：输出文件与源主程序路径相同，已中止以避免覆盖原始程序");
    }
    // Stale files of an earlier job are removed before any check.
    QVERIFY(writeFile(args.archive, "stale"));
    QVERIFY(writeFile(args.archive + QStringLiteral(".tmp"), "stale"));

    const JobRun run = runJob(args);
    QCOMPARE(run.log, headerLines(args) + tail);
    QVERIFY(run.progress.isEmpty());
    QVERIFY(run.failed());
    QVERIFY(!QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.archive + QStringLiteral(".tmp")));
    if (QFileInfo::exists(mainPath)) {
        QCOMPARE(readFile(mainPath), QByteArray("MZ program"));
    }
    if (kind != QLatin1String("sameasmain") && kind != QLatin1String("linkedoutdir")) {
        QVERIFY(!QFile::exists(QDir(args.outputDir).filePath(QStringLiteral("app.exe"))));
    }
}

void JobTest::invalidMainProgramName_data()
{
    QTest::addColumn<QString>("name");
    // Names a Linux folder can hold but Windows cannot, and that would
    // otherwise reach the configuration block verbatim.
    QTest::newRow("second ExecuteFile line") << "x\"\nExecuteFile=\"other.exe";
    QTest::newRow("quote") << "a\"b.exe";
    QTest::newRow("in a subfolder") << "bin/app.exe";
    QTest::newRow("backslash") << "a\\b.exe";
    QTest::newRow("trailing dot") << "app.exe.";
    QTest::newRow("trailing blank") << "app.exe ";
}

void JobTest::invalidMainProgramName()
{
    QFETCH(QString, name);
    JobArgs args = argsFor(QStringLiteral("badname-%1").arg(QTest::currentDataTag()));
    args.mainExe = name;
    QVERIFY(writeFile(QDir(args.folder).filePath(name), "MZ other"));
    QVERIFY(writeFile(QDir(args.folder).filePath(QStringLiteral("other.exe")), "MZ other"));

    const JobRun run = runJob(args);
    QCOMPARE(run.log, headerLines(args) +
                          QStringList{QStringLiteral("错误：主程序文件名无效: %1").arg(name)});
    QVERIFY(run.failed());
    QVERIFY(run.progress.isEmpty());
    // Refused before anything is written: not even the output directory.
    QVERIFY(!QFileInfo::exists(args.outputDir));
}

void JobTest::outputIsModuleBlockArchive()
{
    JobArgs args = argsFor(QStringLiteral("layout"));
    QDir(args.folder).removeRecursively();
    const QMap<QString, qint64> expectedTree = makeSourceTree(args.folder);
    args.cleanup = QStringLiteral("0");
    // The private directory starts without an archiver copy in this test
    // binary, so the first job copies it.
    QFile::remove(quillon::privateToolDirectory() + QStringLiteral("/7zr.exe"));

    const JobRun run = runJob(args);
    QVERIFY2(run.succeeded(), qPrintable(run.log.join('\n')));

    const QByteArray module = moduleBytes();
    const QByteArray block = quillon::buildSfxConfig(args.mainExe).toUtf8();
    const QByteArray archive = readFile(args.archive);
    QVERIFY(!module.isEmpty());
    QVERIFY(!archive.isEmpty());
    const QString outputPath = args.outputDir + QStringLiteral("/app.exe");
    const QByteArray output = readFile(outputPath);
    QCOMPARE(output.size(), module.size() + block.size() + archive.size());
    QVERIFY(output.left(module.size()) == module);
    QVERIFY(output.mid(module.size(), block.size()) == block);
    QVERIFY(output.mid(module.size() + block.size()) == archive);
    QCOMPARE(listArchive(args.archive), expectedTree);

    const QString toolDir = quillon::privateToolDirectory();
    const QString archiverCopy = toolDir + QStringLiteral("/7zr.exe");
    const QStringList args7z = quillon::archiverArguments(
        args.archive, args.folder, args.level, args.method, args.dict, quillon::nativePathStyle());
    const QStringList expected =
        headerLines(args) +
        QStringList{QStringLiteral("主程序路径验证成功: %1").arg(args.folder + "/app.exe"),
                    QStringLiteral("7zr.exe已复制到临时目录"),
                    QStringLiteral("执行命令: %1 %2").arg(archiverCopy, args7z.join(' ')),
                    QStringLiteral("7z进程已启动，开始压缩..."),
                    ArchiveOk + QStringLiteral("%1 字节").arg(archive.size()),
                    QStringLiteral("SFX模块写入成功"),
                    QStringLiteral("配置写入成功，大小: 83 字节"),
                    QStringLiteral("准备写入压缩包数据，大小: %1 字节").arg(archive.size()),
                    QStringLiteral("压缩包数据写入完成，共写入: %1 字节").arg(archive.size()),
                    QStringLiteral("成功创建便携应用！最终文件大小: %1 字节").arg(output.size()),
                    QStringLiteral("输出文件: %1").arg(QDir::toNativeSeparators(outputPath))};
    if (engineLines(run.log) != expected) {
        qWarning().noquote() << run.log.join(QLatin1Char('\n'));
    }
    QCOMPARE(engineLines(run.log), expected);
    QCOMPARE(args7z.at(3), args.folder + QStringLiteral("/*"));

    // Progress: within 0..45 and rising while compressing, then 50, one
    // piece (the archive is small) to 95, then 100.
    const int fifty = int(run.progress.indexOf(50));
    QVERIFY(fifty >= 0);
    for (int i = 0; i < fifty; ++i) {
        QVERIFY(run.progress.at(i) >= 0 && run.progress.at(i) <= 45);
        QVERIFY(i == 0 || run.progress.at(i) > run.progress.at(i - 1));
    }
    QCOMPARE(run.progress.mid(fifty), (QList<int>{50, 95, 100}));
    // Each value at its moment among the lines.
    const QStringList assembly = assemblyEvents(run);
    QCOMPARE(assembly.mid(0, 3),
             (QStringList{"log " + ArchiveOk + QStringLiteral("%1 字节").arg(archive.size()),
                          QStringLiteral("progress 50"), QStringLiteral("log SFX模块写入成功")}));
    QCOMPARE(assembly.mid(4),
             (QStringList{
                 QStringLiteral("log 准备写入压缩包数据，大小: %1 字节").arg(archive.size()),
                 QStringLiteral("progress 95"),
                 QStringLiteral("log 压缩包数据写入完成，共写入: %1 字节").arg(archive.size()),
                 QStringLiteral("log 成功创建便携应用！最终文件大小: %1 字节").arg(output.size()),
                 QStringLiteral("log 输出文件: %1").arg(QDir::toNativeSeparators(outputPath)),
                 QStringLiteral("progress 100"), QStringLiteral("finished 1")}));

    QCOMPARE(QFileInfo(outputPath).permissions() & 0x7777, QFileDevice::Permissions(0x7755));
    QVERIFY(workCopiesLeft().isEmpty());

    // A second job reuses the identical archiver copy without a line.
    const JobRun again = runJob(args);
    QVERIFY(again.succeeded());
    QVERIFY(!again.log.contains(QStringLiteral("7zr.exe已复制到临时目录")));
}

void JobTest::outputNaming_data()
{
    QTest::addColumn<QString>("mainExe");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("inner dot kept") << "tool.beta.exe"
                                    << "tool.beta.exe";
    QTest::newRow("no suffix") << "tool"
                               << "tool.exe";
    QTest::newRow("upper-case suffix replaced") << "APP.EXE"
                                                << "APP.exe";
}

void JobTest::outputNaming()
{
    QFETCH(QString, mainExe);
    QFETCH(QString, outputName);
    JobArgs args = argsFor(QStringLiteral("naming-") + outputName);
    args.mainExe = mainExe;
    QVERIFY(writeFile(QDir(args.folder).filePath(mainExe), "MZ named"));

    const JobRun run = runJob(args);
    QVERIFY2(run.succeeded(), qPrintable(run.log.join('\n')));
    const QStringList produced = QDir(args.outputDir).entryList(QDir::Files);
    QCOMPARE(produced, QStringList{outputName});
    const QByteArray block = quillon::buildSfxConfig(mainExe).toUtf8();
    QVERIFY(
        readFile(args.outputDir + '/' + outputName).mid(moduleBytes().size()).startsWith(block));
}

void JobTest::cleanupFlag_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<bool>("removed");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("true") << "true" << false;
    QTest::newRow("leading blank") << " 1" << false;
    QTest::newRow("empty") << "" << false;
}

void JobTest::cleanupFlag()
{
    QFETCH(QString, flag);
    QFETCH(bool, removed);
    JobArgs args = argsFor(QStringLiteral("cleanup-%1").arg(QTest::currentDataTag()));
    args.cleanup = flag;
    const JobRun run = runJob(args);
    QVERIFY(run.succeeded());
    QCOMPARE(QFile::exists(args.archive), !removed);
}

void JobTest::archiverRefusesMethod()
{
    JobArgs args = argsFor(QStringLiteral("badmethod"));
    args.method = QStringLiteral("NoSuchMethod");
    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QVERIFY(run.log.size() >= 2);
    QCOMPARE(run.log.at(run.log.size() - 2), QStringLiteral("7z错误输出: "));
    QVERIFY(run.log.last().startsWith(QStringLiteral("7z退出代码: ")));
    QVERIFY(run.log.last().mid(8).toInt() != 0);
    QVERIFY(!run.progress.contains(50));
    QVERIFY(!QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
}

void JobTest::outputCannotBeOpened()
{
    JobArgs args = argsFor(QStringLiteral("blocked"));
    // A directory in the output file's place: opening it for writing fails
    // even for root.
    const QString outputPath = args.outputDir + QStringLiteral("/app.exe");
    QVERIFY(QDir().mkpath(outputPath + QStringLiteral("/keep")));
    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    const QString last = run.log.last();
    QVERIFY2(last.startsWith(QStringLiteral("错误：无法创建输出文件: %1（").arg(outputPath)),
             qPrintable(last));
    QVERIFY(last.endsWith(QStringLiteral("）")) && last.size() > outputPath.size() + 14);
    QCOMPARE(run.progress.last(), 50);
    QVERIFY(QFile::exists(args.archive));
    QVERIFY(QFileInfo(outputPath + QStringLiteral("/keep")).isDir());
    QVERIFY(workCopiesLeft().isEmpty());
}

void JobTest::existingOutputOverwritten()
{
    JobArgs args = argsFor(QStringLiteral("overwrite"));
    args.cleanup = QStringLiteral("0");
    const QString outputPath = args.outputDir + QStringLiteral("/app.exe");
    QVERIFY(writeFile(outputPath, QByteArray(1 << 20, 'Z')));
    const JobRun run = runJob(args);
    QVERIFY(run.succeeded());
    const QByteArray expected =
        moduleBytes() + quillon::buildSfxConfig(args.mainExe).toUtf8() + readFile(args.archive);
    QVERIFY(readFile(outputPath) == expected);
}

void JobTest::plantedArchiverIsReplaced()
{
#ifdef Q_OS_UNIX
    JobArgs args = argsFor(QStringLiteral("planted"));
    const QString marker = m_dir.filePath(QStringLiteral("planted/ran"));
    const QString archiverCopy = quillon::privateToolDirectory() + QStringLiteral("/7zr.exe");
    QFile::remove(archiverCopy);
    QVERIFY(writeFile(archiverCopy, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n"));
    QVERIFY(QFile::setPermissions(archiverCopy, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner));
    const JobRun run = runJob(args);
    QVERIFY(run.succeeded());
    QVERIFY(run.log.contains(QStringLiteral("7zr.exe已复制到临时目录")));
    QVERIFY(!QFile::exists(marker));
    QVERIFY(readFile(archiverCopy) == readFile(QStringLiteral(ENGINE_TEST_ARCHIVER)));
#else
    QSKIP("shell scripts only");
#endif
}

void JobTest::concurrentJobs()
{
    // Two workers on two threads, each with its own folder and output, at
    // the same time; both outputs must be whole and their own.
    JobArgs first = argsFor(QStringLiteral("concurrent-a"));
    JobArgs second = argsFor(QStringLiteral("concurrent-b"));
    for (JobArgs *args : {&first, &second}) {
        args->cleanup = QStringLiteral("0");
        QByteArray filler;
        for (int i = 0; i < 200000; ++i) {
            filler += QByteArray::number(i) + args->folder.toUtf8().right(1);
        }
        QVERIFY(writeFile(args->folder + QStringLiteral("/data.bin"), filler));
    }
    JobRun runs[2];
    QThread threads[2];
    const JobArgs *jobArgs[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        QObject::connect(&threads[i], &QThread::started, [&runs, jobArgs, i]() {
            runs[i] = runJob(*jobArgs[i]);
            QThread::currentThread()->quit();
        });
        threads[i].start();
    }
    for (QThread &thread : threads) {
        QVERIFY(thread.wait(120000));
    }
    for (int i = 0; i < 2; ++i) {
        const JobArgs &args = *jobArgs[i];
        QVERIFY2(runs[i].succeeded(), qPrintable(runs[i].log.join('\n')));
        const QByteArray expected =
            moduleBytes() + quillon::buildSfxConfig(args.mainExe).toUtf8() + readFile(args.archive);
        QVERIFY(readFile(args.outputDir + QStringLiteral("/app.exe")) == expected);
        QVERIFY(listArchive(args.archive).contains(QStringLiteral("data.bin")));
    }
    QVERIFY(workCopiesLeft().isEmpty());
}

QTEST_GUILESS_MAIN(JobTest)
#include "tst_job.moc"
