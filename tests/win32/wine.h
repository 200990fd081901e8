// Running Windows programs under Wine for the tests: the prefix CI prepares
// (WINEPREFIX), or one of the build tree's own, made on first use.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace winetest {

struct RunResult
{
    bool started = false;
    bool finished = false;
    int exitCode = -1;
    QByteArray output; // standard output and error, merged
};

// The prefix in use: $WINEPREFIX, else the build tree's default.
QString prefix();

// Makes sure the prefix exists (wineboot -i on first use). False with a
// reason when Wine is missing or the prefix cannot be made.
bool ensurePrefix(QString *error);

// The environment for Wine: the prefix, no debug output, no Mono or Gecko
// installer, and no display, so no program can wait on a message box.
QProcessEnvironment environment();

// Runs `program` (a Windows or Wine program) with `arguments` under `wine`;
// `extraEnvironment` holds "NAME=value" entries added for this run.
RunResult run(const QString &program, const QStringList &arguments, const QString &workingDirectory,
              int timeoutMs, const QStringList &extraEnvironment = {});

// The Windows form ("Z:\...") of a host path, as winepath -w gives it;
// empty on failure.
QString windowsPath(const QString &hostPath);

} // namespace winetest
