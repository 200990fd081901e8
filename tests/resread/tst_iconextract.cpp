// Worker::extractIconFromExe on executables built in code: the resource
// copy, the ways into the redraw, and the redraw itself.
#include <QSignalSpy>
#include <QtTest>

#include <functional>

#include "iconfixtures.h"
#include "pebuilder.h"
#include "worker.h"

using quillon::pe::kRtGroupIcon;
using quillon::pe::kRtIcon;
using quillon::pe::kRtVersion;
using testicon::Bytes;
using testicon::Pixel;
using testpe::id;
using testpe::name;
using testpe::Res;

namespace {

const QString fallbackLine = QStringLiteral("EXE 中没有可用的图标资源，改用重绘方式");
const QString noIconLine = QStringLiteral("警告：无法从EXE提取图标");
const QString noInfoLine = QStringLiteral("错误：无法获取图标信息");
// Stands for "成功提取图标，大小: N 字节" with N the size of the result.
const QString redrawnLine = QStringLiteral("<redrawn>");

quint32 le32(const QByteArray &b, int at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

quint16 le16(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

QByteArray qbytes(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size()));
}

Res groupRes(quillon::pe::ResId groupName, const Bytes &bytes)
{
    return {id(kRtGroupIcon), std::move(groupName), 0x409, bytes};
}

Res iconRes(std::uint16_t imageId, const Bytes &bytes)
{
    return {id(kRtIcon), id(imageId), 0x409, bytes};
}

// 32x32, 32-bit: a red square in the middle, transparent border by alpha.
Pixel alphaSquare(int x, int y)
{
    const bool inside = x >= 8 && x < 24 && y >= 8 && y < 24;
    return inside ? Pixel{0, 0, 0xff, 0xff, false} : Pixel{0, 0, 0, 0, true};
}

// 32x32, 32-bit, every alpha byte 0 and every mask bit set: blue.
Pixel zeroAlphaBlue(int, int)
{
    return {0xff, 0, 0, 0, true};
}

// 24-bit: green, the left half masked out.
Pixel halfMaskedGreen(int x, int)
{
    return {0, 0xff, 0, 0, x < 16};
}

Pixel solid(int, int)
{
    return {0x40, 0x80, 0xc0, 0xff, false};
}

struct Fixture
{
    const char *name;
    std::function<std::vector<Res>()> resources; // empty function: not an executable
    QStringList lines;
};

class Fixtures
{
public:
    Fixtures() { dir.setAutoRemove(true); }
    QString write(const QString &fileName, const Bytes &bytes)
    {
        const QString path = dir.filePath(fileName);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(qbytes(bytes));
        return path;
    }
    QString exe(const std::vector<Res> &resources, bool pe32plus = true)
    {
        return write(QStringLiteral("app%1.exe").arg(++counter),
                     testpe::build(resources, pe32plus));
    }
    QTemporaryDir dir;
    int counter = 0;
};

struct Run
{
    QByteArray result;
    QStringList lines;
};

Run extract(const QString &path)
{
    Worker worker;
    QSignalSpy log(&worker, &Worker::logMessage);
    Run run;
    run.result = worker.extractIconFromExe(path);
    for (const QList<QVariant> &args : log)
        run.lines << args.at(0).toString();
    return run;
}

// Checks the lines, with the redraw line's size taken from the result.
void compareLines(const Run &run, QStringList expected)
{
    for (QString &line : expected) {
        if (line == redrawnLine)
            line = QStringLiteral("成功提取图标，大小: %1 字节").arg(run.result.size());
    }
    QCOMPARE(run.lines, expected);
}

} // namespace

class TestIconExtract : public QObject
{
    Q_OBJECT

private slots:
    void resourceCopy_data();
    void resourceCopy();
    void onlyTheFirstGroup();
    void waysIntoTheRedraw_data();
    void waysIntoTheRedraw();
    void redraw_data();
    void redraw();

private:
    const std::vector<Fixture> *m_cases = nullptr;
};

void TestIconExtract::resourceCopy_data()
{
    QTest::addColumn<bool>("pe32plus");
    QTest::newRow("PE32+") << true;
    QTest::newRow("PE32") << false;
}

