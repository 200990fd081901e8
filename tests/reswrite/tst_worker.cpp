// replaceExeIcon, exeHasUsableIcon and writeVersionInfo of Worker. The
// resource editor in this test's bundle is a stand-in script
// (fake_resedit.sh) whose behaviour each case picks; its "real" mode runs our
// resource editor.
#include "peimage.h"
#include "pewriter.h"
#include "reswritetest.h"
#include "toolfiles.h"
#include "versioninfo.h"
#include "worker.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace quillon;
using namespace reswritetest;

namespace {

bool parse(const QByteArray &bytes, pe::PeImage &image)
{
    return pe::parsePe(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                       static_cast<std::uint64_t>(bytes.size()), image)
        .ok();
}

QStringList leftoverIcons()
{
    return QDir(privateToolDirectory()).entryList({QStringLiteral("*.ico")}, QDir::Files);
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void replacesIcon();
    void failures_data();
    void failures();
    void toolTimesOut();
    void backupImpossible();
    void toolCopyReusedOrRefreshed();
    void usableIcon_data();
    void usableIcon();
    void versionWritten_data();
    void versionWritten();
    void versionFailures_data();
    void versionFailures();

private:
    QString copyFixture(const QString &name);
    bool replace(const QString &target, const QByteArray &ico);

    QTemporaryDir m_dir;
    Worker m_worker;
    QStringList m_lines;
    QString m_argsFile;
    int m_count = 0;
};

void TestWorker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(RESWRITE_HAVE_MINGW, "mingw-w64 is needed for the test programs");
    QVERIFY(QDir::tempPath().startsWith(QStringLiteral(RESWRITE_FIXTURES).section('/', 0, -3)));
    connect(&m_worker, &Worker::logMessage, this, [this](const QString &line) { m_lines << line; });
    qputenv("RESWRITE_REAL_TOOL", RESWRITE_TOOL);
    m_argsFile = m_dir.filePath(QStringLiteral("args.txt"));
    qputenv("RESWRITE_ARGS_FILE", QFile::encodeName(m_argsFile));
}

void TestWorker::init()
{
    m_lines.clear();
    QFile::remove(m_argsFile);
    qputenv("RESWRITE_FAKE_MODE", "real");
}

