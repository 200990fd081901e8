// The packaging worker: one job per createPortableApp call, reported through
// three signals. Lives on a thread of its own.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class Worker : public QObject
{
    Q_OBJECT

public:
    explicit Worker(QObject *parent = nullptr);

    // Resource-editing operations (implemented under resedit/). Each reports
    // in log lines through logMessage.
    bool validateIcoData(const QByteArray &data);
    QByteArray extractIconFromExe(const QString &exePath);
    bool replaceExeIcon(const QString &exePath, const QByteArray &icoData);
    bool exeHasUsableIcon(const QString &exePath);
    bool writeVersionInfo(const QString &exePath, const QString &mainExeName);

signals:
    void progressChanged(int value);
    void logMessage(const QString &message);
    void finished(bool success);

public slots:
    void createPortableApp(const QString &folderPath, const QString &archivePath,
                           const QString &outputDir, const QString &mainExeName,
                           const QString &iconPath, const QString &compressionLevel,
                           const QString &compressionMethod, const QString &dictionarySize,
                           const QString &cleanupTempArchive);

private:
    // Icon and version step (engine/iconstep.cpp), run inside the assembly.
    struct IconChoice
    {
        QByteArray data;
        bool useIcon = true;
    };
    IconChoice selectIcon(const QString &iconPath, const QString &mainProgramPath);
    void applyIconAndVersion(const QString &workCopyPath, const QString &mainExeName,
                             const IconChoice &choice);

    // Job stages (engine/). Each emits its own failure lines and finished(false).
    bool runArchiveStage(const QString &folderPath, const QString &archivePath,
                         const QString &compressionLevel, const QString &compressionMethod,
                         const QString &dictionarySize);
    void runAssembly(const QString &mainProgramPath, const QString &outputPath,
                     const QString &iconPath, const QString &mainExeName,
                     const QString &archivePath, bool cleanupArchive);
    // The per-user directory for helper copies; on failure emits the error
    // line and finished(false) and returns an empty string.
    QString jobToolDirectory();
};
