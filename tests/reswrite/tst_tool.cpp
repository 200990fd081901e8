// quillon-resedit, our resource editor, driven through its command line.
#include "peimage.h"
#include "reswritetest.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quillon;
using namespace reswritetest;

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

Run runTool(const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(RESWRITE_TOOL), arguments);
    Run run;
    if (tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit)
        run.exitCode = tool.exitCode();
    run.output = QString::fromLocal8Bit(tool.readAll()).trimmed();
    return run;
}

QStringList standardArguments(const QString &target, const QString &ico, const QString &log)
{
    return {QStringLiteral("-open"),     target,
            QStringLiteral("-save"),     target,
            QStringLiteral("-action"),   QStringLiteral("addoverwrite"),
            QStringLiteral("-resource"), ico,
            QStringLiteral("-mask"),     QStringLiteral("ICONGROUP,1,"),
            QStringLiteral("-log"),      log};
}

bool parse(const QByteArray &bytes, pe::PeImage &image)
{
    return pe::parsePe(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                       static_cast<std::uint64_t>(bytes.size()), image)
        .ok();
}

QByteArray resourceData(const pe::PeImage &image, std::uint16_t type, std::uint16_t name)
{
    const pe::Resource *r =
        pe::findResource(image, pe::ResId::fromId(type), pe::ResId::fromId(name));
    return r ? toBytes(r->data) : QByteArray();
}

} // namespace

class TestTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replacesGroupOne_data();
    void replacesGroupOne();
    void addsMissingGroup();
    void logDestinations();
    void failuresLeaveTargetUntouched_data();
    void failuresLeaveTargetUntouched();

private:
    QString copyFixture(const QString &name);
    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(RESWRITE_HAVE_MINGW, "mingw-w64 is needed for the test programs");
}

QString TestTool::copyFixture(const QString &name)
{
    const QString target = m_dir.filePath(QStringLiteral("t%1_%2").arg(++m_count).arg(name));
    QFile::copy(fixture(name), target);
    QFile::setPermissions(target,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return target;
}

void TestTool::replacesGroupOne_data()
{
    QTest::addColumn<QString>("fixtureName");
    QTest::newRow("PE32+") << "fixture64.exe";
    QTest::newRow("PE32") << "fixture32.exe";
}

void TestTool::replacesGroupOne()
{
    QFETCH(QString, fixtureName);
    const QString target = copyFixture(fixtureName);
    pe::PeImage before;
    QVERIFY(parse(readAll(target), before));
    // Fixture: group 1 uses images 1 and 2, group 2 images 3 and 4.
    const QByteArray group2 = resourceData(before, pe::kRtGroupIcon, 2);

    const Run run = runTool(
        standardArguments(target, fixture(QStringLiteral("new.ico")), QStringLiteral("NUL")));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QString());

    pe::PeImage after;
    QVERIFY(parse(readAll(target), after));
    QVERIFY(
        pe::findResource(after, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(1), 1033));
    // The new group lists the ICO's images, in order, under fresh numbers.
    const QByteArray ico = readAll(fixture(QStringLiteral("new.ico")));
    const QByteArray group = resourceData(after, pe::kRtGroupIcon, 1);
    QCOMPARE(group.size(), 6 + 3 * 14);
    QList<int> ids;
    for (int i = 0; i < 3; ++i) {
        const QByteArray entry = group.mid(6 + 14 * i, 14);
        QCOMPARE(entry.left(12), ico.mid(6 + 16 * i, 12)); // size, colours, planes, bits, length
        const int id = static_cast<quint8>(entry[12]) | (static_cast<quint8>(entry[13]) << 8);
        ids.append(id);
        const quint32 offset = qFromLittleEndian<quint32>(ico.constData() + 6 + 16 * i + 12);
        const quint32 length = qFromLittleEndian<quint32>(ico.constData() + 6 + 16 * i + 8);
        QCOMPARE(resourceData(after, pe::kRtIcon, static_cast<std::uint16_t>(id)),
                 ico.mid(offset, length));
    }
    // Images 1 and 2 were only group 1's: freed and reused; 3 and 4 stay for group 2.
    QCOMPARE(ids, (QList<int>{1, 2, 5}));
    QCOMPARE(resourceData(after, pe::kRtGroupIcon, 2), group2);
    QCOMPARE(pe::resourceNames(after, pe::ResId::fromId(pe::kRtIcon)).size(), std::size_t{5});
    QVERIFY(QFileInfo(target).permissions() & QFileDevice::ExeOwner);
}

