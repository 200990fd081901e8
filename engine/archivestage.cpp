#include "worker.h"

#include "jobtext.h"
#include "toolfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

bool Worker::runArchiveStage(const QString &folderPath, const QString &archivePath,
                             const QString &compressionLevel, const QString &compressionMethod,
                             const QString &dictionarySize)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(QDir::tempPath());

    const QString toolDir = jobToolDirectory();
    if (toolDir.isEmpty()) {
        return false;
    }
    // A copy that differs from the bundle's (stale or planted) is replaced
    // before it is ever run.
    const QString archiverPath = toolDir + QStringLiteral("/7zr.exe");
    const quillon::BundleCopy copy =
        quillon::ensureBundleCopy(QStringLiteral(":/resources/7zr.exe"), archiverPath);
    if (copy == quillon::BundleCopy::Failed) {
        emit logMessage(QStringLiteral("错误：无法复制7zr.exe到临时目录"));
        emit finished(false);
        return false;
    }
    if (copy == quillon::BundleCopy::Copied) {
        emit logMessage(QStringLiteral("7zr.exe已复制到临时目录"));
    }

    const QStringList args =
        quillon::archiverArguments(archivePath, folderPath, compressionLevel, compressionMethod,
                                   dictionarySize, quillon::nativePathStyle());
    // The copy's path as built (forward slashes); only the arguments are native.
    emit logMessage(
        QStringLiteral("执行命令: %1 %2").arg(archiverPath, args.join(QLatin1Char(' '))));

    process.start(archiverPath, args, QIODevice::ReadWrite);
    if (!process.waitForStarted(5000)) {
        emit logMessage(QStringLiteral("错误：无法启动7zr.exe，路径: %1").arg(archiverPath));
        emit logMessage(QStringLiteral("错误详情: %1").arg(process.errorString()));
        emit finished(false);
        return false;
    }
    emit logMessage(QStringLiteral("7z进程已启动，开始压缩..."));

    quillon::ArchiverOutputParser parser;
    const auto passOn = [this, &parser](const QByteArray &chunk) {
        const quillon::ArchiverOutputParser::Step step = parser.parseArchiverOutput(chunk);
        if (step.progress) {
            emit progressChanged(*step.progress);
        }
        if (!step.logLine.isEmpty()) {
            emit logMessage(step.logLine);
        }
    };

    // No overall time limit: a large folder may legitimately take hours.
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(200);
        passOn(process.readAllStandardOutput());
    }
    process.waitForFinished(1000);
    passOn(process.readAllStandardOutput());

    if (process.exitCode() != 0) {
        // With merged channels the error channel is always empty (its text
        // has reached the log through the parser already).
        const QByteArray errorOutput = process.processChannelMode() == QProcess::MergedChannels
                                           ? QByteArray()
                                           : process.readAllStandardError();
        emit logMessage(QStringLiteral("7z错误输出: %1").arg(QString::fromLocal8Bit(errorOutput)));
        emit logMessage(QStringLiteral("7z退出代码: %1").arg(process.exitCode()));
        QFile::remove(archivePath);
        emit finished(false);
        return false;
    }

    if (!QFileInfo::exists(archivePath)) {
        emit logMessage(QStringLiteral("错误：压缩包未生成"));
        emit finished(false);
        return false;
    }
    emit logMessage(
        QStringLiteral("压缩包创建成功，大小: %1 字节").arg(QFileInfo(archivePath).size()));
    emit progressChanged(50);
    return true;
}
