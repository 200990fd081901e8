// A bundled archiver that cannot be started.
#include "toolfiles.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class BadArchiverTest : public QObject
{
    Q_OBJECT

private slots:
    void startFails();
};

void BadArchiverTest::startFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    JobArgs args;
    QVERIFY(makeSmallJob(dir.path(), args));

    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    const QString archiverCopy = quillon::privateToolDirectory() + QStringLiteral("/7zr.exe");
    QVERIFY(run.log.size() >= 3);
    QVERIFY(run.log.at(run.log.size() - 3).startsWith(QStringLiteral("执行命令: ")));
    QCOMPARE(run.log.at(run.log.size() - 2),
             QStringLiteral("错误：无法启动7zr.exe，路径: %1").arg(archiverCopy));
    QVERIFY(run.log.last().startsWith(QStringLiteral("错误详情: ")));
    QVERIFY(run.log.last().size() > 6);
    QVERIFY(run.progress.isEmpty());
    QVERIFY(!QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
}

QTEST_GUILESS_MAIN(BadArchiverTest)
#include "tst_badarchiver.moc"
