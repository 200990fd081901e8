// The portable PE resource reader: good images in both formats, the system's
// enumeration order, and hostile shapes that must end in an error value.
#include <QtTest>

#include <algorithm>
#include <functional>

#include "pebuilder.h"
#include "peimage.h"

using namespace quillon;
using namespace quillon::pe;
using testpe::id;
using testpe::name;

namespace {

std::vector<std::uint8_t> bytesOf(const char *text)
{
    return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

std::vector<testpe::Res> sampleResources()
{
    // Deliberately stored out of the system's order.
    return {
        {id(kRtIcon), id(7), 0x409, bytesOf("seven")},
        {id(kRtIcon), id(2), 0x409, bytesOf("two")},
        {id(kRtGroupIcon), id(5), 0x409, bytesOf("group five")},
        {id(kRtGroupIcon), name("MAIN"), 0x409, bytesOf("group main")},
        {id(kRtGroupIcon), name("ALPHA"), 0x409, bytesOf("group alpha")},
        {id(kRtGroupIcon), id(1), 0x407, bytesOf("group one de")},
        {id(kRtGroupIcon), id(1), 0x409, bytesOf("group one en")},
        {name("CUSTOM"), id(1), 0, bytesOf("custom")},
        {id(kRtVersion), id(1), 0, {}},
    };
}

std::string text(const Resource *r)
{
    return r ? std::string(r->data.begin(), r->data.end()) : std::string("<missing>");
}

// A hostile shape: damages a sound image built from sampleResources().
struct HostileCase
{
    const char *name;
    std::function<void(std::vector<std::uint8_t> &, const testpe::Layout &)> damage;
    ErrorKind expected;
};

using testpe::put16;
using testpe::put32;

// Rewrites the resource section as three directory levels of `n` entries,
// each entry of a level pointing at the same directory below: n^3 leaves.
void sharedDirectories(std::vector<std::uint8_t> &b, const testpe::Layout &l, std::uint32_t n,
                       std::uint32_t leafSize)
{
    const std::uint64_t base = l.rsrcOffset;
    const std::uint32_t dirSize = 16 + 8 * n;
    for (std::uint32_t level = 0; level < 3; ++level) {
        const std::uint64_t at = base + level * dirSize;
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(at),
                  b.begin() + static_cast<std::ptrdiff_t>(at + dirSize), 0);
        put16(b, at + 14, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            put32(b, at + 16 + 8 * i, i + 1);
            const std::uint32_t target =
                level < 2 ? (0x80000000u | (level + 1) * dirSize) : 3 * dirSize;
            put32(b, at + 16 + 8 * i + 4, target);
        }
    }
    const std::uint64_t entry = base + 3 * dirSize;
    put32(b, entry, l.rsrcRva + 3 * dirSize + 16);
    put32(b, entry + 4, leafSize);
}

} // namespace

class TestPeImage : public QObject
{
    Q_OBJECT

private slots:
    void readsResourcesInSystemOrder_data();
    void readsResourcesInSystemOrder();
    void picksTheLoadersLanguage_data();
    void picksTheLoadersLanguage();
    void hostileShapes_data();
    void hostileShapes();
    void manySectionsInsideTheFile();
    void loadsFromFile();

private:
    const std::vector<HostileCase> *m_cases = nullptr;
};

void TestPeImage::readsResourcesInSystemOrder_data()
{
    QTest::addColumn<bool>("pe32plus");
    QTest::newRow("PE32+") << true;
    QTest::newRow("PE32") << false;
}

