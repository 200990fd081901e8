// Start-up steps of the program that run before the main window exists, and
// its last step.
#pragma once

#include <QString>

namespace quillon {

// Applies the application style sheet found at `sheetPath` inside the resource
// bundle rooted at `bundleRoot`. When the bundle is missing, the sheet cannot
// be opened or it is empty, logs why, shows the fallback notice (a modal box
// with no parent) and returns false; the program then keeps Qt's default look.
bool applyApplicationStyleSheet(const QString &bundleRoot = QStringLiteral(":/"),
                                const QString &sheetPath = QStringLiteral(":/qss/default.css"));

// Ends the program with `status`, once the application object and every
// window are gone. On Windows the process ends without the DLLs' own teardown:
// there, after a job, the MinGW C++ runtime's can wait for ever on a lock of
// its threads library held by a thread that ExitProcess has already ended.
// Elsewhere returns `status` for main() to return.
int endProgram(int status);

} // namespace quillon
