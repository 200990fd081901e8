// Differential test of the resource layer: the Win32 layer (cross-built,
// under Wine) and the portable layer (native) answer the same queries about
// the same files, and read each other's version writes the same way.
#include "iconfixtures.h"
#include "pebuilder.h"
#include "versioninfo.h"
#include "wine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <functional>

namespace {

// One file's answers: query key ("group", "image 3", ...) -> value.
using Answers = QMap<QString, QString>;

QList<Answers> parseReport(const QByteArray &output, QString *error)
{
    QList<Answers> reports;
    bool ended = false;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        if (line == QLatin1String("end")) {
            ended = true;
            break;
        }
        if (line.startsWith(QLatin1String("file "))) {
            reports.append(Answers());
            continue;
        }
        if (reports.isEmpty()) {
            continue; // noise before the first block
        }
        QString key = line.section(QLatin1Char(' '), 0, 0);
        QString value = line.section(QLatin1Char(' '), 1);
        if (key == QLatin1String("image")) {
            key = line.section(QLatin1Char(' '), 0, 1);
            value = line.section(QLatin1Char(' '), 2);
        }
        reports.last().insert(key, value);
    }
    if (!ended) {
        *error = QStringLiteral("the probe's report has no end:\n") + QString::fromUtf8(output);
    }
    return reports;
}

