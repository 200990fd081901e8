// The probe's portable side: the layer behind writeVersionInfo and
// exeHasUsableIcon on systems without the Win32 calls.
#include "platform_write.h"
#include "probe.h"

#include <QFile>

namespace probe {

namespace {

QString qPath(const std::wstring &path)
{
    return QString::fromStdWString(path);
}

bool query(const QByteArray &buffer, const char *subBlock, const void **value,
           std::uint32_t *length)
{
    *value = nullptr;
    *length = 0;
    return quillon::platform::verQueryValue(buffer, QString::fromLatin1(subBlock), value, length) &&
           *value != nullptr;
}

} // namespace

VersionQuery queryVersion(const std::wstring &path)
{
    VersionQuery result;
    result.size = quillon::platform::fileVersionInfoSize(qPath(path));
    if (result.size == 0) {
        return result;
    }
    QByteArray buffer;
    result.filled = quillon::platform::fileVersionInfo(qPath(path), result.size, buffer);
    if (!result.filled) {
        return result;
    }
    const void *value = nullptr;
    std::uint32_t length = 0;
    if (query(buffer, "\\", &value, &length)) {
        const auto *bytes = static_cast<const std::uint8_t *>(value);
        result.hasRoot = true;
        result.root.assign(bytes, bytes + length);
    }
    if (query(buffer, "\\VarFileInfo\\Translation", &value, &length)) {
        const auto *bytes = static_cast<const std::uint8_t *>(value);
        result.hasTranslation = true;
        result.translation.assign(bytes, bytes + length);
    }
    if (query(buffer, "\\StringFileInfo\\040904B0\\FileDescription", &value, &length) &&
        length != 0) {
        const auto *text = static_cast<const char16_t *>(value);
        result.hasDescription = true;
        result.descriptionLength = length;
        for (std::uint32_t i = 0; i < length && text[i] != 0; ++i) {
            result.description.push_back(text[i]);
        }
    }
    return result;
}

IconCount countIcons(const std::wstring &path)
{
    IconCount result;
    result.count = quillon::platform::extractIconCount(qPath(path));
    result.first = quillon::platform::extractFirstLargeIcon(qPath(path));
    return result;
}

VersionWrite writeVersion(const std::wstring &path, const std::vector<std::uint8_t> &bytes)
{
    VersionWrite result;
    quillon::platform::ResourceUpdate update =
        quillon::platform::beginUpdateResource(qPath(path), false);
    if (!update) {
        result.beginError = quillon::platform::lastError();
        return result;
    }
    result.begun = true;
    quillon::platform::setLastError(0);
    const QByteArray data(reinterpret_cast<const char *>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    result.updated = quillon::platform::updateResource(update, 16, 1, 0x0409, data);
    if (!result.updated) {
        result.updateError = quillon::platform::lastError();
    }
    result.committed = quillon::platform::endUpdateResource(update, false);
    if (!result.committed) {
        result.commitError = quillon::platform::lastError();
    }
    return result;
}

bool readFile(const std::wstring &path, std::vector<std::uint8_t> &bytes)
{
    QFile file(qPath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray data = file.readAll();
    bytes.assign(data.begin(), data.end());
    return true;
}

} // namespace probe