void TestPeImage::readsResourcesInSystemOrder()
{
    QFETCH(bool, pe32plus);
    const auto file = testpe::build(sampleResources(), pe32plus);
    PeImage image;
    const Error err = parsePe(file.data(), file.size(), image);
    QVERIFY2(err.ok(), err.message().c_str());
    QCOMPARE(image.pe32plus, pe32plus);
    QCOMPARE(image.sections.size(), std::size_t(1));
    QCOMPARE(image.sections[0].name, std::string(".rsrc"));
    QCOMPARE(image.imageEnd, std::uint64_t(file.size()));

    // Types: named first, then IDs ascending.
    QCOMPARE(image.resources.size(), std::size_t(9));
    QVERIFY(image.resources[0].type == name("CUSTOM"));
    QVERIFY(image.resources[1].type == id(kRtIcon));
    QVERIFY(image.resources.back().type == id(kRtVersion));

    const std::vector<ResId> groups = resourceNames(image, id(kRtGroupIcon));
    const std::vector<ResId> expected = {name("MAIN"), name("ALPHA"), id(1), id(5)};
    QVERIFY(groups == expected);
    const std::vector<ResId> icons = resourceNames(image, id(kRtIcon));
    QVERIFY((icons == std::vector<ResId>{id(2), id(7)}));
    QVERIFY(resourceNames(image, id(99)).empty());

    QCOMPARE(text(findResource(image, id(kRtIcon), id(7))), std::string("seven"));
    QCOMPARE(text(findResource(image, id(kRtGroupIcon), name("ALPHA"))),
             std::string("group alpha"));
    // Languages ascending: 0x407 is reported first, the loader takes 0x409.
    const auto firstOne =
        std::find_if(image.resources.begin(), image.resources.end(), [](const Resource &r) {
            return r.type == id(kRtGroupIcon) && r.name == id(1);
        });
    QVERIFY(firstOne != image.resources.end());
    QCOMPARE(firstOne->language, std::uint16_t(0x407));
    QCOMPARE(text(findResource(image, id(kRtGroupIcon), id(1))), std::string("group one en"));
    QCOMPARE(text(findResource(image, id(kRtGroupIcon), id(1), 0x409)),
             std::string("group one en"));
    QCOMPARE(findResource(image, id(kRtIcon), id(3)), nullptr);
    QCOMPARE(findResource(image, id(kRtIcon), name("7")), nullptr);
    QCOMPARE(findResource(image, id(kRtGroupIcon), id(1), 0x804), nullptr);
    const Resource *empty = findResource(image, id(kRtVersion), id(1));
    QVERIFY(empty && empty->data.empty());

    std::uint64_t offset = 0;
    QVERIFY(rvaToOffset(image, 0x1004, offset));
    QCOMPARE(offset, std::uint64_t(0x204));
    QVERIFY(!rvaToOffset(image, 0x900000, offset));
}

void TestPeImage::picksTheLoadersLanguage_data()
{
    QTest::addColumn<QList<int>>("languages");
    QTest::addColumn<int>("chosen");
    QTest::newRow("only one") << QList<int>{0x407} << 0x407;
    QTest::newRow("neutral wins") << QList<int>{0x409, 0x000, 0x407} << 0x000;
    QTest::newRow("English (US) before others") << QList<int>{0x407, 0x40c, 0x409} << 0x409;
    QTest::newRow("English neutral") << QList<int>{0x407, 0x009} << 0x009;
    QTest::newRow("other English is not English (US)") << QList<int>{0x809, 0x407} << 0x407;
    QTest::newRow("none known: first stored") << QList<int>{0x40c, 0x407} << 0x407;
}

// With several languages of one resource, FindResourceW's choice: neutral,
// the user's language, English; else the first in the system's order.
void TestPeImage::picksTheLoadersLanguage()
{
    QFETCH(QList<int>, languages);
    QFETCH(int, chosen);
    std::vector<testpe::Res> resources;
    for (int language : languages) {
        resources.push_back({id(kRtVersion), id(1), std::uint16_t(language),
                             bytesOf(std::to_string(language).c_str())});
    }
    const auto file = testpe::build(resources, true);
    PeImage image;
    QVERIFY(parsePe(file.data(), file.size(), image).ok());
    const Resource *found = findResource(image, id(kRtVersion), id(1));
    QVERIFY(found);
    QCOMPARE(int(found->language), chosen);
    QCOMPARE(text(found), std::to_string(chosen));
}