bool writeBytes(const QString &path, const std::vector<std::uint8_t> &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

bool writeList(const QString &path, const QStringList &files)
{
    QFile list(path);
    return list.open(QIODevice::WriteOnly) &&
           list.write(files.join(QLatin1Char('\n')).toUtf8() + '\n') > 0;
}

// Two hex strings of colour bytes that differ by at most 2 in every byte.
bool closeColours(const QString &a, const QString &b)
{
    const QByteArray x = QByteArray::fromHex(a.toLatin1());
    const QByteArray y = QByteArray::fromHex(b.toLatin1());
    if (x.size() != y.size()) {
        return false;
    }
    for (qsizetype i = 0; i < x.size(); ++i) {
        if (std::abs(int(quint8(x[i])) - int(quint8(y[i]))) > 2) {
            return false;
        }
    }
    return true;
}

// A small executable made in code: icons 1 (32x32) and 2 (16x16) and the
// group 1 that names them, in that order in the tree.
std::vector<std::uint8_t> iconExecutable(testpe::Layout &layout)
{
    const testicon::PixelFn pixel = [](int x, int y) {
        return testicon::Pixel{std::uint8_t(x * 8), std::uint8_t(y * 8), 0x80, 0xff, false};
    };
    const testicon::Bytes big = testicon::dib(32, 32, 32, pixel);
    const testicon::Bytes small = testicon::dib(16, 16, 32, pixel);
    const testicon::Bytes group =
        testicon::group({{32, 32, 0, 0, 32, std::uint32_t(big.size()), 1},
                         {16, 16, 0, 0, 32, std::uint32_t(small.size()), 2}});
    using testpe::id;
    return testpe::build(
        {{id(3), id(1), 0x409, big}, {id(3), id(2), 0x409, small}, {id(14), id(1), 0x409, group}},
        true, &layout);
}

std::uint32_t get32(const std::vector<std::uint8_t> &b, std::uint64_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

// Damage to the resource tree of iconExecutable(). The loader checks the
// tree it walks but hands out a data entry's pointer and size as stored.
struct Damage
{
    const char *file;
    std::function<void(std::vector<std::uint8_t> &, const testpe::Layout &)> apply;
    bool wineShellFaults = false; // Wine 8's ExtractIconExW takes a page fault on it
};

const std::vector<Damage> &damages()
{
    using testpe::put16;
    using testpe::put32;
    static const std::vector<Damage> list = {
        {"damaged-icon-rva-7ffffff0.exe",
         [](auto &b, auto &l) { put32(b, l.dataEntries[0], 0x7ffffff0u); }},
        {"damaged-icon-rva-00100000.exe",
         [](auto &b, auto &l) { put32(b, l.dataEntries[0], 0x00100000u); }},
        {"damaged-icon-size-16m.exe",
         [](auto &b, auto &l) { put32(b, l.dataEntries[0] + 4, 16u << 20); }},
        // Icon 1's language entry names its own directory, whose first fields
        // (characteristics, time stamp), taken for a data entry, state 16 MiB.
        {"damaged-language-loop.exe",
         [](auto &b, auto &l) {
             const std::uint64_t dir = l.languageDirs[0];
             put32(b, dir + 16 + 4, 0x80000000u | std::uint32_t(dir - l.rsrcOffset));
             put32(b, dir, l.rsrcRva);
             put32(b, dir + 4, 16u << 20);
         }},
        // The icon group type's entry names the root directory.
        {"damaged-root-loop.exe",
         [](auto &b, auto &l) { put32(b, l.rsrcOffset + 24 + 4, 0x80000000u); }},
        {"damaged-root-count.exe",
         [](auto &b, auto &l) {
             put16(b, l.rsrcOffset + 12, 0xffff);
             put16(b, l.rsrcOffset + 14, 0xffff);
         },
         true},
        // The icon type's name directory claims 65535 IDs.
        {"damaged-icon-names-count.exe",
         [](auto &b, auto &l) {
             const std::uint32_t names = get32(b, l.rsrcOffset + 16 + 4) & 0x7fffffffu;
             put16(b, l.rsrcOffset + names + 14, 0xffff);
         }},
    };
    return list;
}

// Where the two layers may answer differently, and why. Anything not listed
// here must agree. The resource copy (group, images, ICO) agrees byte for
// byte on every file whose resource tree is sound.
QString knownDifference(const QString &key, const Answers &portable, const Answers &win32)
{
    const QString p = portable.value(key);
    const QString w = win32.value(key);
    if (key == QLatin1String("large-pixels")) {
        return QStringLiteral("GDI draws the icon through its mask onto the opaque-white "
                              "bitmap, so the bitmap holds composited colours; the portable "
                              "layer hands over the chosen image's own pixels and alpha "
                              "(large-seen compares what a viewer sees)");
    }
    if (key == QLatin1String("large-seen") && closeColours(p, w)) {
        return QStringLiteral("blending rounds differently by one or two steps");
    }
    if (key == QLatin1String("large-seen") &&
        portable.value(QStringLiteral("large")) != win32.value(QStringLiteral("large"))) {
        return QStringLiteral("the pictures differ in size (see large)");
    }
    if (key == QLatin1String("large") && p.startsWith(QLatin1String("ok ")) &&
        w == QLatin1String("ok 32x32 pixels=1")) {
        return QStringLiteral("the shell scales the large icon to the system's 32x32; the "
                              "portable layer keeps the image nearest 32x32 at its own size");
    }
    if (key == QLatin1String("large") && p.startsWith(QLatin1String("no-icon-info")) &&
        w == QLatin1String("ok 32x32 pixels=1")) {
        return QStringLiteral("Wine gives a monochrome icon a colour bitmap; Windows gives "
                              "none, as the portable layer reports");
    }
    // A damaged resource tree (the damaged-*.exe rows).
    const bool refusedTree =
        portable.value(QStringLiteral("loaded")) == QLatin1String("0") &&
        win32.value(QStringLiteral("loaded")) == QLatin1String("1") &&
        win32.value(QStringLiteral("ico"), QStringLiteral("none")) == QLatin1String("none");
    if (refusedTree && (key == QLatin1String("loaded") || key == QLatin1String("group") ||
                        key == QLatin1String("entries") || key == QLatin1String("ico") ||
                        key.startsWith(QLatin1String("image ")))) {
        return QStringLiteral("our PE reader refuses a file whose resource tree is damaged "
                              "anywhere; the loader maps it and only the damaged resources are "
                              "missing; neither layer makes an icon of it");
    }
    if (refusedTree && key == QLatin1String("icons") && p == QLatin1String("0 first=0") &&
        w.endsWith(QLatin1String(" first=0"))) {
        return QStringLiteral("Wine's shell counts the icon groups of a damaged tree but draws "
                              "none of them: no usable icon either way");
    }
    const bool shellIgnoresSize = refusedTree && win32.values().contains(QStringLiteral("missing"));
    if (shellIgnoresSize &&
        ((key == QLatin1String("icons") && p == QLatin1String("0 first=0") &&
          w.endsWith(QLatin1String(" first=1"))) ||
         (key == QLatin1String("large") && p.startsWith(QLatin1String("no-icon ")) &&
          w.startsWith(QLatin1String("ok "))))) {
        return QStringLiteral("an icon's data entry states more bytes than the file holds; "
                              "Wine's shell reads only what the icon's own header needs and draws "
                              "it, where both layers refuse the entry");
    }
    const bool unreadable = portable.value(QStringLiteral("loaded")) == QLatin1String("0") &&
                            win32.value(QStringLiteral("icons")) == QLatin1String("-1 first=0");
    if (unreadable && key == QLatin1String("icons") && p == QLatin1String("0 first=0")) {
        return QStringLiteral("Wine's ExtractIconExW counts -1 (UINT_MAX) for a file it cannot "
                              "read; both mean no usable icon");
    }
    if (unreadable && key == QLatin1String("large") && p.startsWith(QLatin1String("no-icon ")) &&
        w.startsWith(QLatin1String("no-icon-info "))) {
        return QStringLiteral("Wine's ExtractIconExW reports one icon for a file it cannot "
                              "read; both end without a picture");
    }
    return {};
}

QString describe(const Answers &answers)
{
    QStringList lines;
    for (auto it = answers.begin(); it != answers.end(); ++it) {
        lines << it.key() + QLatin1Char(' ') + it.value();
    }
    return lines.join(QLatin1Char('\n'));
}

// Compares two answer sets; returns the differences nobody explained.
QStringList unexplained(const Answers &portable, const Answers &win32)
{
    QStringList keys = portable.keys() + win32.keys();
    keys.removeDuplicates();
    QStringList problems;
    for (const QString &key : keys) {
        const QString p = portable.value(key, QStringLiteral("<absent>"));
        const QString w = win32.value(key, QStringLiteral("<absent>"));
        if (p != w && knownDifference(key, portable, win32).isEmpty()) {
            problems << QStringLiteral("%1: portable \"%2\", win32 \"%3\"").arg(key, p, w);
        }
    }
    return problems;
}

} // namespace

class TestWin32Differential : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsAgree_data();
    void readsAgree();
    void damagedTreesGiveNoIcon_data();
    void damagedTreesGiveNoIcon();
    void versionWritesAgree_data();
    void versionWritesAgree();

private:
    // Runs both probes on the same files (host paths).
    bool readBoth(const QStringList &files, QList<Answers> &portable, QList<Answers> &win32,
                  QString *error);
    QString toWindows(const QString &hostPath);
    QString writeWithPortable(const QString &target, const QString &resource);
    QString writeWithWin32(const QString &target, const QString &resource);

    QTemporaryDir m_work;
    QString m_rootOnZ; // "Z:\\"
    QStringList m_corpus;
    QStringList m_noShell; // files the shell's icon calls are not made on
    QStringList m_damaged; // files with a damaged resource tree
    QList<Answers> m_portable;
    QList<Answers> m_win32;
};

