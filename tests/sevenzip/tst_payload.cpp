// Finding the configuration block and the archive behind a module.
#include "archivewriter.h"
#include "payload.h"
#include "testinput.h"

#include <QtTest>

using namespace quillon;
using namespace quillon::sevenzip;

namespace {

const std::string kFirst = std::string(";!@Install") + "@!UTF-8!\n";
const std::string kLast = std::string(";!@Install") + "End@!\n";

std::string block(const std::string &body)
{
    return kFirst + body + kLast;
}

std::string standardBody()
{
    return "Title=\"app\"\nProgress=\"no\"\nExecuteFile=\"app.exe\"\n";
}

std::string prefix(std::size_t size)
{
    std::string out = "MZ";
    out.resize(size, '\0');
    for (std::size_t i = 2; i < size; ++i)
        out[i] = static_cast<char>((i * 131) & 0xFF);
    return out;
}

} // namespace

class TestPayload : public QObject
{
    Q_OBJECT
private slots:
    void locate_data();
    void locate();
    void archiveBehindBlock();
    void modulePayload_data();
    void modulePayload();
    void moduleDoesNotHoldMarker();
};

void TestPayload::locate_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qulonglong>("searchFrom");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qulonglong>("configOffset");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("executeFile");

    auto row = [](const char *tag, const std::string &file, std::uint64_t from, ErrorKind kind,
                  std::uint64_t offset, const char *title, const char *exe) {
        QTest::newRow(tag) << QByteArray::fromStdString(file) << qulonglong(from) << int(kind)
                           << qulonglong(offset) << QString::fromUtf8(title)
                           << QString::fromUtf8(exe);
    };
    const std::string std = block(standardBody());
    row("at start", std + "7z", 0, ErrorKind::None, 0, "app", "app.exe");
    row("after a module", prefix(128000) + std + "7z", 0, ErrorKind::None, 128000, "app",
        "app.exe");
    // The first line straddles the 64 KiB boundary of the search.
    row("across a search chunk", prefix(65536 - 7) + std, 0, ErrorKind::None, 65536 - 7, "app",
        "app.exe");
    row("partial marker first", prefix(100) + kFirst.substr(0, 12) + "xx" + std, 0, ErrorKind::None,
        114, "app", "app.exe");
    row("unknown keys ignored",
        block("Title=\"t\"\nBeginPrompt=\"Sure?\"\nExecuteFile=\"bin/x.exe\"\nProgress=\"no\"\n"),
        0, ErrorKind::None, 0, "t", "bin/x.exe");
    row("UTF-8 values and quotes", block("Title=\"中文 \"q\"\"\nExecuteFile=\"中文.exe\"\n"), 0,
        ErrorKind::None, 0, "中文 \"q\"", "中文.exe");
    row("CRLF lines", kFirst + "Title=\"a\"\r\nExecuteFile=\"a.exe\"\r\n" + kLast, 0,
        ErrorKind::None, 0, "a", "a.exe");
    row("comment and empty lines", block(";comment\n\nTitle=\"a\"\n"), 0, ErrorKind::None, 0, "a",
        "");
    row("first block wins", block("Title=\"one\"\n") + block("Title=\"two\"\n"), 0, ErrorKind::None,
        0, "one", "");
    row("search starts later", block("Title=\"one\"\n") + block("Title=\"two\"\n"), 5,
        ErrorKind::None, kFirst.size() + 12 + kLast.size(), "two", "");
    row("no block", prefix(5000), 0, ErrorKind::Malformed, 0, "", "");
    row("empty file", "", 0, ErrorKind::Malformed, 0, "", "");
    row("missing end line", prefix(10) + kFirst + standardBody() + "7z\xBC\xAF", 0,
        ErrorKind::Truncated, 0, "", "");
    row("end line without LF", kFirst + standardBody() + kLast.substr(0, kLast.size() - 1), 0,
        ErrorKind::Truncated, 0, "", "");
    row("block over 64 KiB", block(std::string(70000, ';') + "\n"), 0, ErrorKind::LimitExceeded, 0,
        "", "");
    row("malformed line", block("Title=app\n"), 0, ErrorKind::Malformed, 0, "", "");
    row("searchFrom past the end", std, 1000, ErrorKind::Malformed, 0, "", "");
}

