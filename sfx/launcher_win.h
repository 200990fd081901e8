// What the Windows files of the module share: the platform layer
// (launcher_win.cpp), the run lock and sweep (sweep_win.cpp) and the end of
// the session (session_win.cpp).
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "launcher.h"

#include <windows.h>

#include <string>

namespace quillon::sfx::win {

// An owner-only DACL (the user and SYSTEM), inherited by everything below.
class PrivateSecurity
{
public:
    PrivateSecurity();
    ~PrivateSecurity();
    PrivateSecurity(const PrivateSecurity &) = delete;
    PrivateSecurity &operator=(const PrivateSecurity &) = delete;

    // nullptr (inherit the temporary folder's ACL) when no descriptor was made.
    SECURITY_ATTRIBUTES *attributes() { return m_descriptor ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes = {};
};

// The system's text for GetLastError(), `subject` in the place of its "%1".
std::string lastErrorText(const std::wstring &subject = std::wstring());

// Removes `dir` and everything below it; links are removed, never followed.
// Stops early, with false, once `stop` is set.
bool removeDirectoryTree(const std::wstring &dir, const volatile LONG *stop = nullptr);

// The end of the session: a hidden window that hears of log-off and
// shutdown, ends the program's processes and lets the run clean up before
// the system ends the module.
void watchSessionEnd(Context &ctx);
// The program's job (may be null) and process, once started.
void sessionProgramStarted(HANDLE job, HANDLE process);
// The run has cleaned up: a session end in progress may let the module go.
void sessionRunFinished();
// True once the session is ending: clean-up is then brief.
bool sessionEnding();

} // namespace quillon::sfx::win
