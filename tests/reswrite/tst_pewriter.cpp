// The portable PE resource writer: round trips on real executables, header
// consistency, overlay, certificate, the new-section fallback and atomic
// writes. Checked with our reader and with python3-pefile.
#include "../resread/pebuilder.h"
#include "atomicfile.h"
#include "icongroup.h"
#include "peimage.h"
#include "pewriter.h"
#include "reswritetest.h"
#include "versioninfo.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace quillon;
using namespace reswritetest;

namespace {

const QString kWineDir = QStringLiteral("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/");

std::uint32_t u32At(const std::vector<std::uint8_t> &b, std::uint64_t at)
{
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                      (static_cast<std::uint32_t>(b[at + 3]) << 24));
}

void setU32(std::vector<std::uint8_t> &b, std::uint64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t dirOffset(const pe::PeImage &image, std::size_t index)
{
    return image.optionalHeaderOffset + (image.pe32plus ? 112 : 96) + 8 * index;
}

std::vector<ico::Image> icoImages(const QString &path)
{
    const QByteArray bytes = readAll(path);
    std::vector<ico::Image> images;
    const Error e = ico::readIco(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                 static_cast<std::uint64_t>(bytes.size()), images);
    return e.ok() ? images : std::vector<ico::Image>();
}

// Invariants every written image must keep, checked with our reader.
void checkLayout(const std::vector<std::uint8_t> &bytes, const pe::PeImage &image)
{
    std::uint64_t memoryEnd = 0;
    for (const pe::Section &s : image.sections) {
        QCOMPARE(s.rawOffset % image.fileAlignment, 0u);
        QCOMPARE(s.rawSize % image.fileAlignment, 0u);
        memoryEnd = std::max<std::uint64_t>(memoryEnd, std::uint64_t{s.virtualAddress} +
                                                           std::max(s.virtualSize, s.rawSize));
    }
    const std::uint64_t align = image.sectionAlignment;
    QCOMPARE(std::uint64_t{image.sizeOfImage}, (memoryEnd + align - 1) / align * align);
    // The resource directory is a whole section of its own.
    const pe::DataDirectory dir = image.dataDirectories[pe::kDirResource];
    bool found = false;
    for (const pe::Section &s : image.sections) {
        if (s.virtualAddress == dir.rva) {
            found = true;
            QCOMPARE(s.virtualSize, dir.size);
        }
    }
    QVERIFY(found);
    QVERIFY(image.imageEnd <= bytes.size());
}

} // namespace

class TestPeWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void shrinksInPlace();
    void dropsCertificate();
    void refusesWithoutHeaderRoom();
    void headersKeptWithoutSectionData();
    void resourceListEdits();
    void atomicWrite();

private:
    QTemporaryDir m_dir;
};

void TestPeWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(RESWRITE_HAVE_MINGW, "mingw-w64 is needed for the test programs");
}

void TestPeWriter::roundTrip_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("pe32plus");
    QTest::newRow("mingw PE32+ with symbols") << fixture(QStringLiteral("fixture64.exe")) << true;
    QTest::newRow("mingw PE32 stripped") << fixture(QStringLiteral("fixture32.exe")) << false;
    QTest::newRow("wine notepad") << kWineDir + QStringLiteral("notepad.exe") << true;
    QTest::newRow("wine winver") << kWineDir + QStringLiteral("winver.exe") << true;
}

