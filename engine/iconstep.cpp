// The icon and version step of the assembly: phase 1 chooses the icon before
// the work copy exists, phase 2 puts it and the version resource into the
// work copy. Problems are warnings; the job always goes on.
#include "worker.h"

#include <QFile>

Worker::IconChoice Worker::selectIcon(const QString &iconPath, const QString &mainProgramPath)
{
    IconChoice choice;
    emit logMessage(QStringLiteral("开始处理图标..."));

    if (!iconPath.isEmpty()) {
        if (!QFile::exists(iconPath)) {
            emit logMessage(QStringLiteral("警告：图标文件不存在: %1").arg(iconPath));
        } else {
            QFile file(iconPath);
            if (!file.open(QIODevice::ReadOnly)) {
                emit logMessage(QStringLiteral("警告：无法打开图标文件: %1").arg(iconPath));
            } else {
                choice.data = file.readAll();
                file.close();
                if (validateIcoData(choice.data)) {
                    emit logMessage(QStringLiteral("使用用户提供的图标文件"));
                    return choice;
                }
                emit logMessage(QStringLiteral("警告：提供的图标文件无效，将尝试从主程序提取图标"));
            }
        }
    }

    emit logMessage(QStringLiteral("尝试从主程序提取图标..."));
    choice.data = extractIconFromExe(mainProgramPath);
    if (validateIcoData(choice.data)) {
        emit logMessage(QStringLiteral("成功从主程序提取图标"));
    } else {
        emit logMessage(QStringLiteral("警告：无法从主程序提取有效图标，将保留 SFX 默认图标"));
        choice.useIcon = false;
    }
    return choice;
}

void Worker::applyIconAndVersion(const QString &workCopyPath, const QString &mainExeName,
                                 const IconChoice &choice)
{
    if (choice.useIcon) {
        emit logMessage(QStringLiteral("开始替换图标..."));
        if (!replaceExeIcon(workCopyPath, choice.data))
            emit logMessage(QStringLiteral("警告：图标替换失败，将保留 SFX 默认图标"));
    } else {
        emit logMessage(QStringLiteral("警告：没有可用的图标数据，将保留 SFX 默认图标"));
    }
    writeVersionInfo(workCopyPath, mainExeName);
}
