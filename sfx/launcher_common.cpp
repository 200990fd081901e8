#include "launcher.h"

#include <algorithm>

namespace quillon::sfx {

// Builds the trace text only when tracing is on.
#define QSFX_TRACE(ctx, text)                                                                      \
    do {                                                                                           \
        if ((ctx).trace)                                                                           \
            trace((ctx), (text));                                                                  \
    } while (false)

void trace(const Context &ctx, const std::string &line)
{
    if (ctx.trace)
        platform::writeTrace(ctx, line);
}

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string fileStem(const NativeString &path)
{
    const std::string name = [&] {
#ifdef _WIN32
        const std::string utf8 = wideToUtf8(path);
#else
        const std::string &utf8 = path;
#endif
        const auto slash = utf8.find_last_of("/\\");
        return slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
    }();
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string megabytes(std::uint64_t bytes)
{
    return std::to_string((bytes + 1024 * 1024 - 1) / (1024 * 1024)) + " MB";
}

} // namespace

std::wstring commandLineTail(const std::wstring &commandLine)
{
    bool quoted = false;
    std::size_t i = 0;
    for (; i < commandLine.size(); ++i) {
        const wchar_t c = commandLine[i];
        if (c == L'"')
            quoted = !quoted;
        else if (!quoted && (c == L' ' || c == L'\t'))
            break;
    }
    return commandLine.substr(i);
}

std::wstring fillMessageInserts(const std::wstring &message, const std::wstring &first)
{
    const auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    const auto isPunctuation = [](wchar_t c) {
        return c == L'.' || c == L',' || c == L';' || c == L':' || c == L')';
    };
    std::wstring out;
    out.reserve(message.size() + first.size());
    for (std::size_t i = 0; i < message.size();) {
        if (message[i] != L'%' || i + 1 >= message.size() || !isDigit(message[i + 1]) ||
            message[i + 1] == L'0') {
            out.push_back(message[i++]);
            continue;
        }
        // "%N" or "%NN", then an optional "!format!".
        std::size_t end = i + 2;
        unsigned number = static_cast<unsigned>(message[i + 1] - L'0');
        if (end < message.size() && isDigit(message[end])) {
            number = number * 10 + static_cast<unsigned>(message[end] - L'0');
            ++end;
        }
        if (end < message.size() && message[end] == L'!') {
            const std::size_t close = message.find(L'!', end + 1);
            if (close != std::wstring::npos)
                end = close + 1;
        }
        i = end;
        if (number == 1 && !first.empty()) {
            out += first;
            continue;
        }
        const bool atEnd = i >= message.size();
        const bool blankBefore = !out.empty() && out.back() == L' ';
        if (blankBefore && (atEnd || message[i] == L' ' || isPunctuation(message[i])))
            out.pop_back();
        else if (out.empty() && !atEnd && message[i] == L' ')
            ++i;
    }
    return out;
}

bool isSafeRelativePath(const std::string &path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\')
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (const char c : part) {
            // ':' would name a drive or an alternate data stream.
            if (static_cast<unsigned char>(c) < 0x20 || c == ':')
                return false;
        }
        start = end + 1;
    }
    return true;
}

std::string runLockText(std::uint64_t volume, std::uint64_t fileIndex)
{
    const auto hex = [](std::uint64_t value) {
        static const char digits[] = "0123456789abcdef";
        std::string text;
        do {
            text.insert(text.begin(), digits[value & 15]);
            value >>= 4;
        } while (value);
        return text;
    };
    return "quillon-sfx run " + hex(volume) + "-" + hex(fileIndex) + "\n";
}

bool isRunLockText(const std::string &text)
{
    const std::string prefix = "quillon-sfx run ";
    return text.size() <= kRunLockMaxSize && text.compare(0, prefix.size(), prefix) == 0 &&
           text.back() == '\n';
}

bool isRunFolderName(const std::string &name)
{
    constexpr std::size_t prefix = 5; // "qsfx-"
    if (name.compare(0, prefix, "qsfx-") != 0 || name.size() < prefix + 6 ||
        name.size() > prefix + 40)
        return false;
    return std::all_of(name.begin() + prefix, name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-';
    });
}

std::string runFolderOfLock(const std::string &lockName)
{
    const std::string suffix = kRunLockSuffix;
    if (lockName.size() <= suffix.size() ||
        lockName.compare(lockName.size() - suffix.size(), suffix.size(), suffix) != 0)
        return {};
    std::string folder = lockName.substr(0, lockName.size() - suffix.size());
    return isRunFolderName(folder) ? folder : std::string();
}

std::string findExecutable(const std::vector<sevenzip::Entry> &entries, const std::string &name,
                           bool caseInsensitive)
{
    std::string wanted = name;
    std::replace(wanted.begin(), wanted.end(), '\\', '/');
    for (const auto &entry : entries) {
        if (entry.isDirectory || entry.path.size() != wanted.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < wanted.size() && same; ++i) {
            same = caseInsensitive ? asciiLower(entry.path[i]) == asciiLower(wanted[i])
                                   : entry.path[i] == wanted[i];
        }
        if (same)
            return entry.path;
    }
    return {};
}

