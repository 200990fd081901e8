// Bad input: every case is refused with a clear error, nothing is written
// outside the extraction root, and quillon-unpack leaves nothing behind.
#include "archivewriter.h"
#include "lzmaheader.h"
#include "sevenzip.h"
#include "testfiles.h"
#include "testinput.h"

#include <QtTest>
#include <sys/resource.h>

using namespace quillon;
using namespace quillon::sevenzip;
using namespace archivewriter;

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray::fromStdString(s);
}

// A header with only a FilesInfo of `n` files and nothing else.
std::string filesOnly(std::uint64_t n)
{
    return wrap("", "\x01\x05" + num(n) + '\x00' + '\x00');
}

// One folder with the given coder bytes, one packed stream of `packed`.
std::string folderArchive(const std::string &packed, const std::string &coders,
                          const std::string &unpackSizes, int numPacked = 1)
{
    std::string h = "\x01\x04";
    h += '\x06' + num(0) + num(numPacked) + '\x09';
    for (int i = 0; i < numPacked; ++i)
        h += num(packed.size() / std::size_t(numPacked));
    h += '\x00';
    h += std::string("\x07\x0B", 2) + num(1) + '\x00' + coders + '\x0C' + unpackSizes + '\x00';
    h += '\x00';
    const std::string name = std::string(1, '\0') + utf16z("f");
    h += '\x05' + num(1) + '\x11' + num(name.size()) + name;
    h += '\x00';
    h += '\x00';
    return wrap(packed, h);
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refused_data();
    void refused();

private:
    std::string make7z(const QStringList &switches, const QString &name);
    QTemporaryDir m_dir;
    std::string m_good;
};

std::string TestBadInput::make7z(const QStringList &switches, const QString &name)
{
    const QString archive = m_dir.filePath(name);
    QProcess p;
    p.setWorkingDirectory(m_dir.filePath("src"));
    p.start(SEVENZIP_7ZZ,
            QStringList{"a", "-t7z", archive, "*", "-r", "-bso0", "-bsp0"} + switches);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return readFile(archive).toStdString();
}

void TestBadInput::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir().mkpath(m_dir.filePath("src/dir"));
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + QByteArray::number(i * 7919 % 1000) + " of the test text\n";
    QFile a(m_dir.filePath("src/a.txt")), c(m_dir.filePath("src/dir/c.txt"));
    QVERIFY(a.open(QIODevice::WriteOnly) && a.write(text) > 0);
    QVERIFY(c.open(QIODevice::WriteOnly) && c.write(text.left(5000)) > 0);
    a.close();
    c.close();
    m_good = make7z({"-m0=LZMA2", "-mx=5"}, "good.7z");
    QVERIFY(m_good.size() > 100);
    MemoryInput input(m_good);
    Archive archive;
    QVERIFY(archive.open(input).ok());
}

