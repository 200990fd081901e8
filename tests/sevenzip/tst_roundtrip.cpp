// Archives made by the real 7zz, extracted by quillon-unpack, compared with
// the tree they were made from.
#include "archivewriter.h"
#include "sevenzip.h"
#include "testfiles.h"
#include "testinput.h"

#include <QtTest>

namespace {

// Compressible but not trivial: numbered lines with words, some random runs.
QByteArray mixedText(int size)
{
    static const char *words[] = {"alpha",   "beta", "gamma",  "delta", "quillon",
                                  "archive", "7z",   "module", "中文",  "données"};
    QByteArray out;
    quint32 seed = 7;
    for (int line = 0; out.size() < size; ++line) {
        out += QByteArray::number(line) + ':';
        for (int w = 0; w < 8; ++w) {
            seed = seed * 1664525u + 1013904223u;
            out += ' ';
            out += words[(seed >> 16) % 10];
        }
        if (line % 50 == 0)
            out += pseudoRandom(64, seed).toHex();
        out += '\n';
    }
    out.resize(size);
    return out;
}

// One file in one folder of the given coders (their bytes, bind pairs and
// packed stream indices as the header holds them) over `packs`.
std::string layoutArchive(const std::vector<std::string> &packs, const std::string &folder,
                          const std::vector<std::uint64_t> &unpackSizes, const std::string &content)
{
    using namespace archivewriter;
    std::string packed, h = "\x01\x04\x06" + num(0) + num(packs.size()) + '\x09';
    for (const auto &p : packs) {
        packed += p;
        h += num(p.size());
    }
    h += '\x00';
    h += std::string("\x07\x0B", 2) + num(1) + '\x00' + folder + '\x0C';
    for (auto size : unpackSizes)
        h += num(size);
    h += '\x00';
    h += std::string("\x08\x0A\x01", 3) + le(crc(content), 4) + '\x00' + '\x00';
    const std::string names = std::string(1, '\0') + utf16z("f.bin");
    h += '\x05' + num(1) + '\x11' + num(names.size()) + names + '\x00' + '\x00';
    return wrap(packed, h);
}

QStringList methodNames(const QString &listing)
{
    QStringList names;
    for (const QString &line : listing.split('\n')) {
        if (!line.startsWith("Method = "))
            continue;
        for (const QString &token : line.mid(9).split(' ', Qt::SkipEmptyParts))
            names << token.section(':', 0, 0);
    }
    names.removeDuplicates();
    return names;
}

} // namespace

class TestRoundTrip : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void handMadeLayouts_data();
    void handMadeLayouts();

private:
    QTemporaryDir m_dir;
    QString m_source;
};

void TestRoundTrip::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_source = m_dir.filePath("src");
    const QString s = m_source + '/';
    QVERIFY(writeFile(s + "readme.txt", "hello\n"));
    QVERIFY(writeFile(s + "zero.dat", QByteArray()));
    QVERIFY(writeFile(s + ".hidden", "hidden file\n"));
    QVERIFY(writeFile(s + "data/.config/settings.ini", "[a]\nb=c\n"));
    // Larger than the 64K and 1M dictionaries.
    QVERIFY(writeFile(s + "data/big.txt", mixedText(1536 * 1024)));
    QVERIFY(writeFile(s + "data/noise.bin", pseudoRandom(200 * 1024, 99)));
    QVERIFY(writeFile(s + "data/nested/deeper/leaf.txt", mixedText(5000)));
    QVERIFY(writeFile(s + QString::fromUtf8("中文目录/日本語のファイル.txt"), "cjk\n"));
    QVERIFY(writeFile(s + QString::fromUtf8("accents/crème brûlée à la façon.txt"), "accents\n"));
    QVERIFY(writeFile(s + QString::fromUtf8("emoji 😀🎉.txt"), "emoji\n"));
    QVERIFY(QDir().mkpath(s + "empty"));
    QVERIFY(QDir().mkpath(s + "data/empty/inner empty"));
    // Executables, so 7-Zip picks its x86 filters by itself.
    QVERIFY(QFile::copy(SEVENZIP_UNPACK, s + "bin/quillon-unpack") ||
            (QDir().mkpath(s + "bin") && QFile::copy(SEVENZIP_UNPACK, s + "bin/quillon-unpack")));
    const QString windowsExe = QStringLiteral(SEVENZIP_WINEXE);
    if (!windowsExe.isEmpty())
        QVERIFY(QFile::copy(windowsExe, s + "app.exe"));
}

