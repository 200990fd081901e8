// The resource copy of real executables (Wine's own programs) against an
// independent reader, icoutils' wrestool: same group, image for image.
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include "worker.h"

namespace {

struct IcoImage
{
    QByteArray entry; // width, height, colours, planes, bits (reserved and placement left out)
    QByteArray bytes;
};

quint32 le32(const QByteArray &b, int at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

// Splits ICO data into its images; empty when the data do not hold together.
QList<IcoImage> images(const QByteArray &ico)
{
    QList<IcoImage> out;
    if (ico.size() < 6)
        return out;
    const int count = quint8(ico[4]) | quint8(ico[5]) << 8;
    for (int i = 0; i < count; ++i) {
        const int at = 6 + 16 * i;
        if (at + 16 > ico.size())
            return {};
        const quint32 size = le32(ico, at + 8);
        const quint32 offset = le32(ico, at + 12);
        if (quint64(offset) + size > quint64(ico.size()))
            return {};
        out.append({ico.mid(at, 3) + ico.mid(at + 4, 4), ico.mid(int(offset), int(size))});
    }
    return out;
}

QByteArray run(const QStringList &args, QString *error)
{
    QProcess process;
    process.start(QStringLiteral(WRESTOOL), args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *error = QString::fromLocal8Bit(process.readAllStandardError());
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

} // namespace

class TestWineIcons : public QObject
{
    Q_OBJECT

private slots:
    void firstGroupMatchesWrestool_data();
    void firstGroupMatchesWrestool();
};

void TestWineIcons::firstGroupMatchesWrestool_data()
{
    QTest::addColumn<QString>("program");
    for (const char *name : {"notepad.exe", "regedit.exe", "winefile.exe", "wordpad.exe"})
        QTest::newRow(name) << QStringLiteral(WINE_PROGRAMS "/%1").arg(name);
}

void TestWineIcons::firstGroupMatchesWrestool()
{
    QFETCH(QString, program);
    if (!QFileInfo::exists(program))
        QSKIP("Wine's programs are not installed");

    // The groups as wrestool lists them; the system reports named groups
    // first (as stored), then numbers ascending.
    QString error;
    const QString listing = QString::fromLocal8Bit(run({"--list", "--type=14", program}, &error));
    QVERIFY2(!listing.isEmpty(), qPrintable(error));
    QStringList named;
    QList<int> numbered;
    const QRegularExpression nameRe(QStringLiteral("--name='?([^' ]+)'?"));
    for (const QString &line : listing.split('\n', Qt::SkipEmptyParts)) {
        const QString value = nameRe.match(line).captured(1);
        bool isNumber = false;
        const int number = value.toInt(&isNumber);
        if (isNumber)
            numbered.append(number);
        else if (!value.isEmpty())
            named.append(value);
    }
    std::sort(numbered.begin(), numbered.end());
    const QString first = named.isEmpty() ? QString::number(numbered.value(0)) : named.first();
    const QByteArray reference =
        run({"--extract", "--type=14", "--name=" + first, program}, &error);
    const QList<IcoImage> expected = images(reference);
    QVERIFY2(!expected.isEmpty(), qPrintable(error));
    QVERIFY(expected.size() > 1); // these programs ship multi-size groups

    Worker worker;
    QSignalSpy log(&worker, &Worker::logMessage);
    const QByteArray ico = worker.extractIconFromExe(program);
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.at(0).at(0).toString(),
             QStringLiteral("从 EXE 资源中提取到 %1 个尺寸的图标，共 %2 字节")
                 .arg(expected.size())
                 .arg(ico.size()));
    const QList<IcoImage> actual = images(ico);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(actual[i].entry.toHex(), expected[i].entry.toHex());
        QVERIFY2(actual[i].bytes == expected[i].bytes, qPrintable(QString("image %1").arg(i + 1)));
    }
    QSignalSpy check(&worker, &Worker::logMessage);
    QVERIFY(worker.validateIcoData(ico));
}

QTEST_GUILESS_MAIN(TestWineIcons)
#include "tst_wineicons.moc"