// Icon group 1 and the version resource replaced, twice (a new last section,
// then growing it in place), with an overlay that must stay at the end.
void TestPeWriter::roundTrip()
{
    QFETCH(QString, path);
    QFETCH(bool, pe32plus);
    QByteArray original = readAll(path);
    if (original.isEmpty())
        QSKIP("program not installed");
    const QByteArray overlay("OVERLAY-DATA-KEPT");
    original += overlay;

    std::vector<std::uint8_t> bytes = toVector(original);
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    QCOMPARE(image.pe32plus, pe32plus);
    const std::uint32_t symbolsBefore = u32At(bytes, image.peOffset + 12);
    const std::size_t sectionsBefore = image.sections.size();

    const auto images = icoImages(fixture(QStringLiteral("new.ico")));
    QCOMPARE(images.size(), std::size_t{3});
    const QByteArray version = buildVersionInfo(QStringLiteral("app.exe"));

    for (int round = 0; round < 2; ++round) {
        std::vector<pe::Resource> resources = image.resources;
        std::string summary;
        QVERIFY(
            resedit::replaceIconGroup(resources, pe::ResId::fromId(1), -1, images, summary).ok());
        pe::Resource versionRes;
        versionRes.type = pe::ResId::fromId(pe::kRtVersion);
        versionRes.name = pe::ResId::fromId(1);
        versionRes.language = 0x0409;
        versionRes.data = toVector(version + QByteArray(round, 'v'));
        pe::upsertResource(resources, versionRes);

        std::vector<std::uint8_t> out;
        const pe::WriteResult result = pe::rebuildResources(bytes, image, resources, out);
        QVERIFY2(result.error.ok(), result.error.message().c_str());
        QVERIFY(result.notes.empty());

        pe::PeImage edited;
        const Error parsed = pe::parsePe(out.data(), out.size(), edited);
        QVERIFY2(parsed.ok(), parsed.message().c_str());
        QCOMPARE(edited.resources.size(), resources.size());
        for (const pe::Resource &expected : resources) {
            const pe::Resource *got =
                pe::findResource(edited, expected.type, expected.name, expected.language);
            QVERIFY(got);
            QVERIFY(got->data == expected.data);
        }
        checkLayout(out, edited);
        QCOMPARE(edited.sections.size(), sectionsBefore + 1); // the second round grew in place
        // One section is named ".rsrc", the one holding the tree: Wine's
        // UpdateResource goes by the name and would revive the old tree.
        QStringList named;
        for (const pe::Section &s : edited.sections) {
            if (s.name == ".rsrc")
                named << QString::number(s.virtualAddress, 16);
        }
        QCOMPARE(named,
                 QStringList{QString::number(edited.dataDirectories[pe::kDirResource].rva, 16)});
        QVERIFY(toBytes(out).endsWith(overlay));
        if (image.checksum != 0)
            QVERIFY(edited.checksum != 0);
        // A COFF symbol table after the image moves along with it.
        const std::uint32_t symbols = u32At(out, edited.peOffset + 12);
        if (symbolsBefore != 0)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data() + symbols), 32),
                     original.mid(symbolsBefore, 32));

        // The independent parser agrees.
        const QString written = m_dir.filePath(QStringLiteral("round%1.exe").arg(round));
        QVERIFY(writeAll(written, toBytes(out)));
        QString errors;
        const auto report = pefileReport(written, &errors);
        QVERIFY2(!report.isEmpty(), qPrintable(errors));
        QCOMPARE(report.value(QStringLiteral("warnings")), QStringLiteral("0"));
        QCOMPARE(report.value(QStringLiteral("size_of_image_ok")), QStringLiteral("1"));
        QCOMPARE(report.value(QStringLiteral("description")),
                 QStringLiteral("Morvane Portable Application"));
        const pe::Resource *group1 =
            pe::findResource(edited, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(1));
        QVERIFY(group1);
        QCOMPARE(report.value(QStringLiteral("group1")), sha256(toBytes(group1->data)));
        if (image.checksum != 0)
            QCOMPARE(report.value(QStringLiteral("checksum_stored")),
                     report.value(QStringLiteral("checksum_computed")));

        bytes = out;
        image = edited;
    }
}

void TestPeWriter::shrinksInPlace()
{
    std::vector<std::uint8_t> bytes = toVector(readAll(fixture(QStringLiteral("fixture64.exe"))));
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    std::vector<pe::Resource> big = image.resources;
    pe::Resource blob;
    blob.type = pe::ResId::fromId(10);
    blob.name = pe::ResId::fromName(u"BLOB");
    blob.data.assign(100000, 0x5A);
    pe::upsertResource(big, blob);
    std::vector<std::uint8_t> grown;
    QVERIFY(pe::rebuildResources(bytes, image, big, grown).error.ok());
    pe::PeImage grownImage;
    QVERIFY(pe::parsePe(grown.data(), grown.size(), grownImage).ok());

    // Remove it again: the last section shrinks, nothing is added.
    std::vector<pe::Resource> small = grownImage.resources;
    QCOMPARE(pe::removeResources(small, blob.type, blob.name), std::size_t{1});
    std::vector<std::uint8_t> shrunk;
    QVERIFY(pe::rebuildResources(grown, grownImage, small, shrunk).error.ok());
    pe::PeImage shrunkImage;
    QVERIFY(pe::parsePe(shrunk.data(), shrunk.size(), shrunkImage).ok());
    QCOMPARE(shrunkImage.sections.size(), grownImage.sections.size());
    QVERIFY(shrunk.size() + 90000 < grown.size());
    QVERIFY(shrunkImage.sizeOfImage < grownImage.sizeOfImage);
    checkLayout(shrunk, shrunkImage);
    QVERIFY(shrunkImage.resources.size() == image.resources.size());
    // SizeOfInitializedData follows the section's raw size.
    const std::uint64_t initOffset = image.optionalHeaderOffset + 8;
    QCOMPARE(std::uint64_t{u32At(grown, initOffset)} - u32At(shrunk, initOffset),
             std::uint64_t{grownImage.sections.back().rawSize} -
                 shrunkImage.sections.back().rawSize);
}

