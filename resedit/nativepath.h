// Paths handed to the platform layer: wide strings with the system's own
// separators (the Windows loader wants backslashes).
#pragma once

#include <QDir>
#include <QString>

#include <string>

namespace quillon {

inline std::wstring nativeWidePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace quillon
