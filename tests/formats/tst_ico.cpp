// The ICO model: one cap on images for the check, the reader and the writer,
// so nothing the job accepts is refused when the icon is written.
#include "ico.h"

#include <QtTest>

using namespace quillon;

namespace {

// `count` distinct 8-byte images of `width` x `width`.
std::vector<ico::Image> images(int count, std::uint8_t width = 16)
{
    std::vector<ico::Image> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        ico::Image &image = out[static_cast<std::size_t>(i)];
        image.width = width;
        image.height = width;
        image.planes = 1;
        image.bitCount = 32;
        image.data.assign(8, static_cast<std::uint8_t>(i));
    }
    return out;
}

// An ICO of `count` images written field by field, not by the writer under test.
std::vector<std::uint8_t> handMadeIco(int count)
{
    std::vector<std::uint8_t> out;
    auto put16 = [&out](unsigned v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto put32 = [&put16](unsigned v) {
        put16(v & 0xffff);
        put16(v >> 16);
    };
    put16(0);
    put16(1);
    put16(static_cast<unsigned>(count));
    const unsigned directoryEnd = 6 + 16 * static_cast<unsigned>(count);
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), {16, 16, 0, 0});
        put16(1);
        put16(32);
        put32(8);
        put32(directoryEnd + 8 * static_cast<unsigned>(i));
    }
    for (int i = 0; i < count; ++i)
        out.insert(out.end(), 8, static_cast<std::uint8_t>(i));
    return out;
}

} // namespace

class TestIco : public QObject
{
    Q_OBJECT
private slots:
    void imageCap_data();
    void imageCap();
    void sizeCap();
    void roundTrip();
    void group();
};

void TestIco::imageCap_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("1") << 1 << true;
    QTest::newRow("256, the cap") << 256 << true;
    QTest::newRow("257") << 257 << false;
    QTest::newRow("300") << 300 << false;
    QTest::newRow("65535") << 65535 << false;
}

void TestIco::imageCap()
{
    QFETCH(int, count);
    QFETCH(bool, accepted);
    QCOMPARE(int(ico::kMaxImages), 256);

    const std::vector<std::uint8_t> file = handMadeIco(count);
    const ico::CheckResult check = ico::checkIco(file.data(), file.size());
    QCOMPARE(check.verdict, accepted ? ico::Verdict::Ok : ico::Verdict::TooManyImages);
    QCOMPARE(check.count, std::uint32_t(count));
    if (!accepted) {
        QCOMPARE(QString::fromStdString(ico::checkMessage(check)),
                 QStringLiteral("ICO 图像过多：共 %1 张，最多 256 张").arg(count));
    }

    std::vector<ico::Image> read;
    const Error error = ico::readIco(file.data(), file.size(), read);
    QCOMPARE(error.kind, accepted ? ErrorKind::None : ErrorKind::LimitExceeded);
    QCOMPARE(int(read.size()), accepted ? count : 0);

    // The writer takes exactly what the check accepts.
    std::vector<std::uint8_t> written;
    QCOMPARE(ico::writeIco(images(count), written), accepted);
    if (accepted)
        QCOMPARE(written, file);
    else
        QVERIFY(written.empty());
}

void TestIco::sizeCap()
{
    std::vector<std::uint8_t> file = handMadeIco(1);
    file.resize(ico::kMaxFileSize);
    QCOMPARE(ico::checkIco(file.data(), file.size()).verdict, ico::Verdict::Ok);
    file.push_back(0);
    const ico::CheckResult check = ico::checkIco(file.data(), file.size());
    QCOMPARE(check.verdict, ico::Verdict::TooLarge);
    QCOMPARE(QString::fromStdString(ico::checkMessage(check)),
             QStringLiteral("图标文件太大，最多 64 MiB"));
    std::vector<ico::Image> read;
    QCOMPARE(ico::readIco(file.data(), file.size(), read).kind, ErrorKind::LimitExceeded);
}

void TestIco::roundTrip()
{
    std::vector<ico::Image> in = images(3, 0); // width 0 stands for 256
    in[1].planes = 0;                          // taken from the DIB header on reading
    in[1].bitCount = 0;
    in[1].data.assign(40, 0);
    in[1].data[12] = 1;
    in[1].data[14] = 24;
    std::vector<std::uint8_t> file;
    QVERIFY(ico::writeIco(in, file));
    const ico::CheckResult check = ico::checkIco(file.data(), file.size());
    QCOMPARE(check.verdict, ico::Verdict::Ok);
    QCOMPARE(check.sizes.front(), std::make_pair(256u, 256u));
    std::vector<ico::Image> out;
    QVERIFY(ico::readIco(file.data(), file.size(), out).ok());
    QCOMPARE(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        QCOMPARE(out[i].data, in[i].data);
    QCOMPARE(out[1].planes, std::uint16_t(1));
    QCOMPARE(out[1].bitCount, std::uint16_t(24));

    std::vector<ico::Image> withEmpty = images(2);
    withEmpty[1].data.clear();
    QVERIFY(!ico::writeIco(withEmpty, file));
    QVERIFY(file.empty());
}

// Group entries written, read back strictly, and read leniently when cut short.
void TestIco::group()
{
    std::vector<ico::GroupEntry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].width = static_cast<std::uint8_t>(16 * (i + 1));
        entries[i].height = entries[i].width;
        entries[i].reserved = 7; // always written as 0
        entries[i].bitCount = 32;
        entries[i].bytesInResource = 100;
        entries[i].imageId = static_cast<std::uint16_t>(10 + i);
    }
    const std::vector<std::uint8_t> bytes = ico::writeGroup(entries);
    QCOMPARE(bytes.size(), std::size_t(6 + 14 * 3));
    std::vector<ico::GroupEntry> read;
    QVERIFY(ico::parseGroup(bytes.data(), bytes.size(), read));
    QCOMPARE(read.size(), entries.size());
    QCOMPARE(read[2].imageId, std::uint16_t(12));
    QCOMPARE(read[2].reserved, std::uint8_t(0));
    QVERIFY(!ico::parseGroup(bytes.data(), bytes.size(), read, 2)); // above maxEntries

    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 1);
    QVERIFY(!ico::parseGroup(cut.data(), cut.size(), read));
    QCOMPARE(ico::groupImageIds(cut.data(), cut.size()), (std::vector<std::uint16_t>{10, 11}));
    QCOMPARE(ico::groupImageIds(bytes.data(), 5), std::vector<std::uint16_t>{});
}

QTEST_APPLESS_MAIN(TestIco)
#include "tst_ico.moc"
