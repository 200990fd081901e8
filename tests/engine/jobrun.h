// Shared helpers of the engine tests: running one job and recording what it
// reported, and building source folders to pack.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

struct JobArgs
{
    QString folder;
    QString archive;
    QString outputDir;
    QString mainExe = QStringLiteral("app.exe");
    QString icon;
    QString level = QStringLiteral("1");
    QString method = QStringLiteral("LZMA");
    QString dict = QStringLiteral("64K");
    QString cleanup = QStringLiteral("1");
};

struct JobRun
{
    QStringList log;
    QList<int> progress;
    QList<bool> finished; // every finished() emission, in order
    // All three signals as one stream, in the order emitted:
    // "log <text>", "progress <value>", "finished <0|1>".
    QStringList events;

    bool succeeded() const { return finished == QList<bool>{true}; }
    bool failed() const { return finished == QList<bool>{false}; }
};

// Runs one job on the calling thread and records its three signals.
JobRun runJob(const JobArgs &args);

// The log without the lines the icon and version step emits (those between
// the archive success line and "SFX模块写入成功"), so engine sequences can be
// compared exactly whatever that step reports.
QStringList withoutIconStep(const QStringList &log);

// The event stream from the archive line ("压缩包创建成功，大小: ...") on,
// without the icon and version step's lines: the assembly's lines and
// progress values in their order. Empty when there is no archive line.
QStringList assemblyEvents(const JobRun &run);

// The progress values emitted while the archiver ran (between
// "7z进程已启动，开始压缩..." and the archive line).
QList<int> archiverProgress(const JobRun &run);

// The seven header lines of a job.
QStringList headerLines(const JobArgs &args);

bool writeFile(const QString &path, const QByteArray &bytes);

// A job below `base`: the folder src/ holding only app.exe ("MZ program"),
// the archive work/temp.7z, the output folder out/. False when the files
// cannot be written.
bool makeSmallJob(const QString &base, JobArgs &args);
QByteArray readFile(const QString &path);

// Fills `root` with a small application tree: app.exe, nested and empty
// folders, a 0-byte file, a hidden file and non-ASCII names. Returns the
// expected archive listing: relative path -> size, -1 for folders.
QMap<QString, qint64> makeSourceTree(const QString &root);

// Lists a 7z archive with the real archiver: relative path -> size, -1 for
// folders. Empty on failure.
QMap<QString, qint64> listArchive(const QString &archivePath);