void TestPeImage::hostileShapes_data()
{
    static const std::vector<HostileCase> cases = {
        {"empty file", [](auto &b, auto &) { b.clear(); }, ErrorKind::Truncated},
        {"MZ only", [](auto &b, auto &) { b.resize(2); }, ErrorKind::Truncated},
        {"no MZ", [](auto &b, auto &) { b[0] = 'X'; }, ErrorKind::Malformed},
        {"e_lfanew past the end", [](auto &b, auto &) { put32(b, 0x3c, 0xfffffff0u); },
         ErrorKind::Truncated},
        {"no PE signature", [](auto &b, auto &) { b[0x41] = 'X'; }, ErrorKind::Malformed},
        {"optional header cut short", [](auto &b, auto &) { b.resize(0x70); },
         ErrorKind::Truncated},
        {"unknown optional header magic",
         [](auto &b, auto &l) { put16(b, l.optionalHeader, 0x107); }, ErrorKind::Unsupported},
        {"optional header too small for its directories",
         [](auto &b, auto &l) { put16(b, l.coffHeader + 16, 120); }, ErrorKind::Truncated},
        {"section table cut short", [](auto &b, auto &l) { b.resize(l.sectionTable + 30); },
         ErrorKind::Truncated},
        {"65535 sections in a short file",
         [](auto &b, auto &l) { put16(b, l.coffHeader + 2, 65535); }, ErrorKind::Truncated},
        {"resource directory outside every section",
         [](auto &b, auto &l) { put32(b, l.optionalHeader + 112 + 16, 0x50000); },
         ErrorKind::Malformed},
        {"resource directory points back to itself",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 16 + 4, 0x80000000u); },
         ErrorKind::Malformed},
        {"language level points back to the root",
         [](auto &b, auto &l) { put32(b, l.languageDirs[0] + 16 + 4, 0x80000000u); },
         ErrorKind::Malformed},
        {"type entry is a data entry",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 16 + 4, 48); }, ErrorKind::Malformed},
        {"directory entry counts beyond the section",
         [](auto &b, auto &l) {
             put16(b, l.rsrcOffset + 12, 0xffff);
             put16(b, l.rsrcOffset + 14, 0xffff);
         },
         ErrorKind::Truncated},
        {"subdirectory offset beyond the section",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 16 + 4, 0x8fff0000u); },
         ErrorKind::Truncated},
        {"name string beyond the section",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 16, 0x80000000u | 0xfff0u); },
         ErrorKind::Truncated},
        {"integer ID above 65535",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 16 + 8, 0x12345); }, ErrorKind::Malformed},
        {"data outside every section",
         [](auto &b, auto &l) { put32(b, l.dataEntries[0], 0x70000); }, ErrorKind::Malformed},
        {"data running past its section",
         [](auto &b, auto &l) { put32(b, l.dataEntries[0] + 4, 0x10000); }, ErrorKind::Malformed},
        {"data past the end of a truncated file",
         [](auto &b, auto &l) {
             const std::uint32_t rva =
                 std::uint32_t(b[l.dataEntries[0]]) | std::uint32_t(b[l.dataEntries[0] + 1]) << 8;
             b.resize(l.rsrcOffset + (rva - l.rsrcRva) + 2);
         },
         ErrorKind::Malformed},
        {"data of 4 GiB", [](auto &b, auto &l) { put32(b, l.dataEntries[0] + 4, 0xffffffffu); },
         ErrorKind::LimitExceeded},
        {"data entry cut short",
         [](auto &b, auto &l) {
             put32(b, l.languageDirs[0] + 16 + 4, static_cast<std::uint32_t>(b.size()));
         },
         ErrorKind::Truncated},
        {"shared directories with 1100^3 leaves",
         [](auto &b, auto &l) { sharedDirectories(b, l, 1100, 4); }, ErrorKind::LimitExceeded},
        {"shared directories copying far more data than the file holds",
         [](auto &b, auto &l) { sharedDirectories(b, l, 200, 20000); }, ErrorKind::LimitExceeded},
    };
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].name) << int(i);
    m_cases = &cases;
}

void TestPeImage::hostileShapes()
{
    QFETCH(int, index);
    const HostileCase &c = (*m_cases)[static_cast<std::size_t>(index)];
    testpe::Layout layout;
    std::vector<testpe::Res> resources = sampleResources();
    // Room for the shared-directory cases.
    resources.push_back({id(kRtVersion), id(2), 0, std::vector<std::uint8_t>(30000, 0)});
    auto file = testpe::build(resources, true, &layout);
    c.damage(file, layout);
    PeImage image;
    const Error err = parsePe(file.data(), file.size(), image);
    QVERIFY2(err.failed(), "damaged image parsed as sound");
    QCOMPARE(errorKindName(err.kind), errorKindName(c.expected));
    QVERIFY(image.resources.empty());
    QCOMPARE(findResource(image, id(kRtIcon), id(7)), nullptr);
}

void TestPeImage::manySectionsInsideTheFile()
{
    // 65535 sections whose table lies inside the file: a legal image. The
    // reader must neither choke on the count nor be slow to map RVAs.
    testpe::Layout layout;
    auto file = testpe::build(sampleResources(), true, &layout);
    put16(file, layout.coffHeader + 2, 65535);
    file.resize(layout.sectionTable + 65535ull * 40, 0);
    PeImage image;
    const Error err = parsePe(file.data(), file.size(), image);
    QVERIFY2(err.ok(), err.message().c_str());
    QCOMPARE(image.sections.size(), std::size_t(65535));
    QCOMPARE(text(findResource(image, id(kRtIcon), id(2))), std::string("two"));
}

void TestPeImage::loadsFromFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto file = testpe::build(sampleResources(), false);
    const QString path = dir.filePath("sample.exe");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(reinterpret_cast<const char *>(file.data()), qint64(file.size()));
    out.close();

    std::vector<std::uint8_t> bytes;
    PeImage image;
    Error err = loadPeFile(path.toStdString(), bytes, image);
    QVERIFY2(err.ok(), err.message().c_str());
    QVERIFY(bytes == file);
    QCOMPARE(text(findResource(image, id(kRtIcon), id(7))), std::string("seven"));

    err = loadPeFile(dir.filePath("missing.exe").toStdString(), bytes, image);
    QCOMPARE(err.kind, ErrorKind::Io);
}

QTEST_APPLESS_MAIN(TestPeImage)
#include "tst_peimage.moc"