void TestRoundTrip::roundTrip_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QStringList>("methods"); // must appear in the archive

    // The archive stage's own command line over methods, levels, dictionaries.
    for (const char *method : {"LZMA", "LZMA2"})
        for (int level : {0, 1, 5, 9})
            for (const char *dictionary : {"64K", "64M"}) {
                if (level == 0 && QByteArray(dictionary) != "64K")
                    continue;
                QTest::addRow("%s mx%d md%s", method, level, dictionary)
                    << QStringList{QString("-mx=%1").arg(level), QString("-m0=%1").arg(method),
                                   QString("-md=%1").arg(dictionary)}
                    << QStringList{method};
            }
    QTest::newRow("LZMA2 mx5 md1M")
        << QStringList{"-mx=5", "-m0=LZMA2", "-md=1M"} << QStringList{"LZMA2"};
    QTest::newRow("LZMA2 no md") << QStringList{"-mx=5", "-m0=LZMA2"} << QStringList{"LZMA2"};

    // Every filter, forced (the fast level is enough to exercise the filter).
    const char *filters[][2] = {{"BCJ", "BCJ"},      {"ARM64", "ARM64"}, {"ARM", "ARM"},
                                {"ARMT", "ARMT"},    {"PPC", "PPC"},     {"SPARC", "SPARC"},
                                {"IA64", "IA64"},    {"RISCV", "RISCV"}, {"Delta:4", "Delta"},
                                {"Delta:1", "Delta"}};
    for (const auto &f : filters)
        QTest::addRow("filter %s", f[0])
            << QStringList{"-mx=1", "-m0=LZMA2", QString("-mf=%1").arg(f[0])}
            << QStringList{f[1], "LZMA2"};
    QTest::newRow("filter BCJ over LZMA")
        << QStringList{"-mx=5", "-m0=LZMA", "-mf=BCJ"} << QStringList{"BCJ", "LZMA"};
    QTest::newRow("BCJ2 LZMA") << QStringList{"-m0=BCJ2",       "-m1=LZMA:d=1m", "-m2=LZMA:d=64k",
                                              "-m3=LZMA:d=64k", "-mb0:1",        "-mb0s1:2",
                                              "-mb0s2:3"}
                               << QStringList{"BCJ2", "LZMA"};
    QTest::newRow("BCJ2 LZMA2 main")
        << QStringList{"-m0=BCJ2", "-m1=LZMA2:d=1m", "-m2=LZMA:d=64k", "-m3=LZMA:d=64k",
                       "-mb0:1",   "-mb0s1:2",       "-mb0s2:3"}
        << QStringList{"BCJ2", "LZMA2", "LZMA"};
    // BCJ2 layouts other than the default one.
    QTest::newRow("BCJ2 over Copy") << QStringList{"-m0=BCJ2", "-m1=Copy", "-m2=Copy", "-m3=Copy",
                                                   "-mb0:1",   "-mb0s1:2", "-mb0s2:3"}
                                    << QStringList{"BCJ2", "Copy"};
    // 7zz's own chaining: the main stream through three Copy coders in turn.
    QTest::newRow("BCJ2 over a chain of Copy coders")
        << QStringList{"-m0=BCJ2", "-m1=Copy", "-m2=Copy", "-m3=Copy"}
        << QStringList{"BCJ2", "Copy"};
    QTest::newRow("BCJ2 over LZMA, call and jump stored")
        << QStringList{"-m0=BCJ2", "-m1=LZMA:d=1m", "-mb0:1"} << QStringList{"BCJ2", "LZMA"};
    QTest::newRow("BCJ2 alone") << QStringList{"-m0=BCJ2"} << QStringList{"BCJ2"};
    QTest::newRow("BCJ2 range coder stream through LZMA")
        << QStringList{"-m0=BCJ2", "-m1=LZMA:d=1m", "-m2=LZMA:d=64k", "-mb0:1", "-mb0s3:2"}
        << QStringList{"BCJ2", "LZMA"};
    QTest::newRow("BCJ2 every stream through LZMA")
        << QStringList{"-m0=BCJ2",       "-m1=LZMA:d=1m",  "-m2=LZMA:d=64k",
                       "-m3=LZMA:d=64k", "-m4=LZMA:d=64k", "-mb0:1",
                       "-mb0s1:2",       "-mb0s2:3",       "-mb0s3:4"}
        << QStringList{"BCJ2", "LZMA"};
    QTest::newRow("BCJ2 over Delta over LZMA2")
        << QStringList{"-m0=BCJ2", "-m1=Delta:4", "-m2=LZMA2:d=1m", "-mb0:1", "-mb1:2"}
        << QStringList{"BCJ2", "Delta", "LZMA2"};
    QTest::newRow("BCJ2 after its LZMA in coder order")
        << QStringList{"-m0=LZMA:d=1m", "-m1=BCJ2", "-m2=LZMA:d=64k", "-mb1:0", "-mb1s1:2"}
        << QStringList{"BCJ2", "LZMA"};
    QTest::newRow("solid off") << QStringList{"-mx=5", "-m0=LZMA2", "-ms=off"}
                               << QStringList{"LZMA2"};
    QTest::newRow("header not compressed")
        << QStringList{"-mx=5", "-m0=LZMA", "-mhc=off"} << QStringList{"LZMA"};
}