void TestIconExtract::resourceCopy()
{
    QFETCH(bool, pe32plus);
    const Bytes small = testicon::blob(744, 1);
    const Bytes mid = testicon::blob(296, 2);
    const Bytes large = testicon::blob(1128, 3);
    // Stated sizes are wrong on purpose; reserved bytes are set.
    const Bytes group = testicon::group(
        {{16, 16, 0, 7, 32, 999, 11}, {32, 32, 16, 0, 4, 1, 12}, {0, 0, 0, 0xff, 32, 0, 13}});
    Fixtures fx;
    const QString path =
        fx.exe({iconRes(13, large), iconRes(11, small), iconRes(12, mid), groupRes(id(1), group)},
               pe32plus);
    const Run run = extract(path);
    compareLines(run, {QStringLiteral("从 EXE 资源中提取到 3 个尺寸的图标，共 2222 字节")});

    const QByteArray &ico = run.result;
    QCOMPARE(ico.size(), 2222);
    QCOMPARE(le16(ico, 0), quint16(0));
    QCOMPARE(le16(ico, 2), quint16(1));
    QCOMPARE(le16(ico, 4), quint16(3));
    const quint32 sizes[] = {744, 296, 1128};
    const quint32 offsets[] = {54, 798, 1094};
    const quint8 widths[] = {16, 32, 0};
    const quint8 colours[] = {0, 16, 0};
    const quint16 bits[] = {32, 4, 32};
    const Bytes *images[] = {&small, &mid, &large};
    for (int i = 0; i < 3; ++i) {
        const int at = 6 + 16 * i;
        QCOMPARE(quint8(ico[at]), widths[i]);
        QCOMPARE(quint8(ico[at + 1]), widths[i]);
        QCOMPARE(quint8(ico[at + 2]), colours[i]);
        QCOMPARE(quint8(ico[at + 3]), quint8(0));
        QCOMPARE(le16(ico, at + 4), quint16(1));
        QCOMPARE(le16(ico, at + 6), bits[i]);
        QCOMPARE(le32(ico, at + 8), sizes[i]);
        QCOMPARE(le32(ico, at + 12), offsets[i]);
        QCOMPARE(ico.mid(int(offsets[i]), int(sizes[i])), qbytes(*images[i]));
    }

    Worker worker;
    QVERIFY(worker.validateIcoData(ico));
}

void TestIconExtract::onlyTheFirstGroup()
{
    Fixtures fx;
    const Bytes a = testicon::blob(100, 1);
    const Bytes b = testicon::blob(200, 2);
    const Bytes c = testicon::blob(300, 3);
    auto one = [](std::uint16_t imageId) {
        return testicon::group({{32, 32, 0, 0, 32, 0, imageId}});
    };

    // Numbered groups: the lowest number wins, whatever the stored order.
    Run run = extract(
        fx.exe({iconRes(1, a), iconRes(2, b), groupRes(id(9), one(1)), groupRes(id(3), one(2))}));
    QCOMPARE(run.result.size(), 6 + 16 + 200);
    QCOMPARE(run.result.mid(22), qbytes(b));
    QCOMPARE(run.lines.size(), 1);

    // A named group comes before every numbered one.
    run = extract(fx.exe({iconRes(1, a), iconRes(2, b), iconRes(3, c), groupRes(id(3), one(2)),
                          groupRes(name("ZED"), one(3)), groupRes(id(1), one(1))}));
    QCOMPARE(run.result.mid(22), qbytes(c));

    // The first group fails: no other group is tried.
    run = extract(fx.exe({iconRes(1, a), groupRes(id(1), one(7)), groupRes(id(2), one(1))}));
    QCOMPARE(run.lines.value(0), fallbackLine);
}

void TestIconExtract::waysIntoTheRedraw_data()
{
    const Bytes image = testicon::dib(32, 32, 32, solid);
    static const std::vector<Fixture> cases = {
        {"second image missing",
         [image] {
             return std::vector<Res>{iconRes(1, image),
                                     groupRes(id(1), testicon::group({{32, 32, 0, 0, 32, 0, 1},
                                                                      {16, 16, 0, 0, 32, 0, 2}}))};
         },
         {fallbackLine, redrawnLine}},
        {"image of zero bytes",
         [image] {
             return std::vector<Res>{iconRes(1, {}),
                                     groupRes(id(1), testicon::group({{32, 32, 0, 0, 32, 0, 1}}))};
         },
         {fallbackLine, noIconLine}},
        {"33 entries",
         [image] {
             std::vector<Res> res;
             std::vector<testicon::GroupEntry> entries;
             for (std::uint16_t i = 1; i <= 33; ++i) {
                 res.push_back(iconRes(i, image));
                 entries.push_back({32, 32, 0, 0, 32, 0, i});
             }
             res.push_back(groupRes(id(1), testicon::group(entries)));
             return res;
         },
         {fallbackLine, redrawnLine}},
        {"count 0",
         [image] {
             return std::vector<Res>{
                 iconRes(1, image),
                 groupRes(id(1), testicon::group({{32, 32, 0, 0, 32, 0, 1}}, 0))};
         },
         {fallbackLine, noIconLine}},
        {"group shorter than its count",
         [image] {
             Bytes g = testicon::group({{32, 32, 0, 0, 32, 0, 1}, {32, 32, 0, 0, 32, 0, 1}});
             g.pop_back();
             return std::vector<Res>{iconRes(1, image), groupRes(id(1), g)};
         },
         {fallbackLine, noIconLine}},
        {"group of 5 bytes",
         [] {
             return std::vector<Res>{groupRes(id(1), Bytes{0, 0, 1, 0, 1})};
         },
         {fallbackLine, noIconLine}},
        {"no icon group",
         [] {
             return std::vector<Res>{{id(kRtVersion), id(1), 0, Bytes(64, 1)}};
         },
         {fallbackLine, noIconLine}},
        {"monochrome icon",
         [] {
             return std::vector<Res>{iconRes(1, testicon::monoDib(32, 32)),
                                     groupRes(id(1), testicon::group({{32, 32, 2, 0, 1, 0, 1},
                                                                      {16, 16, 0, 0, 32, 0, 2}}))};
         },
         {fallbackLine, noInfoLine}},
        {"not an executable", {}, {noIconLine}},
    };
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].name) << int(i);
    m_cases = &cases;
}