QString TestWorker::copyFixture(const QString &name)
{
    const QString target = m_dir.filePath(QStringLiteral("w%1_%2").arg(++m_count).arg(name));
    QFile::copy(fixture(name), target);
    QFile::setPermissions(target,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return target;
}

bool TestWorker::replace(const QString &target, const QByteArray &ico)
{
    return m_worker.replaceExeIcon(target, ico);
}

void TestWorker::replacesIcon()
{
    const QString target = copyFixture(QStringLiteral("fixture64.exe"));
    const QByteArray ico = readAll(fixture(QStringLiteral("new.ico")));
    QVERIFY(replace(target, ico));
    QCOMPARE(
        m_lines,
        (QStringList{QStringLiteral("开始替换图标: ") + target, QStringLiteral("写入图标资源..."),
                     QStringLiteral("更新图标缓存..."), QStringLiteral("EXE 图标写入并校验通过"),
                     QStringLiteral("图标替换完成")}));
    // The editor got the twelve arguments, paths as we hold them.
    const QStringList args = QString::fromUtf8(readAll(m_argsFile)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(args.size(), 12);
    const QStringList fixed = {QStringLiteral("-open"),    target,
                               QStringLiteral("-save"),    target,
                               QStringLiteral("-action"),  QStringLiteral("addoverwrite"),
                               QStringLiteral("-resource")};
    QCOMPARE(args.mid(0, 7), fixed);
    QVERIFY(args[7].startsWith(privateToolDirectory() + QStringLiteral("/temp_icon")));
    QVERIFY(args[7].endsWith(QStringLiteral(".ico")));
    QCOMPARE(args.mid(8), (QStringList{QStringLiteral("-mask"), QStringLiteral("ICONGROUP,1,"),
                                       QStringLiteral("-log"), QStringLiteral("NUL")}));

    QVERIFY(!QFile::exists(target + QStringLiteral(".bak")));
    QCOMPARE(leftoverIcons(), QStringList());
    pe::PeImage image;
    QVERIFY(parse(readAll(target), image));
    const pe::Resource *group =
        pe::findResource(image, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(1));
    QVERIFY(group);
    QCOMPARE(group->data.size(), std::size_t{6 + 3 * 14});
    QVERIFY(m_worker.exeHasUsableIcon(target));
}

void TestWorker::failures_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("ico");
    QTest::addColumn<QStringList>("errorLines");

    QTest::newRow("exit 1 with a message")
        << QByteArray("fail-message") << "new.ico"
        << QStringList{QStringLiteral("错误：ResourceHacker写入图标失败（退出码: 1）"),
                       QStringLiteral("ResourceHacker输出: fake editor: cannot open the target")};
    QTest::newRow("exit 3 silently")
        << QByteArray("fail-silent") << "new.ico"
        << QStringList{QStringLiteral("错误：ResourceHacker写入图标失败（退出码: 3）")};
    QTest::newRow("garbage written, then exit 1")
        << QByteArray("scribble") << "new.ico"
        << QStringList{QStringLiteral("错误：ResourceHacker写入图标失败（退出码: 1）"),
                       QStringLiteral("ResourceHacker输出: fake editor: wrote garbage")};
    QTest::newRow("exit 0 without a usable icon")
        << QByteArray("real") << "broken.ico"
        << QStringList{QStringLiteral("错误：写入后 EXE 仍没有可用图标，已回滚到原始文件")};
}

// Each failure gives its lines and puts the target back byte for byte, even
// over a stale backup left by an earlier run.
void TestWorker::failures()
{
    QFETCH(QByteArray, mode);
    QFETCH(QString, ico);
    QFETCH(QStringList, errorLines);
    qputenv("RESWRITE_FAKE_MODE", mode);
    const QString target = copyFixture(QStringLiteral("fixture32.exe"));
    const QByteArray before = readAll(target);
    QVERIFY(writeAll(target + QStringLiteral(".bak"), "stale backup from an earlier run"));

    QVERIFY(!replace(target, readAll(fixture(ico))));
    const QStringList expected =
        QStringList{QStringLiteral("开始替换图标: ") + target, QStringLiteral("写入图标资源...")} +
        errorLines;
    QCOMPARE(m_lines, expected);
    QCOMPARE(readAll(target), before);
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
    QVERIFY(!QFile::exists(target + QStringLiteral(".bak")));
    QCOMPARE(leftoverIcons(), QStringList());
}

void TestWorker::toolTimesOut()
{
    // The one slow case: the editor outlives the 20 000 ms wait.
    qputenv("RESWRITE_FAKE_MODE", "hang");
    const QString target = copyFixture(QStringLiteral("fixture32.exe"));
    const QByteArray before = readAll(target);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!replace(target, readAll(fixture(QStringLiteral("new.ico")))));
    QVERIFY(timer.elapsed() >= 19500);
    QCOMPARE(m_lines.mid(2),
             QStringList{QStringLiteral("错误：ResourceHacker写入图标失败（退出码: 0）")});
    QCOMPARE(readAll(target), before);
    QVERIFY(!QFile::exists(target + QStringLiteral(".bak")));
    QCOMPARE(leftoverIcons(), QStringList());
}

void TestWorker::backupImpossible()
{
    // A directory where the backup should go: nothing else is attempted.
    const QString target = copyFixture(QStringLiteral("fixture32.exe"));
    const QByteArray before = readAll(target);
    QVERIFY(QDir().mkpath(target + QStringLiteral(".bak/inside")));
    QVERIFY(!replace(target, readAll(fixture(QStringLiteral("new.ico")))));
    QCOMPARE(m_lines, (QStringList{QStringLiteral("开始替换图标: ") + target,
                                   QStringLiteral("错误：无法创建备份文件")}));
    QVERIFY(!QFile::exists(m_argsFile));
    QCOMPARE(readAll(target), before);
    QCOMPARE(leftoverIcons(), QStringList());
}

