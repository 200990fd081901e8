// Turns stored entry names into safe relative paths. Pure logic.
#pragma once

#include "sevenzip.h"

#include <string>

namespace quillon::sevenzip {

// Maps a stored name (UTF-8) to a relative '/'-separated path. False when
// the name is unsafe (absolute, drive letter, UNC or "\\?\" prefix, a ".."
// component) or empty.
//
// Both '/' and '\' count as separators for these checks: an archive made on
// Windows may use '\', and a name like "..\x" must never reach a Windows
// file system. Apart from that, a backslash is an ordinary character of a
// name made on a POSIX system: Host keeps it, Windows turns it into '_' so it
// never becomes a separator there.
bool mapEntryName(const std::string &stored, NameMapping mapping, std::string &out);

} // namespace quillon::sevenzip
