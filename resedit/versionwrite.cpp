// writeVersionInfo: puts the version-information resource into an executable
// through the platform's resource update and reads it back.
#include "nativepath.h"
#include "platform_write.h"
#include "versioninfo.h"
#include "worker.h"

namespace {

constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kVersionName = 1;
constexpr std::uint16_t kLanguageEnUs = 0x0409;

// Reads the description back the way the shell would; empty when the
// version information cannot be found.
bool readBackDescription(const std::wstring &exePath, QString &description)
{
    namespace platform = quillon::platform;
    const std::uint32_t size = platform::fileVersionInfoSize(exePath);
    if (size == 0)
        return false;
    std::vector<std::uint8_t> buffer;
    if (!platform::fileVersionInfo(exePath, size, buffer))
        return false;
    const void *value = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(buffer, L"\\StringFileInfo\\040904B0\\FileDescription", &value,
                                 &length) ||
        !value || length == 0)
        return false;
    const std::u16string text = platform::versionText(buffer, value, length);
    description = QString::fromStdU16String(text);
    return true;
}

} // namespace

bool Worker::writeVersionInfo(const QString &exePath, const QString &mainExeName)
{
    namespace platform = quillon::platform;
    const QByteArray bytes = quillon::buildVersionInfo(mainExeName);
    if (bytes.isEmpty()) {
        emit logMessage(QStringLiteral("警告：版本信息资源构造失败，跳过版本信息替换"));
        return false;
    }

    const std::wstring path = quillon::nativeWidePath(exePath);
    platform::ResourceUpdate update = platform::beginUpdateResource(path, false);
    if (!update) {
        emit logMessage(QStringLiteral("警告：无法打开 PE 文件写入版本信息（错误码: %1）")
                            .arg(platform::lastError()));
        return false;
    }

    platform::setLastError(0);
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    const bool updated =
        platform::updateResource(update, kRtVersion, kVersionName, kLanguageEnUs, data);
    std::uint32_t writeError = 0;
    std::uint32_t commitError = 0;
    bool committed = false;
    if (!updated) {
        writeError = platform::lastError();
        // The handle is always ended with commit, also after a failed update.
        committed = platform::endUpdateResource(update, false);
        if (!committed)
            commitError = platform::lastError();
    } else {
        committed = platform::endUpdateResource(update, false);
        if (!committed)
            commitError = platform::lastError();
    }
    if (!updated || !committed) {
        const QString failure = QStringLiteral("失败");
        const QString success = QStringLiteral("成功");
        emit logMessage(
            QStringLiteral(
                "警告：版本信息写入失败（写入 %1 错误码 %2 / 提交 %3 错误码 %4，数据 %5 字节）")
                .arg(updated ? success : failure)
                .arg(writeError)
                .arg(committed ? success : failure)
                .arg(commitError)
                .arg(bytes.size()));
        return false;
    }

    QString description;
    if (readBackDescription(path, description))
        emit logMessage(QStringLiteral("版本信息已写入并校验通过：%1").arg(description));
    else
        emit logMessage(QStringLiteral("警告：版本信息已写入但回读校验失败"));
    return true;
}
