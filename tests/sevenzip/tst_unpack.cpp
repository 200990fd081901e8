// quillon-unpack as a user meets it: Quillon outputs, links in the way,
// overwriting, usage errors.
#include "archivewriter.h"
#include "testfiles.h"

#include <QtTest>
#include <unistd.h>

using namespace archivewriter;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run unpack(const QStringList &args)
{
    QProcess p;
    p.start(SEVENZIP_UNPACK, args);
    Run run;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

const std::vector<File> kFiles = {{"app.exe", "main program", false, false},
                                  {"dir", "", true, false},
                                  {"dir/x.txt", "inside", false, false}};

} // namespace

class TestUnpack : public QObject
{
    Q_OBJECT
private slots:
    void quillonOutput();
    void decoyInImageHeaders();
    void links_data();
    void links();
    void overwritesRegularFiles();
    void existingFiles_data();
    void existingFiles();
    void usage_data();
    void usage();
};

// Module bytes, configuration block, archive, then a certificate-like trailer.
void TestUnpack::quillonOutput()
{
    QTemporaryDir dir;
    std::string module = "MZ";
    module.resize(20000, '\x90');
    const std::string block = std::string(";!@Install") + "@!UTF-8!\nTitle=\"app\"\n" +
                              "Progress=\"no\"\nExecuteFile=\"app.exe\"\n;!@Install" + "End@!\n";
    const std::string output = module + block + copyArchive(kFiles) + std::string(3000, '\x30');
    const QString path = dir.filePath("app.exe");
    QVERIFY(writeFile(path, QByteArray::fromStdString(output)));

    Run list = unpack({"l", path});
    QCOMPARE(list.exitCode, 0);
    QVERIFY(list.out.contains("app.exe") && list.out.contains("dir/x.txt"));
    QCOMPARE(unpack({"t", path}).exitCode, 0);
    Run x = unpack({"x", path, dir.filePath("out")});
    QVERIFY2(x.exitCode == 0, x.err.constData());
    QCOMPARE(readFile(dir.filePath("out/app.exe")), QByteArray("main program"));
    QCOMPARE(readFile(dir.filePath("out/dir/x.txt")), QByteArray("inside"));

    // An MZ file without a block is refused.
    QVERIFY(writeFile(path, QByteArray::fromStdString(module)));
    Run bad = unpack({"l", path});
    QCOMPARE(bad.exitCode, 1);
    QVERIFY(bad.err.contains("configuration block"));
}

// A block and an archive hidden in the slack of the PE headers: quillon-unpack
// reads what the module runs, the payload after the image.
void TestUnpack::decoyInImageHeaders()
{
    QTemporaryDir dir;
    auto block = [](const char *exe) {
        return std::string(";!@Install") + "@!UTF-8!\nTitle=\"app\"\nExecuteFile=\"" + exe +
               "\"\n;!@Install" + "End@!\n";
    };
    const std::string decoy =
        block("harmless.txt") + copyArchive({{"harmless.txt", "nothing to see", false, false}});
    const std::string output = minimalPe(decoy) + block("app.exe") + copyArchive(kFiles);
    const QString path = dir.filePath("app.exe");
    QVERIFY(writeFile(path, QByteArray::fromStdString(output)));

    Run list = unpack({"l", path});
    QCOMPARE(list.exitCode, 0);
    QVERIFY2(list.out.contains("app.exe") && list.out.contains("dir/x.txt") &&
                 !list.out.contains("harmless.txt"),
             list.out.constData());
    Run x = unpack({"x", path, dir.filePath("out")});
    QVERIFY2(x.exitCode == 0, x.err.constData());
    QCOMPARE(listTree(dir.filePath("out")), QStringList({"app.exe", "dir/", "dir/x.txt"}));
}

void TestUnpack::links_data()
{
    QTest::addColumn<QString>("link");  // made inside the root before extracting
    QTest::addColumn<bool>("toFolder"); // the link points at a folder
    QTest::newRow("file through a link") << "app.exe" << false;
    QTest::newRow("folder through a link") << "dir" << true;
}

