// Helpers shared by the resource-writing tests: files, fixtures and the
// outside checkers (python3-pefile, Wine).
#pragma once

#include "peimage.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace reswritetest {

inline QString fixture(const QString &name)
{
    return QStringLiteral(RESWRITE_FIXTURES "/") + name;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline std::vector<std::uint8_t> toVector(const QByteArray &bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

inline QByteArray toBytes(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// Icon group 1 of an executable as its images, in group order (an empty
// array for a missing image); empty when the file or group cannot be read.
inline QList<QByteArray> groupImagesOf(const QByteArray &file)
{
    using quillon::pe::ResId;
    quillon::pe::PeImage image;
    if (quillon::pe::parsePe(reinterpret_cast<const std::uint8_t *>(file.constData()),
                             static_cast<std::uint64_t>(file.size()), image)
            .failed())
        return {};
    const quillon::pe::Resource *group = quillon::pe::findResource(
        image, ResId::fromId(quillon::pe::kRtGroupIcon), ResId::fromId(1));
    if (!group || group->data.size() < 6)
        return {};
    QList<QByteArray> images;
    const std::size_t count = group->data[4] | (group->data[5] << 8);
    for (std::size_t i = 0; i < count && 6 + 14 * (i + 1) <= group->data.size(); ++i) {
        const std::size_t at = 6 + 14 * i + 12;
        const auto id = static_cast<std::uint16_t>(group->data[at] | (group->data[at + 1] << 8));
        const quillon::pe::Resource *icon = quillon::pe::findResource(
            image, ResId::fromId(quillon::pe::kRtIcon), ResId::fromId(id));
        images << (icon ? toBytes(icon->data) : QByteArray());
    }
    return images;
}

// The images of an ICO file, in directory order.
inline QList<QByteArray> icoImagesOf(const QByteArray &ico)
{
    QList<QByteArray> images;
    const int count = ico.size() >= 6 ? qFromLittleEndian<quint16>(ico.constData() + 4) : 0;
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= ico.size(); ++i) {
        const char *entry = ico.constData() + 6 + 16 * i;
        images << ico.mid(qFromLittleEndian<quint32>(entry + 12),
                          qFromLittleEndian<quint32>(entry + 8));
    }
    return images;
}

inline QByteArray toBytesUtf16(const char *text)
{
    const QString s = QString::fromUtf8(text);
    return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
}

inline QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// key=value lines of a finished program; empty map when it failed to run.
inline QMap<QString, QString> keyValues(const QByteArray &output)
{
    QMap<QString, QString> values;
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)),
                          QString::fromUtf8(line.mid(eq + 1)).trimmed());
    }
    return values;
}

// What python3-pefile reports about `path` (see fixtures/pecheck.py).
inline QMap<QString, QString> pefileReport(const QString &path, QString *errors = nullptr)
{
    QProcess python;
    python.start(QStringLiteral(RESWRITE_PYTHON),
                 {QStringLiteral(RESWRITE_SOURCE "/fixtures/pecheck.py"), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        if (errors)
            *errors = QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    return keyValues(python.readAllStandardOutput());
}

// Environment for Wine: the CI prefix, or one of our own build tree.
inline QProcessEnvironment wineEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.value(QStringLiteral("WINEPREFIX")).isEmpty())
        env.insert(QStringLiteral("WINEPREFIX"), QStringLiteral(RESWRITE_WINE_PREFIX));
    if (env.value(QStringLiteral("WINEDEBUG")).isEmpty())
        env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    // No display: a message box must never wait for a click.
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

inline bool ensureWinePrefix()
{
    const QProcessEnvironment env = wineEnvironment();
    if (QFile::exists(env.value(QStringLiteral("WINEPREFIX")) + QStringLiteral("/system.reg")))
        return true;
    QProcess boot;
    boot.setProcessEnvironment(env);
    boot.start(QStringLiteral(RESWRITE_WINEBOOT), {QStringLiteral("-i")});
    return boot.waitForFinished(300000) && boot.exitCode() == 0;
}

// Runs a Windows program under Wine; its standard output, or a null array
// when it did not finish with exit code 0.
inline QByteArray runWine(const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess wine;
    wine.setProcessEnvironment(wineEnvironment());
    wine.start(QStringLiteral(RESWRITE_WINE), arguments);
    if (!wine.waitForFinished(timeoutMs) || wine.exitStatus() != QProcess::NormalExit ||
        wine.exitCode() != 0) {
        wine.kill();
        wine.waitForFinished(5000);
        return QByteArray();
    }
    const QByteArray out = wine.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

} // namespace reswritetest
