// Windows platform layer of the self-extractor module.
// Wide-character calls and "\\?\" long paths throughout.
#include "launcher_win.h"

#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

namespace quillon::sfx {
namespace {

// Owns a handle and closes it on every way out; null and
// INVALID_HANDLE_VALUE hold nothing.
class Handle
{
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle()
    {
        if (*this)
            CloseHandle(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const
    {
        return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle;
};

// The system's text for `code`; `subject` (a path) takes the place of its
// "%1", other inserts are dropped.
std::wstring systemErrorText(DWORD code, const std::wstring &subject)
{
    wchar_t *buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD len =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = len && buffer ? std::wstring(buffer, len) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
        text.pop_back();
    return fillMessageInserts(text, subject) + L" (" + utf8ToWide(std::to_string(code)) + L")";
}

} // namespace

std::string win::lastErrorText(const std::wstring &subject)
{
    return wideToUtf8(systemErrorText(GetLastError(), subject));
}

namespace {

using win::lastErrorText;

// "\\?\C:\x" / "\\?\UNC\server\share\x" from a full path.
std::wstring longPath(const std::wstring &path)
{
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    std::wstring full = path;
    const DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need) {
        std::wstring buffer(need, L'\0');
        const DWORD got = GetFullPathNameW(path.c_str(), need, buffer.data(), nullptr);
        if (got && got < need) {
            buffer.resize(got);
            full = buffer;
        }
    }
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A form of `path` for calls limited to MAX_PATH (process start, working
// directory): without "\\?\" when it fits, else its 8.3 short form when that
// fits, else the long form as it is.
std::wstring plainPath(const std::wstring &path)
{
    const auto strip = [](const std::wstring &p) {
        if (p.rfind(L"\\\\?\\UNC\\", 0) == 0)
            return L"\\\\" + p.substr(8);
        if (p.rfind(L"\\\\?\\", 0) == 0)
            return p.substr(4);
        return p;
    };
    const std::wstring plain = strip(path);
    if (plain.size() < MAX_PATH - 12)
        return plain;
    const DWORD need = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (need) {
        std::wstring buffer(need, L'\0');
        const DWORD got = GetShortPathNameW(path.c_str(), buffer.data(), need);
        if (got && got < need) {
            buffer.resize(got);
            const std::wstring shortPlain = strip(buffer);
            if (shortPlain.size() < MAX_PATH - 12)
                return shortPlain;
        }
    }
    return path;
}

std::wstring childPath(const std::wstring &root, const std::string &relative)
{
    std::wstring rel = utf8ToWide(relative);
    std::replace(rel.begin(), rel.end(), L'/', L'\\');
    return root + L"\\" + rel;
}

bool makeDirectories(const std::wstring &root, const std::string &relative, bool includeLast)
{
    std::size_t pos = 0;
    while (true) {
        const std::size_t slash = relative.find('/', pos);
        if (slash == std::string::npos && !includeLast)
            return true;
        const std::wstring dir = childPath(root, relative.substr(0, slash));
        if (!CreateDirectoryW(dir.c_str(), nullptr)) {
            const DWORD attributes = GetFileAttributesW(dir.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES ||
                (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                return false;
        }
        if (slash == std::string::npos)
            return true;
        pos = slash + 1;
    }
}

// Reads the Mark-of-the-Web of the running file, if it has one.
std::string readZoneIdentifier(const std::wstring &ownPath)
{
    const std::wstring stream = longPath(ownPath) + L":Zone.Identifier";
    HANDLE file = CreateFileW(stream.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string data(64 * 1024, '\0');
    DWORD got = 0;
    if (!ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr))
        got = 0;
    CloseHandle(file);
    data.resize(got);
    return data;
}

class FileSink : public sevenzip::Sink
{
public:
    FileSink(const Context &ctx, const std::wstring &root)
        : m_ctx(ctx), m_root(root), m_zone(readZoneIdentifier(ctx.ownPath))
    {
        m_buffer.reserve(kBufferSize);
        if (ctx.trace && !m_zone.empty())
            trace(ctx, "copying the Zone.Identifier stream to every file");
    }
    ~FileSink() override
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    FileSink(const FileSink &) = delete;
    FileSink &operator=(const FileSink &) = delete;

    bool directory(const sevenzip::Entry &entry) override
    {
        return makeDirectories(m_root, entry.path, true);
    }

    bool beginFile(const sevenzip::Entry &entry) override
    {
        if (!makeDirectories(m_root, entry.path, false))
            return false;
        m_path = childPath(m_root, entry.path);
        m_file = CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (m_file == INVALID_HANDLE_VALUE && m_ctx.trace)
            trace(m_ctx, "cannot create " + entry.path + ": " + lastErrorText(m_path));
        m_buffer.clear();
        return m_file != INVALID_HANDLE_VALUE;
    }

    bool write(const std::uint8_t *data, std::size_t size) override
    {
        if (m_buffer.size() + size > kBufferSize && !flush())
            return false;
        if (size >= kBufferSize)
            return writeAll(data, size);
        m_buffer.insert(m_buffer.end(), data, data + size);
        return true;
    }

    bool endFile(const sevenzip::Entry &entry) override
    {
        bool ok = flush();
        if (ok && entry.hasModificationTime) {
            FILETIME time;
            time.dwLowDateTime = static_cast<DWORD>(entry.modificationTime);
            time.dwHighDateTime = static_cast<DWORD>(entry.modificationTime >> 32);
            SetFileTime(m_file, nullptr, nullptr, &time);
        }
        ok = CloseHandle(m_file) && ok;
        m_file = INVALID_HANDLE_VALUE;
        if (ok && !m_zone.empty())
            writeZone();
        if (ok && entry.hasAttributes) {
            const DWORD keep =
                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if (const DWORD attributes = entry.attributes & keep)
                SetFileAttributesW(m_path.c_str(), attributes);
        }
        return ok;
    }

private:
    static constexpr std::size_t kBufferSize = 256 * 1024;

    bool writeAll(const std::uint8_t *data, std::size_t size)
    {
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD done = 0;
            if (!WriteFile(m_file, data, chunk, &done, nullptr) || done == 0)
                return false;
            data += done;
            size -= done;
        }
        return true;
    }

    bool flush()
    {
        const bool ok = writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

    void writeZone()
    {
        const std::wstring stream = m_path + L":Zone.Identifier";
        HANDLE file = CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD done = 0;
        WriteFile(file, m_zone.data(), static_cast<DWORD>(m_zone.size()), &done, nullptr);
        CloseHandle(file);
    }

    const Context &m_ctx;
    std::wstring m_root;
    std::string m_zone;
    std::wstring m_path;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace

win::PrivateSecurity::PrivateSecurity()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    wchar_t *sid = nullptr;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid)) {
        const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)";
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                             &m_descriptor, nullptr);
        LocalFree(sid);
    }
    CloseHandle(token);
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

win::PrivateSecurity::~PrivateSecurity()
{
    if (m_descriptor)
        LocalFree(m_descriptor);
}

bool win::removeDirectoryTree(const std::wstring &dir, const volatile LONG *stop)
{
    bool ok = true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (stop && *stop) {
                ok = false;
                break;
            }
            const std::wstring path = dir + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A junction or link: remove the link, never what it points to.
                const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                                         ? RemoveDirectoryW(path.c_str())
                                         : DeleteFileW(path.c_str());
                ok = removed && ok;
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok = removeDirectoryTree(path, stop) && ok;
            } else {
                ok = DeleteFileW(path.c_str()) && ok;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (!RemoveDirectoryW(dir.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        ok = false;
    return ok;
}

namespace {

using win::PrivateSecurity;
using win::removeDirectoryTree;

void writeStderr(const std::string &text)
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    DWORD done = 0;
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

} // namespace

namespace platform {

std::unique_ptr<Input> openInput(const NativeString &path)
{
    return openFileInput(longPath(path));
}

NativeString tempBase()
{
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD len = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (len > buffer.size()) {
        buffer.assign(len, L'\0');
        len = GetTempPathW(len, buffer.data());
    }
    buffer.resize(len < buffer.size() ? len : 0);
    while (!buffer.empty() && (buffer.back() == L'\\' || buffer.back() == L'/'))
        buffer.pop_back();
    if (buffer.empty())
        buffer = L"C:\\Windows\\Temp";
    return longPath(buffer);
}

bool freeSpace(const NativeString &dir, std::uint64_t &bytes)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW((dir + L"\\").c_str(), &available, nullptr, nullptr))
        return false;
    bytes = available.QuadPart;
    return true;
}

std::unique_ptr<sevenzip::Sink> makeSink(Context &ctx, const NativeString &root)
{
    return std::make_unique<FileSink>(ctx, root);
}

// True for processes that serve the session rather than the program: the
// console host the system starts for a console program, and the desktop
// process some systems start on demand for the first window. Both end on
// their own once no process uses them, later than the program, so they are
// never waited for.
bool servesTheSession(DWORD processId, std::string &name)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    wchar_t buffer[1024];
    DWORD length = 1024;
    bool serves = false;
    if (QueryFullProcessImageNameW(process, 0, buffer, &length)) {
        std::wstring path(buffer, length);
        const std::size_t slash = path.find_last_of(L"\\/");
        std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
        for (wchar_t &c : file)
            c = static_cast<wchar_t>(towlower(c));
        serves = file == L"conhost.exe" || file == L"explorer.exe";
        name = wideToUtf8(path);
    }
    CloseHandle(process);
    return serves;
}

// Processes still running in the job, those serving the session left out.
DWORD processesLeftInJob(HANDLE job, std::string &names)
{
    names.clear();
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, nullptr))
        return 0;
    if (accounting.ActiveProcesses == 0)
        return 0;
    constexpr DWORD kMaxIds = 256;
    std::vector<unsigned char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) +
                                      kMaxIds * sizeof(ULONG_PTR));
    auto *list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST *>(buffer.data());
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                   static_cast<DWORD>(buffer.size()), nullptr) ||
        list->NumberOfProcessIdsInList < list->NumberOfAssignedProcesses)
        return accounting.ActiveProcesses;
    DWORD count = 0;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        std::string name;
        if (!servesTheSession(static_cast<DWORD>(list->ProcessIdList[i]), name)) {
            ++count;
            names += (names.empty() ? "" : ", ") + (name.empty() ? std::string("?") : name);
        }
    }
    return count;
}

