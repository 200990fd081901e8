// Byte layout of the version-information resource, and the query that reads
// it back.
#include "platform_write.h"
#include "versioninfo.h"

#include <QtTest>

using namespace quillon;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

quint16 u16At(const QByteArray &bytes, qsizetype offset)
{
    return static_cast<quint16>(static_cast<quint8>(bytes[offset]) |
                                (static_cast<quint8>(bytes[offset + 1]) << 8));
}

// Walks the string table of a built resource: key -> (block offset, block).
QMap<QString, QByteArray> stringBlocks(const QByteArray &info, QList<qsizetype> *offsets = nullptr)
{
    QMap<QString, QByteArray> blocks;
    // root header+key 40, fixed info 52, StringFileInfo header 36, table header 24.
    const qsizetype tableStart = 92 + 36;
    const qsizetype tableEnd = tableStart + u16At(info, tableStart);
    qsizetype at = tableStart + 24;
    while (at < tableEnd) {
        const quint16 length = u16At(info, at);
        QString key;
        for (qsizetype k = at + 6; u16At(info, k) != 0; k += 2)
            key.append(QChar(u16At(info, k)));
        blocks.insert(key, info.mid(at, length));
        if (offsets)
            offsets->append(at - (tableStart + 24));
        at += (length + 3) & ~3;
    }
    return blocks;
}

} // namespace

class TestVersionInfo : public QObject
{
    Q_OBJECT

private slots:
    void utf16Bytes();
    void block_data();
    void block();
    void stringBlockSizes_data();
    void stringBlockSizes();
    void namesFromMainProgram_data();
    void namesFromMainProgram();
    void emptyNameBlocks();
    void fixedParts();
    void totalSizeRule_data();
    void totalSizeRule();
    void tooLongNameGivesEmpty();
    void queriesReadTheBuiltBlock();
    void versionTextStaysInside_data();
    void versionTextStaysInside();
};

void TestVersionInfo::utf16Bytes()
{
    QCOMPARE(toUtf16Bytes(QStringLiteral("Ab")), hex("41006200"));
    QCOMPARE(toUtf16Bytes(QString::fromUtf8("程")), hex("0b7a"));
    QCOMPARE(toUtf16Bytes(QString::fromUtf8("😀")), hex("3dd800de")); // a surrogate pair
    QCOMPARE(toUtf16Bytes(QString()), QByteArray());
}

void TestVersionInfo::block_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("valueLength");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");

    // 6 + "A\0" (4) = 10 -> 2 padding bytes.
    QTest::newRow("odd key length padded")
        << "A" << 0 << 1 << QByteArray() << hex("0c00 0000 0100 4100 0000 0000");
    // 6 + "AB\0" (6) = 12: no padding.
    QTest::newRow("aligned key") << "AB" << 3 << 0 << hex("aabb")
                                 << hex("0e00 0300 0000 4100 4200 0000 aabb");
    QTest::newRow("payload kept unpadded")
        << "AB" << 0 << 1 << hex("01") << hex("0d00 0000 0100 4100 4200 0000 01");
}

void TestVersionInfo::block()
{
    QFETCH(QString, key);
    QFETCH(int, valueLength);
    QFETCH(int, type);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);
    QCOMPARE(buildVersionBlock(key, static_cast<std::uint16_t>(valueLength),
                               static_cast<std::uint16_t>(type), payload),
             expected);
}

void TestVersionInfo::stringBlockSizes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("size");

    // Header plus key area, plus 2 * (value length + 1).
    QTest::newRow("Comments") << "Comments" << kVersionWebAddress << 24 + 2 * 24;
    QTest::newRow("CompanyName") << "CompanyName"
                                 << "Morvane" << 48;
    QTest::newRow("FileDescription") << "FileDescription"
                                     << "Morvane Portable Application" << 40 + 2 * 29;
    QTest::newRow("FileVersion") << "FileVersion"
                                 << "1.0.7.01" << 50;
    QTest::newRow("InternalName app") << "InternalName"
                                      << "app" << 40;
    QTest::newRow("LegalCopyright") << "LegalCopyright" << kVersionCopyright << 36 + 2 * 44;
    QTest::newRow("LegalTrademarks") << "LegalTrademarks"
                                     << "Morvane" << 56;
    QTest::newRow("OriginalFilename app.exe") << "OriginalFilename"
                                              << "app.exe" << 56;
    QTest::newRow("ProductName") << "ProductName"
                                 << "Morvane" << 48;
    QTest::newRow("ProductVersion") << "ProductVersion"
                                    << "1.0.7.01" << 54;
    QTest::newRow("Website") << "Website" << kVersionWebAddress << 24 + 2 * 24;
}

