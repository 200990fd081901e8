#include "jobrun.h"

#include "worker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

JobRun runJob(const JobArgs &args)
{
    Worker worker;
    JobRun run;
    QObject::connect(&worker, &Worker::progressChanged, &worker, [&run](int value) {
        run.progress << value;
        run.events << QStringLiteral("progress %1").arg(value);
    });
    QObject::connect(&worker, &Worker::logMessage, &worker, [&run](const QString &line) {
        run.log << line;
        run.events << QStringLiteral("log ") + line;
    });
    QObject::connect(&worker, &Worker::finished, &worker, [&run](bool success) {
        run.finished << success;
        run.events << QStringLiteral("finished %1").arg(success ? 1 : 0);
    });
    worker.createPortableApp(args.folder, args.archive, args.outputDir, args.mainExe, args.icon,
                             args.level, args.method, args.dict, args.cleanup);
    return run;
}

namespace {

const QString ArchiverStarted = QStringLiteral("log 7z进程已启动，开始压缩...");
const QString ArchiveLine = QStringLiteral("log 压缩包创建成功，大小: ");
const QString ModuleWritten = QStringLiteral("log SFX模块写入成功");

} // namespace

QStringList assemblyEvents(const JobRun &run)
{
    QStringList kept;
    bool started = false;
    bool inIconStep = false;
    for (const QString &event : run.events) {
        if (!started && event.startsWith(ArchiveLine)) {
            started = inIconStep = true;
            kept << event;
            continue;
        }
        if (event == ModuleWritten) {
            inIconStep = false;
        }
        if (started && !(inIconStep && event.startsWith(QStringLiteral("log ")))) {
            kept << event;
        }
    }
    return kept;
}

QList<int> archiverProgress(const JobRun &run)
{
    QList<int> values;
    bool inArchiver = false;
    for (const QString &event : run.events) {
        if (event == ArchiverStarted) {
            inArchiver = true;
        } else if (event.startsWith(ArchiveLine)) {
            break;
        } else if (inArchiver && event.startsWith(QStringLiteral("progress "))) {
            values << event.mid(9).toInt();
        }
    }
    return values;
}

QStringList withoutIconStep(const QStringList &log)
{
    QStringList kept;
    bool inStep = false;
    for (const QString &line : log) {
        if (line == QStringLiteral("SFX模块写入成功")) {
            inStep = false;
        }
        if (!inStep) {
            kept << line;
        }
        if (line.startsWith(QStringLiteral("压缩包创建成功，大小: "))) {
            inStep = true;
        }
    }
    return kept;
}

QStringList headerLines(const JobArgs &args)
{
    return {QStringLiteral("开始创建便携应用..."),
            QStringLiteral("源文件夹: %1").arg(args.folder),
            QStringLiteral("主程序: %1").arg(args.mainExe),
            QStringLiteral("输出目录: %1").arg(args.outputDir),
            QStringLiteral("压缩级别: %1").arg(args.level),
            QStringLiteral("压缩方法: %1").arg(args.method),
            QStringLiteral("字典大小: %1").arg(args.dict)};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool makeSmallJob(const QString &base, JobArgs &args)
{
    args.folder = base + QStringLiteral("/src");
    args.archive = base + QStringLiteral("/work/temp.7z");
    args.outputDir = base + QStringLiteral("/out");
    return QDir().mkpath(base + QStringLiteral("/work")) &&
           writeFile(args.folder + QStringLiteral("/app.exe"), "MZ program");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, qint64> makeSourceTree(const QString &root)
{
    QMap<QString, qint64> expected;
    const auto addFile = [&](const QString &rel, const QByteArray &bytes) {
        writeFile(root + QLatin1Char('/') + rel, bytes);
        expected.insert(rel, bytes.size());
    };
    const auto addDir = [&](const QString &rel) {
        QDir().mkpath(root + QLatin1Char('/') + rel);
        expected.insert(rel, -1);
    };
    QByteArray program("MZ test program\n");
    for (int i = 0; i < 2000; ++i) {
        program += QByteArray::number(i * 7919 % 1000) + ' ';
    }
    addFile(QStringLiteral("app.exe"), program);
    addDir(QStringLiteral("data"));
    addDir(QStringLiteral("data/nested"));
    addDir(QStringLiteral("data/nested/deeper"));
    addFile(QStringLiteral("data/nested/deeper/config.ini"), "[main]\nkey=value\n");
    addDir(QStringLiteral("empty"));
    addDir(QStringLiteral("data/nested/empty too"));
    addFile(QStringLiteral("zero.bin"), QByteArray());
    addFile(QStringLiteral(".hidden"), "secret\n");
    addDir(QStringLiteral("资源"));
    addFile(QStringLiteral("资源/说明 文档.txt"), QStringLiteral("中文内容\n").toUtf8());
    addFile(QStringLiteral("Ünïcødé é.dat"), QByteArray(3000, 'x'));
    return expected;
}

QMap<QString, qint64> listArchive(const QString &archivePath)
{
    QProcess process;
    process.start(
        QStringLiteral(ENGINE_TEST_ARCHIVER),
        {QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("-sccUTF-8"), archivePath});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return {};
    }
    QMap<QString, qint64> entries;
    QString path;
    qint64 size = 0;
    bool folder = false;
    bool inEntries = false;
    const auto flush = [&]() {
        if (!path.isEmpty()) {
            entries.insert(path, folder ? -1 : size);
        }
        path.clear();
        size = 0;
        folder = false;
    };
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
    for (QString line : lines) {
        line.remove(QLatin1Char('\r'));
        if (line.startsWith(QLatin1String("----------"))) {
            inEntries = true;
            continue;
        }
        if (!inEntries) {
            continue;
        }
        if (line.startsWith(QLatin1String("Path = "))) {
            flush();
            path = line.mid(7);
        } else if (line.startsWith(QLatin1String("Size = "))) {
            size = line.mid(7).toLongLong();
        } else if (line.startsWith(QLatin1String("Folder = +"))) {
            folder = true;
        } else if (line.startsWith(QLatin1String("Attributes = D"))) {
            folder = true;
        }
    }
    flush();
    return entries;
}