bool runProgram(Context &ctx, const std::string &relativeExe, int &exitCode, std::string &error)
{
    const std::wstring exe = plainPath(childPath(ctx.root, relativeExe));
    const std::wstring directory = plainPath(ctx.root);
    std::wstring commandLine = L"\"" + exe + L"\"" + ctx.argumentTail;
    if (ctx.trace)
        trace(ctx, "command line: " + wideToUtf8(commandLine));

    // The job lets us wait for every process the program starts.
    const Handle job(CreateJobObjectW(nullptr, nullptr));
    const Handle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (job && port) {
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
        association.CompletionKey = job.get();
        association.CompletionPort = port.get();
        SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation,
                                &association, sizeof association);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr, directory.c_str(),
                        &startup, &info)) {
        error = lastErrorText(exe);
        return false;
    }
    const Handle process(info.hProcess);
    bool inJob = job && AssignProcessToJobObject(job.get(), process.get());
    if (!inJob && ctx.trace)
        trace(ctx, "not in a job (" + lastErrorText() + "): waiting for the program only");
    win::sessionProgramStarted(inJob ? job.get() : nullptr, process.get());
    {
        const Handle thread(info.hThread);
        ResumeThread(thread.get());
    }
    // The program runs: the sweep costs it no time.
    startSweep(ctx);

    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    exitCode = static_cast<int>(code);

    while (inJob) {
        std::string names;
        const DWORD remaining = processesLeftInJob(job.get(), names);
        if (remaining == 0)
            break;
        if (ctx.trace)
            trace(ctx, "waiting for " + std::to_string(remaining) +
                           " process(es) the program started: " + names);
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        if (!port || !GetQueuedCompletionStatus(port.get(), &message, &key, &overlapped, 500)) {
            if (!port)
                Sleep(200);
        }
    }
    finishSweep(ctx);
    return true;
}

bool removeTree(const Context &ctx, const NativeString &root)
{
    // Files may stay locked briefly after their process ended (scanners, the
    // loader); retry for a few seconds.
    // A session that ends leaves a few seconds: what remains is swept later.
    const int attempts = win::sessionEnding() ? 5 : 30;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (removeDirectoryTree(root) ||
            GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        if (ctx.trace && attempt == 0)
            trace(ctx, "files still in use, retrying the clean-up");
        Sleep(200);
    }
    return false;
}

void showError(const Context &ctx, const std::string &title, const std::string &message)
{
    writeStderr(title + ": " + message + "\n");
    if (ctx.noUi)
        return;
    MessageBoxW(nullptr, utf8ToWide(message).c_str(), utf8ToWide(title).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void writeTrace(const Context &ctx, const std::string &line)
{
    const std::string text = "quillon-sfx: " + line + "\n";
    if (!ctx.traceFile.empty()) {
        HANDLE file =
            CreateFileW(ctx.traceFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
            CloseHandle(file);
        }
        return;
    }
    OutputDebugStringW(utf8ToWide(text).c_str());
    writeStderr(text);
}

} // namespace platform
} // namespace quillon::sfx
