// An LZMA2 stream of several blocks (7zz -mmt=4) decoded on several threads,
// with and without the writer thread: the same bytes and the same errors as
// one thread, and nothing left behind when either side fails.
#include "posixsink.h"
#include "sevenzip.h"
#include "testfiles.h"
#include "testinput.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace quillon;
using namespace quillon::sevenzip;

namespace {

QByteArray lines(int size, quint32 seed)
{
    static const char *words[] = {"alpha", "beta",   "gamma",   "delta",  "quillon",
                                  "block", "thread", "archive", "module", "folder"};
    QByteArray out;
    for (int line = 0; out.size() < size; ++line) {
        out += QByteArray::number(line) + ':';
        for (int w = 0; w < 9; ++w) {
            seed = seed * 1664525u + 1013904223u;
            out += ' ';
            out += words[(seed >> 16) % 10];
        }
        out += '\n';
    }
    out.resize(size);
    return out;
}

// One LZMA2 chunk header as the stream holds it.
struct Chunk
{
    std::size_t offset; // in the archive
    std::uint8_t control;
    std::size_t headerSize;
    std::size_t extent; // header and data
};

// The chunks of the packed LZMA2 stream right after the start header.
std::vector<Chunk> walkChunks(const std::string &a)
{
    std::vector<Chunk> out;
    std::size_t p = 32;
    while (p + 6 <= a.size()) {
        const auto c = std::uint8_t(a[p]);
        const auto b = [&](std::size_t i) { return std::size_t(std::uint8_t(a[p + i])); };
        if (c == 1 || c == 2)
            out.push_back({p, c, 3, 3 + (b(1) << 8 | b(2)) + 1});
        else if (c >= 0x80)
            out.push_back({p, c, std::size_t(c >= 0xC0 ? 6 : 5),
                           std::size_t(c >= 0xC0 ? 6 : 5) + (b(3) << 8 | b(4)) + 1});
        else
            break;
        p += out.back().extent;
    }
    return out;
}

bool isBlockStart(std::uint8_t control)
{
    return control == 1 || control >= 0xE0;
}

Options withThreads(unsigned threads, bool writer)
{
    Options options;
    options.decoderThreads = threads;
    options.writerThread = writer;
    return options;
}

Error extractInto(const std::string &archive, const Options &options, CollectSink &sink)
{
    MemoryInput input(archive);
    Archive reader;
    Error error = reader.open(input, 0, options);
    return error.failed() ? error : reader.extract(sink);
}

} // namespace

class TestThreads : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sameAsOneThread_data();
    void sameAsOneThread();
    void damaged_data();
    void damaged();
    void writerFails_data();
    void writerFails();

private:
    QTemporaryDir m_dir;
    QString m_source;
    std::string m_archive;
    std::vector<Chunk> m_chunks;
    std::vector<std::size_t> m_blocks; // indices into m_chunks
};

void TestThreads::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_source = m_dir.filePath("src");
    const QString s = m_source + '/';
    QVERIFY(writeFile(s + "a.txt", "first\n"));
    QVERIFY(writeFile(s + "big.txt", lines(3584 << 10, 3)));
    // Incompressible, in the middle of a block (7zz orders by extension,
    // then name): stored chunks between LZMA chunks.
    QVERIFY(writeFile(s + "mid.txt", pseudoRandom(256 << 10, 5)));
    QVERIFY(writeFile(s + "more.txt", lines(2 << 20, 11)));
    QVERIFY(writeFile(s + "z/last.txt", "last\n"));
    const QString archive = m_dir.filePath("mt.7z");
    QProcess p;
    p.setWorkingDirectory(m_source);
    p.start(SEVENZIP_7ZZ, {"a", "-t7z", archive, "*", "-r", "-m0=LZMA2", "-mx=1", "-md=64K",
                           "-mmt=4", "-bso0", "-bsp0"});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    m_archive = readFile(archive).toStdString();
    m_chunks = walkChunks(m_archive);
    for (std::size_t i = 0; i < m_chunks.size(); ++i)
        if (isBlockStart(m_chunks[i].control))
            m_blocks.push_back(i);
    // Several blocks, and a stored chunk inside one, before an LZMA chunk.
    QVERIFY2(m_blocks.size() >= 5, qPrintable(QString::number(m_blocks.size())));
    bool storedInside = false;
    for (std::size_t i = m_blocks[1]; i + 1 < m_chunks.size(); ++i)
        storedInside =
            storedInside || (m_chunks[i].control == 2 && m_chunks[i + 1].control >= 0x80 &&
                             m_chunks[i + 1].control < 0xC0);
    QVERIFY(storedInside);
}

void TestThreads::sameAsOneThread_data()
{
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<bool>("writer");
    for (unsigned threads : {1u, 2u, 3u, 8u})
        for (bool writer : {false, true})
            QTest::addRow("%u threads%s", threads, writer ? ", writer thread" : "")
                << threads << writer;
}

void TestThreads::sameAsOneThread()
{
    QFETCH(unsigned, threads);
    QFETCH(bool, writer);
    CollectSink sink;
    const Error error = extractInto(m_archive, withThreads(threads, writer), sink);
    QVERIFY2(error.ok(), error.message().c_str());
    QStringList files;
    for (const QString &path : listTree(m_source))
        if (!path.endsWith('/'))
            files << path;
    QStringList got;
    for (const std::string &path : sink.paths) {
        if (path.back() == '/')
            continue;
        got << QString::fromStdString(path);
        QVERIFY2(readFile(m_source + '/' + got.last()).toStdString() ==
                     sink.contents[std::size_t(got.size() - 1)],
                 qPrintable(got.last()));
    }
    got.sort();
    QCOMPARE(got, files);
    QCOMPARE(sink.finished, int(files.size()));
}

