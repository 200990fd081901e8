// Archives made by the real 7zz, extracted by quillon-unpack, compared with
// the tree they were made from.
#include "testfiles.h"

#include <QtTest>

namespace {

QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = char(seed >> 23);
    }
    return out;
}

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

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
