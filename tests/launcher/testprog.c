/* The program the launcher tests pack. It writes what it sees, as UTF-8, to
 * the file named by QSFX_TEST_REPORT:
 *   cwd=<working directory>
 *   data=<first line of data/input.txt, relative to the working directory>
 *   zone=<the ZoneId line of its own Zone.Identifier stream, or <none>>
 *   arg=<hex of each argument's UTF-8>       (one line per argument)
 * and exits with the number in QSFX_TEST_EXIT (default 0), after
 * QSFX_TEST_SLEEP milliseconds when that is set; with QSFX_TEST_CRASH=1 it
 * ends as a crashed program does (access violation), without clean-up.
 * With QSFX_TEST_CHILD=1 it starts a copy of itself with "--child" and exits at
 * once; the copy waits 1.5 s, then appends "child-data=<...>" (it can still
 * read its files) and exits. */
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char *utf8(const wchar_t *text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *out = malloc(size > 0 ? (size_t)size : 1);
    if (size <= 0 || !WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, NULL, NULL))
        out[0] = '\0';
    return out;
}

static void readData(char *out, size_t size)
{
    FILE *in = _wfopen(L"data\\input.txt", L"rb");
    out[0] = '\0';
    if (!in) {
        strcpy(out, "<missing>");
        return;
    }
    if (fgets(out, (int)size, in))
        out[strcspn(out, "\r\n")] = '\0';
    fclose(in);
}

static void readZone(char *out, size_t size)
{
    wchar_t stream[1100];
    char line[256];
    GetModuleFileNameW(NULL, stream, 1024);
    wcscat(stream, L":Zone.Identifier");
    strcpy(out, "<none>");
    FILE *in = _wfopen(stream, L"rb");
    if (!in)
        return;
    while (fgets(line, sizeof line, in)) {
        if (strncmp(line, "ZoneId=", 7) == 0) {
            line[strcspn(line, "\r\n")] = '\0';
            snprintf(out, size, "%s", line);
        }
    }
    fclose(in);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR cmd, int show)
{
    (void)instance;
    (void)previous;
    (void)cmd;
    (void)show;
    wchar_t reportPath[1024], buffer[1024];
    if (!GetEnvironmentVariableW(L"QSFX_TEST_REPORT", reportPath, 1024))
        return 100;
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    char data[512];
    readData(data, sizeof data);

    if (argc == 2 && wcscmp(argv[1], L"--child") == 0) {
        Sleep(1500);
        readData(data, sizeof data);
        FILE *report = _wfopen(reportPath, L"ab");
        if (report) {
            fprintf(report, "child-data=%s\n", data);
            fclose(report);
        }
        return 0;
    }

    FILE *report = _wfopen(reportPath, L"wb");
    if (!report)
        return 101;
    GetCurrentDirectoryW(1024, buffer);
    char *cwd = utf8(buffer);
    char zone[256];
    readZone(zone, sizeof zone);
    fprintf(report, "cwd=%s\ndata=%s\nzone=%s\n", cwd, data, zone);
    for (int i = 1; i < argc; ++i) {
        char *arg = utf8(argv[i]);
        fprintf(report, "arg=");
        for (const unsigned char *p = (const unsigned char *)arg; *p; ++p)
            fprintf(report, "%02x", *p);
        fprintf(report, "\n");
        free(arg);
    }
    fclose(report);

    if (GetEnvironmentVariableW(L"QSFX_TEST_CHILD", buffer, 1024)) {
        wchar_t self[1024], line[1100];
        GetModuleFileNameW(NULL, self, 1024);
        swprintf(line, 1100, L"\"%ls\" --child", self);
        STARTUPINFOW si;
        PROCESS_INFORMATION pi;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        if (CreateProcessW(self, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    if (GetEnvironmentVariableW(L"QSFX_TEST_SLEEP", buffer, 1024))
        Sleep((DWORD)_wtoi(buffer));
    if (GetEnvironmentVariableW(L"QSFX_TEST_CRASH", buffer, 1024))
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
    if (GetEnvironmentVariableW(L"QSFX_TEST_EXIT", buffer, 1024))
        return _wtoi(buffer);
    return 0;
}

#ifdef QSFX_CONSOLE
/* The console build: the system gives it a console host of its own. */
int wmain(void)
{
    return wWinMain(GetModuleHandleW(NULL), NULL, GetCommandLineW(), SW_SHOWDEFAULT);
}
#endif
