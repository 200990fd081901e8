// A regular file as an Input: pread() on POSIX (fileinput_posix.cpp),
// positioned ReadFile on Windows (fileinput_win.cpp). The file is opened for
// reading only and shared with readers and deleters; its size is taken once.
#pragma once

#include "input.h"

#include <memory>
#include <string>

namespace quillon {

#ifdef _WIN32
using FilePath = std::wstring; // passed to CreateFileW as it is ("\\?\" prefix and all)
#else
using FilePath = std::string;
#endif

// nullptr when the file cannot be opened (on POSIX also when it is no regular
// file).
std::unique_ptr<Input> openFileInput(const FilePath &path);

} // namespace quillon
