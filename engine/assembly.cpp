#include "worker.h"

#include "atomicfile.h"
#include "jobtext.h"
#include "toolfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 PieceSize = 1048576;

// Removes the per-job work copy (and a backup the icon step may have left
// beside it) however the assembly ends.
class WorkCopyGuard
{
public:
    explicit WorkCopyGuard(QString path) : m_path(std::move(path)) {}
    ~WorkCopyGuard()
    {
        QFile::remove(m_path);
        QFile::remove(m_path + QStringLiteral(".bak"));
    }
    WorkCopyGuard(const WorkCopyGuard &) = delete;
    WorkCopyGuard &operator=(const WorkCopyGuard &) = delete;

private:
    QString m_path;
};

} // namespace

void Worker::runAssembly(const QString &mainProgramPath, const QString &outputPath,
                         const QString &iconPath, const QString &mainExeName,
                         const QString &archivePath, bool cleanupArchive)
{
    const QString toolDir = jobToolDirectory();
    if (toolDir.isEmpty()) {
        return;
    }

    // 1. Module copy, checked against the bundle.
    const QString moduleCopyPath = toolDir + QStringLiteral("/7zSD.sfx");
    if (quillon::ensureBundleCopy(QStringLiteral(":/resources/7zSD.sfx"), moduleCopyPath) ==
        quillon::BundleCopy::Failed) {
        emit logMessage(QStringLiteral("错误：无法复制SFX模块"));
        emit finished(false);
        return;
    }

    // 2. Icon selection.
    const IconChoice icon = selectIcon(iconPath, mainProgramPath);

    // 3. Work copy, private to this job so concurrent jobs never share it.
    const QString workCopyPath = toolDir + QLatin1Char('/') +
                                 quillon::uniqueJobName(QStringLiteral("Quillon_sfx_work")) +
                                 QStringLiteral(".exe");
    const WorkCopyGuard workCopyGuard(workCopyPath);
    QFile::remove(workCopyPath);
    // Taken from the bundle, not from the shared module copy, which a job of
    // another Quillon build may replace at any moment.
    if (quillon::ensureBundleCopy(QStringLiteral(":/resources/7zSD.sfx"), workCopyPath) ==
        quillon::BundleCopy::Failed) {
        emit logMessage(QStringLiteral("错误：无法创建 SFX 模板副本"));
        emit finished(false);
        return;
    }
    QFile::setPermissions(workCopyPath,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // 4. Icon and version application.
    applyIconAndVersion(workCopyPath, mainExeName, icon);

    // 5. Output file, written under a temporary name beside it and moved onto
    // it only once complete: a job that fails or dies leaves an existing
    // output as it was.
    const auto cannotCreate = [this, &outputPath](const QString &reason) {
        emit logMessage(QStringLiteral("错误：无法创建输出文件: %1（%2）").arg(outputPath, reason));
        emit finished(false);
    };
    // An existing output that cannot be written (a directory, a running
    // program on Windows) cannot be replaced either: said before any work.
    if (QFileInfo::exists(outputPath)) {
        QFile existing(outputPath);
        if (!existing.open(QIODevice::WriteOnly | QIODevice::Append)) {
            cannotCreate(existing.errorString());
            return;
        }
    }
    quillon::AtomicFile output(outputPath.toStdString()); // UTF-8
    int systemError = 0;
    if (output.open(systemError).failed()) {
        cannotCreate(qt_error_string(systemError));
        return;
    }
    // Every failure from here on removes the temporary file only.
    const auto failOutput = [this, &output](const QString &line) {
        emit logMessage(line);
        output.discard();
        emit finished(false);
    };
    const auto failWrite = [&failOutput, &systemError]() {
        failOutput(QStringLiteral("写入错误: %1").arg(qt_error_string(systemError)));
    };
    const auto write = [&output, &systemError](const char *data, qint64 size) {
        return output
            .write(reinterpret_cast<const std::uint8_t *>(data), std::size_t(size), systemError)
            .ok();
    };

    // 6. and 7. The module image.
    QFile workCopy(workCopyPath);
    if (!workCopy.open(QIODevice::ReadOnly)) {
        failOutput(QStringLiteral("错误：无法读取SFX模块"));
        return;
    }
    const QByteArray module = workCopy.readAll();
    workCopy.close();
    if (!write(module.constData(), module.size())) {
        failWrite();
        return;
    }
    emit logMessage(QStringLiteral("SFX模块写入成功"));

    // 8. The configuration block.
    const QByteArray config = quillon::buildSfxConfig(mainExeName).toUtf8();
    if (!write(config.constData(), config.size())) {
        failWrite();
        return;
    }
    emit logMessage(QStringLiteral("配置写入成功，大小: %1 字节").arg(config.size()));

    // 9. to 12. The archive, streamed piece by piece.
    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly)) {
        failOutput(QStringLiteral("错误：无法读取压缩包文件"));
        return;
    }
    const qint64 archiveSize = archive.size();
    emit logMessage(QStringLiteral("准备写入压缩包数据，大小: %1 字节").arg(archiveSize));
    qint64 written = 0;
    QByteArray piece(int(PieceSize), Qt::Uninitialized);
    while (!archive.atEnd()) {
        const qint64 got = archive.read(piece.data(), PieceSize);
        if (got <= 0) {
            // A read error would otherwise spin here for ever.
            archive.close();
            failOutput(QStringLiteral("错误：无法读取压缩包文件"));
            return;
        }
        // A short write (a full disk, a file size limit) loses data as surely
        // as a failed one.
        if (!write(piece.constData(), got)) {
            archive.close();
            failWrite();
            return;
        }
        written += got;
        if (archiveSize > 0) {
            emit progressChanged(int(50 + written * 45 / archiveSize));
        }
    }
    archive.close();
    // Data that cannot reach the disk is a write error too.
    if (output.flush(systemError).failed()) {
        failWrite();
        return;
    }
    emit logMessage(QStringLiteral("压缩包数据写入完成，共写入: %1 字节").arg(written));

    // Complete and on the disk: moved onto the output path.
    if (output.commit(systemError).failed()) {
        cannotCreate(qt_error_string(systemError));
        return;
    }

    // 13. Clean-up.
    if (cleanupArchive) {
        QFile::remove(archivePath);
    }

    // 14. Final check.
    if (!QFile::exists(outputPath)) {
        emit logMessage(QStringLiteral("错误：创建单文件失败，输出文件不存在"));
        emit finished(false);
        return;
    }

    // 15. Success.
    QFile::setPermissions(outputPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                          QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    emit logMessage(QStringLiteral("成功创建便携应用！最终文件大小: %1 字节")
                        .arg(QFileInfo(outputPath).size()));
    emit logMessage(QStringLiteral("输出文件: %1").arg(QDir::toNativeSeparators(outputPath)));
    emit progressChanged(100);
    emit finished(true);
}
