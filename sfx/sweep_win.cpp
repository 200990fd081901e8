// Windows module: the lock that shows a run is alive, and the sweep of the
// private directories earlier runs left behind.
//
// A run's lock is "<root>.lock" beside its directory, made before it and
// held open without delete sharing for the module's lifetime: nobody can
// open it for deletion until the module ends, however it ends.
#include "launcher_win.h"

#include <aclapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace quillon::sfx {
namespace {

std::wstring lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring withoutLongPrefix(const std::wstring &path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

// The lock text naming the directory open as `handle`; empty when unknown.
// By its file number only: the lock lies on the directory's volume, and the
// volume's serial number is not always known (it reads 0 on some systems
// while their mount service is down).
std::string directoryLockText(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return std::string();
    return runLockText(0, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
}

bool markForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The SIDs new objects of this process are owned by: the user, and the
// token's default owner (the Administrators group for an elevated one).
class OwnSids
{
public:
    OwnSids()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        read(token, TokenUser, m_user);
        read(token, TokenOwner, m_owner);
        CloseHandle(token);
    }

    bool owns(HANDLE object) const
    {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return false;
        const bool ours = owner && IsValidSid(owner) &&
                          ((!m_user.empty() && EqualSid(owner, sid(m_user, true))) ||
                           (!m_owner.empty() && EqualSid(owner, sid(m_owner, false))));
        LocalFree(descriptor);
        return ours;
    }

private:
    static void read(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<std::uint8_t> &out)
    {
        DWORD size = 0;
        GetTokenInformation(token, what, nullptr, 0, &size);
        out.resize(size);
        if (!size || !GetTokenInformation(token, what, out.data(), size, &size))
            out.clear();
    }
    static PSID sid(const std::vector<std::uint8_t> &data, bool user)
    {
        const void *p = data.data();
        return user ? static_cast<const TOKEN_USER *>(p)->User.Sid
                    : static_cast<const TOKEN_OWNER *>(p)->Owner;
    }

    std::vector<std::uint8_t> m_user, m_owner;
};

volatile LONG g_stop = 0;

class Sweep
{
public:
    // What the sweep needs of the run, copied: the run goes on meanwhile.
    explicit Sweep(const Context &ctx)
    {
        m_ctx.trace = ctx.trace;
        m_ctx.traceFile = ctx.traceFile;
        m_ctx.base = ctx.base;
        m_ctx.lockPath = ctx.lockPath;
    }

    void run()
    {
        std::vector<std::wstring> folders;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileExW((m_ctx.base + L"\\qsfx-*").c_str(), FindExInfoBasic,
                                         &found, FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            const std::string name = runFolderOfLock(wideToUtf8(found.cFileName));
            if (!name.empty())
                folders.push_back(utf8ToWide(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        for (const auto &name : folders) {
            if (g_stop) {
                if (m_ctx.trace)
                    trace(m_ctx, "sweep: stopped, the run is over");
                return;
            }
            folder(name);
        }
    }

    void folder(const std::wstring &folderName)
    {
        const std::wstring dir = m_ctx.base + L"\\" + folderName;
        const std::wstring lockPath = dir + utf8ToWide(kRunLockSuffix);
        if (lower(lockPath) == lower(m_ctx.lockPath))
            return;
        // Refused while the module that made it lives: it holds the lock
        // without delete sharing.
        HANDLE lock = CreateFileW(lockPath.c_str(), GENERIC_READ | DELETE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (lock == INVALID_HANDLE_VALUE) {
            note(dir, "belongs to a live run, left");
            return;
        }
        decide(lock, dir);
        CloseHandle(lock);
    }

private:
    void note(const std::wstring &path, const std::string &what) const
    {
        if (m_ctx.trace)
            trace(m_ctx, "sweep: " + wideToUtf8(withoutLongPrefix(path)) + " " + what);
    }

    void decide(HANDLE lock, const std::wstring &dir)
    {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(lock, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            info.nNumberOfLinks != 1 || !m_sids.owns(lock))
            return note(dir, "has no lock of ours, left");
        const std::string text = lockText(lock);
        if (!isRunLockText(text))
            return note(dir, "has no lock of ours, left");

        const DWORD attributes = GetFileAttributesW(dir.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
                markForDeletion(lock); // a lock whose folder went already
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return note(dir, "is not a folder, left");
        if (!isOurDirectory(dir, text))
            return note(dir, "is not the folder of its lock, or not ours, left");
        if (runsFrom(dir) || inUse(dir))
            return note(dir, "is in use, left");
        if (!win::removeDirectoryTree(dir, &g_stop) &&
            GetFileAttributesW(dir.c_str()) != INVALID_FILE_ATTRIBUTES)
            return note(dir, "could not be removed completely");
        note(dir, "removed");
        markForDeletion(lock);
    }

    static std::string lockText(HANDLE lock)
    {
        char buffer[kRunLockMaxSize + 1];
        DWORD got = 0;
        if (!ReadFile(lock, buffer, sizeof buffer, &got, nullptr))
            got = 0;
        return std::string(buffer, got);
    }

    // The directory the lock was made for, owned by us: not a link, nor a
    // directory put in its place.
    bool isOurDirectory(const std::wstring &dir, const std::string &text) const
    {
        HANDLE handle = CreateFileW(
            dir.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        const std::string found = directoryLockText(handle);
        const bool owned = m_sids.owns(handle);
        CloseHandle(handle);
        if (m_ctx.trace && (found != text || !owned))
            trace(m_ctx, "sweep: lock names " + text.substr(0, text.size() - 1) + ", folder is " +
                             found.substr(0, found.size() ? found.size() - 1 : 0) +
                             (owned ? "" : ", owned by another"));
        return text == found && owned;
    }

    // A process whose program lies below `dir` (a running image cannot be
    // removed, and removing its neighbours would break it).
    bool runsFrom(const std::wstring &dir)
    {
        if (!m_scanned) {
            m_scanned = true;
            scanProcesses();
        }
        std::vector<std::wstring> forms{lower(withoutLongPrefix(dir))};
        wchar_t shortForm[MAX_PATH * 2];
        const DWORD len = GetShortPathNameW(dir.c_str(), shortForm, MAX_PATH * 2);
        if (len && len < MAX_PATH * 2)
            forms.push_back(lower(withoutLongPrefix(std::wstring(shortForm, len))));
        return std::any_of(m_images.begin(), m_images.end(), [&forms](const std::wstring &image) {
            return std::any_of(forms.begin(), forms.end(), [&image](const std::wstring &form) {
                return image.size() > form.size() && image.compare(0, form.size(), form) == 0 &&
                       image[form.size()] == L'\\';
            });
        });
    }

    void scanProcesses()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            HANDLE process =
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            if (!process)
                continue;
            wchar_t buffer[1024];
            DWORD length = 1024;
            if (QueryFullProcessImageNameW(process, 0, buffer, &length))
                m_images.push_back(lower(withoutLongPrefix(std::wstring(buffer, length))));
            CloseHandle(process);
        }
        CloseHandle(snapshot);
    }

    // An entry below `dir` (or `dir` itself) that another process holds open
    // without delete sharing: an open file, a working directory.
    static bool inUse(const std::wstring &dir)
    {
        if (heldOpen(dir, true))
            return true;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        bool used = false;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = dir + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue; // removed as a link, never followed
            used = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? inUse(path) : heldOpen(path, false);
        } while (!used && FindNextFileW(search, &found));
        FindClose(search);
        return used;
    }

    static bool heldOpen(const std::wstring &path, bool directory)
    {
        const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT |
                            (directory ? DWORD{FILE_FLAG_BACKUP_SEMANTICS} : DWORD{0});
        HANDLE handle = CreateFileW(path.c_str(), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return false;
        }
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }

    Context m_ctx;
    OwnSids m_sids;
    bool m_scanned = false;
    std::vector<std::wstring> m_images;
};

// How long a sweep may go on once the program has ended.
constexpr DWORD kSweepGraceMs = 2000;
Sweep *g_sweep = nullptr;
HANDLE g_thread = nullptr;

DWORD WINAPI sweepThread(void *sweep)
{
    // Low CPU and disk priority: the program comes first.
    SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
    static_cast<Sweep *>(sweep)->run();
    return 0;
}

} // namespace

namespace platform {

bool makePrivateDirectory(Context &ctx, const NativeString &base, std::string &error)
{
    win::PrivateSecurity security;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::uint64_t seed = static_cast<std::uint64_t>(counter.QuadPart) ^
                         (std::uint64_t{GetCurrentProcessId()} << 32) ^ GetTickCount64();
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        wchar_t name[40];
        const unsigned long pid = GetCurrentProcessId();
        const auto random = static_cast<unsigned long>(seed >> 33);
        wsprintfW(name, L"qsfx-%lx-%08lx", pid, random);
        const std::wstring path = base + L"\\" + name;
        const std::wstring lockPath = path + utf8ToWide(kRunLockSuffix);

        // The lock first, so the directory is never seen without it.
        HANDLE lock =
            CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                        security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            if (ctx.trace)
                trace(ctx, "no run lock: " + win::lastErrorText(lockPath));
        }
        if (!CreateDirectoryW(path.c_str(), security.attributes())) {
            const DWORD code = GetLastError();
            const std::string reason = win::lastErrorText(path);
            if (lock != INVALID_HANDLE_VALUE) {
                markForDeletion(lock);
                CloseHandle(lock);
            }
            if (code == ERROR_ALREADY_EXISTS)
                continue;
            error = reason;
            return false;
        }
        ctx.root = path;
        if (lock == INVALID_HANDLE_VALUE)
            return true;
        // The lock names the directory just made.
        std::string text;
        HANDLE dir = CreateFileW(
            path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (dir != INVALID_HANDLE_VALUE) {
            text = directoryLockText(dir);
            CloseHandle(dir);
        }
        DWORD done = 0;
        if (text.empty() ||
            !WriteFile(lock, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) ||
            done != text.size()) {
            if (ctx.trace)
                trace(ctx, "no run lock: " + win::lastErrorText(lockPath));
            markForDeletion(lock);
            CloseHandle(lock);
            return true;
        }
        ctx.lockPath = lockPath;
        ctx.lock = reinterpret_cast<std::intptr_t>(lock);
        return true;
    }
    error = "no unused name found";
    return false;
}

void releaseRunLock(Context &ctx, bool folderGone)
{
    if (ctx.lock != -1) {
        const HANDLE lock = reinterpret_cast<HANDLE>(ctx.lock);
        if (folderGone)
            markForDeletion(lock);
        CloseHandle(lock);
        ctx.lock = -1;
        ctx.lockPath.clear();
    }
    win::sessionRunFinished();
}

void startSweep(const Context &ctx)
{
    g_sweep = new Sweep(ctx);
    g_stop = 0;
    g_thread = CreateThread(nullptr, 256 * 1024, sweepThread, g_sweep,
                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!g_thread) {
        delete g_sweep;
        g_sweep = nullptr;
    }
}

void finishSweep(const Context &)
{
    if (!g_sweep)
        return;
    // No grace while the session ends: the system gives the module seconds.
    const DWORD grace = win::sessionEnding() ? 0 : kSweepGraceMs;
    if (WaitForSingleObject(g_thread, grace) != WAIT_OBJECT_0) {
        InterlockedExchange(&g_stop, 1);
        WaitForSingleObject(g_thread, INFINITE);
    }
    CloseHandle(g_thread);
    g_thread = nullptr;
    delete g_sweep;
    g_sweep = nullptr;
}

} // namespace platform
} // namespace quillon::sfx