void TestTool::addsMissingGroup()
{
    // Wine's programs name their icon groups otherwise: group 1 is added in 1033.
    const QString source =
        QStringLiteral("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/winver.exe");
    if (!QFile::exists(source))
        QSKIP("Wine's programs are not installed");
    const QString target = m_dir.filePath(QStringLiteral("winver.exe"));
    QVERIFY(QFile::copy(source, target));
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    pe::PeImage before;
    QVERIFY(parse(readAll(target), before));
    QVERIFY(resourceData(before, pe::kRtGroupIcon, 1).isEmpty());
    const Run run = runTool(
        standardArguments(target, fixture(QStringLiteral("new.ico")), QStringLiteral("/dev/null")));
    QCOMPARE(run.exitCode, 0);
    pe::PeImage after;
    QVERIFY(parse(readAll(target), after));
    QVERIFY(
        pe::findResource(after, pe::ResId::fromId(pe::kRtGroupIcon), pe::ResId::fromId(1), 1033));
    QCOMPARE(after.resources.size(), before.resources.size() + 4);
}

void TestTool::logDestinations()
{
    const QString target = copyFixture(QStringLiteral("fixture32.exe"));
    const QString log = m_dir.filePath(QStringLiteral("editor.log"));
    QCOMPARE(runTool(standardArguments(target, fixture(QStringLiteral("new.ico")), log)).exitCode,
             0);
    const QString text = QString::fromUtf8(readAll(log));
    QVERIFY2(text.contains(QStringLiteral("replaced icon group")), qPrintable(text));

    // NUL and /dev/null make no file anywhere.
    QDir::setCurrent(m_dir.path());
    QCOMPARE(runTool(standardArguments(target, fixture(QStringLiteral("new.ico")),
                                       QStringLiteral("NUL")))
                 .exitCode,
             0);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("NUL"))));
}

void TestTool::failuresLeaveTargetUntouched_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("expected"); // start of the one line of output

    QTest::newRow("unknown action") << "action"
                                    << "unknown action: delete";
    QTest::newRow("unsupported mask type") << "mask-type"
                                           << "unsupported mask: BITMAP,1,";
    QTest::newRow("mask name zero") << "mask-zero"
                                    << "unsupported mask: ICONGROUP,0,";
    QTest::newRow("unknown option") << "option"
                                    << "unknown option: -script";
    QTest::newRow("missing option") << "missing"
                                    << "missing option: -mask";
    QTest::newRow("missing icon file") << "ico-missing"
                                       << "cannot read icon file:";
    QTest::newRow("not an icon") << "ico-text"
                                 << "bad icon file:";
    QTest::newRow("icon image past the end") << "ico-truncated"
                                             << "bad icon file:";
    QTest::newRow("target not a program") << "target-text"
                                          << "not a usable executable:";
    QTest::newRow("target missing") << "target-missing"
                                    << "cannot read target:";
    QTest::newRow("log cannot be opened") << "log-dir"
                                          << "cannot open log file:";
    QTest::newRow("save into missing dir") << "save-missing"
                                           << "cannot save";
}

void TestTool::failuresLeaveTargetUntouched()
{
    QFETCH(QString, problem);
    QFETCH(QString, expected);
    QString target = copyFixture(QStringLiteral("fixture32.exe"));
    QString ico = fixture(QStringLiteral("new.ico"));
    QString log = QStringLiteral("NUL");
    if (problem == QLatin1String("ico-missing"))
        ico = m_dir.filePath(QStringLiteral("none.ico"));
    if (problem == QLatin1String("ico-text")) {
        ico = m_dir.filePath(QStringLiteral("text.ico"));
        writeAll(ico, "this is not an icon");
    }
    if (problem == QLatin1String("ico-truncated")) {
        ico = m_dir.filePath(QStringLiteral("cut.ico"));
        writeAll(ico, readAll(fixture(QStringLiteral("new.ico"))).left(200));
    }
    if (problem == QLatin1String("target-text")) {
        target = m_dir.filePath(QStringLiteral("text.exe"));
        writeAll(target, "MZ but nothing more");
    }
    if (problem == QLatin1String("target-missing"))
        target = m_dir.filePath(QStringLiteral("gone.exe"));
    if (problem == QLatin1String("log-dir"))
        log = m_dir.path();
    QStringList args = standardArguments(target, ico, log);
    if (problem == QLatin1String("action"))
        args[5] = QStringLiteral("delete");
    if (problem == QLatin1String("mask-type"))
        args[9] = QStringLiteral("BITMAP,1,");
    if (problem == QLatin1String("mask-zero"))
        args[9] = QStringLiteral("ICONGROUP,0,");
    if (problem == QLatin1String("option"))
        args[10] = QStringLiteral("-script");
    if (problem == QLatin1String("missing"))
        args = args.mid(0, 8);
    if (problem == QLatin1String("save-missing"))
        args[3] = m_dir.filePath(QStringLiteral("no/such/dir/out.exe"));

    const QByteArray before = readAll(target);
    const QStringList filesBefore = QDir(m_dir.path()).entryList(QDir::Files);
    const Run run = runTool(args);
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.output.startsWith(expected), qPrintable(run.output));
    QCOMPARE(run.output.count(QLatin1Char('\n')), 0);
    QCOMPARE(readAll(target), before);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), filesBefore);
}

QTEST_GUILESS_MAIN(TestTool)
#include "tst_tool.moc"