void TestVersionInfo::stringBlockSizes()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, size);
    const QByteArray block = buildVersionString(key, value);
    QCOMPARE(block.size(), size);
    QCOMPARE(int(u16At(block, 0)), size);
    QCOMPARE(int(u16At(block, 2)), value.size() + 1);
    QCOMPARE(int(u16At(block, 4)), 1);
    QVERIFY(block.endsWith(toUtf16Bytes(value) + QByteArray(2, '\0')));

    // The same block stands unchanged inside the whole resource.
    const QByteArray info = buildVersionInfo(QStringLiteral("app.exe"));
    QCOMPARE(stringBlocks(info).value(key), block);
}

void TestVersionInfo::namesFromMainProgram_data()
{
    QTest::addColumn<QString>("mainExeName");
    QTest::addColumn<QString>("originalFilename");
    QTest::addColumn<QString>("internalName");

    QTest::newRow("plain") << "app.exe"
                           << "app.exe"
                           << "app";
    QTest::newRow("path and dots") << "tools/My.App.exe"
                                   << "My.App.exe"
                                   << "My.App";
    QTest::newRow("backslash path") << "tools\\run.exe"
                                    << "run.exe"
                                    << "run";
    QTest::newRow("no suffix") << "launcher"
                               << "launcher"
                               << "launcher";
    QTest::newRow("trailing separator") << "tools/"
                                        << ""
                                        << "";
    QTest::newRow("blanks only") << "   "
                                 << ""
                                 << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("程序.exe") << QString::fromUtf8("程序.exe")
                               << QString::fromUtf8("程序");
    QTest::newRow("blanks kept inside") << " my app.exe"
                                        << " my app.exe"
                                        << " my app";
}

void TestVersionInfo::namesFromMainProgram()
{
    QFETCH(QString, mainExeName);
    QFETCH(QString, originalFilename);
    QFETCH(QString, internalName);
    const auto blocks = stringBlocks(buildVersionInfo(mainExeName));
    QCOMPARE(blocks.size(), 11);
    QCOMPARE(blocks.value(QStringLiteral("OriginalFilename")),
             buildVersionString(QStringLiteral("OriginalFilename"), originalFilename));
    QCOMPARE(blocks.value(QStringLiteral("InternalName")),
             buildVersionString(QStringLiteral("InternalName"), internalName));
}

void TestVersionInfo::emptyNameBlocks()
{
    const auto blocks = stringBlocks(buildVersionInfo(QStringLiteral("  ")));
    QCOMPARE(blocks.value(QStringLiteral("InternalName")),
             hex("2200 0100 0100") + toUtf16Bytes(QStringLiteral("InternalName")) +
                 hex("0000 0000"));
    const QByteArray original = blocks.value(QStringLiteral("OriginalFilename"));
    QCOMPARE(original.size(), 42);
    QCOMPARE(int(u16At(original, 0)), 0x2A);
}

void TestVersionInfo::fixedParts()
{
    const QByteArray info = buildVersionInfo(QStringLiteral("app.exe"));

    const QByteArray rootStart =
        hex("3400 0000") + toUtf16Bytes(QStringLiteral("VS_VERSION_INFO")) + hex("0000 0000") +
        hex("BD04EFFE 00000100 00000100 01000700 00000100 01000700"
            "3F000000 00000000 04000400 01000000") +
        QByteArray(12, '\0');
    QCOMPARE(int(u16At(info, 0)), info.size());
    QCOMPARE(info.mid(2, rootStart.size()), rootStart);

    const QByteArray varFileInfo =
        hex("4400 0000 0100") + toUtf16Bytes(QStringLiteral("VarFileInfo")) + hex("0000 0000") +
        hex("2400 0400 0000") + toUtf16Bytes(QStringLiteral("Translation")) + hex("0000 0000") +
        hex("0904 B004");
    QCOMPARE(varFileInfo.size(), 68);
    QVERIFY(info.endsWith(varFileInfo));

    // String blocks follow each other on 4-byte boundaries: FileVersion (50
    // bytes) is followed by two zero bytes before InternalName.
    QList<qsizetype> offsets;
    const auto blocks = stringBlocks(info, &offsets);
    QCOMPARE(blocks.keys().size(), 11);
    for (qsizetype offset : offsets)
        QCOMPARE(offset % 4, 0);
    const QByteArray table = info.mid(92 + 36 + 24);
    const qsizetype fileVersionAt = table.indexOf(toUtf16Bytes(QStringLiteral("FileVersion"))) - 6;
    QCOMPARE(table.mid(fileVersionAt + 50, 2), QByteArray(2, '\0'));
    QCOMPARE(table.mid(fileVersionAt + 52 + 6, 24), toUtf16Bytes(QStringLiteral("InternalName")));
}

