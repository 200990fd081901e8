// Start-up steps of the program that run before the main window exists.
#pragma once

#include <QString>

namespace quillon {

// Applies the application style sheet found at `sheetPath` inside the resource
// bundle rooted at `bundleRoot`. When the bundle is missing, the sheet cannot
// be opened or it is empty, logs why, shows the fallback notice (a modal box
// with no parent) and returns false; the program then keeps Qt's default look.
bool applyApplicationStyleSheet(const QString &bundleRoot = QStringLiteral(":/"),
                                const QString &sheetPath = QStringLiteral(":/qss/default.css"));

} // namespace quillon
