// The atomic file writer on Windows, run under Wine: a running program is
// never replaced (the packaging job then fails and keeps it), an ordinary
// file is, and nothing but the target is ever left in the directory.
// Exits 0 when every check holds; prints each failed one.
#include "atomicfile.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void check(bool condition, const char *what)
{
    if (!condition) {
        std::printf("FAIL: %s\n", what);
        ++g_failures;
    }
}

std::string readAll(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The names in the current directory.
std::vector<std::string> entries()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

quillon::Error writeOver(const char *path, const std::string &bytes, int &systemError,
                         bool commit = true)
{
    quillon::AtomicFile file(path);
    quillon::Error e = file.open(systemError);
    if (e.ok())
        e = file.write(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(),
                       systemError);
    if (e.ok() && commit)
        e = file.commit(systemError);
    return e;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc > 1 && std::wstring(argv[1]) == L"--sleep") {
        Sleep(30000);
        return 0;
    }
    wchar_t self[1024];
    GetModuleFileNameW(nullptr, self, 1024);
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring work = std::wstring(dir) + L"quillon-atomicfile-probe";
    CreateDirectoryW(work.c_str(), nullptr);
    SetCurrentDirectoryW(work.c_str());
    for (const auto &name : entries())
        DeleteFileA(name.c_str());

    // A running program: neither opened for writing nor replaced.
    check(CopyFileW(self, L"running.exe", FALSE) != 0, "copy of the probe");
    const std::string program = readAll("running.exe");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    wchar_t commandLine[] = L"running.exe --sleep";
    check(CreateProcessW(L"running.exe", commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info) != 0,
          "the copy runs");
    WaitForInputIdle(info.hProcess, 2000);
    Sleep(500);
    HANDLE open = CreateFileW(L"running.exe", GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    check(open == INVALID_HANDLE_VALUE, "a running program cannot be opened for writing");
    if (open != INVALID_HANDLE_VALUE)
        CloseHandle(open);
    int systemError = 0;
    const quillon::Error refused = writeOver("running.exe", "new program", systemError);
    check(refused.failed() && systemError != 0, "a running program is not replaced");
    check(readAll("running.exe") == program, "the running program is as it was");
    check(entries() == std::vector<std::string>{"running.exe"}, "no temporary file left");
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    DeleteFileW(L"running.exe");

    // An ordinary file: replaced when committed, untouched when not.
    {
        std::ofstream("plain.exe", std::ios::binary) << "yesterday";
    }
    check(writeOver("plain.exe", "half", systemError, false).ok(), "written, not committed");
    check(readAll("plain.exe") == "yesterday", "an uncommitted file leaves the target");
    check(entries() == std::vector<std::string>{"plain.exe"}, "the uncommitted file removed");
    check(writeOver("plain.exe", "today", systemError).ok(), "an ordinary file is replaced");
    check(readAll("plain.exe") == "today", "the target holds the new bytes");
    check(entries() == std::vector<std::string>{"plain.exe"}, "nothing else left");
    DeleteFileW(L"plain.exe");
    SetCurrentDirectoryW(dir);
    RemoveDirectoryW(work.c_str());

    if (g_failures == 0)
        std::printf("all atomic file checks passed\n");
    return g_failures == 0 ? 0 : 1;
}