// The prefix maps drive Z: to the host's root (checked once with winepath).
QString TestWin32Differential::toWindows(const QString &hostPath)
{
    return m_rootOnZ + QFileInfo(hostPath)
                           .absoluteFilePath()
                           .replace(QLatin1Char('/'), QLatin1Char('\\'))
                           .mid(1);
}

bool TestWin32Differential::readBoth(const QStringList &files, QList<Answers> &portable,
                                     QList<Answers> &win32, QString *error)
{
    const QString hostList = m_work.filePath(QStringLiteral("host-list.txt"));
    const QString windowsList = m_work.filePath(QStringLiteral("windows-list.txt"));
    QStringList hostFiles;
    QStringList windowsFiles;
    for (const QString &file : files) {
        const QString prefix = m_noShell.contains(file) ? QStringLiteral("?") : QString();
        hostFiles << prefix + file;
        windowsFiles << prefix + toWindows(file);
    }
    if (!writeList(hostList, hostFiles) || !writeList(windowsList, windowsFiles)) {
        *error = QStringLiteral("cannot write the file lists");
        return false;
    }

    QProcess native;
    native.start(QStringLiteral(QUILLON_PORTABLE_PROBE), {QStringLiteral("read"), hostList});
    if (!native.waitForFinished(120000) || native.exitCode() != 0) {
        *error = QStringLiteral("the portable probe failed: ") +
                 QString::fromUtf8(native.readAllStandardError());
        return false;
    }
    portable = parseReport(native.readAllStandardOutput(), error);

    const winetest::RunResult run =
        winetest::run(QStringLiteral(QUILLON_WIN32_PROBE),
                      {QStringLiteral("read"), toWindows(windowsList)}, m_work.path(), 120000);
    if (!run.finished || run.exitCode != 0) {
        *error =
            QStringLiteral("the Win32 probe failed under Wine (finished %1, exit code %2); its "
                           "output ends: %3")
                .arg(run.finished)
                .arg(run.exitCode)
                .arg(QString::fromUtf8(run.output.right(1500)));
        return false;
    }
    win32 = parseReport(run.output, error);
    if (error->isEmpty() && (portable.size() != files.size() || win32.size() != files.size())) {
        *error = QStringLiteral("reports for %1 files, expected %2 (portable) and %3 (win32)")
                     .arg(files.size())
                     .arg(portable.size())
                     .arg(win32.size());
    }
    return error->isEmpty();
}

