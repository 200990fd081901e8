#include "worker.h"

#include "jobtext.h"
#include "pathguard.h"
#include "toolfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Worker::Worker(QObject *parent) : QObject(parent) {}

void Worker::createPortableApp(const QString &folderPath, const QString &archivePath,
                               const QString &outputDir, const QString &mainExeName,
                               const QString &iconPath, const QString &compressionLevel,
                               const QString &compressionMethod, const QString &dictionarySize,
                               const QString &cleanupTempArchive)
{
    const bool cleanupArchive = cleanupTempArchive == QLatin1String("1");

    emit logMessage(QStringLiteral("开始创建便携应用..."));
    emit logMessage(QStringLiteral("源文件夹: %1").arg(folderPath));
    emit logMessage(QStringLiteral("主程序: %1").arg(mainExeName));
    emit logMessage(QStringLiteral("输出目录: %1").arg(outputDir));
    emit logMessage(QStringLiteral("压缩级别: %1").arg(compressionLevel));
    emit logMessage(QStringLiteral("压缩方法: %1").arg(compressionMethod));
    emit logMessage(QStringLiteral("字典大小: %1").arg(dictionarySize));

    QFile::remove(archivePath);
    QFile::remove(archivePath + QStringLiteral(".tmp"));

    if (!QDir(folderPath).exists()) {
        emit logMessage(QStringLiteral("错误：源文件夹不存在"));
        emit finished(false);
        return;
    }

    const QString mainProgramPath = QDir(folderPath).filePath(mainExeName);
    if (!QFile::exists(mainProgramPath)) {
        emit logMessage(QStringLiteral("错误：主程序 %1 不存在于源文件夹中").arg(mainExeName));
        emit logMessage(QStringLiteral("完整路径: %1").arg(mainProgramPath));
        emit finished(false);
        return;
    }
    // The name goes verbatim into the configuration block and becomes a file
    // name on Windows.
    if (!quillon::isValidMainProgramName(mainExeName)) {
        emit logMessage(QStringLiteral("错误：主程序文件名无效: %1").arg(mainExeName));
        emit finished(false);
        return;
    }
    emit logMessage(QStringLiteral("主程序路径验证成功: %1").arg(mainProgramPath));

    if (!QDir(outputDir).exists() && !QDir().mkpath(outputDir)) {
        emit logMessage(QStringLiteral("错误：无法创建输出目录: %1").arg(outputDir));
        emit finished(false);
        return;
    }

    const QString outputPath = QDir(outputDir).filePath(QFileInfo(mainExeName).completeBaseName() +
                                                        QStringLiteral(".exe"));

    // Also catches names that differ only in case where the file system
    // ignores it, and links to the main program.
    if (quillon::pathsNameSameFile(mainProgramPath, outputPath)) {
        emit logMessage(
            QStringLiteral("错误：输出文件与源主程序路径相同，已中止以避免覆盖原始程序"));
        emit finished(false);
        return;
    }

    if (!runArchiveStage(folderPath, archivePath, compressionLevel, compressionMethod,
                         dictionarySize)) {
        return;
    }
    runAssembly(mainProgramPath, outputPath, iconPath, mainExeName, archivePath, cleanupArchive);
}

QString Worker::jobToolDirectory()
{
    QString error;
    const QString dir = quillon::privateToolDirectory(&error);
    if (dir.isEmpty()) {
        emit logMessage(QStringLiteral("错误：无法准备私有临时目录: %1").arg(error));
        emit finished(false);
    }
    return dir;
}
