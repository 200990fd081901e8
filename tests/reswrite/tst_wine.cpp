// Executables edited by replaceExeIcon and writeVersionInfo, as Windows sees
// them: a probe built with mingw (fixtures/verinfo.c) asks Wine's
// GetFileVersionInfoW / VerQueryValueW / ExtractIconExW / FindResourceW, and
// edited programs, our self-extractor module among them, still run.
#include "jobtext.h"
#include "peimage.h"
#include "reswritetest.h"
#include "worker.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace reswritetest;

namespace {

QString windowsPath(const QString &unixPath)
{
    return QStringLiteral("Z:") + QString(unixPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

} // namespace

class TestWine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void editedProgram_data();
    void editedProgram();
    void editedModuleStillExtracts();
    void cliOutput_data();
    void cliOutput();

private:
    bool edit(const QString &path, const QString &versionLine = QString());
    bool runsAndStartsProgram(const QString &output, QString *why);
    QMap<QString, QString> probe(const QString &path);

    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestWine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(RESWRITE_HAVE_MINGW, "mingw-w64 is needed for the test programs");
    QVERIFY2(ensureWinePrefix(), "cannot prepare the Wine prefix");
}

bool TestWine::edit(const QString &path, const QString &versionLine)
{
    Worker worker;
    QStringList lines;
    connect(&worker, &Worker::logMessage, this, [&lines](const QString &l) { lines << l; });
    const bool iconOk = worker.replaceExeIcon(path, readAll(fixture(QStringLiteral("new.ico"))));
    const bool versionOk = worker.writeVersionInfo(path, QStringLiteral("app.exe"));
    if (!iconOk || !versionOk)
        qWarning() << lines;
    const QString expected =
        versionLine.isEmpty()
            ? QStringLiteral("版本信息已写入并校验通过：Morvane Portable Application")
            : versionLine;
    if (lines.last() != expected)
        qWarning() << lines.last();
    return iconOk && versionOk && lines.last() == expected;
}

QMap<QString, QString> TestWine::probe(const QString &path)
{
    return keyValues(runWine({fixture(QStringLiteral("verinfo.exe")), windowsPath(path)}));
}

void TestWine::editedProgram_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("runnable"); // this Wine runs 64-bit programs only
    QTest::addColumn<QString>("groups");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("versionLine");
    const QString ours = QStringLiteral("Morvane Portable Application");
    QTest::newRow("mingw PE32+") << fixture(QStringLiteral("fixture64.exe")) << true << "2" << ours
                                 << QString();
    QTest::newRow("mingw PE32") << fixture(QStringLiteral("fixture32.exe")) << false << "2" << ours
                                << QString();
    // Its version resource is language-neutral: ours (0x0409) joins it, and
    // both Windows and our read-back find the neutral one first.
    QTest::newRow("wine winver") << QStringLiteral(
                                        "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/winver.exe")
                                 << false << "" << QString()
                                 << QStringLiteral("版本信息已写入并校验通过：Windows Version");
}

void TestWine::editedProgram()
{
    QFETCH(QString, source);
    QFETCH(bool, runnable);
    QFETCH(QString, groups);
    QFETCH(QString, description);
    QFETCH(QString, versionLine);
    if (!QFile::exists(source))
        QSKIP("program not installed");
    const QString path = m_dir.filePath(QStringLiteral("p%1.exe").arg(++m_count));
    QVERIFY(QFile::copy(source, path));
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(edit(path, versionLine));

    const auto seen = probe(path);
    if (!description.isEmpty()) {
        QCOMPARE(seen.value(QStringLiteral("description")), description);
        QCOMPARE(seen.value(QStringLiteral("version")), QStringLiteral("1.0.7.1"));
    }
    QCOMPARE(seen.value(QStringLiteral("group1")), QStringLiteral("48")); // 6 + 3 * 14 bytes
    if (!groups.isEmpty())
        QCOMPARE(seen.value(QStringLiteral("icons")), groups);
    QCOMPARE(seen.value(QStringLiteral("large")), QStringLiteral("32x32"));

    if (runnable)
        QCOMPARE(runWine({path}).trimmed(), QByteArray("fixture ran"));
}