void TestWin32Differential::initTestCase()
{
    QVERIFY(m_work.isValid());
    QString error;
    QVERIFY2(winetest::ensurePrefix(&error), qPrintable(error));
    m_rootOnZ = winetest::windowsPath(QStringLiteral("/"));
    QCOMPARE(m_rootOnZ, QStringLiteral("Z:\\"));

    // Our own fixtures, files that are no executable, our module, Wine's programs.
    const QDir fixtures(QStringLiteral(QUILLON_WIN32_FIXTURES));
    for (const QString &name : fixtures.entryList({QStringLiteral("*.exe")}, QDir::Files)) {
        m_corpus << fixtures.filePath(name);
    }
    QVERIFY2(m_corpus.size() >= 8, "the corpus fixtures were not built");

    QFile multi(fixtures.filePath(QStringLiteral("multi.exe")));
    QVERIFY(multi.open(QIODevice::ReadOnly));
    const QByteArray multiBytes = multi.readAll();
    const QList<QPair<QString, QByteArray>> odd = {
        {QStringLiteral("text.exe"), QByteArray("this is not an executable\n")},
        {QStringLiteral("empty.exe"), QByteArray()},
        {QStringLiteral("truncated.exe"), multiBytes.left(1024)},
    };
    for (const auto &file : odd) {
        QFile out(m_work.filePath(file.first));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file.second);
        m_corpus << out.fileName();
    }
    // Wine 8's ExtractIconExW takes a page fault on this one; Windows does not.
    m_noShell << m_work.filePath(QStringLiteral("truncated.exe"));

    // The same small executable sound and with damaged resource trees.
    testpe::Layout layout;
    const std::vector<std::uint8_t> sound = iconExecutable(layout);
    QVERIFY(writeBytes(m_work.filePath(QStringLiteral("built.exe")), sound));
    m_corpus << m_work.filePath(QStringLiteral("built.exe"));
    for (const Damage &damage : damages()) {
        std::vector<std::uint8_t> bytes = sound;
        damage.apply(bytes, layout);
        const QString path = m_work.filePath(QString::fromLatin1(damage.file));
        QVERIFY(writeBytes(path, bytes));
        m_corpus << path;
        m_damaged << path;
        if (damage.wineShellFaults) {
            m_noShell << path;
        }
    }
    m_corpus << m_work.filePath(QStringLiteral("missing.exe"));

    const QString module = QStringLiteral(QUILLON_SFX_MODULE);
    if (!module.isEmpty() && QFileInfo::exists(module)) {
        m_corpus << module;
    }
    const QDir winePrograms(QStringLiteral(QUILLON_WINE_PROGRAMS));
    for (const QString &name : winePrograms.entryList(QDir::Files, QDir::Name)) {
        // WINEDLLOVERRIDES disables these two, and Wine's loader then refuses
        // them even as data files.
        if (name != QLatin1String("mscoree.dll") && name != QLatin1String("mshtml.dll")) {
            m_corpus << winePrograms.filePath(name);
        }
    }

    QVERIFY2(readBoth(m_corpus, m_portable, m_win32, &error), qPrintable(error));
}

