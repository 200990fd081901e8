// The archiver command line the job builds for Windows, run for real: the
// Windows 7-Zip console program under Wine must make an archive whose root
// holds the source folder's content, and our 7z reader must unpack it equal
// to the source.
#include "fileinput.h"
#include "jobtext.h"
#include "sevenzip.h"
#include "wine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

// Collects what the reader unpacks: relative path -> bytes; directories map
// to a null array.
class MemorySink : public quillon::sevenzip::Sink
{
public:
    QMap<QString, QByteArray> tree;

    bool directory(const quillon::sevenzip::Entry &entry) override
    {
        tree.insert(QString::fromStdString(entry.path), QByteArray());
        return true;
    }
    bool beginFile(const quillon::sevenzip::Entry &) override
    {
        m_current = QByteArray("");
        return true;
    }
    bool write(const std::uint8_t *data, std::size_t size) override
    {
        m_current.append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
        return true;
    }
    bool endFile(const quillon::sevenzip::Entry &entry) override
    {
        tree.insert(QString::fromStdString(entry.path), m_current);
        return true;
    }

private:
    QByteArray m_current;
};

QMap<QString, QByteArray> readTree(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            tree.insert(rel, QByteArray());
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            tree.insert(rel, file.readAll().append(QByteArray("")));
        }
    }
    return tree;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestWindowsArchiver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void archiveRootHoldsFolderContent_data();
    void archiveRootHoldsFolderContent();
    void moduleUnpacksAndStartsTheProgram();

private:
    void makeSource(const QString &source, const QByteArray &program);
    void packOnWindows(const QString &work, const QString &source, const QString &level,
                       const QString &method, const QString &dictionary, bool trailingSlash);

    QString m_archiver;
};

void TestWindowsArchiver::initTestCase()
{
    m_archiver = QStringLiteral(QUILLON_WIN32_7ZR);
    QVERIFY2(QFileInfo::exists(m_archiver), qPrintable(m_archiver + QStringLiteral(" is missing")));
    QString error;
    QVERIFY2(winetest::ensurePrefix(&error), qPrintable(error));
}

void TestWindowsArchiver::archiveRootHoldsFolderContent_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("dictionary");
    QTest::addColumn<bool>("trailingSlash");

    QTest::newRow("LZMA2 normal 16M") << "5"
                                      << "LZMA2"
                                      << "16M" << false;
    QTest::newRow("LZMA ultra 64M") << "9"
                                    << "LZMA"
                                    << "64M" << false;
    QTest::newRow("LZMA fastest 64K") << "1"
                                      << "LZMA"
                                      << "64K" << false;
    QTest::newRow("store, no dictionary") << "0"
                                          << "LZMA"
                                          << "" << false;
    QTest::newRow("folder with trailing slash") << "3"
                                                << "LZMA2"
                                                << "1M" << true;
}