void TestWine::editedModuleStillExtracts()
{
    QFile bundled(QStringLiteral(":/resources/7zSD.sfx"));
    if (!bundled.exists())
        QSKIP("the self-extractor module is not in this build's bundle");
    const QString module = m_dir.filePath(QStringLiteral("module.exe"));
    QVERIFY(bundled.copy(module));
    QFile::setPermissions(module,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(edit(module));
    const auto seen = probe(module);
    QCOMPARE(seen.value(QStringLiteral("description")),
             QStringLiteral("Morvane Portable Application"));
    QCOMPARE(seen.value(QStringLiteral("group1")), QStringLiteral("48"));

    // Module + configuration + archive holding the fixture as app.exe.
    QDir work(m_dir.path());
    QVERIFY(work.mkpath(QStringLiteral("payload")));
    QVERIFY(QFile::copy(fixture(QStringLiteral("fixturegui.exe")),
                        m_dir.filePath(QStringLiteral("payload/app.exe"))));
    const QString archive = m_dir.filePath(QStringLiteral("payload.7z"));
    QProcess sevenZip;
    sevenZip.setWorkingDirectory(m_dir.filePath(QStringLiteral("payload")));
    sevenZip.start(QStringLiteral("7zz"),
                   {QStringLiteral("a"), QStringLiteral("-bd"), archive, QStringLiteral(".")});
    QVERIFY(sevenZip.waitForFinished(60000) && sevenZip.exitCode() == 0);
    const QString output = m_dir.filePath(QStringLiteral("app_portable.exe"));
    QVERIFY(writeAll(output, readAll(module) +
                                 quillon::buildSfxConfig(QStringLiteral("app.exe")).toUtf8() +
                                 readAll(archive)));

    QString why;
    QVERIFY2(runsAndStartsProgram(output, &why), qPrintable(why));
}

// Runs a packed output under Wine without any window; true when it exits
// with 0 after the packed fixture wrote its marker.
bool TestWine::runsAndStartsProgram(const QString &output, QString *why)
{
    const QString marker = m_dir.filePath(QStringLiteral("marker%1.txt").arg(++m_count));
    const QString trace = m_dir.filePath(QStringLiteral("trace%1.txt").arg(m_count));
    qputenv("FIXTURE_MARKER", windowsPath(marker).toUtf8());
    qputenv("QUILLON_SFX_NOUI", "1");
    qputenv("QUILLON_SFX_TRACE", windowsPath(trace).toUtf8());
    const QByteArray ran = runWine({output}, 240000);
    qunsetenv("FIXTURE_MARKER");
    qunsetenv("QUILLON_SFX_TRACE");
    const QStringList traceLines = QString::fromUtf8(readAll(trace)).split(QLatin1Char('\n'));
    *why = QStringLiteral("the output did not run its program; trace:\n") +
           traceLines.mid(0, 12).join(QLatin1Char('\n'));
    return !ran.isNull() && readAll(marker).trimmed() == "fixture ran";
}

void TestWine::cliOutput_data()
{
    QTest::addColumn<bool>("userIcon");
    QTest::newRow("user icon") << true;
    QTest::newRow("icon extracted from the main program") << false;
}

// quillon-cli as a user runs it: the output shows the icon used, carries our
// version resource and starts its program under Wine.
void TestWine::cliOutput()
{
    QFETCH(bool, userIcon);
    const QString cli = QStringLiteral(RESWRITE_CLI);
    if (cli.isEmpty())
        QSKIP("quillon-cli is not part of this build");
    const QString root = m_dir.filePath(QStringLiteral("cli%1").arg(++m_count));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/src/data")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/out")));
    QVERIFY(QFile::copy(fixture(QStringLiteral("fixturegui.exe")),
                        root + QStringLiteral("/src/app.exe")));
    QVERIFY(writeAll(root + QStringLiteral("/src/data/notes.txt"), "notes"));

    QStringList args = {root + QStringLiteral("/src"), QStringLiteral("app.exe"),
                        root + QStringLiteral("/out"), QStringLiteral("--level"),
                        QStringLiteral("1")};
    const QString ico = fixture(QStringLiteral("new.ico"));
    if (userIcon)
        args << QStringLiteral("--icon") << ico;
    QProcess packer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    packer.setProcessEnvironment(env);
    packer.start(cli, args);
    QVERIFY(packer.waitForFinished(120000));
    const QString log = QString::fromUtf8(packer.readAllStandardOutput());
    QVERIFY2(packer.exitCode() == 0, qPrintable(log));
    QVERIFY2(log.contains(userIcon ? QStringLiteral("使用用户提供的图标文件")
                                   : QStringLiteral("成功从主程序提取图标")),
             qPrintable(log));
    const QString output = root + QStringLiteral("/out/app.exe");

    // Icon group 1 of the output is the icon used.
    Worker worker;
    const QByteArray used =
        userIcon ? readAll(ico) : worker.extractIconFromExe(root + QStringLiteral("/src/app.exe"));
    const auto seen = probe(output);
    QCOMPARE(seen.value(QStringLiteral("description")),
             QStringLiteral("Morvane Portable Application"));
    const int usedCount = qFromLittleEndian<quint16>(used.constData() + 4);
    QCOMPARE(seen.value(QStringLiteral("group1")), QString::number(6 + 14 * usedCount));
    QCOMPARE(groupImagesOf(readAll(output)), icoImagesOf(used));

    QString why;
    QVERIFY2(runsAndStartsProgram(output, &why), qPrintable(why));
}
QTEST_GUILESS_MAIN(TestWine)
#include "tst_wine.moc"
