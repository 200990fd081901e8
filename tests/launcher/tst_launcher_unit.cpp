// The launcher's pure helpers: command-line tail, system message inserts,
// path checks, executable lookup, image end (PE and ELF, sane and hostile).
#include "launcher.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace quillon;
using namespace quillon::sfx;

namespace {

int g_failures = 0;

void check(bool condition, const std::string &what)
{
    if (!condition) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++g_failures;
    }
}

class MemoryInput : public Input
{
public:
    explicit MemoryInput(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}
    std::uint64_t size() const override { return m_data.size(); }
    bool readAt(std::uint64_t offset, void *buffer, std::size_t count) override
    {
        if (!rangeInside(offset, count, m_data.size()))
            return false;
        std::memcpy(buffer, m_data.data() + offset, count);
        return true;
    }

private:
    std::vector<std::uint8_t> m_data;
};

std::vector<std::uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void put32(std::vector<std::uint8_t> &data, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void testCommandLineTail()
{
    struct Case
    {
        const wchar_t *line;
        const wchar_t *tail;
    };
    const Case cases[] = {
        {L"app.exe", L""},
        {L"app.exe a b", L" a b"},
        {L"\"C:\\Program Files\\app.exe\" \"x y\" z", L" \"x y\" z"},
        {L"\"C:\\a b\\app.exe\"", L""},
        {L"app.exe\t\"q\\\"uote\"  \"\"", L"\t\"q\\\"uote\"  \"\""},
        // argv[0] takes no escapes: the backslash before the quote ends nothing.
        {L"\"C:\\dir\\\" rest", L" rest"},
        {L"C:\\x\"a b\"y.exe tail", L" tail"},
        {L"", L""},
    };
    for (const auto &c : cases)
        check(commandLineTail(c.line) == c.tail, "commandLineTail(" + wideToUtf8(c.line) + ")");
}

void testFillMessageInserts()
{
    struct Case
    {
        const wchar_t *message;
        const wchar_t *first;
        const wchar_t *filled;
    };
    const Case cases[] = {
        {L"Bad EXE format for %1", L"C:\\t\\app.exe", L"Bad EXE format for C:\\t\\app.exe"},
        {L"%1 is not a valid Win32 application", L"C:\\a b\\app.exe",
         L"C:\\a b\\app.exe is not a valid Win32 application"},
        {L"The system cannot find the file specified", L"x.exe",
         L"The system cannot find the file specified"},
        {L"%1!s! failed", L"x", L"x failed"},
        // Inserts beyond the first have no value here: dropped with their blank.
        {L"Cannot move %1 to %2.", L"a", L"Cannot move a to."},
        {L"%2 then %1", L"a", L"then a"},
        {L"%12 and %1", L"a", L"and a"},
        {L"Copy %1 to %2!s! now", L"a", L"Copy a to now"},
        {L"Bad EXE format for %1", L"", L"Bad EXE format for"},
        // The path is not scanned again; other percent signs stay.
        {L"Bad EXE format for %1", L"C:\\%2\\%1.exe", L"Bad EXE format for C:\\%2\\%1.exe"},
        {L"50% of %1, %0 and %", L"a", L"50% of a, %0 and %"},
        {L"Unclosed %1!s format", L"a", L"Unclosed a!s format"},
        {L"", L"a", L""},
    };
    for (const auto &c : cases)
        check(fillMessageInserts(c.message, c.first) == c.filled,
              "fillMessageInserts(" + wideToUtf8(c.message) + ") gave " +
                  wideToUtf8(fillMessageInserts(c.message, c.first)));
}

void testSafeRelativePath()
{
    struct Case
    {
        const char *path;
        bool safe;
    };
    const Case cases[] = {
        {"app.exe", true},
        {"bin/app.exe", true},
        {"bin\\app.exe", true},
        {"中文/程序.exe", true},
        {"", false},
        {"/etc/passwd", false},
        {"\\app.exe", false},
        {"C:\\app.exe", false},
        {"C:app.exe", false},
        {"../app.exe", false},
        {"bin/../../app.exe", false},
        {"a\\..\\..\\b", false},
        {"./app.exe", false},
        {"bin//app.exe", false},
        {"app.exe:stream", false},
        {"\\\\server\\share", false},
        {"app\x01.exe", false},
    };
    for (const auto &c : cases)
        check(isSafeRelativePath(c.path) == c.safe,
              std::string("isSafeRelativePath(") + c.path + ")");
}

void testFindExecutable()
{
    std::vector<sevenzip::Entry> entries(3);
    entries[0].path = "bin";
    entries[0].isDirectory = true;
    entries[1].path = "bin/App.exe";
    entries[2].path = "readme.txt";
    check(findExecutable(entries, "bin/App.exe", false) == "bin/App.exe", "exact name");
    check(findExecutable(entries, "bin\\App.exe", false) == "bin/App.exe", "backslash separator");
    check(findExecutable(entries, "BIN\\app.EXE", true) == "bin/App.exe", "Windows ignores case");
    check(findExecutable(entries, "bin/app.exe", false).empty(), "host keeps case");
    check(findExecutable(entries, "bin", true).empty(), "a directory is not a program");
    check(findExecutable(entries, "missing.exe", true).empty(), "absent");
}

void testRunLockNames()
{
    struct Case
    {
        const char *lockName;
        const char *folder; // "" when it is none of ours
    };
    const Case cases[] = {
        {"qsfx-118-10236f51.lock", "qsfx-118-10236f51"}, // the module's names
        {"qsfx-Ab3xZ9.lock", "qsfx-Ab3xZ9"},             // the host launcher's
        {"qsfx-118-10236f51", ""},                       // the folder itself
        {"qsfx-118-10236f51.lock.lock", ""},
        {"qsfx-abc.lock", ""},      // too short a name
        {"qsfx-../x1.lock", ""},    // no separators
        {"qsfx-a\\bcdef.lock", ""}, // nor on Windows
        {"qsfx-abc def.lock", ""},
        {"QSFX-abcdef.lock", ""},
        {"xqsfx-abcdef.lock", ""},
        {".lock", ""},
        {"qsfx-0123456789012345678901234567890123456789.lock",
         "qsfx-0123456789012345678901234567890123456789"},
        {"qsfx-01234567890123456789012345678901234567890.lock", ""}, // too long
    };
    for (const auto &c : cases)
        check(runFolderOfLock(c.lockName) == c.folder, std::string("lock name ") + c.lockName);

    const std::string text = runLockText(0x803, 0x1f2e3d);
    check(text == "quillon-sfx run 803-1f2e3d\n", "lock text: " + text);
    check(runLockText(0, 0) == "quillon-sfx run 0-0\n", "lock text of zeros");
    check(isRunLockText(text), "a lock text is ours");
    check(!isRunLockText(text.substr(0, text.size() - 1)), "a cut lock text is not ours");
    check(!isRunLockText("quillon-sfx run"), "the marker alone is not ours");
    check(!isRunLockText("some other lock\n"), "another program's lock is not ours");
    check(!isRunLockText(""), "an empty lock is not ours");
    check(!isRunLockText("quillon-sfx run " + std::string(200, '1') + "\n"), "an overlong lock");
}

void testImageEndOfModule()
{
    const std::vector<std::uint8_t> module = readFile(QSFX_MODULE_FILE);
    check(module.size() > 4096, "module file readable");
    if (module.size() <= 4096)
        return;
    // The module has nothing appended: its image ends at its last byte, and
    // appended data does not move that end.
    MemoryInput plain(module);
    check(imageEnd(plain) == module.size(), "PE image end == module size");
    std::vector<std::uint8_t> withPayload = module;
    withPayload.resize(module.size() + 1000, 0x5A);
    MemoryInput appended(withPayload);
    check(imageEnd(appended) == module.size(), "PE image end ignores appended data");

    // Hostile headers: the search falls back to the start, without reading
    // out of bounds.
    const std::uint32_t lfanew =
        static_cast<std::uint32_t>(module[0x3C]) | static_cast<std::uint32_t>(module[0x3D]) << 8;
    struct Mutation
    {
        const char *name;
        std::size_t at;
        std::uint32_t value;
    };
    const Mutation mutations[] = {
        {"e_lfanew past the end", 0x3C, 0xFFFFFFF0u},
        {"no PE signature", lfanew, 0x12345678u},
        {"section raw data past the end", 0, 0},
    };
    for (const auto &m : mutations) {
        std::vector<std::uint8_t> bad = module;
        if (m.at == 0) {
            // First section header: PointerToRawData far beyond the file.
            const std::uint32_t optionalSize = static_cast<std::uint32_t>(bad[lfanew + 20]) |
                                               static_cast<std::uint32_t>(bad[lfanew + 21]) << 8;
            put32(bad, lfanew + 24 + optionalSize + 20, 0x7FFFFFF0u);
        } else {
            put32(bad, m.at, m.value);
        }
        MemoryInput input(bad);
        check(imageEnd(input) == 0, std::string("hostile PE: ") + m.name);
    }
    for (const std::size_t cut : {std::size_t{2}, std::size_t{0x40}, std::size_t{lfanew + 10}}) {
        MemoryInput input(
            std::vector<std::uint8_t>(module.begin(), module.begin() + static_cast<long>(cut)));
        check(imageEnd(input) == 0, "truncated PE at " + std::to_string(cut));
    }
}

void testImageEndOfElf(const char *self)
{
    const std::vector<std::uint8_t> elf = readFile(self);
    MemoryInput plain(elf);
    check(imageEnd(plain) == elf.size(), "ELF image end == own size");
    std::vector<std::uint8_t> withPayload = elf;
    withPayload.insert(withPayload.end(), 300, 0x33);
    MemoryInput appended(withPayload);
    check(imageEnd(appended) == elf.size(), "ELF image end ignores appended data");
    std::vector<std::uint8_t> bad = elf;
    put32(bad, 0x28, 0xFFFFFF00u); // e_shoff (64-bit, low half)
    put32(bad, 0x2C, 0xFFFFFFFFu);
    MemoryInput hostile(bad);
    check(imageEnd(hostile) == 0, "hostile ELF section table offset");
    // Found by fuzz_launcher: a 32-bit ELF header cut short after e_shnum,
    // so the header itself (52 bytes) claims more than the file holds.
    std::vector<std::uint8_t> shortHeader = {0x7F, 'E', 'L', 'F', 1, 1};
    shortHeader.resize(50, 0);
    MemoryInput cut(shortHeader);
    check(imageEnd(cut) == 0, "ELF header longer than the file");
    MemoryInput other(std::vector<std::uint8_t>{'7', 'z', 0xBC, 0xAF, 0x27, 0x1C});
    check(imageEnd(other) == 0, "neither PE nor ELF");
}

} // namespace

int main(int, char **argv)
{
    testCommandLineTail();
    testFillMessageInserts();
    testSafeRelativePath();
    testFindExecutable();
    testRunLockNames();
    testImageEndOfModule();
    testImageEndOfElf(argv[0]);
    if (g_failures == 0)
        std::printf("all launcher unit checks passed\n");
    return g_failures == 0 ? 0 : 1;
}
