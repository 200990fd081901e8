// The icon group and version resource the Windows build of Quillon compiles
// in from its generated .rc file, checked in a PE built from that file.
#include "ico.h"
#include "peimage.h"
#include "platform_write.h"

#include <QTest>

#include <algorithm>

namespace {

QString textValue(const std::vector<std::uint8_t> &buffer, const QString &key)
{
    const void *value = nullptr;
    std::uint32_t length = 0;
    const std::wstring subBlock = L"\\StringFileInfo\\040904B0\\" + key.toStdWString();
    if (!quillon::platform::verQueryValue(buffer, subBlock, &value, &length) || !value) {
        return QStringLiteral("<missing>");
    }
    const auto *units = static_cast<const char16_t *>(value);
    QString text;
    for (std::uint32_t i = 0; i < length && units[i] != 0; ++i) {
        text.append(QChar(units[i]));
    }
    return text;
}

} // namespace

class TestWin32AppResources : public QObject
{
    Q_OBJECT

private slots:
    void iconGroup();
    void versionResource_data();
    void versionResource();
};

void TestWin32AppResources::iconGroup()
{
    std::vector<std::uint8_t> bytes;
    quillon::pe::PeImage image;
    const quillon::Error error = quillon::pe::loadPeFile(QUILLON_APP_EXE, bytes, image);
    QVERIFY2(error.ok(), error.message().c_str());

    const quillon::pe::ResId groupType = quillon::pe::ResId::fromId(quillon::pe::kRtGroupIcon);
    const std::vector<quillon::pe::ResId> names = quillon::pe::resourceNames(image, groupType);
    QCOMPARE(names.size(), std::size_t(1));
    QVERIFY(names.front() == quillon::pe::ResId::fromName(u"IDI_ICON1"));

    const quillon::pe::Resource *group = quillon::pe::findResource(image, groupType, names.front());
    QVERIFY(group);
    std::vector<quillon::ico::GroupEntry> entries;
    QVERIFY(quillon::ico::parseGroup(group->data.data(), group->data.size(), entries));

    // size x bits per pixel, in any order
    QList<QPair<int, int>> found;
    for (const quillon::ico::GroupEntry &entry : entries) {
        QCOMPARE(entry.width, entry.height);
        const quillon::pe::Resource *icon =
            quillon::pe::findResource(image, quillon::pe::ResId::fromId(quillon::pe::kRtIcon),
                                      quillon::pe::ResId::fromId(entry.imageId));
        QVERIFY2(icon && !icon->data.empty(), "an image of the group is missing");
        found.append({entry.width == 0 ? 256 : entry.width, entry.bitCount});
    }
    QList<QPair<int, int>> expected = {{256, 32}, {64, 32}, {48, 32}, {40, 32}, {32, 32},
                                       {24, 32},  {20, 32}, {16, 32}, {48, 8},  {32, 8},
                                       {16, 8},   {32, 4},  {16, 4}};
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(found, expected);
}

void TestWin32AppResources::versionResource_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("CompanyName") << "CompanyName"
                                 << "Morvane";
    QTest::newRow("FileDescription") << "FileDescription"
                                     << "Quillon portable application builder";
    QTest::newRow("FileVersion") << "FileVersion"
                                 << "1.0.7.01";
    QTest::newRow("OriginalFilename") << "OriginalFilename"
                                      << "Quillon.exe";
    QTest::newRow("ProductName") << "ProductName"
                                 << "Quillon";
    QTest::newRow("ProductVersion") << "ProductVersion"
                                    << "1.0.7.01";
    QTest::newRow("InternalName") << "InternalName"
                                  << "";
    QTest::newRow("Comments") << "Comments"
                              << "";
    QTest::newRow("LegalTrademarks") << "LegalTrademarks"
                                     << "";
}

void TestWin32AppResources::versionResource()
{
    QFETCH(QString, key);
    QFETCH(QString, value);

    const std::wstring path = QStringLiteral(QUILLON_APP_EXE).toStdWString();
    const std::uint32_t size = quillon::platform::fileVersionInfoSize(path);
    QVERIFY(size > 0);
    std::vector<std::uint8_t> buffer;
    QVERIFY(quillon::platform::fileVersionInfo(path, size, buffer));
    QCOMPARE(textValue(buffer, key), value);

    const void *fixed = nullptr;
    std::uint32_t length = 0;
    QVERIFY(quillon::platform::verQueryValue(buffer, L"\\", &fixed, &length));
    QCOMPARE(length, 52u);
    const QByteArray fixedBytes(static_cast<const char *>(fixed), 52);
    // File and product version 1.0.7.1: 0x00010000, 0x00070001, twice.
    const QByteArray versions = QByteArray::fromHex("00000100"
                                                    "01000700"
                                                    "00000100"
                                                    "01000700");
    QCOMPARE(fixedBytes.mid(8, 16), versions);
}

QTEST_GUILESS_MAIN(TestWin32AppResources)
#include "tst_win32appresources.moc"