// Never writes through a symbolic link that is already in the root.
void TestUnpack::links()
{
    QFETCH(QString, link);
    QFETCH(bool, toFolder);
    QTemporaryDir dir;
    const QString outside = dir.filePath("outside");
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(writeFile(outside + "/app.exe", "keep me"));
    const QString root = dir.filePath("root");
    QVERIFY(QDir().mkpath(root));
    const QString target = toFolder ? outside : outside + "/app.exe";
    QVERIFY(::symlink(target.toLocal8Bit().constData(),
                      (root + '/' + link).toLocal8Bit().constData()) == 0);
    const QString archive = dir.filePath("a.7z");
    QVERIFY(writeFile(archive, QByteArray::fromStdString(copyArchive(kFiles))));

    Run x = unpack({"x", archive, root});
    QCOMPARE(x.exitCode, 1);
    QVERIFY2(x.err.startsWith("quillon-unpack: ") && x.err.count('\n') == 1, x.err.constData());
    QCOMPARE(readFile(outside + "/app.exe"), QByteArray("keep me"));
    QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"app.exe"});
    QVERIFY(QFileInfo(root + '/' + link).isSymLink()); // what was there stays
}

void TestUnpack::overwritesRegularFiles()
{
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QVERIFY(QDir().mkpath(root + "/dir"));
    QVERIFY(writeFile(root + "/app.exe", "old content that is longer"));
    QVERIFY(writeFile(root + "/mine.txt", "not in the archive"));
    const QString archive = dir.filePath("a.7z");
    QVERIFY(writeFile(archive, QByteArray::fromStdString(copyArchive(kFiles))));
    Run x = unpack({"x", archive, root});
    QVERIFY2(x.exitCode == 0, x.err.constData());
    QCOMPARE(readFile(root + "/app.exe"), QByteArray("main program"));
    QCOMPARE(readFile(root + "/mine.txt"), QByteArray("not in the archive"));
}

void TestUnpack::existingFiles_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("content"); // of app.exe afterwards
    QTest::addColumn<QStringList>("tree");   // of the root afterwards
    auto row = [](const char *tag, const std::vector<File> &files, int exitCode,
                  const char *content, const QStringList &tree) {
        QTest::newRow(tag) << QByteArray::fromStdString(copyArchive(files)) << exitCode
                           << QByteArray(content) << tree;
    };
    const QStringList before{"app.exe", "mine.txt"};
    row("checked file replaces it", {{"app.exe", "new", false, false}}, 0, "new", before);
    row("bad CRC leaves it", {{"app.exe", "new content, shorter", false, true}}, 1,
        "old content that is longer", before);
    row("bad CRC after a new file",
        {{"new.txt", "fresh", false, false}, {"app.exe", "x", false, true}}, 1,
        "old content that is longer", before);
    row("bad CRC after replacing it",
        {{"app.exe", "new", false, false}, {"other.txt", "bad", false, true}}, 1, "new", before);
    row("new file beside it", {{"new.txt", "fresh", false, false}}, 0, "old content that is longer",
        before + QStringList{"new.txt"});
}

// A file that was there is replaced by a checked file or left as it was;
// nothing of a failed run stays behind, temporary files included.
void TestUnpack::existingFiles()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, tree);
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    QVERIFY(writeFile(root + "/app.exe", "old content that is longer"));
    QVERIFY(writeFile(root + "/mine.txt", "not in the archive"));
    const QString path = dir.filePath("a.7z");
    QVERIFY(writeFile(path, archive));
    Run x = unpack({"x", path, root});
    QVERIFY2(x.exitCode == exitCode, x.err.constData());
    QCOMPARE(readFile(root + "/app.exe"), content);
    QCOMPARE(readFile(root + "/mine.txt"), QByteArray("not in the archive"));
    tree.sort();
    QCOMPARE(listTree(root), tree);
}

void TestUnpack::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no arguments") << QStringList{} << 2;
    QTest::newRow("unknown command") << QStringList{"e", "a.7z"} << 2;
    QTest::newRow("outdir for l") << QStringList{"l", "a.7z", "out"} << 2;
    QTest::newRow("too many") << QStringList{"x", "a.7z", "out", "more"} << 2;
    QTest::newRow("missing archive") << QStringList{"t", "/nonexistent/a.7z"} << 1;
    QTest::newRow("folder as archive") << QStringList{"t", "/"} << 1;
}

void TestUnpack::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    const Run run = unpack(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(!run.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestUnpack)
#include "tst_unpack.moc"