void TestPeWriter::dropsCertificate()
{
    std::vector<std::uint8_t> bytes = toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    // Overlay, then an 8-byte aligned certificate table, as a signing tool leaves it.
    const QByteArray overlay("OVERLAY!");
    bytes.insert(bytes.end(), overlay.begin(), overlay.end());
    const auto certAt = static_cast<std::uint32_t>(bytes.size());
    const QByteArray cert = QByteArray::fromHex("18000000000202000000") + QByteArray(14, 'C');
    bytes.insert(bytes.end(), cert.begin(), cert.end());
    setU32(bytes, dirOffset(image, pe::kDirSecurity), certAt);
    setU32(bytes, dirOffset(image, pe::kDirSecurity) + 4, static_cast<std::uint32_t>(cert.size()));
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());

    std::vector<std::uint8_t> out;
    const pe::WriteResult result = pe::rebuildResources(bytes, image, image.resources, out);
    QVERIFY(result.error.ok());
    QCOMPARE(result.notes.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(result.notes.front()),
             QStringLiteral("certificate table dropped"));
    pe::PeImage edited;
    QVERIFY(pe::parsePe(out.data(), out.size(), edited).ok());
    QCOMPARE(edited.dataDirectories[pe::kDirSecurity].rva, 0u);
    QCOMPARE(edited.dataDirectories[pe::kDirSecurity].size, 0u);
    QVERIFY(toBytes(out).endsWith(overlay));
}

void TestPeWriter::refusesWithoutHeaderRoom()
{
    // The bytes after the section table are taken: no new section header can
    // go there, and the resource section is not last, so the write is refused.
    std::vector<std::uint8_t> bytes = toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    const std::uint64_t tableEnd = image.sectionTableOffset + 40 * image.sections.size();
    for (std::uint64_t i = tableEnd; i < tableEnd + 40; ++i)
        bytes[i] = 0xCC;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    std::vector<std::uint8_t> out;
    const pe::WriteResult result = pe::rebuildResources(bytes, image, image.resources, out);
    QCOMPARE(result.error.kind, ErrorKind::Unsupported);

    // Found by fuzz_pewriter: a 32 MiB file alignment padded the output to
    // that size. The format allows at most 64 KiB.
    bytes = toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
    setU32(bytes, image.optionalHeaderOffset + 36, 0x2000000);
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    QCOMPARE(pe::rebuildResources(bytes, image, image.resources, out).error.kind,
             ErrorKind::LimitExceeded);
}

// Found by fuzz_pewriter: an image whose only section has no raw data and
// whose file ends inside SizeOfHeaders lost its headers on rebuild.
void TestPeWriter::headersKeptWithoutSectionData()
{
    testpe::Layout layout;
    std::vector<std::uint8_t> bytes =
        testpe::build({{testpe::id(10), testpe::id(1), 0x409, {1, 2, 3}}}, false, &layout);
    setU32(bytes, layout.sectionTable + 16, 0); // SizeOfRawData
    setU32(bytes, layout.sectionTable + 20, 0); // PointerToRawData
    const std::uint64_t resourceDir = layout.optionalHeader + 96 + 8 * pe::kDirResource;
    setU32(bytes, resourceDir, 0);
    setU32(bytes, resourceDir + 4, 0);
    bytes.resize(layout.sectionTable + 80); // ends inside SizeOfHeaders
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());

    pe::Resource res;
    res.type = pe::ResId::fromId(pe::kRtVersion);
    res.name = pe::ResId::fromId(1);
    res.data = {9, 9, 9, 9};
    std::vector<std::uint8_t> out;
    QVERIFY(pe::rebuildResources(bytes, image, {res}, out).error.ok());
    QVERIFY(std::equal(bytes.begin(), bytes.begin() + 2, out.begin())); // "MZ"
    pe::PeImage edited;
    QVERIFY(pe::parsePe(out.data(), out.size(), edited).ok());
    QCOMPARE(edited.resources.size(), std::size_t{1});
    QVERIFY(edited.resources.front().data == res.data);
}

