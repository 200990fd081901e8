#include "wine.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace winetest {

namespace {

// One server for the test's many short Wine runs instead of a start per run;
// it ends by itself half a minute after the last one.
void keepServerRunning()
{
    QProcess server;
    server.setProcessEnvironment(environment());
    server.start(QStringLiteral("wineserver"), {QStringLiteral("-p30")});
    server.waitForFinished(30000);
}

} // namespace

QString prefix()
{
    const QString fromEnv = qEnvironmentVariable("WINEPREFIX");
    return fromEnv.isEmpty() ? QStringLiteral(QUILLON_DEFAULT_WINEPREFIX) : fromEnv;
}

QProcessEnvironment environment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefix());
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

bool ensurePrefix(QString *error)
{
    if (QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty()) {
        *error = QStringLiteral("wine is not installed");
        return false;
    }
    const QString dir = prefix();
    if (QFileInfo::exists(dir + QStringLiteral("/system.reg"))) {
        keepServerRunning();
        return true;
    }
    QDir().mkpath(dir);
    QProcess boot;
    boot.setProcessEnvironment(environment());
    boot.start(QStringLiteral("wineboot"), {QStringLiteral("-i")});
    if (!boot.waitForFinished(300000)) {
        boot.kill();
        boot.waitForFinished(5000);
        *error = QStringLiteral("wineboot -i did not finish in %1").arg(dir);
        return false;
    }
    QProcess wait;
    wait.setProcessEnvironment(environment());
    wait.start(QStringLiteral("wineserver"), {QStringLiteral("-w")});
    wait.waitForFinished(60000);
    if (!QFileInfo::exists(dir + QStringLiteral("/system.reg"))) {
        *error = QStringLiteral("wineboot -i made no prefix in %1").arg(dir);
        return false;
    }
    keepServerRunning();
    return true;
}

RunResult run(const QString &program, const QStringList &arguments, const QString &workingDirectory,
              int timeoutMs, const QStringList &extraEnvironment)
{
    RunResult result;
    QProcessEnvironment env = environment();
    for (const QString &entry : extraEnvironment) {
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    }
    // Output goes to a file, not a pipe: Wine's background processes inherit
    // the program's handles and would hold a pipe open, and a console
    // program's helper may wait on it.
    QTemporaryDir outputDir;
    if (!outputDir.isValid()) {
        return result;
    }
    const QString outputFile = outputDir.filePath(QStringLiteral("output"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(outputFile);
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral("wine"), QStringList{program} + arguments);
    result.started = process.waitForStarted(30000);
    if (!result.started) {
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    QFile output(outputFile);
    if (output.open(QIODevice::ReadOnly)) {
        result.output = output.readAll();
    }
    if (result.finished && process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    return result;
}

QString windowsPath(const QString &hostPath)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("winepath"), {QStringLiteral("-w"), hostPath});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace winetest