void TestThreads::damaged_data()
{
    QTest::addColumn<QByteArray>("archive");
    auto row = [this](const char *tag, const std::function<void(std::string &)> &damage) {
        std::string a = m_archive;
        damage(a);
        QTest::newRow(tag) << QByteArray::fromStdString(a);
    };
    const Chunk second = m_chunks[m_blocks[1]];
    const Chunk third = m_chunks[m_blocks[2]];
    const Chunk lastBlock = m_chunks[m_blocks.back()];
    row("second block: data changed",
        [&](std::string &a) { a[second.offset + second.headerSize + 20] ^= 0x55; });
    row("third block: data changed in its last chunk", [&](std::string &a) {
        const Chunk &c = m_chunks[m_blocks[3] - 1];
        a[c.offset + c.headerSize + (c.extent - c.headerSize) * 3 / 4] ^= 0x10;
    });
    row("second block: bad control byte", [&](std::string &a) { a[second.offset] = 0x03; });
    row("third block: stream ends there", [&](std::string &a) { a[third.offset] = 0x00; });
    row("second block: packed size one longer", [&](std::string &a) { ++a[second.offset + 4]; });
    row("last block: unpacked size one longer", [&](std::string &a) { ++a[lastBlock.offset + 2]; });
    row("second block: starts without a dictionary reset",
        [&](std::string &a) { a[second.offset] = char(second.control & ~0x40); });
    // A stored chunk inside a block claims to reset the dictionary; the LZMA
    // chunk after it goes on without new properties.
    for (std::size_t i = m_blocks[1]; i + 1 < m_chunks.size(); ++i)
        if (m_chunks[i].control == 2 && m_chunks[i + 1].control >= 0x80 &&
            m_chunks[i + 1].control < 0xC0) {
            const std::size_t at = m_chunks[i].offset;
            row("block start claimed inside a block", [at](std::string &a) { a[at] = 0x01; });
            break;
        }
}

// Every damage fails with the error one thread reports (kind and text), with
// any number of threads, and the POSIX sink leaves nothing behind.
void TestThreads::damaged()
{
    QFETCH(QByteArray, archive);
    const std::string data = archive.toStdString();
    CollectSink serialSink;
    const Error serial = extractInto(data, withThreads(1, false), serialSink);
    QVERIFY2(serial.failed(), "accepted");
    qInfo("%s", serial.message().c_str());
    for (unsigned threads : {2u, 4u})
        for (bool writer : {false, true}) {
            CollectSink sink;
            const Error error = extractInto(data, withThreads(threads, writer), sink);
            // Where the LZMA core notices bad data depends on how much
            // input it was given at once: the offset may differ a little.
            QCOMPARE(int(error.kind), int(serial.kind));
            QCOMPARE(QString::fromStdString(error.context), QString::fromStdString(serial.context));
        }

    QTemporaryDir out;
    QVERIFY(out.isValid());
    MemoryInput input(data);
    Archive reader;
    QVERIFY(reader.open(input, 0, withThreads(4, true)).ok());
    PosixSink sink(out.filePath("root").toStdString());
    QVERIFY(sink.open());
    const Error error = reader.extract(sink);
    QCOMPARE(QString::fromStdString(error.context), QString::fromStdString(serial.context));
    sink.removeCreated();
    QCOMPARE(listTree(out.path()), QStringList());
}

void TestThreads::writerFails_data()
{
    QTest::addColumn<QString>("inTheWay"); // a folder where a file goes
    QTest::addColumn<qulonglong>("fileSizeLimit");
    QTest::newRow("file size limit") << QString() << qulonglong(1 << 20);
    QTest::newRow("folder where big.txt goes") << "big.txt" << qulonglong(0);
    QTest::newRow("folder where the last file goes") << "z/last.txt" << qulonglong(0);
}

// Real write errors on the writer's side while blocks are decoded ahead:
// the extraction ends with the sink's error and removes what it made.
void TestThreads::writerFails()
{
    QFETCH(QString, inTheWay);
    QFETCH(qulonglong, fileSizeLimit);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString root = out.filePath("root");
    if (!inTheWay.isEmpty())
        QVERIFY(writeFile(root + '/' + inTheWay + "/keep.txt", "kept\n"));
    const QStringList before = listTree(out.path());
    MemoryInput input(m_archive);
    Archive reader;
    QVERIFY(reader.open(input, 0, withThreads(4, true)).ok());
    PosixSink sink(root.toStdString());
    QVERIFY(sink.open());

    rlimit saved{};
    if (fileSizeLimit) {
        // Writes past the limit fail with EFBIG once SIGXFSZ is ignored.
        std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const rlimit limit{fileSizeLimit, saved.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }
    const Error error = reader.extract(sink);
    if (fileSizeLimit) {
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    QVERIFY2(error.kind == ErrorKind::Io, error.message().c_str());
    qInfo("%s; %s", error.message().c_str(), sink.lastError().c_str());
    QVERIFY(!sink.lastError().empty());
    sink.removeCreated();
    QCOMPARE(listTree(out.path()), before);
}

QTEST_GUILESS_MAIN(TestThreads)
#include "tst_threads.moc"