void TestPeWriter::resourceListEdits()
{
    std::vector<pe::Resource> list;
    auto make = [](std::uint16_t type, std::uint16_t name, std::uint16_t lang, std::uint8_t v) {
        pe::Resource r;
        r.type = pe::ResId::fromId(type);
        r.name = pe::ResId::fromId(name);
        r.language = lang;
        r.data = {v};
        return r;
    };
    pe::upsertResource(list, make(16, 1, 1033, 1));
    pe::upsertResource(list, make(16, 1, 2052, 2));
    pe::upsertResource(list, make(16, 1, 1033, 3)); // replaces the first
    QCOMPARE(list.size(), std::size_t{2});
    QCOMPARE(int(list[0].data[0]), 3);
    QCOMPARE(pe::removeResources(list, pe::ResId::fromId(16), pe::ResId::fromId(1), 2052),
             std::size_t{1});
    pe::upsertResource(list, make(16, 1, 2052, 2));
    QCOMPARE(pe::removeResources(list, pe::ResId::fromId(16), pe::ResId::fromId(1)),
             std::size_t{2});
    QVERIFY(list.empty());

    // Two resources with the same key cannot be written.
    std::vector<std::uint8_t> bytes = toVector(readAll(fixture(QStringLiteral("fixture32.exe"))));
    pe::PeImage image;
    QVERIFY(pe::parsePe(bytes.data(), bytes.size(), image).ok());
    std::vector<pe::Resource> twice = image.resources;
    twice.push_back(twice.front());
    std::vector<std::uint8_t> out;
    QCOMPARE(pe::rebuildResources(bytes, image, twice, out).error.kind, ErrorKind::Malformed);
}

void TestPeWriter::atomicWrite()
{
    QDir dir(m_dir.path());
    QVERIFY(dir.mkpath(QStringLiteral("atomic")) && dir.cd(QStringLiteral("atomic")));
    const QString target = dir.filePath(QStringLiteral("atomic.exe"));
    QVERIFY(writeAll(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner | QFileDevice::ReadGroup));
    const std::vector<std::uint8_t> fresh(5000, 0x42);
    QVERIFY(writeFileAtomically(QFile::encodeName(target).toStdString(), fresh).ok());
    QCOMPARE(readAll(target), toBytes(fresh));
    QCOMPARE(QFile::permissions(target) & 0x7777,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                 QFileDevice::ReadGroup | QFileDevice::ReadUser | QFileDevice::WriteUser |
                 QFileDevice::ExeUser);

    // Through a link: the file it points at changes, the link stays.
    const QString link = dir.filePath(QStringLiteral("link.exe"));
    QVERIFY(QFile::link(target, link));
    QVERIFY(writeFileAtomically(QFile::encodeName(link).toStdString(), {1, 2, 3}).ok());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readAll(target), QByteArray("\x01\x02\x03"));

    // A directory that does not exist: an I/O error and no stray files.
    int systemError = 0;
    const Error e = writeFileAtomically(
        QFile::encodeName(dir.filePath(QStringLiteral("missing/x.exe"))).toStdString(), fresh,
        systemError);
    QCOMPARE(e.kind, ErrorKind::Io);
    QCOMPARE(systemError, ENOENT);
    QCOMPARE(dir.entryList(QDir::Files | QDir::System).size(), 2);

    // Told not to follow a link, with a mode (the helper copies): the link
    // becomes a file of its own with exactly that mode; its target stays.
    const QString planted = dir.filePath(QStringLiteral("planted.exe"));
    QVERIFY(QFile::link(target, planted));
    AtomicWriteOptions options;
    options.followLink = false;
    options.mode = 0700;
    QVERIFY(
        writeFileAtomically(QFile::encodeName(planted).toStdString(), fresh, systemError, options)
            .ok());
    QVERIFY(!QFileInfo(planted).isSymLink());
    QCOMPARE(readAll(planted), toBytes(fresh));
    QCOMPARE(QFile::permissions(planted) & 0x7777,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                 QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QCOMPARE(readAll(target), QByteArray("\x01\x02\x03"));
}

QTEST_GUILESS_MAIN(TestPeWriter)
#include "tst_pewriter.moc"
