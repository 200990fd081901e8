// Windows module: the end of the session. Log-off and shutdown reach a
// program through its top-level windows, so the module keeps a hidden one on
// a thread of its own. When the session ends, the program (told by the
// system as well) gets a moment to close, then its processes are ended and
// the waiting run cleans up before the handler returns, after which the
// system ends the module.
#include "launcher_win.h"

namespace quillon::sfx::win {
namespace {

constexpr DWORD kCloseGraceMs = 2000;
constexpr DWORD kCleanUpMs = 2500;

struct SessionState
{
    CRITICAL_SECTION lock;
    const Context *ctx = nullptr;
    HANDLE job = nullptr;
    HANDLE process = nullptr;
    HANDLE finished = nullptr; // set once the run has cleaned up
    volatile LONG ending = 0;
};

SessionState g_session;

HANDLE duplicate(HANDLE handle)
{
    HANDLE copy = nullptr;
    if (!handle || !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0,
                                    FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

void endForSession()
{
    InterlockedExchange(&g_session.ending, 1);
    if (g_session.ctx && g_session.ctx->trace)
        trace(*g_session.ctx, "the session ends: ending the program");
    EnterCriticalSection(&g_session.lock);
    const HANDLE job = g_session.job;
    const HANDLE process = g_session.process;
    LeaveCriticalSection(&g_session.lock);
    if (process) {
        WaitForSingleObject(process, kCloseGraceMs);
        if (job)
            TerminateJobObject(job, ERROR_SHUTDOWN_IN_PROGRESS);
        else
            TerminateProcess(process, ERROR_SHUTDOWN_IN_PROGRESS);
    }
    if (g_session.finished)
        WaitForSingleObject(g_session.finished, kCleanUpMs);
}

LRESULT CALLBACK sessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            endForSession();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

DWORD WINAPI sessionThread(void *)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = sessionWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"QuillonSfxSession";
    if (!RegisterClassW(&windowClass)) {
        if (g_session.ctx->trace)
            trace(*g_session.ctx, "no window for the end of the session: " + lastErrorText());
        return 0;
    }
    // Top-level and hidden: message-only windows hear no session messages.
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP,
                                        0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window) {
        if (g_session.ctx->trace)
            trace(*g_session.ctx, "no window for the end of the session: " + lastErrorText());
        return 0;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

} // namespace

void watchSessionEnd(Context &ctx)
{
    InitializeCriticalSection(&g_session.lock);
    g_session.ctx = &ctx;
    g_session.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Asked after the programs of the session, so the program goes first.
    SetProcessShutdownParameters(0x100, 0);
    if (HANDLE thread = CreateThread(nullptr, 64 * 1024, sessionThread, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr))
        CloseHandle(thread);
}

void sessionProgramStarted(HANDLE job, HANDLE process)
{
    if (!g_session.ctx)
        return;
    EnterCriticalSection(&g_session.lock);
    g_session.job = duplicate(job);
    g_session.process = duplicate(process);
    LeaveCriticalSection(&g_session.lock);
}

void sessionRunFinished()
{
    if (g_session.finished)
        SetEvent(g_session.finished);
}

bool sessionEnding()
{
    return g_session.ending != 0;
}

} // namespace quillon::sfx::win