void TestBadInput::refused_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("kind"); // -1: any failure
    QTest::addColumn<QString>("text");
    QTest::addColumn<qulonglong>("headerSize"); // decoded; 0: no larger than the archive
    const int any = -1;
    auto row = [](const QString &tag, const std::string &data, int kind, const char *text = "",
                  std::uint64_t headerSize = 0) {
        QTest::newRow(qPrintable(tag))
            << bytes(data) << kind << QString::fromUtf8(text) << qulonglong(headerSize);
    };

    // Damage to a real archive.
    const std::string &good = m_good;
    const std::uint64_t headerPos =
        32 + (std::uint64_t(std::uint8_t(good[12])) | std::uint64_t(std::uint8_t(good[13])) << 8 |
              std::uint64_t(std::uint8_t(good[14])) << 16);
    const std::size_t packedEnd = std::size_t(headerPos);
    for (std::size_t cut :
         {std::size_t(0), std::size_t(6), std::size_t(31), std::size_t(32), std::size_t(40),
          packedEnd / 2, packedEnd, good.size() - 5, good.size() - 1})
        row(QString("truncated at %1").arg(cut), good.substr(0, cut), int(ErrorKind::Truncated));
    auto flipped = [&](std::size_t at) {
        std::string s = good;
        s[at] = char(s[at] ^ 0x40);
        return s;
    };
    row("flipped signature", flipped(2), int(ErrorKind::Malformed));
    row("flipped start header CRC", flipped(8), int(ErrorKind::CrcMismatch));
    row("flipped next header offset", flipped(12), int(ErrorKind::CrcMismatch));
    row("flipped header byte", flipped(good.size() - 3), int(ErrorKind::CrcMismatch));
    row("flipped packed byte early", flipped(40), any);
    row("flipped packed byte middle", flipped(packedEnd / 2), any);
    row("flipped packed byte near the end", flipped(packedEnd - 10), any);
    row("not an archive", std::string(200, 'x'), int(ErrorKind::Malformed));

    // Absurd counts and sizes.
    const std::uint64_t huge = std::uint64_t(1) << 40;
    row("files count", filesOnly(huge), int(ErrorKind::LimitExceeded));
    row("folders count", wrap("", "\x01\x04\x07\x0B" + num(huge) + '\x00'),
        int(ErrorKind::LimitExceeded));
    row("packed streams count", wrap("", "\x01\x04\x06" + num(0) + num(huge)),
        int(ErrorKind::LimitExceeded));
    {
        const std::string copy = std::string("\x01\x01\x00", 3) + '\x0C' + num(4) + '\x00';
        std::string h = "\x01\x04\x06" + num(0) + num(1) + '\x09' + num(4) + '\x00';
        h += std::string("\x07\x0B", 2) + num(1) + '\x00' + copy;
        row("substreams count", wrap("abcd", h + "\x08\x0D" + num(huge) + '\x00'),
            int(ErrorKind::LimitExceeded));
        row("substream sizes beyond folder",
            wrap("abcd", h + "\x08\x0D" + num(2) + '\x09' + num(9) + '\x00' + '\x00' + '\x05' +
                             num(2) + '\x11' + num(9) + '\x00' + utf16z("a") + utf16z("b") +
                             '\x00' + '\x00'),
            int(ErrorKind::Malformed));
    }
    {
        // A few KiB of archive whose encoded header decodes to 8 MiB, mostly
        // zeros, after declaring as many records as the bytes could hold.
        const std::size_t big = std::size_t(8) << 20;
        auto encoded = [big](std::string h) {
            h.resize(big, '\0');
            return lzmaHeaderArchive(h);
        };
        const std::uint64_t n = big / 5;
        row("encoded header: folders at two bytes each",
            encoded("\x01\x04\x07\x0B" + num(big / 2 - 16) + '\x00'), int(ErrorKind::LimitExceeded),
            "number of folders", big);
        row("encoded header: folders without packed streams",
            encoded("\x01\x04\x07\x0B" + num(n) + '\x00'), int(ErrorKind::Malformed),
            "more folders than packed streams", big);
        row("encoded header: empty packed streams and empty folders",
            encoded("\x01\x04\x06" + num(0) + num(n) + '\x09' + std::string(n, '\0') + '\x00' +
                    "\x07\x0B" + num(n) + '\x00'),
            int(ErrorKind::Malformed), "folder without coders", big);
        row("encoded header: files at two bytes each",
            encoded("\x01\x05" + num(big / 2 - 16) + '\x11' + num(big - 32) + '\x00'),
            int(ErrorKind::LimitExceeded), "number of files", big);
        std::string names;
        for (std::size_t i = 0; i < big / 4 - 16; ++i)
            names += utf16z("a");
        row("encoded header: files with one-character names",
            encoded("\x01\x05" + num(big / 4 - 16) + '\x11' + num(names.size() + 1) + '\x00' +
                    names),
            int(ErrorKind::LimitExceeded), "number of files too large", big);
        // As many files as the entry budget allows for this header.
        const std::uint64_t files = big / 32;
        row("encoded header: files with empty names",
            encoded("\x01\x05" + num(files) + '\x11' + num(big - 32) + '\x00'),
            int(ErrorKind::Malformed), "unsafe file name", big);
        row("encoded header: files with all times, half of them present",
            encoded("\x01\x05" + num(files) + '\x14' + num(files * 4) + '\x01'),
            int(ErrorKind::Truncated), "times", big);
        row("encoded header: substreams at a byte each",
            encoded(std::string("\x01\x04\x06\x00\x01\x09\x04\x00\x07\x0B\x01\x00\x01\x01\x00"
                                "\x0C\x04\x00\x08\x0D",
                                20) +
                    num(big - 64) + '\x09'),
            int(ErrorKind::LimitExceeded), "number of substreams", big);
        row("encoded header: empty substreams",
            encoded(std::string("\x01\x04\x06\x00\x01\x09\x04\x00\x07\x0B\x01\x00\x01\x01\x00"
                                "\x0C\x04\x00\x08\x0D",
                                20) +
                    num(big / 5 - 64) + '\x09'),
            int(ErrorKind::Malformed), "streams without files", big);
        row("encoded header: all packed stream CRCs",
            encoded("\x01\x04\x06" + num(0) + num(big / 2) + '\x0A' + '\x01'),
            int(ErrorKind::Truncated), "digests", big);
    }
    {
        std::string h = "\x01\x04\x06" + num(0) + num(1) + '\x09' + num(std::uint64_t(1) << 62) +
                        '\x00' + '\x00';
        row("pack size huge", wrap("abcd", h), int(ErrorKind::Malformed));
    }
    {
        std::string s = wrap("", std::string(64, '\x00'));
        // Next header size far beyond the file, with a valid start header CRC.
        std::string tail = le(0, 8) + le(std::uint64_t(1) << 50, 8) + le(0, 4);
        s.replace(8, 24, le(crc(tail), 4) + tail);
        row("next header size", s, int(ErrorKind::Truncated));
    }
    row("copy sizes differ", folderArchive("abcd", num(1) + std::string("\x01\x00", 2), num(5)),
        int(ErrorKind::Malformed));
    row("LZMA2 4 GiB dictionary",
        folderArchive("abcd", num(1) + std::string("\x21\x21\x01\x28", 4), num(huge)),
        int(ErrorKind::LimitExceeded));
    row("LZMA2 bad property",
        folderArchive("abcd", num(1) + std::string("\x21\x21\x01\x29", 4), num(4)),
        int(ErrorKind::Malformed));
    row("ten coders", folderArchive("abcd", num(10), ""), int(ErrorKind::LimitExceeded));
    {
        // Delta over BCJ over LZMA: three coders, a chain 7-Zip never writes.
        std::string coders = num(3) + "\x01\x04" + "\x21\x03\x01\x03" +
                             std::string("\x23\x03\x01\x01\x05\x5D\x00\x00\x01\x00", 10);
        coders += num(1) + num(0) + num(2) + num(1); // bind pairs: in1<-out0? in2<-out1
        row("three-coder chain", folderArchive("abcd", coders, num(4) + num(4) + num(4)),
            int(ErrorKind::Unsupported), "folder layout");
    }
    {
        // BCJ2 whose main, call and jump streams hold more than its output.
        const std::string lzma("\x23\x03\x01\x01\x05\x5D\x00\x00\x01\x00", 10);
        std::string coders =
            num(4) + lzma + lzma + lzma + std::string("\x14\x03\x03\x01\x1B", 5) + num(4) + num(1);
        coders += num(5) + num(0) + num(4) + num(1) + num(3) + num(2);
        coders += num(2) + num(6) + num(1) + num(0);
        row("BCJ2 stream sizes",
            folderArchive("abcd", coders, num(100) + num(100) + num(100) + num(150), 4),
            int(ErrorKind::Malformed), "BCJ2");
        // Layouts over coders we have that we still do not decode, named as BCJ2's.
        const std::string bcj2 = std::string("\x14\x03\x03\x01\x1B", 5) + num(4) + num(1);
        const std::string copy("\x01\x00", 2), x86("\x01\x04", 2), delta("\x21\x03\x01\x00", 4);
        auto packedIn = [](std::initializer_list<int> ins) {
            std::string out;
            for (int in : ins)
                out += num(std::uint64_t(in));
            return out;
        };
        row("BCJ2 over BCJ2",
            folderArchive("abcdefg",
                          num(2) + bcj2 + bcj2 + num(0) + num(1) + packedIn({1, 2, 3, 4, 5, 6, 7}),
                          num(9) + num(9), 7),
            int(ErrorKind::Unsupported), "BCJ2 folder layout");
        row("BCJ2 main stream through a filter over a packed stream",
            folderArchive("abcd", num(2) + bcj2 + x86 + num(0) + num(1) + packedIn({1, 2, 3, 4}),
                          num(9) + num(1), 4),
            int(ErrorKind::Unsupported), "BCJ2 folder layout");
        row("BCJ2 main stream three coders deep",
            folderArchive("abcd",
                          num(4) + bcj2 + x86 + delta + copy + num(0) + num(1) + num(4) + num(2) +
                              num(5) + num(3) + packedIn({1, 2, 3, 6}),
                          num(9) + num(1) + num(1) + num(1), 4),
            int(ErrorKind::Unsupported), "BCJ2 folder layout");
        // Copy coders in a chain pass, but only as deep as the decoder goes.
        row("BCJ2 main stream through five Copy coders",
            folderArchive("abcd",
                          num(6) + bcj2 + copy + copy + copy + copy + copy + num(0) + num(1) +
                              num(4) + num(2) + num(5) + num(3) + num(6) + num(4) + num(7) +
                              num(5) + packedIn({1, 2, 3, 8}),
                          num(9) + num(1) + num(1) + num(1) + num(1) + num(1), 4),
            int(ErrorKind::Unsupported), "BCJ2 folder layout");
        row("BCJ2 range coder stream fed by BCJ2's own output",
            folderArchive("abcd", num(2) + bcj2 + copy + num(3) + num(0) + packedIn({0, 1, 2, 4}),
                          num(9) + num(1), 4),
            int(ErrorKind::Unsupported), "BCJ2 folder layout");
    }
    {
        std::string names = std::string(1, '\0') + utf16z("a");
        std::string files = '\x05' + num(1) + '\x11' + num(names.size()) + names + '\x11' +
                            num(names.size()) + names + '\x00';
        row("duplicate names property", wrap("", "\x01" + files + '\x00'),
            int(ErrorKind::Malformed), "duplicate");
        std::string empty = '\x05' + num(1) + "\x0F\x01\x80" + "\x0E\x01\x80" + '\x11' +
                            num(names.size()) + names + '\x00';
        row("empty-file bits before empty-stream bits", wrap("", "\x01" + empty + '\x00'),
            int(ErrorKind::Malformed));
        std::string anti = '\x05' + num(1) + "\x0E\x01\x80" + "\x10\x01\x80" + '\x11' +
                           num(names.size()) + names + '\x00';
        row("anti item", wrap("", "\x01" + anti + '\x00'), int(ErrorKind::Unsupported), "anti");
        row("names missing", wrap("", std::string("\x01\x05\x01\x0E\x01\x80\x00\x00", 8)),
            int(ErrorKind::Malformed));
    }
    {
        row("bad CRC of the second file",
            copyArchive({{"a.txt", "first", false, false}, {"b.txt", "second", false, true}}),
            int(ErrorKind::CrcMismatch), "b.txt");
    }

    {
        // Two files in one block that carries only a block CRC, and a wrong one.
        std::string h = "\x01\x04\x06" + num(0) + num(1) + '\x09' + num(9) + '\x00';
        h += std::string("\x07\x0B", 2) + num(1) + '\x00' + std::string("\x01\x01\x00", 3);
        h += '\x0C' + num(9) + '\x0A' + '\x01' + le(crc("firstnext") ^ 1, 4) + '\x00';
        h += '\x08' + std::string("\x0D") + num(2) + '\x09' + num(5) + '\x00';
        h += '\x00';
        const std::string names = std::string(1, '\0') + utf16z("a") + utf16z("b");
        h += '\x05' + num(2) + '\x11' + num(names.size()) + names + '\x00' + '\x00';
        row("bad CRC of a block", wrap("firstnext", h), int(ErrorKind::CrcMismatch), "block");
    }

    // Names that would leave the extraction root.
    for (const char *name : {"../evil.txt", "ok/../../evil.txt", "/tmp/quillon-evil.txt",
                             "C:\\evil.txt", "c:evil.txt", "\\\\server\\share\\evil.txt",
                             "\\\\?\\C:\\evil.txt", "..\\evil.txt", "ok/..\\..\\evil.txt"})
        row(QString("unsafe name %1").arg(name),
            copyArchive({{"fine.txt", "fine", false, false}, {name, "evil", false, false}}),
            int(ErrorKind::Malformed), "unsafe file name");
    row("unsafe folder name", copyArchive({{"..", "", true, false}, {"x", "data", false, false}}),
        int(ErrorKind::Malformed), "unsafe file name");

    // Coders we do not implement, named in the error.
    row("PPMd", make7z({"-m0=PPMd"}, "ppmd.7z"), int(ErrorKind::Unsupported), "PPMd");
    row("BZip2", make7z({"-m0=BZip2"}, "bzip2.7z"), int(ErrorKind::Unsupported), "BZip2");
    row("Deflate", make7z({"-m0=Deflate"}, "deflate.7z"), int(ErrorKind::Unsupported), "Deflate");
    row("AES", make7z({"-psecret", "-mhe=off"}, "aes.7z"), int(ErrorKind::Unsupported), "AES");
    row("AES header", make7z({"-psecret", "-mhe=on"}, "aesh.7z"), int(ErrorKind::Unsupported),
        "AES");
}