// A folder name with a blank, nested folders, an empty folder, an empty file,
// a non-ASCII name and data that does not compress.
void TestWindowsArchiver::makeSource(const QString &source, const QByteArray &program)
{
    QByteArray noise(300 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(9);
    for (char &c : noise) {
        c = static_cast<char>(generator.bounded(256));
    }
    QVERIFY(writeFile(source + QStringLiteral("/app.exe"), program));
    QVERIFY(writeFile(source + QStringLiteral("/data/sub/noise.bin"), noise));
    QVERIFY(writeFile(source + QStringLiteral("/docs/说明 文件.txt"), "读我\r\n"));
    QVERIFY(writeFile(source + QStringLiteral("/empty.txt"), QByteArray()));
    QVERIFY(QDir().mkpath(source + QStringLiteral("/logs")));
}

// Runs 7zr.exe under Wine with the argument list the job builds on Windows,
// making <work>/temp.7z from `source`.
void TestWindowsArchiver::packOnWindows(const QString &work, const QString &source,
                                        const QString &level, const QString &method,
                                        const QString &dictionary, bool trailingSlash)
{
    // The paths as Quillon holds them on Windows: "Z:/..." with forward slashes.
    const QString folderWin = winetest::windowsPath(source);
    const QString archiveWin = winetest::windowsPath(work + QStringLiteral("/temp.7z"));
    QVERIFY2(folderWin.startsWith(QLatin1String("Z:\\")), qPrintable(folderWin));
    QString folderPath = QDir::fromNativeSeparators(folderWin);
    if (trailingSlash) {
        folderPath += QLatin1Char('/');
    }
    const QString archivePath = QDir::fromNativeSeparators(archiveWin);

    const QStringList arguments = quillon::archiverArguments(
        archivePath, folderPath, level, method, dictionary, quillon::PathStyle::Windows);
    QCOMPARE(arguments.at(2), archiveWin);
    QCOMPARE(arguments.at(3),
             folderWin + (trailingSlash ? QStringLiteral("\\\\*") : QStringLiteral("\\*")));

    const winetest::RunResult run = winetest::run(m_archiver, arguments, work, 120000);
    QVERIFY2(run.started && run.finished, "7zr.exe did not run to its end under Wine");
    QVERIFY2(run.exitCode == 0, run.output.constData());
}

void TestWindowsArchiver::archiveRootHoldsFolderContent()
{
    QFETCH(QString, level);
    QFETCH(QString, method);
    QFETCH(QString, dictionary);
    QFETCH(bool, trailingSlash);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath(QStringLiteral("My App"));
    makeSource(source, QByteArray("MZ").repeated(5000));
    packOnWindows(work.path(), source, level, method, dictionary, trailingSlash);
    if (QTest::currentTestFailed()) {
        return;
    }

    const std::unique_ptr<quillon::Input> file = quillon::openFileInput(
        QFile::encodeName(work.filePath(QStringLiteral("temp.7z"))).toStdString());
    QVERIFY(file);
    quillon::Input &input = *file;
    quillon::sevenzip::Archive archive;
    const quillon::Error opened = archive.open(input);
    QVERIFY2(opened.ok(), opened.message().c_str());
    MemorySink sink;
    const quillon::Error extracted = archive.extract(sink);
    QVERIFY2(extracted.ok(), extracted.message().c_str());

    // The root holds the content: app.exe at the top, no "My App/" prefix.
    QVERIFY(sink.tree.contains(QStringLiteral("app.exe")));
    QCOMPARE(sink.tree, readTree(source));
}

// The whole road on Windows: 7zr.exe packs the folder, the output is module,
// configuration block and archive, and our module unpacks it and starts the
// main program, which finds its files beside it.
void TestWindowsArchiver::moduleUnpacksAndStartsTheProgram()
{
    const QString module = QStringLiteral(QUILLON_SFX_MODULE);
    if (module.isEmpty() || !QFileInfo::exists(module)) {
        QSKIP("the Windows module is not part of this build");
    }
    QFile checker(QStringLiteral(QUILLON_WIN32_CHECKER));
    QVERIFY(checker.open(QIODevice::ReadOnly));

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath(QStringLiteral("My App"));
    makeSource(source, checker.readAll());
    packOnWindows(work.path(), source, QStringLiteral("5"), QStringLiteral("LZMA2"),
                  QStringLiteral("16M"), false);
    if (QTest::currentTestFailed()) {
        return;
    }

    QFile moduleFile(module);
    QFile archive(work.filePath(QStringLiteral("temp.7z")));
    QVERIFY(moduleFile.open(QIODevice::ReadOnly) && archive.open(QIODevice::ReadOnly));
    const QString output = work.filePath(QStringLiteral("app.exe"));
    QVERIFY(writeFile(output, moduleFile.readAll() +
                                  quillon::buildSfxConfig(QStringLiteral("app.exe")).toUtf8() +
                                  archive.readAll()));

    const winetest::RunResult run =
        winetest::run(output, {}, work.path(), 120000, {QStringLiteral("QUILLON_SFX_NOUI=1")});
    QVERIFY2(run.finished, "the output did not end under Wine");
    QVERIFY2(run.exitCode == 42,
             qPrintable(QStringLiteral("exit code %1 (42: every file found): %2")
                            .arg(run.exitCode)
                            .arg(QString::fromUtf8(run.output))));
}

QTEST_GUILESS_MAIN(TestWindowsArchiver)
#include "tst_win32archiver.moc"
