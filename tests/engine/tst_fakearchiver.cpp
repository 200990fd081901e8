// Jobs with a scripted archiver: archive sizes that fix the progress plan,
// failing exit codes and an archive that never appears.
#include "jobtext.h"
#include "toolfiles.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class FakeArchiverTest : public QObject
{
    Q_OBJECT

private slots:
    void progressPlan_data();
    void progressPlan();
    void exitCodeFails_data();
    void exitCodeFails();
    void archiveNeverWritten();
    void archiverKilled();

private:
    JobArgs argsFor(const QString &name, const QString &mode);
    QTemporaryDir m_dir;
};

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

QTEST_GUILESS_MAIN(FakeArchiverTest)
#include "tst_fakearchiver.moc"
