// Worker's resource operations on Windows, through the Win32 layer (the
// loader, the shell's icon calls, the resource-update and version calls) and
// the bundled resource editor, each result read back with the system's calls.
#include "versioninfo.h"
#include "worker.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

#include <windows.h>

#include <shellapi.h>

namespace {

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QByteArray icoOf(const QColor &colour)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "ICO");
    return bytes;
}

// The colour in the middle of the first icon the shell finds; invalid when
// there is none.
QColor shownIconColour(const QString &exe)
{
    HICON large = nullptr;
    if (ExtractIconExW(wide(exe).c_str(), 0, &large, nullptr, 1) != 1 || !large)
        return QColor();
    const QImage image = QImage::fromHICON(large);
    DestroyIcon(large);
    return image.isNull() ? QColor() : QColor(image.pixel(image.width() / 2, image.height() / 2));
}

QString originalFilename(const QString &exe)
{
    const std::wstring path = wide(exe);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::vector<char> buffer(size);
    void *value = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()) ||
        !VerQueryValueW(buffer.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename", &value,
                        &length) ||
        !value)
        return QString();
    return QString::fromWCharArray(static_cast<const wchar_t *>(value));
}

} // namespace

class TestWorkerOps : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    Worker worker;

    // A fresh copy of a program of ours: the module (icon and version
    // resource) or the plain test program (neither).
    QString copyOf(const char *source, const QString &name)
    {
        const QString path = tmp.filePath(name);
        QFile::remove(path);
        return QFile::copy(QString::fromUtf8(source), path) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    void readIcons_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("hasIcon");
        QTest::newRow("module") << QStringLiteral(QUILLON_MODULE) << true;
        QTest::newRow("no icon") << QStringLiteral(QUILLON_ECHOARGS) << false;
        QTest::newRow("not a program") << QStringLiteral(QUILLON_NOT_PE) << false;
    }

    void readIcons()
    {
        QFETCH(QString, program);
        QFETCH(bool, hasIcon);
        QCOMPARE(worker.exeHasUsableIcon(program), hasIcon);
        const QByteArray ico = worker.extractIconFromExe(program);
        QCOMPARE(!ico.isEmpty(), hasIcon);
        if (hasIcon) {
            QVERIFY(worker.validateIcoData(ico));
            QImage image;
            QVERIFY(image.loadFromData(ico, "ICO"));
        }
    }

    void replaceIcon_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::newRow("program with an icon") << QByteArray(QUILLON_MODULE);
        QTest::newRow("program without one") << QByteArray(QUILLON_ECHOARGS);
    }

    void replaceIcon()
    {
        QFETCH(QByteArray, source);
        const QString exe = copyOf(source.constData(), QStringLiteral("图标 icon.exe"));
        QVERIFY(!exe.isEmpty());
        QSignalSpy log(&worker, &Worker::logMessage);
        QVERIFY2(worker.replaceExeIcon(exe, icoOf(QColor(20, 160, 40))),
                 qPrintable(log.isEmpty() ? QString() : log.last().at(0).toString()));
        QCOMPARE(ExtractIconExW(wide(exe).c_str(), -1, nullptr, nullptr, 0), 1u);
        QCOMPARE(shownIconColour(exe), QColor(20, 160, 40));
        QVERIFY(worker.exeHasUsableIcon(exe));
        QVERIFY(!QFile::exists(exe + QStringLiteral(".bak")));
    }

    void replaceIconRefused()
    {
        // Not a program: refused, the file left as it was.
        const QString file = copyOf(QUILLON_NOT_PE, QStringLiteral("plain.exe"));
        const QByteArray before = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY(!worker.replaceExeIcon(file, icoOf(Qt::blue)));
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }

    void versionWritten_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::newRow("replaces the module's") << QByteArray(QUILLON_MODULE);
        QTest::newRow("adds one") << QByteArray(QUILLON_ECHOARGS);
    }

    void versionWritten()
    {
        QFETCH(QByteArray, source);
        const QString exe = copyOf(source.constData(), QStringLiteral("版本 version.exe"));
        QVERIFY(!exe.isEmpty());
        QVERIFY(worker.writeVersionInfo(exe, QStringLiteral("主程序.exe")));
        QCOMPARE(originalFilename(exe), QStringLiteral("主程序.exe"));
    }

    void versionRefused()
    {
        // A file another handle holds without sharing: the update cannot open it.
        const QString exe = copyOf(QUILLON_ECHOARGS, QStringLiteral("locked.exe"));
        const HANDLE lock = CreateFileW(wide(exe).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(lock != INVALID_HANDLE_VALUE);
        QSignalSpy log(&worker, &Worker::logMessage);
        QVERIFY(!worker.writeVersionInfo(exe, QStringLiteral("x.exe")));
        CloseHandle(lock);
        QVERIFY(!log.isEmpty());
        QVERIFY2(log.last().at(0).toString().startsWith(QStringLiteral("警告：")),
                 qPrintable(log.last().at(0).toString()));
    }
};

QTEST_MAIN(TestWorkerOps)
#include "tst_workerops.moc"
