#include "platform_write.h"

#include <QDir>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

namespace quillon::platform {

namespace {

// Native separators; the returned pointer lives as long as `holder`.
const wchar_t *wide(const QString &path, QString &holder)
{
    holder = QDir::toNativeSeparators(path);
    return reinterpret_cast<const wchar_t *>(holder.utf16());
}

} // namespace

ResourceUpdate beginUpdateResource(const QString &path, bool deleteExisting)
{
    QString native;
    return BeginUpdateResourceW(wide(path, native), deleteExisting ? TRUE : FALSE);
}

bool updateResource(ResourceUpdate update, std::uint16_t type, std::uint16_t name,
                    std::uint16_t language, const QByteArray &data)
{
    return UpdateResourceW(static_cast<HANDLE>(update), MAKEINTRESOURCEW(type),
                           MAKEINTRESOURCEW(name), language,
                           data.isEmpty() ? nullptr : const_cast<char *>(data.constData()),
                           static_cast<DWORD>(data.size())) != FALSE;
}

bool endUpdateResource(ResourceUpdate update, bool discard)
{
    return EndUpdateResourceW(static_cast<HANDLE>(update), discard ? TRUE : FALSE) != FALSE;
}

void setLastError(std::uint32_t code)
{
    SetLastError(code);
}

std::uint32_t lastError()
{
    return GetLastError();
}

std::uint32_t fileVersionInfoSize(const QString &path)
{
    QString native;
    return GetFileVersionInfoSizeW(wide(path, native), nullptr);
}

bool fileVersionInfo(const QString &path, std::uint32_t size, QByteArray &buffer)
{
    QString native;
    buffer = QByteArray(static_cast<qsizetype>(size), '\0');
    return GetFileVersionInfoW(wide(path, native), 0, size, buffer.data()) != FALSE;
}

bool verQueryValue(const QByteArray &buffer, const QString &subBlock, const void **value,
                   std::uint32_t *length)
{
    LPVOID pointer = nullptr;
    UINT size = 0;
    const BOOL ok = VerQueryValueW(
        buffer.constData(), reinterpret_cast<const wchar_t *>(subBlock.utf16()), &pointer, &size);
    *value = pointer;
    *length = size;
    return ok != FALSE;
}

int extractIconCount(const QString &path)
{
    QString native;
    return static_cast<int>(ExtractIconExW(wide(path, native), -1, nullptr, nullptr, 0));
}

bool extractFirstLargeIcon(const QString &path)
{
    QString native;
    HICON large = nullptr;
    const UINT count = ExtractIconExW(wide(path, native), 0, &large, nullptr, 1);
    const bool ok = count != 0 && large != nullptr;
    if (large)
        DestroyIcon(large);
    return ok;
}

void notifyAssociationsChanged()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace quillon::platform
