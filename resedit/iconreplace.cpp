// replaceExeIcon / exeHasUsableIcon: icon group 1 of an executable replaced
// by our resource editor, checked afterwards and rolled back on any failure.
#include "nativepath.h"
#include "platform_write.h"
#include "toolfiles.h"
#include "worker.h"

#include <QFile>
#include <QProcess>
#include <QThread>

namespace {

constexpr int kToolWaitMs = 20000;

// Puts the target back as it was before the tool ran. Results are not
// examined: there is nothing better left to do.
void rollBack(const QString &target, const QString &backup, const QString &iconFile)
{
    QFile::remove(target);
    QFile::copy(backup, target);
    QFile::remove(backup);
    QFile::remove(iconFile);
}

} // namespace

bool Worker::replaceExeIcon(const QString &exePath, const QByteArray &icoData)
{
    emit logMessage(QStringLiteral("开始替换图标: %1").arg(exePath));

    const QString backupPath = exePath + QStringLiteral(".bak");
    QFile::remove(backupPath);
    if (!QFile::copy(exePath, backupPath)) {
        emit logMessage(QStringLiteral("错误：无法创建备份文件"));
        return false;
    }

    // Helper copies live in the per-user directory, where no other account
    // can replace the program we are about to run.
    const QString toolDir = quillon::privateToolDirectory();
    const QString toolPath = toolDir + QStringLiteral("/ResourceHacker.exe");
    if (toolDir.isEmpty() ||
        quillon::ensureBundleCopy(QStringLiteral(":/resources/ResourceHacker.exe"), toolPath) ==
            quillon::BundleCopy::Failed) {
        emit logMessage(QStringLiteral("错误：无法复制ResourceHacker到临时目录"));
        QFile::remove(backupPath);
        return false;
    }

    const QString iconPath = toolDir + QLatin1Char('/') +
                             quillon::uniqueJobName(QStringLiteral("temp_icon")) +
                             QStringLiteral(".ico");
    QFile iconFile(iconPath);
    if (!iconFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        emit logMessage(QStringLiteral("错误：无法创建临时图标文件"));
        QFile::remove(backupPath);
        return false;
    }
    iconFile.write(icoData);
    iconFile.close();

    const QStringList arguments = {
        QStringLiteral("-open"),     exePath,
        QStringLiteral("-save"),     exePath,
        QStringLiteral("-action"),   QStringLiteral("addoverwrite"),
        QStringLiteral("-resource"), iconPath,
        QStringLiteral("-mask"),     QStringLiteral("ICONGROUP,1,"),
        QStringLiteral("-log"),      QStringLiteral("NUL"),
    };
    emit logMessage(QStringLiteral("写入图标资源..."));

    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(toolPath, arguments, QIODevice::ReadWrite);
    const bool finished = tool.waitForFinished(kToolWaitMs);
    const QString output = QString::fromLocal8Bit(tool.readAll()).trimmed();
    // A crashed tool has no meaningful exit code; it failed all the same.
    if (!finished || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        emit logMessage(
            QStringLiteral("错误：ResourceHacker写入图标失败（退出码: %1）").arg(tool.exitCode()));
        if (!output.isEmpty())
            emit logMessage(QStringLiteral("ResourceHacker输出: %1").arg(output));
        // Stop a tool that is still running before it can write over the
        // restored file.
        if (tool.state() != QProcess::NotRunning) {
            tool.kill();
            tool.waitForFinished(5000);
        }
        rollBack(exePath, backupPath, iconPath);
        return false;
    }

    if (!exeHasUsableIcon(exePath)) {
        emit logMessage(QStringLiteral("错误：写入后 EXE 仍没有可用图标，已回滚到原始文件"));
        rollBack(exePath, backupPath, iconPath);
        return false;
    }

    emit logMessage(QStringLiteral("更新图标缓存..."));
    QProcess::startDetached(QStringLiteral("ie4uinit.exe"), {QStringLiteral("-ClearIconCache")});
    QThread::msleep(300);
    QProcess::startDetached(QStringLiteral("ie4uinit.exe"), {QStringLiteral("-show")});
    quillon::platform::notifyAssociationsChanged();

    QFile::remove(iconPath);
    QFile::remove(backupPath);
    emit logMessage(QStringLiteral("EXE 图标写入并校验通过"));
    emit logMessage(QStringLiteral("图标替换完成"));
    return true;
}

bool Worker::exeHasUsableIcon(const QString &exePath)
{
    const std::wstring path = quillon::nativeWidePath(exePath);
    if (quillon::platform::extractIconCount(path) <= 0)
        return false;
    return quillon::platform::extractFirstLargeIcon(path);
}
