// The icon and version step inside whole packaging jobs: the real archiver,
// our self-extractor module and, as resource editor, the stand-in script
// (fake_resedit.sh) that records its arguments and runs our editor.
#include "peimage.h"
#include "reswritetest.h"
#include "worker.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quillon;
using namespace reswritetest;

namespace {

struct Job
{
    QStringList log;
    QList<bool> finished;
    QString output;
};

// An ICO of `count` 16x16 images, 8 bytes each: structurally sound.
QByteArray icoWithImages(int count)
{
    QByteArray ico;
    auto put16 = [&ico](quint32 v) { ico.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    auto put32 = [&put16](quint32 v) {
        put16(v & 0xffff);
        put16(v >> 16);
    };
    put16(0);
    put16(1);
    put16(quint32(count));
    const quint32 directoryEnd = 6 + 16 * quint32(count);
    for (int i = 0; i < count; ++i) {
        ico.append("\x10\x10\0\0", 4);
        put16(1);
        put16(32);
        put32(8);
        put32(directoryEnd + 8 * quint32(i));
    }
    for (int i = 0; i < count; ++i)
        ico.append(QByteArray(8, char(i)));
    return ico;
}

bool parse(const QByteArray &bytes, pe::PeImage &image)
{
    return pe::parsePe(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                       static_cast<std::uint64_t>(bytes.size()), image)
        .ok();
}

} // namespace

class TestIconStep : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void paths_data();
    void paths();
    void failedReplacementKeepsModuleIcon();
    void workCopyGoneEndsTheJob();

private:
    Job runJob(const QString &mainProgram, const QString &iconPath);

    QTemporaryDir m_dir;
    QString m_argsFile;
    QList<QByteArray> m_moduleImages;
    int m_count = 0;
};

void TestIconStep::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(RESWRITE_HAVE_MINGW, "mingw-w64 is needed for the test programs");
    m_moduleImages = groupImagesOf(readAll(QStringLiteral(":/resources/7zSD.sfx")));
    QVERIFY(!m_moduleImages.isEmpty());
    qputenv("RESWRITE_REAL_TOOL", RESWRITE_TOOL);
    m_argsFile = m_dir.filePath(QStringLiteral("args.txt"));
    qputenv("RESWRITE_ARGS_FILE", QFile::encodeName(m_argsFile));
}

void TestIconStep::init()
{
    QFile::remove(m_argsFile);
    qputenv("RESWRITE_FAKE_MODE", "real");
}

Job TestIconStep::runJob(const QString &mainProgram, const QString &iconPath)
{
    const QString root = m_dir.filePath(QStringLiteral("job%1").arg(++m_count));
    QDir().mkpath(root + QStringLiteral("/src"));
    QDir().mkpath(root + QStringLiteral("/out"));
    QFile::copy(mainProgram, root + QStringLiteral("/src/app.exe"));
    writeAll(root + QStringLiteral("/src/readme.txt"), "data");

    Worker worker;
    Job job;
    connect(&worker, &Worker::logMessage, &worker, [&job](const QString &l) { job.log << l; });
    connect(&worker, &Worker::finished, &worker, [&job](bool ok) { job.finished << ok; });
    worker.createPortableApp(root + QStringLiteral("/src"), root + QStringLiteral("/temp.7z"),
                             root + QStringLiteral("/out"), QStringLiteral("app.exe"), iconPath,
                             QStringLiteral("1"), QStringLiteral("LZMA"), QStringLiteral("64K"),
                             QStringLiteral("1"));
    job.output = root + QStringLiteral("/out/app.exe");
    return job;
}

void TestIconStep::paths_data()
{
    QTest::addColumn<QString>("icon");        // "" / a fixture / "missing" / "directory"
    QTest::addColumn<QString>("mainProgram"); // fixture name
    QTest::addColumn<QStringList>("lines");   // in this order, other lines between them allowed
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("iconUsed"); // "user", "extracted" or "module"

    const QString start = QStringLiteral("开始处理图标...");
    const QString tryExtract = QStringLiteral("尝试从主程序提取图标...");
    const QString extracted = QStringLiteral("成功从主程序提取图标");
    const QString noExtract = QStringLiteral("警告：无法从主程序提取有效图标，将保留 SFX 默认图标");
    const QString replacing = QStringLiteral("开始替换图标...");
    const QString replaced = QStringLiteral("图标替换完成");
    const QString noIcon = QStringLiteral("警告：没有可用的图标数据，将保留 SFX 默认图标");
    const QString version =
        QStringLiteral("版本信息已写入并校验通过：Morvane Portable Application");
    const QString userIcon = QStringLiteral("使用用户提供的图标文件");
    const QString invalid = QStringLiteral("警告：提供的图标文件无效，将尝试从主程序提取图标");

    QTest::newRow("no icon path: extraction without a warning")
        << ""
        << "fixturegui.exe"
        << QStringList{start, tryExtract, extracted, replacing, replaced, version}
        << QStringList{userIcon, invalid, noIcon} << "extracted";
    QTest::newRow("valid user icon: no extraction")
        << "new.ico"
        << "fixturegui.exe" << QStringList{start, userIcon, replacing, replaced, version}
        << QStringList{tryExtract, extracted} << "user";
    QTest::newRow("invalid user icon, failed extraction: no replacement")
        << "text.ico"
        << "plain.exe" << QStringList{start, invalid, tryExtract, noExtract, noIcon, version}
        << QStringList{replacing, extracted} << "module";
    // More images than the editor writes: refused by the check, so the
    // program's icon is used instead of leaving the module's.
    QTest::newRow("300-image user icon: extraction instead")
        << "many.ico"
        << "fixturegui.exe"
        << QStringList{start,     QStringLiteral("ICO 图像过多：共 300 张，最多 256 张"),
                       invalid,   tryExtract,
                       extracted, replacing,
                       replaced,  version}
        << QStringList{userIcon} << "extracted";
    QTest::newRow("missing user icon")
        << "missing"
        << "fixturegui.exe" << QStringList{start,      QStringLiteral("警告：图标文件不存在: %1"),
                                           tryExtract, extracted,
                                           replacing,  replaced,
                                           version}
        << QStringList{} << "extracted";
    QTest::newRow("user icon cannot be opened")
        << "directory"
        << "plain.exe" << QStringList{start,      QStringLiteral("警告：无法打开图标文件: %1"),
                                      tryExtract, noExtract,
                                      noIcon,     version}
        << QStringList{replacing} << "module";
}