void TestWin32Differential::readsAgree_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < m_corpus.size(); ++i) {
        QTest::newRow(qPrintable(QFileInfo(m_corpus.at(i)).fileName())) << i;
    }
}

void TestWin32Differential::readsAgree()
{
    QFETCH(int, index);
    const QStringList problems = unexplained(m_portable.at(index), m_win32.at(index));
    QVERIFY2(problems.isEmpty(),
             qPrintable(problems.join(QLatin1Char('\n')) + QStringLiteral("\n--- win32:\n") +
                        describe(m_win32.at(index))));
}

void TestWin32Differential::damagedTreesGiveNoIcon_data()
{
    QTest::addColumn<int>("index");
    for (const QString &file : std::as_const(m_damaged)) {
        QTest::newRow(qPrintable(QFileInfo(file).fileName())) << int(m_corpus.indexOf(file));
    }
}

// Our PE reader refuses a damaged tree as a whole; the Win32 layer refuses
// the damaged resource. Neither makes an icon from it.
void TestWin32Differential::damagedTreesGiveNoIcon()
{
    QFETCH(int, index);
    const Answers &portable = m_portable.at(index);
    const Answers &win32 = m_win32.at(index);
    QCOMPARE(portable.value(QStringLiteral("loaded")), QStringLiteral("0"));
    QCOMPARE(portable.value(QStringLiteral("group")), QStringLiteral("none"));
    QVERIFY2(win32.value(QStringLiteral("ico"), QStringLiteral("none")) == QLatin1String("none"),
             qPrintable(describe(win32)));
}

QString TestWin32Differential::writeWithPortable(const QString &target, const QString &resource)
{
    QProcess native;
    native.start(QStringLiteral(QUILLON_PORTABLE_PROBE),
                 {QStringLiteral("write"), target, resource});
    native.waitForFinished(60000);
    return QString::fromUtf8(native.readAllStandardOutput()).trimmed();
}

QString TestWin32Differential::writeWithWin32(const QString &target, const QString &resource)
{
    const winetest::RunResult run = winetest::run(
        QStringLiteral(QUILLON_WIN32_PROBE),
        {QStringLiteral("write"), toWindows(target), toWindows(resource)}, m_work.path(), 60000);
    for (const QByteArray &line : run.output.split('\n')) {
        if (line.startsWith("write ")) {
            return QString::fromUtf8(line).trimmed();
        }
    }
    return QStringLiteral("no result (exit code %1): %2")
        .arg(run.exitCode)
        .arg(QString::fromUtf8(run.output.right(500)));
}

