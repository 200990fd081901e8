// A bundle without the self-extractor module: the job packs, then stops at
// the module copy.
#include "toolfiles.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class NoModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void stopsAtModuleCopy();
};

void NoModuleTest::stopsAtModuleCopy()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    JobArgs args;
    QVERIFY(makeSmallJob(dir.path(), args));

    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QVERIFY(run.log.size() >= 2);
    QVERIFY(run.log.at(run.log.size() - 2).startsWith(QStringLiteral("压缩包创建成功，大小: ")));
    QCOMPARE(run.log.last(), QStringLiteral("错误：无法复制SFX模块"));
    QCOMPARE(run.progress.last(), 50);
    QVERIFY(QFile::exists(args.archive));
    QVERIFY(!QFile::exists(args.outputDir + QStringLiteral("/app.exe")));
    QVERIFY(!QFile::exists(quillon::privateToolDirectory() + QStringLiteral("/7zSD.sfx")));
}

QTEST_GUILESS_MAIN(NoModuleTest)
#include "tst_nomodule.moc"