void TestIconStep::paths()
{
    QFETCH(QString, icon);
    QFETCH(QString, mainProgram);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, absent);
    QFETCH(QString, iconUsed);

    QString iconPath;
    if (icon == QLatin1String("missing")) {
        iconPath = m_dir.filePath(QStringLiteral("none.ico"));
    } else if (icon == QLatin1String("directory")) {
        iconPath = m_dir.filePath(QStringLiteral("folder.ico"));
        QDir().mkpath(iconPath);
    } else if (icon == QLatin1String("text.ico")) {
        iconPath = m_dir.filePath(icon);
        writeAll(iconPath, "not an icon at all");
    } else if (icon == QLatin1String("many.ico")) {
        iconPath = m_dir.filePath(icon);
        QVERIFY(writeAll(iconPath, icoWithImages(300)));
    } else if (!icon.isEmpty()) {
        iconPath = fixture(icon);
    }
    for (QString &line : lines) {
        if (line.contains(QLatin1String("%1")))
            line = line.arg(iconPath);
    }
    // plain.exe: a program without any resources, so nothing can be extracted.
    QString program = fixture(mainProgram);
    if (mainProgram == QLatin1String("plain.exe"))
        program = fixture(QStringLiteral("verinfo.exe"));

    const Job job = runJob(program, iconPath);
    QCOMPARE(job.finished, QList<bool>{true});

    qsizetype at = -1;
    for (const QString &line : lines) {
        const qsizetype found = job.log.indexOf(line, at + 1);
        QVERIFY2(found > at, qPrintable(QStringLiteral("missing or out of order: ") + line +
                                        QStringLiteral("\n") + job.log.join('\n')));
        at = found;
    }
    for (const QString &line : absent)
        QVERIFY2(!job.log.contains(line), qPrintable(line));
    // The step sits between the archive and the output file.
    QVERIFY(job.log.indexOf(lines.last()) < job.log.indexOf(QStringLiteral("SFX模块写入成功")));
    QCOMPARE(QFile::exists(m_argsFile), iconUsed != QLatin1String("module"));

    const QList<QByteArray> shown = groupImagesOf(readAll(job.output));
    if (iconUsed == QLatin1String("user")) {
        QCOMPARE(shown, icoImagesOf(readAll(iconPath)));
    } else if (iconUsed == QLatin1String("extracted")) {
        Worker worker;
        QCOMPARE(shown, icoImagesOf(worker.extractIconFromExe(program)));
    } else {
        QCOMPARE(shown, m_moduleImages);
    }
    pe::PeImage image;
    QVERIFY(parse(readAll(job.output), image));
    const pe::Resource *versionRes =
        pe::findResource(image, pe::ResId::fromId(pe::kRtVersion), pe::ResId::fromId(1), 0x0409);
    QVERIFY(versionRes);
    QVERIFY(toBytes(versionRes->data).contains(toBytesUtf16("Morvane Portable Application")));
}

void TestIconStep::failedReplacementKeepsModuleIcon()
{
    qputenv("RESWRITE_FAKE_MODE", "fail-silent");
    const Job job =
        runJob(fixture(QStringLiteral("fixturegui.exe")), fixture(QStringLiteral("new.ico")));
    QCOMPARE(job.finished, QList<bool>{true});
    const qsizetype warning =
        job.log.indexOf(QStringLiteral("警告：图标替换失败，将保留 SFX 默认图标"));
    QVERIFY2(warning > 0, qPrintable(job.log.join('\n')));
    QCOMPARE(job.log.at(warning + 1),
             QStringLiteral("版本信息已写入并校验通过：Morvane Portable Application"));
    QCOMPARE(groupImagesOf(readAll(job.output)), m_moduleImages);
}

void TestIconStep::workCopyGoneEndsTheJob()
{
    // The editor takes the work copy and its backup away: the module cannot
    // be read back.
    qputenv("RESWRITE_FAKE_MODE", "remove");
    const Job job =
        runJob(fixture(QStringLiteral("fixturegui.exe")), fixture(QStringLiteral("new.ico")));
    QCOMPARE(job.finished, QList<bool>{false});
    QVERIFY2(job.log.last() == QStringLiteral("错误：无法读取SFX模块"),
             qPrintable(job.log.join('\n')));
    QVERIFY(!QFileInfo::exists(job.output));
    QVERIFY(
        QFileInfo::exists(QFileInfo(job.output).absolutePath() + QStringLiteral("/../temp.7z")));
}

QTEST_GUILESS_MAIN(TestIconStep)
#include "tst_iconstep.moc"
