// The UTF codec: valid text both ways, and every kind of invalid input
// replaced by U+FFFD rather than dropped.
#include "utf.h"

#include <QtTest>

class TestUtf : public QObject
{
    Q_OBJECT
private slots:
    void utf16_data();
    void utf16();
    void utf8ToWide_data();
    void utf8ToWide();
};

void TestUtf::utf16_data()
{
    QTest::addColumn<std::u16string>("text");
    QTest::addColumn<std::string>("utf8");
    QTest::newRow("BMP") << std::u16string(u"a\u00e9\u4e2d")
                         << std::string("a\xC3\xA9\xE4\xB8\xAD");
    QTest::newRow("surrogate pair")
        << std::u16string{0xD83D, 0xDE00} << std::string("\xF0\x9F\x98\x80");
    // Lone surrogates cannot become UTF-8; they turn into U+FFFD.
    QTest::newRow("high surrogate alone")
        << std::u16string{0xD83D, u'x'} << std::string("\xEF\xBF\xBDx");
    QTest::newRow("low surrogate alone") << std::u16string{0xDE00} << std::string("\xEF\xBF\xBD");
}

void TestUtf::utf16()
{
    QFETCH(std::u16string, text);
    QFETCH(std::string, utf8);
    QCOMPARE(quillon::utf16ToUtf8(text), utf8);
}

void TestUtf::utf8ToWide_data()
{
    QTest::addColumn<std::string>("utf8");
    QTest::addColumn<std::string>("roundTrip");
    QTest::addColumn<int>("units"); // -1: not checked

    const std::string text = "a\xC3\xBC\xE4\xB8\xAD\xF0\x9F\x98\x80z"; // a ü 中 😀 z
    QTest::newRow("round trip, surrogate pair on UTF-16")
        << text << text << (sizeof(wchar_t) == 2 ? 6 : 5);
    // Invalid bytes and an overlong form become U+FFFD, nothing is dropped silently.
    QTest::newRow("invalid UTF-8 replaced")
        << std::string("x\xFFy\xC0\xAFz") << std::string("x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBDz")
        << -1;
    QTest::newRow("truncated sequence replaced")
        << std::string("\xE4\xB8") << std::string("\xEF\xBF\xBD\xEF\xBF\xBD") << -1;
}

void TestUtf::utf8ToWide()
{
    QFETCH(std::string, utf8);
    QFETCH(std::string, roundTrip);
    QFETCH(int, units);
    const std::wstring wide = quillon::utf8ToWide(utf8);
    QCOMPARE(quillon::wideToUtf8(wide), roundTrip);
    if (units >= 0)
        QCOMPARE(int(wide.size()), units);
}

QTEST_APPLESS_MAIN(TestUtf)
#include "tst_utf.moc"
