// Our own resource update, version query and icon check, for systems without
// the Windows calls. Built on the portable PE reader and writer.
#include "platform_write.h"

#include "atomicfile.h"
#include "bytereader.h"
#include "ico.h"
#include "peimage.h"
#include "pewriter.h"

#include <QFile>
#include <QImage>

#include <cerrno>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace quillon::platform {

namespace {

thread_local std::uint32_t g_lastError = 0;

constexpr std::uint64_t kMaxPeFile = 1ull << 30;

std::uint32_t errnoToWindows(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return kErrorAccessDenied;
    case ETXTBSY:
    case EBUSY:
        return kErrorSharingViolation;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    default:
        return kErrorWriteFault;
    }
}

// Reads and parses a PE file; on failure sets the last error as Windows would
// for the same file.
bool loadImage(const std::wstring &widePath, std::vector<std::uint8_t> &bytes, pe::PeImage &image)
{
    const QString path = QString::fromStdWString(widePath);
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty() || ::access(native.constData(), F_OK) != 0) {
        g_lastError = kErrorFileNotFound;
        return false;
    }
    struct stat info
    {
    };
    if (::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        g_lastError = kErrorAccessDenied; // as Windows answers for a directory
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        g_lastError = errnoToWindows(::access(native.constData(), R_OK) != 0 ? errno : EIO);
        return false;
    }
    if (static_cast<std::uint64_t>(file.size()) > kMaxPeFile) {
        g_lastError = kErrorNotEnoughMemory;
        return false;
    }
    const QByteArray data = file.readAll();
    bytes.assign(data.begin(), data.end());
    const Error error = pe::parsePe(bytes.data(), bytes.size(), image);
    if (error.failed()) {
        g_lastError = kErrorBadExeFormat;
        return false;
    }
    return true;
}

struct PendingUpdate
{
    std::uint16_t type;
    std::uint16_t name;
    std::uint16_t language;
    std::vector<std::uint8_t> data;
};

struct UpdateState
{
    std::wstring path;
    bool deleteExisting = false;
    std::vector<PendingUpdate> updates;
};

// One node of a version tree: where its value lies and where its children
// begin and end, all as offsets into the buffer.
struct VersionNode
{
    QString key;
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::uint64_t valueOffset = 0;
    std::uint64_t childrenOffset = 0;
    std::uint64_t end = 0;
};

std::uint64_t align4(std::uint64_t value)
{
    return (value + 3) & ~std::uint64_t{3};
}

bool readVersionNode(const ByteReader &buffer, std::uint64_t offset, std::uint64_t limit,
                     VersionNode &node)
{
    std::uint16_t length = 0;
    if (!buffer.peekAt(offset, length) || !buffer.peekAt(offset + 2, node.valueLength) ||
        !buffer.peekAt(offset + 4, node.type) || length < 6 || offset + length > limit)
        return false;
    node.end = offset + length;
    node.key.clear();
    std::uint64_t at = offset + 6;
    for (;;) {
        std::uint16_t unit = 0;
        if (at + 2 > node.end || !buffer.peekAt(at, unit))
            return false;
        at += 2;
        if (unit == 0)
            break;
        node.key.append(QChar(unit));
    }
    node.valueOffset = align4(at);
    const std::uint64_t valueBytes =
        node.type == 1 ? std::uint64_t{node.valueLength} * 2 : node.valueLength;
    if (node.valueOffset + valueBytes > node.end)
        return false;
    node.childrenOffset = align4(node.valueOffset + valueBytes);
    return true;
}

// True when an icon image (PNG or DIB) looks loadable, as the shell would
// need to draw it.
bool iconImageUsable(const std::vector<std::uint8_t> &data)
{
    if (ico::isPng(data.data(), data.size())) {
        const QImage image = QImage::fromData(data.data(), static_cast<int>(data.size()), "PNG");
        return !image.isNull();
    }
    ByteReader reader(data.data(), data.size());
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    if (!reader.u32le(headerSize) || !reader.u32le(width) || !reader.u32le(height) ||
        !reader.u16le(planes) || !reader.u16le(bitCount))
        return false;
    if (headerSize < 40 || width == 0 || width > 1024 || height == 0 || height > 2048 ||
        height % 2 != 0 || planes != 1)
        return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return false;
    const std::uint64_t rows = height / 2;
    const std::uint64_t colorStride = (std::uint64_t{width} * bitCount + 31) / 32 * 4;
    const std::uint64_t palette = bitCount <= 8 ? (std::uint64_t{1} << bitCount) * 4 : 0;
    // The mask may be missing on 32-bit images; the colour data may not.
    const std::uint64_t needed = headerSize + palette + colorStride * rows;
    return needed <= data.size();
}

// The version resource GetFileVersionInfoW reads: name 1, else the first
// name, in the loader's language.
const pe::Resource *versionResource(const pe::PeImage &image)
{
    const pe::ResId type = pe::ResId::fromId(pe::kRtVersion);
    const pe::ResId one = pe::ResId::fromId(1);
    if (const pe::Resource *res = pe::findResource(image, type, one))
        return res;
    const auto names = pe::resourceNames(image, type);
    return names.empty() ? nullptr : pe::findResource(image, type, names.front());
}

} // namespace

ResourceUpdate beginUpdateResource(const std::wstring &path, bool deleteExisting)
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (!loadImage(path, bytes, image))
        return nullptr;
    if (::access(QFile::encodeName(QString::fromStdWString(path)).constData(), W_OK) != 0) {
        g_lastError = errnoToWindows(errno);
        return nullptr;
    }
    auto *state = new UpdateState;
    state->path = path;
    state->deleteExisting = deleteExisting;
    return state;
}