void TestWorker::toolCopyReusedOrRefreshed()
{
    const QString toolCopy = privateToolDirectory() + QStringLiteral("/ResourceHacker.exe");
    const QByteArray ico = readAll(fixture(QStringLiteral("new.ico")));
    QVERIFY(replace(copyFixture(QStringLiteral("fixture32.exe")), ico));
    struct stat first
    {
    };
    QCOMPARE(::stat(QFile::encodeName(toolCopy).constData(), &first), 0);
    QCOMPARE(first.st_mode & 0777, 0700u);

    // An identical copy is run as it is: same file, not rewritten.
    QVERIFY(replace(copyFixture(QStringLiteral("fixture32.exe")), ico));
    struct stat second
    {
    };
    QCOMPARE(::stat(QFile::encodeName(toolCopy).constData(), &second), 0);
    QCOMPARE(second.st_ino, first.st_ino);
    QCOMPARE(second.st_mtim.tv_nsec, first.st_mtim.tv_nsec);

    // A copy that differs from the bundle is never run: it is replaced.
    QVERIFY(writeAll(toolCopy, "#!/bin/sh\nexit 0\n"));
    QVERIFY(replace(copyFixture(QStringLiteral("fixture32.exe")), ico));
    QCOMPARE(readAll(toolCopy), readAll(QStringLiteral(":/resources/ResourceHacker.exe")));
    QVERIFY(QFile::exists(m_argsFile));
}

void TestWorker::usableIcon_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("usable");
    QTest::newRow("fixture PE32+") << "fixture64.exe" << true;
    QTest::newRow("fixture PE32") << "fixture32.exe" << true;
    QTest::newRow("icon groups removed") << "noicons" << false;
    QTest::newRow("undrawable image") << "brokenicon" << false;
    QTest::newRow("missing file") << "missing" << false;
    QTest::newRow("not a program") << "text" << false;
}

void TestWorker::usableIcon()
{
    QFETCH(QString, file);
    QFETCH(bool, usable);
    QString path = m_dir.filePath(file);
    if (file.endsWith(QStringLiteral(".exe"))) {
        path = fixture(file);
    } else if (file == QLatin1String("noicons")) {
        std::vector<std::uint8_t> bytes =
            toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
        pe::PeImage image;
        QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
        std::vector<pe::Resource> resources = image.resources;
        pe::removeResources(resources, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(1));
        pe::removeResources(resources, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(2));
        std::vector<std::uint8_t> out;
        QVERIFY(pe::rebuildResources(bytes, image, resources, out).error.ok());
        QVERIFY(writeAll(path, toBytes(out)));
    } else if (file == QLatin1String("brokenicon")) {
        QVERIFY(QFile::copy(fixture(QStringLiteral("fixture32.exe")), path));
        QProcess tool;
        tool.start(QStringLiteral(RESWRITE_TOOL),
                   {QStringLiteral("-open"), path, QStringLiteral("-save"), path,
                    QStringLiteral("-action"), QStringLiteral("addoverwrite"),
                    QStringLiteral("-resource"), fixture(QStringLiteral("broken.ico")),
                    QStringLiteral("-mask"), QStringLiteral("ICONGROUP,1,")});
        QVERIFY(tool.waitForFinished(60000) && tool.exitCode() == 0);
    } else if (file == QLatin1String("text")) {
        QVERIFY(writeAll(path, "not a program"));
    }
    QCOMPARE(m_worker.exeHasUsableIcon(path), usable);
}

void TestWorker::versionWritten_data()
{
    QTest::addColumn<QString>("fixtureName");
    QTest::addColumn<QString>("mainExeName");
    QTest::newRow("PE32+") << "fixture64.exe"
                           << "app.exe";
    QTest::newRow("PE32") << "fixture32.exe" << QString::fromUtf8("工具/My.App.exe");
}