namespace {

#ifdef _WIN32
// Paths as users know them: without the "\\?\" long-path prefix.
std::string display(const NativeString &path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + wideToUtf8(path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return wideToUtf8(path.substr(4));
    return wideToUtf8(path);
}
#else
const std::string &display(const NativeString &path)
{
    return path;
}
#endif

// Removes the private directory and lets go of its lock; a directory that
// cannot be removed keeps its lock file for a later start to sweep.
void finishRun(Context &ctx)
{
    if (ctx.root.empty())
        return;
    const bool removed = platform::removeTree(ctx, ctx.root);
    if (!removed)
        QSFX_TRACE(ctx, "could not remove " + display(ctx.root) + " completely");
    else
        QSFX_TRACE(ctx, "removed " + display(ctx.root));
    platform::releaseRunLock(ctx, removed);
    ctx.root.clear();
}

int fail(Context &ctx, const std::string &title, const std::string &message)
{
    QSFX_TRACE(ctx, "error: " + message);
    finishRun(ctx);
    platform::showError(ctx, title, message);
    return kLauncherFailure;
}

} // namespace

int run(Context &ctx)
{
    std::string title = fileStem(ctx.ownPath);
    QSFX_TRACE(ctx, "launcher: " + display(ctx.ownPath));

    const auto input = platform::openInput(ctx.ownPath);
    if (!input)
        return fail(ctx, title, "Cannot read the program file " + display(ctx.ownPath) + ".");
    QSFX_TRACE(ctx, "file size " + std::to_string(input->size()) + ", image ends at " +
                        std::to_string(imageEnd(*input)));

    Error error = sevenzip::locateModulePayload(*input, ctx.payload);
    if (error.failed())
        return fail(ctx, title, "This file holds no packed application (" + error.message() + ").");
    const sevenzip::SfxConfig &config = ctx.payload.config;
    if (!config.title.empty())
        title = config.title;
    QSFX_TRACE(ctx, "configuration at " + std::to_string(ctx.payload.configOffset) +
                        ", archive at " + std::to_string(ctx.payload.archiveOffset) +
                        ", ExecuteFile \"" + config.executeFile + "\"");

    sevenzip::Archive archive;
    sevenzip::Options options;
#ifdef _WIN32
    options.mapping = sevenzip::NameMapping::Windows;
    const bool caseInsensitive = true;
#else
    options.mapping = sevenzip::NameMapping::Host;
    const bool caseInsensitive = false;
#endif
    error = archive.open(*input, ctx.payload.archiveOffset, options);
    if (error.failed())
        return fail(ctx, title, "The packed application is damaged: " + error.message() + ".");

    if (!isSafeRelativePath(config.executeFile))
        return fail(ctx, title,
                    "The program to start (\"" + config.executeFile + "\") is not a valid name.");
    const std::string executable =
        findExecutable(archive.entries(), config.executeFile, caseInsensitive);
    if (executable.empty())
        return fail(ctx, title,
                    "The program to start (\"" + config.executeFile + "\") is not in the package.");

    ctx.base = platform::tempBase();
    const NativeString &base = ctx.base;
    // Room for the content plus a cluster of slack per entry.
    const std::uint64_t entryCount = archive.entries().size();
    const std::uint64_t total = archive.totalUnpackSize();
    const std::uint64_t slack = (entryCount + 1) * 4096;
    const std::uint64_t needed = total > UINT64_MAX - slack ? UINT64_MAX : total + slack;
    std::uint64_t available = 0;
    if (platform::freeSpace(base, available)) {
        QSFX_TRACE(ctx, "needs " + std::to_string(needed) + " bytes, " + std::to_string(available) +
                            " free in " + display(base));
        if (available < needed)
            return fail(ctx, title,
                        "Not enough disk space to unpack the application: it needs " +
                            megabytes(needed) + ", but only " + megabytes(available) +
                            " are free in " + display(base) + ".");
    }

    std::string reason;
    if (!platform::makePrivateDirectory(ctx, base, reason))
        return fail(ctx, title,
                    "Cannot create a temporary folder in " + display(base) + ": " + reason + ".");
    QSFX_TRACE(ctx, "extracting into " + display(ctx.root));

    {
        const auto sink = platform::makeSink(ctx, ctx.root);
        error = archive.extract(*sink);
    }
    if (error.failed())
        return fail(ctx, title, "Cannot unpack the application: " + error.message() + ".");
    QSFX_TRACE(ctx, "extracted " + std::to_string(entryCount) + " entries, starting " + executable);

    int exitCode = 0;
    if (!platform::runProgram(ctx, executable, exitCode, reason))
        return fail(ctx, title, "Cannot start " + config.executeFile + ": " + reason + ".");
    QSFX_TRACE(ctx, "program ended with exit code " + std::to_string(exitCode));

    finishRun(ctx);
    return exitCode;
}

} // namespace quillon::sfx
