// The platform calls behind writeVersionInfo and exeHasUsableIcon. On Windows
// they are the system's own; elsewhere our layer does the same work with the
// portable PE reader and writer and answers with the error numbers Windows
// would give.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace quillon::platform {

// Windows error numbers used by the portable layer.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;

using ResourceUpdate = void *;

// BeginUpdateResourceW(path, deleteExisting): null on failure.
ResourceUpdate beginUpdateResource(const QString &path, bool deleteExisting);
// UpdateResourceW with integer type and name; empty data removes the resource.
bool updateResource(ResourceUpdate update, std::uint16_t type, std::uint16_t name,
                    std::uint16_t language, const QByteArray &data);
// EndUpdateResourceW: writes the file unless `discard`; always frees the handle.
bool endUpdateResource(ResourceUpdate update, bool discard);

void setLastError(std::uint32_t code);
std::uint32_t lastError();

// GetFileVersionInfoSizeW / GetFileVersionInfoW / VerQueryValueW.
std::uint32_t fileVersionInfoSize(const QString &path);
bool fileVersionInfo(const QString &path, std::uint32_t size, QByteArray &buffer);
// Looks up `subBlock` ("\StringFileInfo\040904B0\FileDescription") in a
// buffer filled by fileVersionInfo. `value` points into `buffer`; `length` is
// in UTF-16 code units for text values, bytes otherwise.
bool verQueryValue(const QByteArray &buffer, const QString &subBlock, const void **value,
                   std::uint32_t *length);

// ExtractIconExW(path, -1, 0, 0, 0): the number of icons, read as signed.
int extractIconCount(const QString &path);
// ExtractIconExW(path, 0, &large, 0, 1): true when it reports a non-zero
// count and gives a handle; the handle is destroyed before returning.
bool extractFirstLargeIcon(const QString &path);

// SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, 0, 0); nothing elsewhere.
void notifyAssociationsChanged();

} // namespace quillon::platform