void TestWin32Differential::versionWritesAgree_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("portableWrite");
    QTest::addColumn<QString>("win32Write");

    const QDir fixtures(QStringLiteral(QUILLON_WIN32_FIXTURES));
    const QString ok = QStringLiteral("write begin=1/0 update=1/0 commit=1/0");
    QTest::newRow("several groups") << fixtures.filePath(QStringLiteral("multi.exe")) << ok << ok;
    QTest::newRow("PE32, named groups")
        << fixtures.filePath(QStringLiteral("named32.exe")) << ok << ok;
    QTest::newRow("no version resource")
        << fixtures.filePath(QStringLiteral("mono.exe")) << ok << ok;
    QTest::newRow("version in another language")
        << fixtures.filePath(QStringLiteral("german.exe")) << ok << ok;
    const QString module = QStringLiteral(QUILLON_SFX_MODULE);
    if (!module.isEmpty() && QFileInfo::exists(module)) {
        QTest::newRow("our module") << module << ok << ok;
    }
    const QString notepad = QStringLiteral(QUILLON_WINE_PROGRAMS "/notepad.exe");
    if (QFileInfo::exists(notepad)) {
        QTest::newRow("a Wine program") << notepad << ok << ok;
    }
    // Wine's BeginUpdateResourceW fails without setting an error code; the
    // portable layer answers what Windows does (file not found, bad format).
    QTest::newRow("missing file") << QString()
                                  << QStringLiteral("write begin=0/2 update=0/0 commit=0/0")
                                  << QStringLiteral("write begin=0/0 update=0/0 commit=0/0");
    QTest::newRow("not an executable") << m_work.filePath(QStringLiteral("text.exe"))
                                       << QStringLiteral("write begin=0/193 update=0/0 commit=0/0")
                                       << QStringLiteral("write begin=0/0 update=0/0 commit=0/0");
}

// Each layer writes the same version resource into its own copy; then both
// layers read both copies. All four readings must agree, and the icons must
// be what they were before the write.
void TestWin32Differential::versionWritesAgree()
{
    QFETCH(QString, source);
    QFETCH(QString, portableWrite);
    QFETCH(QString, win32Write);

    const QString dir = m_work.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(dir));
    const QString resource = dir + QStringLiteral("/version.bin");
    QFile bytes(resource);
    QVERIFY(bytes.open(QIODevice::WriteOnly));
    bytes.write(quillon::buildVersionInfo(QStringLiteral("app.exe")));
    bytes.close();

    const QString portableCopy = dir + QStringLiteral("/by-portable.exe");
    const QString win32Copy = dir + QStringLiteral("/by-win32.exe");
    if (!source.isEmpty()) {
        QVERIFY(QFile::copy(source, portableCopy));
        QVERIFY(QFile::copy(source, win32Copy));
    }

    QCOMPARE(writeWithWin32(win32Copy, resource), win32Write);
    QCOMPARE(writeWithPortable(portableCopy, resource), portableWrite);
    if (!portableWrite.startsWith(QLatin1String("write begin=1"))) {
        return;
    }

    QList<Answers> portable;
    QList<Answers> win32;
    QString error;
    QVERIFY2(readBoth({source, portableCopy, win32Copy}, portable, win32, &error),
             qPrintable(error));
    for (int i = 1; i <= 2; ++i) {
        const QStringList problems = unexplained(portable.at(i), win32.at(i));
        QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("copy written by the %1 layer:\n")
                                                    .arg(i == 1 ? "portable" : "win32") +
                                                problems.join(QLatin1Char('\n'))));
    }
    // Each layer reads the two writers' results the same way.
    QCOMPARE(portable.at(1), portable.at(2));
    QCOMPARE(win32.at(1), win32.at(2));
    // The version write leaves the icons alone.
    for (const char *key : {"group", "ico", "icons"}) {
        QCOMPARE(win32.at(2).value(QLatin1String(key)), win32.at(0).value(QLatin1String(key)));
        QCOMPARE(portable.at(1).value(QLatin1String(key)),
                 portable.at(0).value(QLatin1String(key)));
    }
    QCOMPARE(win32.at(2).value(QStringLiteral("version-description")),
             QStringLiteral("29 Morvane Portable Application"));
}

QTEST_GUILESS_MAIN(TestWin32Differential)
#include "tst_win32differential.moc"