void TestIconExtract::waysIntoTheRedraw()
{
    QFETCH(int, index);
    const Fixture &c = (*m_cases)[std::size_t(index)];
    Fixtures fx;
    const QString path = c.resources ? fx.exe(c.resources())
                                     : fx.write("readme.exe", Bytes{'M', 'Z', 'n', 'o', 't'});
    const Run run = extract(path);
    compareLines(run, c.lines);
    QCOMPARE(run.result.isEmpty(), !c.lines.contains(redrawnLine));
}

void TestIconExtract::redraw_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("probe");       // a pixel of the source, in source coordinates
    QTest::addColumn<QColor>("probeColour"); // what it must become
    QTest::addColumn<bool>("transparentCorner");

    QTest::newRow("32-bit with alpha") << qbytes(testicon::dib(32, 32, 32, alphaSquare)) << 32 << 32
                                       << QPoint(16, 16) << QColor(0xff, 0, 0, 0xff) << true;
    QTest::newRow("all alpha 0 becomes opaque")
        << qbytes(testicon::dib(32, 32, 32, zeroAlphaBlue)) << 32 << 32 << QPoint(0, 0)
        << QColor(0, 0, 0xff, 0xff) << false;
    QTest::newRow("24-bit with mask") << qbytes(testicon::dib(32, 32, 24, halfMaskedGreen)) << 32
                                      << 32 << QPoint(24, 16) << QColor(0, 0xff, 0, 0xff) << true;
    QTest::newRow("PNG image") << qbytes(testicon::png(32, 32, qRgba(0x10, 0x20, 0x30, 0xff))) << 32
                               << 32 << QPoint(5, 5) << QColor(0x10, 0x20, 0x30, 0xff) << false;
    QTest::newRow("wide image keeps its aspect")
        << qbytes(testicon::dib(64, 32, 32, solid)) << 64 << 32 << QPoint(40, 20)
        << QColor(0xc0, 0x80, 0x40, 0xff) << false;
}

void TestIconExtract::redraw()
{
    QFETCH(QByteArray, image);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QPoint, probe);
    QFETCH(QColor, probeColour);
    QFETCH(bool, transparentCorner);

    // The copy fails on the missing second image, so the redraw runs.
    Fixtures fx;
    const Bytes bytes(image.begin(), image.end());
    const QString path = fx.exe(
        {iconRes(1, bytes), groupRes(id(1), testicon::group({{std::uint8_t(width),
                                                              std::uint8_t(height), 0, 0, 32, 0, 1},
                                                             {0, 0, 0, 0, 32, 0, 2}}))});
    const Run run = extract(path);
    compareLines(run, {fallbackLine, redrawnLine});

    Worker worker;
    QSignalSpy log(&worker, &Worker::logMessage);
    QVERIFY(worker.validateIcoData(run.result));
    QCOMPARE(le16(run.result, 4), quint16(1));
    const QString expectedSize =
        width == height ? "256x256" : QString("256x%1").arg(256 * height / width);
    QCOMPARE(log.at(0).at(0).toString(),
             QStringLiteral("图标验证通过 - 共 1 个尺寸: %1").arg(expectedSize));

    const QImage decoded =
        QImage::fromData(run.result, "ICO").convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!decoded.isNull());
    QCOMPARE(decoded.width(), 256);
    QCOMPARE(decoded.height(), 256 * height / width);
    const double scale = 256.0 / width;
    const QColor got =
        decoded.pixelColor(int((probe.x() + 0.5) * scale), int((probe.y() + 0.5) * scale));
    QCOMPARE(got, probeColour);
    QCOMPARE(qAlpha(decoded.pixel(0, 0)) == 0, transparentCorner);
    if (!transparentCorner) {
        for (int y = 0; y < decoded.height(); ++y)
            for (int x = 0; x < decoded.width(); ++x)
                QCOMPARE(qAlpha(decoded.pixel(x, y)), 0xff);
    }
}

QTEST_GUILESS_MAIN(TestIconExtract)
#include "tst_iconextract.moc"