void TestBadInput::refused()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(qulonglong, headerSize);

    // The reader itself.
    MemoryInput input(archive.toStdString());
    Archive reader;
    Error error = reader.open(input);
    if (error.ok()) {
        CollectSink sink;
        error = reader.extract(sink);
    }
    QVERIFY2(error.failed(), "accepted");
    qInfo("%s", error.message().c_str());
    if (kind >= 0)
        QVERIFY2(int(error.kind) == kind, error.message().c_str());
    if (!text.isEmpty())
        QVERIFY2(QString::fromStdString(error.message()).contains(text), error.message().c_str());

    // quillon-unpack: exit 1, one line on stderr, nothing left behind.
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QFile file(work.filePath("a.7z"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(archive);
    file.close();
    QDir().mkpath(work.filePath("root"));
    // Within 64 MiB + 4 x the decoded header of address space.
    const std::uint64_t limit =
        (std::uint64_t(64) << 20) + 4 * std::max<std::uint64_t>(headerSize, archive.size());
    QProcess unpack;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The sanitizers reserve terabytes of shadow address space: the limit
    // holds only for plain builds (the sanitizer checks the accesses instead).
    unpack.setChildProcessModifier([limit] {
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_AS, &rl);
    });
#endif
    unpack.start(SEVENZIP_UNPACK, {"x", file.fileName(), work.filePath("root/out")});
    QVERIFY(unpack.waitForFinished(60000));
    QCOMPARE(unpack.exitStatus(), QProcess::NormalExit);
    QCOMPARE(unpack.exitCode(), 1);
    const QByteArray err = unpack.readAllStandardError();
    QVERIFY2(err.startsWith("quillon-unpack: ") && err.count('\n') == 1, err.constData());
    if (headerSize)
        qInfo("refused within an address space of %llu MiB",
              static_cast<unsigned long long>(limit >> 20));
    QCOMPARE(listTree(work.path()), QStringList({"a.7z", "root/"}));
    QVERIFY(!QFile::exists("/tmp/quillon-evil.txt"));
}

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