void TestPayload::locate()
{
    QFETCH(QByteArray, file);
    QFETCH(qulonglong, searchFrom);
    QFETCH(int, kind);
    QFETCH(qulonglong, configOffset);
    QFETCH(QString, title);
    QFETCH(QString, executeFile);
    MemoryInput input(file.toStdString());
    Payload payload;
    const Error error = locatePayload(input, searchFrom, payload);
    QCOMPARE(int(error.kind), kind);
    if (error.failed())
        return;
    QCOMPARE(payload.configOffset, configOffset);
    QCOMPARE(QString::fromStdString(payload.config.title), title);
    QCOMPARE(QString::fromStdString(payload.config.executeFile), executeFile);
    QCOMPARE(payload.archiveOffset, payload.configOffset + payload.configSize);
    const std::string text = file.toStdString().substr(payload.configOffset, payload.configSize);
    QVERIFY(text.rfind(kFirst, 0) == 0);
    QVERIFY(text.size() >= kLast.size() && text.substr(text.size() - kLast.size()) == kLast);
}

// The archive starts right after the block and ends where its start header
// says, whatever follows (an Authenticode certificate, for one).
void TestPayload::archiveBehindBlock()
{
    const std::string archive =
        archivewriter::copyArchive({{"app.exe", "program bytes", false, false}});
    const std::string certificate = std::string("\x30\x82\x05\x00", 4) + std::string(1280, '\xA5');
    const std::string file = prefix(4096) + block(standardBody()) + archive + certificate;
    MemoryInput input(file);
    Payload payload;
    QVERIFY(locatePayload(input, 0, payload).ok());
    QCOMPARE(payload.archiveOffset, 4096 + block(standardBody()).size());
    Archive reader;
    const Error error = reader.open(input, payload.archiveOffset);
    QVERIFY2(error.ok(), error.message().c_str());
    QCOMPARE(reader.archiveEnd(), payload.archiveOffset + archive.size());
    CollectSink sink;
    QVERIFY(reader.extract(sink).ok());
    QCOMPARE(sink.contents.at(0), std::string("program bytes"));
}

void TestPayload::modulePayload_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qulonglong>("configOffset");
    QTest::addColumn<QString>("executeFile");
    const std::string real = block(standardBody());
    const std::string decoy = block("ExecuteFile=\"decoy.exe\"\n") +
                              archivewriter::copyArchive({{"decoy.exe", "decoy", false, false}});
    const std::string pe = archivewriter::minimalPe();
    QTest::newRow("behind a PE image")
        << QByteArray::fromStdString(pe + real) << qulonglong(pe.size()) << "app.exe";
    QTest::newRow("decoy in the PE header slack")
        << QByteArray::fromStdString(archivewriter::minimalPe(decoy) + real)
        << qulonglong(pe.size()) << "app.exe";
    // Not an image we can walk: the search starts at the beginning.
    QTest::newRow("MZ without a PE header")
        << QByteArray::fromStdString(prefix(3000) + real) << qulonglong(3000) << "app.exe";
}

// The one locator the module, quillon-unpack and the fuzzer share.
void TestPayload::modulePayload()
{
    QFETCH(QByteArray, file);
    QFETCH(qulonglong, configOffset);
    QFETCH(QString, executeFile);
    MemoryInput input(file.toStdString());
    Payload payload;
    const Error error = locateModulePayload(input, payload);
    QVERIFY2(error.ok(), error.message().c_str());
    QCOMPARE(payload.configOffset, configOffset);
    QCOMPARE(QString::fromStdString(payload.config.executeFile), executeFile);
}

// The reader library must not carry the first line as one piece, or a module
// built from it would find itself.
void TestPayload::moduleDoesNotHoldMarker()
{
    QFile library(QStringLiteral(SEVENZIP_LIBRARY));
    QVERIFY2(library.open(QIODevice::ReadOnly), qPrintable(library.fileName()));
    const QByteArray bytes = library.readAll();
    QVERIFY(!bytes.isEmpty());
    QVERIFY(!bytes.contains(QByteArray::fromStdString(kFirst.substr(0, kFirst.size() - 1))));
}

QTEST_APPLESS_MAIN(TestPayload)
#include "tst_payload.moc"