bool updateResource(ResourceUpdate update, std::uint16_t type, std::uint16_t name,
                    std::uint16_t language, const std::vector<std::uint8_t> &data)
{
    if (!update) {
        g_lastError = kErrorInvalidHandle;
        return false;
    }
    static_cast<UpdateState *>(update)->updates.push_back({type, name, language, data});
    return true;
}

bool endUpdateResource(ResourceUpdate update, bool discard)
{
    if (!update) {
        g_lastError = kErrorInvalidHandle;
        return false;
    }
    std::unique_ptr<UpdateState> state(static_cast<UpdateState *>(update));
    if (discard)
        return true;

    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (!loadImage(state->path, bytes, image))
        return false;
    std::vector<pe::Resource> resources;
    if (!state->deleteExisting)
        resources = image.resources;
    for (const PendingUpdate &u : state->updates) {
        if (u.data.empty()) {
            pe::removeResources(resources, pe::ResId::fromId(u.type), pe::ResId::fromId(u.name),
                                u.language);
            continue;
        }
        pe::Resource res;
        res.type = pe::ResId::fromId(u.type);
        res.name = pe::ResId::fromId(u.name);
        res.language = u.language;
        res.data = u.data;
        pe::upsertResource(resources, std::move(res));
    }
    std::vector<std::uint8_t> rebuilt;
    const pe::WriteResult result = pe::rebuildResources(bytes, image, resources, rebuilt);
    if (result.error.failed()) {
        g_lastError = result.error.kind == ErrorKind::LimitExceeded ? kErrorNotEnoughMemory
                                                                    : kErrorInvalidData;
        return false;
    }
    int systemError = 0;
    const Error written =
        writeFileAtomically(QFile::encodeName(QString::fromStdWString(state->path)).toStdString(),
                            rebuilt, systemError);
    if (written.failed()) {
        g_lastError = errnoToWindows(systemError);
        return false;
    }
    return true;
}

void setLastError(std::uint32_t code)
{
    g_lastError = code;
}

std::uint32_t lastError()
{
    return g_lastError;
}

std::uint32_t fileVersionInfoSize(const std::wstring &path)
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (!loadImage(path, bytes, image))
        return 0;
    const pe::Resource *res = versionResource(image);
    if (!res || res->data.empty() || res->data.size() > 0xFFFFFFFFull) {
        g_lastError = kErrorResourceDataNotFound;
        return 0;
    }
    return static_cast<std::uint32_t>(res->data.size());
}

bool fileVersionInfo(const std::wstring &path, std::uint32_t size,
                     std::vector<std::uint8_t> &buffer)
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    buffer.assign(size, 0);
    if (!loadImage(path, bytes, image))
        return false;
    const pe::Resource *res = versionResource(image);
    if (!res || res->data.empty()) {
        g_lastError = kErrorResourceDataNotFound;
        return false;
    }
    const std::size_t count = std::min<std::size_t>(size, res->data.size());
    std::copy(res->data.begin(), res->data.begin() + static_cast<std::ptrdiff_t>(count),
              buffer.begin());
    return true;
}

bool verQueryValue(const std::vector<std::uint8_t> &buffer, const std::wstring &subBlock,
                   const void **value, std::uint32_t *length)
{
    *value = nullptr;
    *length = 0;
    const ByteReader reader(buffer.data(), buffer.size());
    VersionNode node;
    if (!readVersionNode(reader, 0, reader.size(), node))
        return false;
    const QStringList parts =
        QString::fromStdWString(subBlock).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool found = false;
        std::uint64_t at = node.childrenOffset;
        const std::uint64_t parentEnd = node.end;
        while (at < parentEnd) {
            VersionNode child;
            if (!readVersionNode(reader, at, parentEnd, child))
                return false;
            if (child.key.compare(part, Qt::CaseInsensitive) == 0) {
                node = child;
                found = true;
                break;
            }
            at = align4(child.end);
        }
        if (!found)
            return false;
    }
    *value = buffer.data() + node.valueOffset;
    *length = node.valueLength;
    return true;
}

int extractIconCount(const std::wstring &path)
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (!loadImage(path, bytes, image))
        return 0;
    return static_cast<int>(pe::resourceNames(image, pe::ResId::fromId(pe::kRtGroupIcon)).size());
}

bool extractFirstLargeIcon(const std::wstring &path)
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (!loadImage(path, bytes, image))
        return false;
    const pe::ResId groupType = pe::ResId::fromId(pe::kRtGroupIcon);
    const auto names = pe::resourceNames(image, groupType);
    if (names.empty())
        return false;
    const pe::Resource *group = pe::findResource(image, groupType, names.front());
    if (!group)
        return false;
    // An icon group (type 1); its entries in order, up to the first one cut
    // short.
    std::uint16_t type = 0;
    if (!ByteReader(group->data.data(), group->data.size()).peekAt(2, type) || type != 1)
        return false;
    for (const std::uint16_t iconId : ico::groupImageIds(group->data.data(), group->data.size())) {
        const pe::Resource *icon =
            pe::findResource(image, pe::ResId::fromId(pe::kRtIcon), pe::ResId::fromId(iconId));
        if (icon && iconImageUsable(icon->data))
            return true;
    }
    return false;
}

void notifyAssociationsChanged() {}

} // namespace quillon::platform
