#include "worker.h"

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

    // 5. Output file.
    // Unbuffered: every write reports its own failure at the step it belongs to.
    QFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit logMessage(QStringLiteral("错误：无法创建输出文件: %1（%2）")
                            .arg(outputPath, output.errorString()));
        emit finished(false);
        return;
    }
    // Every failure from here on removes the partial output.
    const auto failOutput = [this, &output](const QString &line) {
        emit logMessage(line);
        output.close();
        output.remove();
        emit finished(false);
    };
    const auto failWrite = [&failOutput, &output]() {
        failOutput(QStringLiteral("写入错误: %1").arg(output.errorString()));
    };

    // 6. and 7. The module image.
    QFile workCopy(workCopyPath);
    if (!workCopy.open(QIODevice::ReadOnly)) {
        failOutput(QStringLiteral("错误：无法读取SFX模块"));
        return;
    }
    const QByteArray module = workCopy.readAll();
    workCopy.close();
    if (output.write(module) != module.size()) {
        failWrite();
        return;
    }
    emit logMessage(QStringLiteral("SFX模块写入成功"));

    // 8. The configuration block.
    const QByteArray config = quillon::buildSfxConfig(mainExeName).toUtf8();
    if (output.write(config) != config.size()) {
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
        const qint64 put = output.write(piece.constData(), got);
        if (put != got) {
            archive.close();
            failWrite();
            return;
        }
        written += put;
        if (archiveSize > 0) {
            emit progressChanged(int(50 + written * 45 / archiveSize));
        }
    }
    archive.close();
    // Buffered data that cannot reach the disk is a write error too.
    if (!output.flush()) {
        failWrite();
        return;
    }
    output.close();
    emit logMessage(QStringLiteral("压缩包数据写入完成，共写入: %1 字节").arg(written));

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
