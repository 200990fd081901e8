// Deciding whether two paths name the same file, for the guards that keep a
// job from writing over its own input.
#pragma once

#include <QString>

namespace quillon {

// True when `a` and `b` name the same file: their QDir::cleanPath forms are
// equal (ignoring letter case on Windows), or both exist and resolve to the
// same file (same canonical path, or the same device and inode).
bool pathsNameSameFile(const QString &a, const QString &b);

// As above with an explicit case rule for the textual comparison, so both
// platforms' behaviour can be exercised anywhere.
bool pathsNameSameFile(const QString &a, const QString &b, Qt::CaseSensitivity nameCase);

} // namespace quillon