void TestWorker::versionWritten()
{
    QFETCH(QString, fixtureName);
    QFETCH(QString, mainExeName);
    const QString target = copyFixture(fixtureName);
    QVERIFY(m_worker.writeVersionInfo(target, mainExeName));
    QCOMPARE(m_lines,
             QStringList{QStringLiteral("版本信息已写入并校验通过：Morvane Portable Application")});
    pe::PeImage image;
    QVERIFY(parse(readAll(target), image));
    const pe::Resource *version =
        pe::findResource(image, pe::ResId::fromId(pe::kRtVersion), pe::ResId::fromId(1), 0x0409);
    QVERIFY(version);
    QCOMPARE(toBytes(version->data), buildVersionInfo(mainExeName));
    // Only one version resource: the fixture's own (1033 too) was replaced.
    QCOMPARE(pe::resourceNames(image, pe::ResId::fromId(pe::kRtVersion)).size(), std::size_t{1});
    const auto report = pefileReport(target);
    QCOMPARE(report.value(QStringLiteral("description")),
             QStringLiteral("Morvane Portable Application"));
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
}

void TestWorker::versionFailures_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("result");

    QTest::newRow("missing file") << "missing"
                                  << QStringLiteral(
                                         "警告：无法打开 PE 文件写入版本信息（错误码: 2）")
                                  << false;
    QTest::newRow("not a program")
        << "text" << QStringLiteral("警告：无法打开 PE 文件写入版本信息（错误码: 193）") << false;
    QTest::newRow("directory") << "directory"
                               << QStringLiteral("警告：无法打开 PE 文件写入版本信息（错误码: 5）")
                               << false;
    // Nowhere to put the new resource section: the commit fails, the update did not.
    QTest::newRow("commit fails")
        << "noroom"
        << QStringLiteral(
               "警告：版本信息写入失败（写入 成功 错误码 0 / 提交 失败 错误码 13，数据 %1 字节）")
               .arg(buildVersionInfo(QStringLiteral("app.exe")).size())
        << false;
    QTest::newRow("written, nothing to read back")
        << "noversion" << QStringLiteral("版本信息已写入并校验通过：Morvane Portable Application")
        << true;
}

void TestWorker::versionFailures()
{
    QFETCH(QString, problem);
    QFETCH(QString, line);
    QFETCH(bool, result);
    QString path = m_dir.filePath(problem);
    if (problem == QLatin1String("text"))
        QVERIFY(writeAll(path, "MZ not really"));
    if (problem == QLatin1String("directory"))
        QVERIFY(QDir().mkpath(path));
    if (problem == QLatin1String("noroom") || problem == QLatin1String("noversion")) {
        std::vector<std::uint8_t> bytes =
            toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
        pe::PeImage image;
        QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
        if (problem == QLatin1String("noroom")) {
            const std::uint64_t tableEnd = image.sectionTableOffset + 40 * image.sections.size();
            for (std::uint64_t i = tableEnd; i < tableEnd + 40; ++i)
                bytes[i] = 0xCC;
        } else {
            std::vector<pe::Resource> resources = image.resources;
            pe::removeResources(resources, pe::ResId::fromId(pe::kRtVersion), pe::ResId::fromId(1));
            std::vector<std::uint8_t> out;
            QVERIFY(pe::rebuildResources(bytes, image, resources, out).error.ok());
            bytes = out;
        }
        QVERIFY(writeAll(path, toBytes(bytes)));
    }
    const QByteArray before = QFileInfo(path).isFile() ? readAll(path) : QByteArray();
    QCOMPARE(m_worker.writeVersionInfo(path, QStringLiteral("app.exe")), result);
    QCOMPARE(m_lines, QStringList{line});
    if (!result && QFileInfo(path).isFile())
        QCOMPARE(readAll(path), before);
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
