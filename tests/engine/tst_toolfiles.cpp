// The per-user directory for helper copies and the copies made into it.
#include "toolfiles.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString Archiver = QStringLiteral(":/resources/7zr.exe");

#ifdef Q_OS_UNIX
mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}
#endif

QString expectedDirectory()
{
#ifdef Q_OS_UNIX
    return QDir::tempPath() + QStringLiteral("/quillon-%1").arg(::geteuid());
#else
    return QDir::tempPath() + QStringLiteral("/Quillon");
#endif
}

// Puts the private directory path back into a fresh, empty state.
void resetDirectory()
{
    const QString path = expectedDirectory();
    QFileInfo info(path);
    if (info.isSymLink() || info.isFile()) {
        QFile::remove(path);
    } else if (info.isDir()) {
        QDir(path).removeRecursively();
    }
}

} // namespace

class ToolFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetDirectory(); }
    void cleanupTestCase() { resetDirectory(); }
    void directoryIsPrivate();
    void unsafeDirectory_data();
    void unsafeDirectory();
    void jobStopsOnUnsafeDirectory();
    void bundleCopy_data();
    void bundleCopy();
    void jobNamesAreUnique();
};

void ToolFilesTest::directoryIsPrivate()
{
    QString error;
    const QString dir = quillon::privateToolDirectory(&error);
    QCOMPARE(dir, expectedDirectory());
    QVERIFY(error.isEmpty());
    QVERIFY(QFileInfo(dir).isDir());
#ifdef Q_OS_UNIX
    QCOMPARE(modeOf(dir) & 07777, mode_t(0700));
    QCOMPARE(QFileInfo(dir).ownerId(), uint(::geteuid()));
#endif
    // Asking again gives the same directory.
    QCOMPARE(quillon::privateToolDirectory(), dir);
}

void ToolFilesTest::unsafeDirectory_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("usable");
    QTest::newRow("open to others, ours: repaired") << "widemode" << true;
    QTest::newRow("symbolic link") << "symlink" << false;
    QTest::newRow("a file") << "file" << false;
    QTest::newRow("owned by another account") << "foreign" << false;
}

void ToolFilesTest::unsafeDirectory()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, kind);
    QFETCH(bool, usable);
    const QString path = expectedDirectory();
    const QByteArray native = QFile::encodeName(path);
    QTemporaryDir elsewhere;
    if (kind == QLatin1String("widemode")) {
        QVERIFY(QDir().mkdir(path));
        QCOMPARE(::chmod(native.constData(), 0777), 0);
    } else if (kind == QLatin1String("symlink")) {
        // Even a link to a directory of our own is refused.
        QVERIFY(QFile::link(elsewhere.path(), path));
    } else if (kind == QLatin1String("file")) {
        QVERIFY(writeFile(path, "x"));
    } else {
        if (::geteuid() != 0) {
            QSKIP("changing a directory's owner needs root");
        }
        QVERIFY(QDir().mkdir(path));
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    }

    QString error;
    const QString dir = quillon::privateToolDirectory(&error);
    if (usable) {
        QCOMPARE(dir, path);
        QCOMPARE(modeOf(path) & 07777, mode_t(0700));
    } else {
        QVERIFY(dir.isEmpty());
        QVERIFY2(error.startsWith(path + QStringLiteral("（")), qPrintable(error));
        // Nothing was put into the refused place.
        QVERIFY(QDir(elsewhere.path()).isEmpty());
    }
#else
    QSKIP("POSIX ownership and modes");
#endif
}

void ToolFilesTest::jobStopsOnUnsafeDirectory()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(QFile::link(elsewhere.path(), expectedDirectory()));
    JobArgs args;
    QVERIFY(makeSmallJob(dir.path(), args));

    const JobRun run = runJob(args);
    QVERIFY(run.failed());
    QCOMPARE(run.log.mid(headerLines(args).size()),
             (QStringList{QStringLiteral("主程序路径验证成功: %1").arg(args.folder + "/app.exe"),
                          QStringLiteral("错误：无法准备私有临时目录: %1（是符号链接）")
                              .arg(expectedDirectory())}));
    QVERIFY(run.progress.isEmpty());
    QVERIFY(QDir(elsewhere.path()).isEmpty());
#else
    QSKIP("POSIX symbolic links");
#endif
}

void ToolFilesTest::bundleCopy_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing") << "missing" << int(quillon::BundleCopy::Copied);
    QTest::newRow("identical") << "identical" << int(quillon::BundleCopy::Reused);
    QTest::newRow("different content") << "planted" << int(quillon::BundleCopy::Copied);
    QTest::newRow("same size, one byte off") << "onebyte" << int(quillon::BundleCopy::Copied);
    QTest::newRow("a directory in the way") << "directory" << int(quillon::BundleCopy::Failed);
}

void ToolFilesTest::bundleCopy()
{
    QFETCH(QString, before);
    QFETCH(int, expected);
    const QString target = quillon::privateToolDirectory() + QStringLiteral("/7zr.exe");
    QFile resource(Archiver);
    QVERIFY(resource.open(QIODevice::ReadOnly));
    const QByteArray bundled = resource.readAll();

    if (before == QLatin1String("identical")) {
        QCOMPARE(int(quillon::ensureBundleCopy(Archiver, target)),
                 int(quillon::BundleCopy::Copied));
    } else if (before == QLatin1String("planted")) {
        QVERIFY(writeFile(target, "#!/bin/sh\necho planted\n"));
    } else if (before == QLatin1String("onebyte")) {
        QByteArray changed = bundled;
        changed[changed.size() / 2] = char(changed.at(changed.size() / 2) ^ 1);
        QVERIFY(writeFile(target, changed));
    } else if (before == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(target));
    }

    QCOMPARE(int(quillon::ensureBundleCopy(Archiver, target)), expected);
    if (expected == int(quillon::BundleCopy::Failed)) {
        QVERIFY(QFileInfo(target).isDir());
    } else {
        QVERIFY(readFile(target) == bundled);
        QVERIFY(QFileInfo(target).permissions().testFlag(QFileDevice::ExeOwner));
    }
    // No temporary files are left beside the copy.
    QCOMPARE(QDir(quillon::privateToolDirectory())
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("7zr.exe")});
    QCOMPARE(int(quillon::ensureBundleCopy(QStringLiteral(":/resources/none"), target + "2")),
             int(quillon::BundleCopy::Failed));
}

void ToolFilesTest::jobNamesAreUnique()
{
    const QString a = quillon::uniqueJobName(QStringLiteral("Quillon_sfx_work"));
    const QString b = quillon::uniqueJobName(QStringLiteral("Quillon_sfx_work"));
    QVERIFY(a != b);
    QVERIFY(a.startsWith(
        QStringLiteral("Quillon_sfx_work_%1_").arg(QCoreApplication::applicationPid())));
}

QTEST_GUILESS_MAIN(ToolFilesTest)
#include "tst_toolfiles.moc"