void TestVersionInfo::totalSizeRule_data()
{
    QTest::addColumn<QString>("mainExeName");
    QTest::newRow("app.exe") << "app.exe";
    QTest::newRow("a.exe (odd string table)") << "a.exe";
    QTest::newRow("empty") << "";
    QTest::newRow("long") << QString(300, QLatin1Char('x')) + QStringLiteral(".exe");
}

void TestVersionInfo::totalSizeRule()
{
    QFETCH(QString, mainExeName);
    const QByteArray info = buildVersionInfo(mainExeName);
    const int stringFileInfo = u16At(info, 92);
    const int alignment = info.size() - 92 - stringFileInfo - 68;
    QVERIFY2(alignment == 0 || alignment == 2, qPrintable(QString::number(alignment)));
    QCOMPARE((92 + stringFileInfo + alignment) % 4, 0);
    QCOMPARE(int(u16At(info, 0)), info.size());
    // The string table is the whole payload of StringFileInfo.
    QCOMPARE(int(u16At(info, 92 + 36)), stringFileInfo - 36);
}

void TestVersionInfo::tooLongNameGivesEmpty()
{
    // A wLength of 16 bits cannot state such a tree: no corrupt resource.
    QVERIFY(buildVersionInfo(QString(40000, QLatin1Char('x')) + QStringLiteral(".exe")).isEmpty());
    QVERIFY(!buildVersionInfo(QString(1000, QLatin1Char('x'))).isEmpty());
}

void TestVersionInfo::queriesReadTheBuiltBlock()
{
    const QByteArray built = buildVersionInfo(QStringLiteral("tool.exe"));
    const std::vector<std::uint8_t> buffer(built.begin(), built.end());
    const void *value = nullptr;
    std::uint32_t length = 0;

    QVERIFY(platform::verQueryValue(buffer, L"\\", &value, &length));
    QCOMPARE(length, 52u);
    QCOMPARE(QByteArray(static_cast<const char *>(value), 4), hex("bd04effe"));
    QVERIFY(platform::verQueryValue(buffer, L"\\VarFileInfo\\Translation", &value, &length));
    QCOMPARE(QByteArray(static_cast<const char *>(value), int(length)), hex("0904b004"));
    // Keys compare without regard to case, as VerQueryValueW's do.
    QVERIFY(platform::verQueryValue(buffer, L"\\stringfileinfo\\040904b0\\OriginalFilename", &value,
                                    &length));
    QCOMPARE(QString::fromStdU16String(platform::versionText(buffer, value, length)),
             QStringLiteral("tool.exe"));
    QVERIFY(!platform::verQueryValue(buffer, L"\\StringFileInfo\\080404B0\\FileDescription", &value,
                                     &length));
    QVERIFY(!platform::verQueryValue({}, L"\\", &value, &length));
}

void TestVersionInfo::versionTextStaysInside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("text");
    const QByteArray abc = hex("610062006300");
    QTest::newRow("up to the terminator") << abc + hex("0000ffff") << 0 << 10 << "abc";
    QTest::newRow("no more than length") << abc + hex("0000") << 0 << 2 << "ab";
    // A text key stored as binary: its length counts bytes, twice the units.
    QTest::newRow("never past the buffer") << abc << 2 << 6 << "bc";
    QTest::newRow("odd byte at the end") << abc + hex("64") << 4 << 9 << "c";
    QTest::newRow("pointer at the end") << abc << 6 << 1 << "";
}

void TestVersionInfo::versionTextStaysInside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, offset);
    QFETCH(int, length);
    QFETCH(QString, text);
    const std::vector<std::uint8_t> buffer(bytes.begin(), bytes.end());
    const void *value = buffer.data() + offset;
    QCOMPARE(QString::fromStdU16String(
                 platform::versionText(buffer, value, static_cast<std::uint32_t>(length))),
             text);
}

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
