// Worker::validateIcoData: every rule in its order, one log line per call.
#include <QSignalSpy>
#include <QtTest>

#include "worker.h"

namespace {

struct Entry
{
    int width;
    int height;
    quint32 bytes;
    quint32 offset;
};

void put16(QByteArray &b, int at, quint32 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}

void put32(QByteArray &b, int at, quint32 v)
{
    put16(b, at, v & 0xffff);
    put16(b, at + 2, v >> 16);
}

// Header (reserved, type, count), the given entries, padded to `size` bytes.
QByteArray ico(int size, quint32 count, const QList<Entry> &entries, quint32 reserved = 0,
               quint32 type = 1)
{
    QByteArray b(qMax(size, 6), '\0');
    put16(b, 0, reserved);
    put16(b, 2, type);
    put16(b, 4, count);
    for (int i = 0; i < entries.size(); ++i) {
        const int at = 6 + 16 * i;
        if (at + 16 > b.size())
            b.resize(at + 16);
        b[at] = char(entries[i].width);
        b[at + 1] = char(entries[i].height);
        put16(b, at + 4, 1);
        put16(b, at + 6, 32);
        put32(b, at + 8, entries[i].bytes);
        put32(b, at + 12, entries[i].offset);
    }
    b.resize(size);
    return b;
}

} // namespace

class TestIcoValidate : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
};

void TestIcoValidate::rules_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("line");

    const QString tooSmall = QStringLiteral("图标数据太小，至少需要6字节");
    const QString badHeader = QStringLiteral("无效的ICO文件头");
    const QString incomplete = QStringLiteral("ICO 目录不完整");
    auto outOfBounds = [](int n) { return QStringLiteral("ICO 第 %1 张图像越界").arg(n); };
    auto passed = [](int n, const QString &sizes) {
        return QStringLiteral("图标验证通过 - 共 %1 个尺寸: %2").arg(n).arg(sizes);
    };

    QTest::newRow("empty") << QByteArray() << false << tooSmall;
    QTest::newRow("five bytes") << QByteArray(5, '\0') << false << tooSmall;
    QTest::newRow("count 0") << QByteArray::fromHex("000001000000") << false << badHeader;
    QTest::newRow("cursor type") << ico(62, 1, {{32, 32, 40, 22}}, 0, 2) << false << badHeader;
    QTest::newRow("reserved set") << ico(62, 1, {{32, 32, 40, 22}}, 1) << false << badHeader;
    QTest::newRow("directory one byte short") << ico(21, 1, {}) << false << incomplete;
    QTest::newRow("directory ends at the end, no room for an image")
        << ico(22, 1, {{32, 32, 1, 22}}) << false << outOfBounds(1);
    QTest::newRow("one image exactly filling the data")
        << ico(62, 1, {{48, 48, 40, 22}}) << true << passed(1, "48x48");
    QTest::newRow("bytes after the last image are allowed")
        << ico(100, 1, {{48, 48, 40, 22}}) << true << passed(1, "48x48");
    QTest::newRow("stored 0 reads as 256")
        << ico(62, 1, {{0, 0, 40, 22}}) << true << passed(1, "256x256");
    QTest::newRow("three sizes in directory order")
        << ico(6 + 48 + 30, 3, {{16, 16, 10, 54}, {32, 32, 10, 64}, {0, 0, 10, 74}}) << true
        << passed(3, "16x16, 32x32, 256x256");
    QTest::newRow("duplicates listed twice, overlapping images")
        << ico(6 + 32 + 10, 2, {{32, 32, 10, 38}, {32, 32, 10, 38}}) << true
        << passed(2, "32x32, 32x32");
    QTest::newRow("zero bytes in image")
        << ico(62, 1, {{32, 32, 0, 22}}) << false << outOfBounds(1);
    QTest::newRow("image one byte past the end")
        << ico(62, 1, {{32, 32, 41, 22}}) << false << outOfBounds(1);
    QTest::newRow("second image points into the directory")
        << ico(6 + 32 + 20, 2, {{16, 16, 10, 38}, {32, 32, 10, 30}}) << false << outOfBounds(2);
    QTest::newRow("end wraps past 2^32")
        << ico(62, 1, {{32, 32, 32, 0xfffffff0u}}) << false << outOfBounds(1);
    QTest::newRow("bytes near 2^32")
        << ico(62, 1, {{32, 32, 0xfffffff0u, 22}}) << false << outOfBounds(1);
    QTest::newRow("count 65535 with a short directory")
        << ico(100, 0xffff, {}) << false << incomplete;

    // One cap with the resource editor: what it cannot write is refused here,
    // so the job falls back to the main program's icon.
    auto images = [](int count) {
        QList<Entry> entries;
        const quint32 directoryEnd = 6 + 16 * quint32(count);
        for (int i = 0; i < count; ++i)
            entries.append({16, 16, 1, directoryEnd + quint32(i)});
        return ico(int(directoryEnd) + count, quint32(count), entries);
    };
    QStringList sizes256;
    for (int i = 0; i < 256; ++i)
        sizes256 << QStringLiteral("16x16");
    QTest::newRow("256 images, the cap") << images(256) << true << passed(256, sizes256.join(", "));
    QTest::newRow("257 images") << images(257) << false
                                << QStringLiteral("ICO 图像过多：共 257 张，最多 256 张");
    QTest::newRow("300 images") << images(300) << false
                                << QStringLiteral("ICO 图像过多：共 300 张，最多 256 张");
    QByteArray huge = ico(62, 1, {{48, 48, 40, 22}});
    huge.resize(64 * 1024 * 1024 + 1);
    QTest::newRow("one byte above 64 MiB")
        << huge << false << QStringLiteral("图标文件太大，最多 64 MiB");
}

void TestIcoValidate::rules()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, valid);
    QFETCH(QString, line);

    Worker worker;
    QSignalSpy log(&worker, &Worker::logMessage);
    const QByteArray before = data;
    QCOMPARE(worker.validateIcoData(data), valid);
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.at(0).at(0).toString(), line);
    QCOMPARE(data, before);
}

QTEST_GUILESS_MAIN(TestIcoValidate)
#include "tst_icovalidate.moc"