void TestRoundTrip::roundTrip()
{
    QFETCH(QStringList, switches);
    QFETCH(QStringList, methods);
    const QString archive = m_dir.filePath("a.7z");
    const QString out = m_dir.filePath("out");
    QFile::remove(archive);
    QDir(out).removeRecursively();

    QProcess sevenZip;
    sevenZip.setWorkingDirectory(m_dir.path());
    sevenZip.start(SEVENZIP_7ZZ, QStringList{"a", "-t7z", archive, m_source + "/*", "-r"} +
                                     switches + QStringList{"-bsp1", "-ssc", "-bso0"});
    QVERIFY(sevenZip.waitForFinished(120000));
    QVERIFY2(sevenZip.exitCode() == 0, sevenZip.readAllStandardError().constData());

    QProcess listing;
    listing.start(SEVENZIP_7ZZ, {"l", "-slt", archive});
    QVERIFY(listing.waitForFinished(60000));
    const QStringList found = methodNames(QString::fromUtf8(listing.readAllStandardOutput()));
    for (const QString &method : methods)
        QVERIFY2(found.contains(method), qPrintable(found.join(' ')));

    QProcess unpack;
    unpack.start(SEVENZIP_UNPACK, {"x", archive, out});
    QVERIFY(unpack.waitForFinished(120000));
    QVERIFY2(unpack.exitStatus() == QProcess::NormalExit && unpack.exitCode() == 0,
             unpack.readAllStandardError().constData());

    const QStringList expected = listTree(m_source);
    QCOMPARE(listTree(out), expected);
    for (const QString &path : expected) {
        if (path.endsWith('/'))
            continue;
        QFile a(m_source + '/' + path), b(out + '/' + path);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY2(a.readAll() == b.readAll(), qPrintable(path));
        // Modification times come back (7z keeps 100 ns steps).
        QCOMPARE(QFileInfo(b).lastModified().toMSecsSinceEpoch(),
                 QFileInfo(a).lastModified().toMSecsSinceEpoch());
    }
    QVERIFY(QFileInfo(out + "/bin/quillon-unpack").isExecutable());
}

// Coder and bind orders 7zz does not write. Main stream without branch
// opcodes, so BCJ2 passes it through and never reads call, jump or more
// than the five starting bytes of the range coder stream.
void TestRoundTrip::handMadeLayouts_data()
{
    using archivewriter::num;
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("content");
    const std::string text = mixedText(3000).toStdString();
    std::string plain;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x80 && c != 0x0F)
            plain += c;
    const std::string rc(5, '\0');
    const std::string bcj2 = std::string("\x14\x03\x03\x01\x1B", 5) + num(4) + num(1);
    const std::string copy("\x01\x00", 2);
    const std::uint64_t n = plain.size();
    auto row = [&](const char *tag, const std::string &archive) {
        QTest::newRow(tag) << QByteArray::fromStdString(archive)
                           << QByteArray::fromStdString(plain);
    };
    // Coders: Copy, Copy, Copy, BCJ2 (in streams 3-6); packed: rc, jump, call, main.
    row("BCJ2 last, packed streams reversed",
        layoutArchive({rc, "", "", plain},
                      num(4) + copy + copy + copy + bcj2 + num(3) + num(0) + num(4) + num(1) +
                          num(5) + num(2) + num(6) + num(2) + num(1) + num(0),
                      {n, 0, 0, n}, plain));
    // Coders: Copy, BCJ2 (in 1-4), Copy; range coder through coder 2, bind pairs out of order.
    row("BCJ2 between its coders",
        layoutArchive({plain, "", "", rc},
                      num(3) + copy + bcj2 + copy + num(4) + num(2) + num(1) + num(0) + num(0) +
                          num(2) + num(3) + num(5),
                      {n, n, 5}, plain));
    // Coders: BCJ2 only, every stream packed, in the order call, main, rc, jump.
    row("BCJ2 alone, packed streams shuffled",
        layoutArchive({"", plain, rc, ""}, num(1) + bcj2 + num(1) + num(0) + num(3) + num(2), {n},
                      plain));
}

void TestRoundTrip::handMadeLayouts()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, content);
    MemoryInput input(archive.toStdString());
    quillon::sevenzip::Archive reader;
    quillon::Error error = reader.open(input);
    QVERIFY2(error.ok(), error.message().c_str());
    CollectSink sink;
    error = reader.extract(sink);
    QVERIFY2(error.ok(), error.message().c_str());
    QCOMPARE(sink.contents, std::vector<std::string>{content.toStdString()});
}

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
