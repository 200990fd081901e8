// Fuzzes what the launcher parses itself: the PE/ELF headers that give the end
// of its own image, argv[0] of a Windows command line, ExecuteFile names, the
// inserts of system messages, the UTF-8 conversions, and the names and texts
// of the run locks found in the temporary folder.
#include "launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace quillon::sfx;
    if (size > (1u << 20))
        return 0;
    quillon::SpanInput input(data, size);
    const std::uint64_t end = quillon::imageEnd(input);
    if (end > size)
        __builtin_trap();
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::wstring wide = quillon::utf8ToWide(text);
    const std::wstring tail = commandLineTail(wide);
    if (tail.size() > wide.size())
        __builtin_trap();
    if (quillon::utf8ToWide(quillon::wideToUtf8(wide)) != wide && sizeof(wchar_t) == 4)
        __builtin_trap(); // valid code points survive a round trip
    isSafeRelativePath(text);
    const std::string folder = runFolderOfLock(text);
    if (!folder.empty() && (!isRunFolderName(folder) || folder.size() >= text.size()))
        __builtin_trap();
    isRunLockText(text);
    // Without a value every insert goes, so the text only shrinks.
    if (fillMessageInserts(wide, std::wstring()).size() > wide.size())
        __builtin_trap();
    return 0;
}
