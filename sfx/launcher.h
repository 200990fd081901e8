// The self-extracting launcher: finds the configuration block and the 7z
// archive behind its own image, extracts the archive into a private temporary
// directory, runs the program named there, waits for it, removes the
// directory and returns the program's exit code.
//
// launcher_common.cpp holds the flow and the pure helpers; launcher_win.cpp
// and launcher_posix.cpp hold the platform layer and the entry point. Plain
// C++, no exceptions, no Qt.
#pragma once

#include "fileinput.h"
#include "payload.h"
#include "sevenzip.h"
#include "utf.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::sfx {

#ifdef _WIN32
using NativeString = std::wstring;
#else
using NativeString = std::string;
#endif

// Exit code of the launcher itself when it could not start the program.
constexpr int kLauncherFailure = 1;

// Environment switches, read once at start.
//   QUILLON_SFX_TRACE=1       trace to stderr (and OutputDebugString on Windows)
//   QUILLON_SFX_TRACE=<path>  append the trace to that file
//   QUILLON_SFX_NOUI=1        errors go to stderr and the trace only: no message box
constexpr const char *kTraceVariable = "QUILLON_SFX_TRACE";
constexpr const char *kNoUiVariable = "QUILLON_SFX_NOUI";

// Everything one run works on. The entry point fills the first block and
// hands the context to run().
struct Context
{
    NativeString ownPath;
#ifdef _WIN32
    std::wstring argumentTail; // raw command line after argv[0], passed on unchanged
#else
    std::vector<std::string> arguments; // argv[1..]
#endif
    bool trace = false;
    bool noUi = false;
    NativeString traceFile; // empty: stderr

    // Filled while running.
    sevenzip::Payload payload;
    NativeString base; // the directory private directories are made in
    NativeString root; // the private extraction directory, empty until made
    // The file beside `root` whose lock shows that the run is alive: held
    // open (a descriptor, or a HANDLE on Windows) until `root` is removed;
    // when the process dies the system lets go of it. -1 when there is none.
    NativeString lockPath;
    std::intptr_t lock = -1;
};

// The whole run. Returns the exit code for the process.
int run(Context &ctx);

// Writes one trace line when tracing is on; nothing is formatted otherwise.
void trace(const Context &ctx, const std::string &line);

// --- pure helpers (tested natively) ---

// The part of a Windows command line after argv[0], from the first blank that
// ends argv[0] (outside quotes) to the end, unchanged. argv[0] follows the
// rule Windows applies to the program name: quotes toggle, no escapes.
std::wstring commandLineTail(const std::wstring &commandLine);

// True when ExecuteFile names a file inside the extraction root: relative,
// no "..", no drive, no empty name, no device prefix.
bool isSafeRelativePath(const std::string &path);

// ExecuteFile as found among the entries (Windows: compared without regard to
// ASCII case, '\\' and '/' alike); empty when absent or a directory.
std::string findExecutable(const std::vector<sevenzip::Entry> &entries, const std::string &name,
                           bool caseInsensitive);

// A system message as FormatMessageW gives it with its inserts ignored, made
// readable: "%1" (with or without a "!format!" part) becomes `first`, any
// other insert "%2".."%99" is dropped together with a blank it would leave
// doubled or before punctuation. The text put in is not scanned again.
std::wstring fillMessageInserts(const std::wstring &message, const std::wstring &first);

// Names of a run's private directory ("qsfx-" and 6 to 40 letters, digits or
// '-') and of its lock file beside it (that name and ".lock").
constexpr const char *kRunLockSuffix = ".lock";
// The text of a lock file: a marker and the identity of the directory made
// for it (its device or volume and its file number), so that neither a
// look-alike nor a link or a directory put in its place passes for ours.
constexpr std::size_t kRunLockMaxSize = 128;
std::string runLockText(std::uint64_t volume, std::uint64_t fileIndex);
// True for the text of a lock of ours, whichever directory it names.
bool isRunLockText(const std::string &text);
bool isRunFolderName(const std::string &name);
// The directory name a lock file name belongs to; empty when it is none of ours.
std::string runFolderOfLock(const std::string &lockName);

// --- platform layer (launcher_win.cpp / launcher_posix.cpp) ---
namespace platform {

// Random-access view of a file; nullptr when it cannot be opened.
std::unique_ptr<Input> openInput(const NativeString &path);
// The directory private extraction directories are made in.
NativeString tempBase();
// Free bytes for this user on the volume of `dir`; false when unknown.
bool freeSpace(const NativeString &dir, std::uint64_t &bytes);
// Makes a new, uniquely named, owner-only directory under `base` (ctx.root)
// and, before it, the lock beside it that shows the run is alive (ctx.lockPath,
// ctx.lock; none where the system cannot make one).
bool makePrivateDirectory(Context &ctx, const NativeString &base, std::string &error);
// Lets go of the run's lock; removes its file only when `folderGone`, so that
// a folder left behind is swept by a later start.
void releaseRunLock(Context &ctx, bool folderGone);
// Starts removing, on a thread of its own at low priority, the private
// directories of earlier runs of this user whose run is over and from which
// nothing runs any more, each with its lock. Leaves live runs, folders in use
// and anything not ours alone; failures are traced only.
void startSweep(const Context &ctx);
// Lets the sweep go on a short while, then stops it between two entries and
// waits for it: what it did not reach, a later start sweeps.
void finishSweep(const Context &ctx);
// Writes the archive's entries below `root`.
std::unique_ptr<sevenzip::Sink> makeSink(Context &ctx, const NativeString &root);
// Starts `relativeExe` below ctx.root with ctx.root as working directory,
// sweeps earlier runs while it runs, waits for it and everything it started,
// and gives its exit code.
bool runProgram(Context &ctx, const std::string &relativeExe, int &exitCode, std::string &error);
// Removes `root` and everything below it without following links; retries a
// short while when files are still in use.
bool removeTree(const Context &ctx, const NativeString &root);
// Shows an error to the user: a message box captioned `title`, or stderr.
void showError(const Context &ctx, const std::string &title, const std::string &message);
// Writes a trace line to its destination.
void writeTrace(const Context &ctx, const std::string &line);

} // namespace platform

} // namespace quillon::sfx
