#include "versioninfo.h"

#include <algorithm>
#include <array>

namespace quillon {

namespace {

void appendU16(QByteArray &out, std::uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void appendU32(QByteArray &out, std::uint32_t value)
{
    appendU16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    appendU16(out, static_cast<std::uint16_t>(value >> 16));
}

void padTo4(QByteArray &out)
{
    while (out.size() % 4 != 0)
        out.append('\0');
}

QByteArray fixedFileInfo()
{
    static constexpr std::array<std::uint32_t, 13> kFields = {
        0xFEEF04BD, // dwSignature
        0x00010000, // dwStrucVersion
        0x00010000, // file version 1.0
        0x00070001, // .7.1
        0x00010000, // product version 1.0
        0x00070001, // .7.1
        0x0000003F, // dwFileFlagsMask
        0,          // dwFileFlags
        0x00040004, // VOS_NT_WINDOWS32
        0x00000001, // VFT_APP
        0,          // dwFileSubtype
        0,          // dwFileDateMS
        0,          // dwFileDateLS
    };
    QByteArray out;
    for (std::uint32_t field : kFields)
        appendU32(out, field);
    return out;
}

// The file name (after the last separator) and the complete base name (before
// the last dot) of the main program name.
void splitMainExeName(const QString &mainExeName, QString &fileName, QString &baseName)
{
    fileName.clear();
    baseName.clear();
    if (mainExeName.trimmed().isEmpty())
        return;
    const qsizetype slash = std::max(mainExeName.lastIndexOf(QLatin1Char('/')),
                                     mainExeName.lastIndexOf(QLatin1Char('\\')));
    fileName = mainExeName.mid(slash + 1);
    if (fileName.isEmpty())
        return;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    baseName = dot < 0 ? fileName : fileName.left(dot);
}

} // namespace

QByteArray toUtf16Bytes(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (QChar c : text)
        appendU16(out, c.unicode());
    return out;
}

QByteArray buildVersionBlock(const QString &key, std::uint16_t valueLength, std::uint16_t type,
                             const QByteArray &payload)
{
    QByteArray keyArea = toUtf16Bytes(key);
    keyArea.append(2, '\0');
    while ((6 + keyArea.size()) % 4 != 0)
        keyArea.append('\0');

    QByteArray out;
    const qsizetype total = 6 + keyArea.size() + payload.size();
    appendU16(out, static_cast<std::uint16_t>(total & 0xFFFF));
    appendU16(out, valueLength);
    appendU16(out, type);
    out.append(keyArea);
    out.append(payload);
    return out;
}

QByteArray buildVersionString(const QString &key, const QString &value)
{
    QByteArray payload = toUtf16Bytes(value);
    payload.append(2, '\0');
    return buildVersionBlock(key, static_cast<std::uint16_t>(value.size() + 1), 1, payload);
}

QByteArray buildVersionInfo(const QString &mainExeName)
{
    QString fileName;
    QString baseName;
    splitMainExeName(mainExeName, fileName, baseName);

    const QString web = QString::fromLatin1(kVersionWebAddress);
    const QString maker = QString::fromLatin1(kVersionMakerName);
    const QString version = QString::fromLatin1(kVersionText);
    const std::array<std::pair<const char *, QString>, 11> strings = {{
        {"Comments", web},
        {"CompanyName", maker},
        {"FileDescription", QString::fromLatin1(kVersionDescription)},
        {"FileVersion", version},
        {"InternalName", baseName},
        {"LegalCopyright", QString::fromLatin1(kVersionCopyright)},
        {"LegalTrademarks", maker},
        {"OriginalFilename", fileName},
        {"ProductName", maker},
        {"ProductVersion", version},
        {"Website", web},
    }};

    QByteArray table;
    for (const auto &[key, value] : strings) {
        padTo4(table);
        table.append(buildVersionString(QString::fromLatin1(key), value));
    }
    const QByteArray stringTable = buildVersionBlock(QStringLiteral("040904B0"), 0, 1, table);
    const QByteArray stringFileInfo =
        buildVersionBlock(QStringLiteral("StringFileInfo"), 0, 1, stringTable);

    const QByteArray translationValue("\x09\x04\xB0\x04", 4);
    const QByteArray translation =
        buildVersionBlock(QStringLiteral("Translation"), 4, 0, translationValue);
    const QByteArray varFileInfo =
        buildVersionBlock(QStringLiteral("VarFileInfo"), 0, 1, translation);

    QByteArray root = fixedFileInfo();
    root.append(stringFileInfo);
    padTo4(root);
    root.append(varFileInfo);
    QByteArray info = buildVersionBlock(QStringLiteral("VS_VERSION_INFO"), 52, 0, root);
    // A tree longer than a 16-bit wLength can state would be corrupt.
    if (info.size() > 0xFFFF)
        return QByteArray();
    return info;
}

} // namespace quillon
