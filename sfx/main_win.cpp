// Entry point of the Windows self-extractor module: restricts the DLL search,
// fills the context and runs it.
#include "launcher_win.h"

#include <cstdlib>

#ifdef __GLIBCXX__
// The default handler demangles type names for its message: 45 KB of code a
// GUI program without a console never shows.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
#endif

namespace {

bool environmentFlag(const wchar_t *name, std::wstring &value)
{
    wchar_t buffer[1024];
    const DWORD len = GetEnvironmentVariableW(name, buffer, 1024);
    if (len == 0 || len >= 1024)
        return false;
    value.assign(buffer, len);
    return value != L"0";
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    using namespace quillon::sfx;
    // First of all: load DLLs from the system directory only, never from the
    // folder the output was downloaded to.
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
        using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);
        const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDefault)
            setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryW(L"");

    Context ctx;
    std::wstring value;
    if (environmentFlag(L"QUILLON_SFX_TRACE", value)) {
        ctx.trace = true;
        if (value != L"1")
            ctx.traceFile = value;
    }
    ctx.noUi = environmentFlag(L"QUILLON_SFX_NOUI", value);

    std::wstring self(MAX_PATH, L'\0');
    while (true) {
        const DWORD len = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (len == 0) {
            self.clear();
            break;
        }
        if (len < self.size()) {
            self.resize(len);
            break;
        }
        if (self.size() > 32768)
            break;
        self.resize(self.size() * 2);
    }
    ctx.ownPath = self;
    ctx.argumentTail = commandLineTail(GetCommandLineW());
    win::watchSessionEnd(ctx);
    return run(ctx);
}
