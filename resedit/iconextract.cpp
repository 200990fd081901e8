// extractIconFromExe: copies the first icon group of an executable into ICO
// bytes, or else redraws the shell's large icon as a one-image ICO.
#include "ico.h"
#include "nativepath.h"
#include "platform_read.h"
#include "worker.h"

#include <QBuffer>
#include <QImage>

#include <cstring>

namespace {

// Steps 4 to 6 of the copy against a loaded module; empty when the group
// cannot be used as a whole.
bool copyFirstIconGroup(const quillon::platform::ResourceModule &module,
                        std::vector<std::uint8_t> &ico, std::size_t &count)
{
    quillon::ico::ImageBytes group;
    std::vector<quillon::ico::GroupEntry> entries;
    if (!module.firstIconGroup(group) || !quillon::ico::parseGroup(group.data, group.size, entries))
        return false;
    count = entries.size();
    return quillon::ico::assembleIco(
        entries,
        [&module](std::uint16_t imageId, quillon::ico::ImageBytes &image) {
            return module.iconImage(imageId, image);
        },
        ico);
}

QByteArray redrawIcon(Worker *worker, const std::wstring &path)
{
    using quillon::platform::LargeIconStatus;
    quillon::platform::LargeIcon icon;
    switch (quillon::platform::drawLargeIcon(path, icon)) {
    case LargeIconStatus::NoIcon:
        emit worker->logMessage(QStringLiteral("警告：无法从EXE提取图标"));
        return QByteArray();
    case LargeIconStatus::NoIconInfo:
        emit worker->logMessage(QStringLiteral("错误：无法获取图标信息"));
        return QByteArray();
    case LargeIconStatus::BadSize:
        emit worker->logMessage(QStringLiteral("错误：图标尺寸无效"));
        return QByteArray();
    case LargeIconStatus::Ok:
        break;
    }

    QImage image(icon.width, icon.height, QImage::Format_ARGB32);
    if (!image.isNull()) {
        image.fill(Qt::transparent);
        const std::size_t rowBytes = std::size_t(icon.width) * 4;
        if (icon.hasPixels && icon.bgra.size() == rowBytes * std::size_t(icon.height)) {
            for (int y = 0; y < icon.height; ++y)
                std::memcpy(image.scanLine(y), icon.bgra.data() + std::size_t(y) * rowBytes,
                            rowBytes);
        }
        // A picture without any alpha is meant to be opaque.
        bool anyAlpha = false;
        for (int y = 0; y < image.height() && !anyAlpha; ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(row[x]) != 0) {
                    anyAlpha = true;
                    break;
                }
            }
        }
        if (!anyAlpha)
            image = image.convertToFormat(QImage::Format_RGB32);
    }
    if (image.isNull()) {
        emit worker->logMessage(QStringLiteral("错误：无法将图标转换为位图"));
        return QByteArray();
    }
    if (image.width() <= 255 || image.height() <= 255)
        image = image.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    QBuffer buffer;
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "ICO", -1)) {
        emit worker->logMessage(QStringLiteral("错误：图标转换失败"));
        return QByteArray();
    }
    const QByteArray result = buffer.data();
    emit worker->logMessage(QStringLiteral("成功提取图标，大小: %1 字节").arg(result.size()));
    return result;
}

} // namespace

QByteArray Worker::extractIconFromExe(const QString &exePath)
{
    const std::wstring path = quillon::nativeWidePath(exePath);
    {
        const quillon::platform::ResourceModule module(path);
        if (module.loaded()) {
            std::vector<std::uint8_t> ico;
            std::size_t count = 0;
            if (copyFirstIconGroup(module, ico, count)) {
                const QByteArray result(reinterpret_cast<const char *>(ico.data()),
                                        static_cast<qsizetype>(ico.size()));
                emit logMessage(QStringLiteral("从 EXE 资源中提取到 %1 个尺寸的图标，共 %2 字节")
                                    .arg(count)
                                    .arg(result.size()));
                return result;
            }
            emit logMessage(QStringLiteral("EXE 中没有可用的图标资源，改用重绘方式"));
        }
    }
    return redrawIcon(this, path);
}
