// Builder of the version-information resource (the VS_VERSIONINFO tree) that
// every output carries. Pure byte work: no platform calls.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace quillon {

// Fixed texts of the version resource.
inline constexpr char kVersionMakerName[] = "Morvane";
inline constexpr char kVersionDescription[] = "Morvane Portable Application";
inline constexpr char kVersionText[] = "1.0.7.01";
inline constexpr char kVersionWebAddress[] = "https://morvane.example";
inline constexpr char kVersionCopyright[] = "Copyright (C) Morvane. All rights reserved.";

// UTF-16LE bytes of `text`, two per code unit, without a terminator.
QByteArray toUtf16Bytes(const QString &text);

// One node of the tree: wLength, wValueLength, wType, the key with its
// terminator padded so that the header ends on a 4-byte boundary, then
// `payload` unchanged.
QByteArray buildVersionBlock(const QString &key, std::uint16_t valueLength, std::uint16_t type,
                             const QByteArray &payload);

// A text block: the value with its terminator, wValueLength in code units
// including the terminator.
QByteArray buildVersionString(const QString &key, const QString &value);

// The whole resource for the main program name `mainExeName` ("app.exe"):
// OriginalFilename is its file name, InternalName that name without its last
// suffix; both empty for a blank name. Empty when the tree would exceed the
// 65 535 bytes a 16-bit wLength can state.
QByteArray buildVersionInfo(const QString &mainExeName);

} // namespace quillon
