// The differential probe: one program, built twice. Natively it runs the
// portable resource layer; cross-built with mingw-w64 and run under Wine it
// runs the Win32 layer. Both print the same text report, so the two can be
// compared line by line. It makes the layer's calls in the order
// writeVersionInfo, exeHasUsableIcon and extractIconFromExe make them.
#include "ico.h"
#include "platform_read.h"
#include "platform_write.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace probe {

namespace platform = quillon::platform;

std::wstring fromUtf8(const std::string &text);
std::string toUtf8(const std::u16string &text);
std::string toUtf8(const std::wstring &text);

namespace {

bool readFile(const std::wstring &path, std::vector<std::uint8_t> &bytes)
{
#ifdef _WIN32
    FILE *file = _wfopen(path.c_str(), L"rb");
#else
    FILE *file = std::fopen(toUtf8(path).c_str(), "rb");
#endif
    if (!file) {
        return false;
    }
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

struct VersionQuery
{
    std::uint32_t size = 0; // fileVersionInfoSize
    bool filled = false;    // fileVersionInfo
    bool hasRoot = false;   // verQueryValue "\"
    std::vector<std::uint8_t> root;
    bool hasTranslation = false; // "\VarFileInfo\Translation"
    std::vector<std::uint8_t> translation;
    bool hasDescription = false; // "\StringFileInfo\040904B0\FileDescription"
    std::uint32_t descriptionLength = 0;
    std::u16string description; // up to the terminator
};

bool query(const std::vector<std::uint8_t> &buffer, const wchar_t *subBlock,
           std::vector<std::uint8_t> &bytes)
{
    const void *value = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(buffer, subBlock, &value, &length) || !value) {
        return false;
    }
    const auto *begin = static_cast<const std::uint8_t *>(value);
    bytes.assign(begin, begin + length);
    return true;
}

VersionQuery queryVersion(const std::wstring &path)
{
    VersionQuery result;
    result.size = platform::fileVersionInfoSize(path);
    if (result.size == 0) {
        return result;
    }
    std::vector<std::uint8_t> buffer;
    result.filled = platform::fileVersionInfo(path, result.size, buffer);
    if (!result.filled) {
        return result;
    }
    result.hasRoot = query(buffer, L"\\", result.root);
    result.hasTranslation = query(buffer, L"\\VarFileInfo\\Translation", result.translation);
    const void *value = nullptr;
    std::uint32_t length = 0;
    if (platform::verQueryValue(buffer, L"\\StringFileInfo\\040904B0\\FileDescription", &value,
                                &length) &&
        value && length != 0) {
        result.hasDescription = true;
        result.descriptionLength = length;
        result.description = platform::versionText(buffer, value, length);
    }
    return result;
}

struct VersionWrite
{
    bool begun = false;
    std::uint32_t beginError = 0;
    bool updated = false;
    std::uint32_t updateError = 0;
    bool committed = false;
    std::uint32_t commitError = 0;
};

// Begin without deleting, clear the error, update RT_VERSION 1 in 0x0409,
// commit: the sequence of writeVersionInfo.
VersionWrite writeVersion(const std::wstring &path, const std::vector<std::uint8_t> &bytes)
{
    VersionWrite result;
    platform::ResourceUpdate update = platform::beginUpdateResource(path, false);
    if (!update) {
        result.beginError = platform::lastError();
        return result;
    }
    result.begun = true;
    platform::setLastError(0);
    result.updated = platform::updateResource(update, 16, 1, 0x0409, bytes);
    if (!result.updated) {
        result.updateError = platform::lastError();
    }
    result.committed = platform::endUpdateResource(update, false);
    if (!result.committed) {
        result.commitError = platform::lastError();
    }
    return result;
}

std::uint64_t fnv1a(const std::uint8_t *data, std::uint64_t size)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string hex(const std::uint8_t *data, std::uint64_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(static_cast<std::size_t>(size) * 2);
    for (std::uint64_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out.empty() ? std::string("-") : out;
}

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    return hex(bytes.data(), bytes.size());
}

// "<size> <hash>" of a byte range: enough to show that two reads agree
// without printing megabytes.
std::string digest(const std::uint8_t *data, std::uint64_t size)
{
    char text[64];
    std::snprintf(text, sizeof text, "%llu %016llx", static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(fnv1a(data, size)));
    return text;
}

const char *statusName(platform::LargeIconStatus status)
{
    switch (status) {
    case platform::LargeIconStatus::Ok:
        return "ok";
    case platform::LargeIconStatus::NoIcon:
        return "no-icon";
    case platform::LargeIconStatus::NoIconInfo:
        return "no-icon-info";
    case platform::LargeIconStatus::BadSize:
        return "bad-size";
    }
    return "?";
}

// The colours a viewer sees, as R, G, B per pixel. GDI has already drawn the
// icon onto opaque white; the portable layer's pixels carry their alpha and
// are composited onto white here.
std::vector<std::uint8_t> seenOnWhite(const platform::LargeIcon &icon)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(icon.bgra.size() / 4 * 3);
    for (std::size_t i = 0; i + 3 < icon.bgra.size(); i += 4) {
        for (int channel = 2; channel >= 0; --channel) {
            const unsigned value = icon.bgra[i + static_cast<std::size_t>(channel)];
#ifdef _WIN32
            rgb.push_back(static_cast<std::uint8_t>(value));
#else
            const unsigned alpha = icon.bgra[i + 3];
            rgb.push_back(static_cast<std::uint8_t>((value * alpha + 255 * (255 - alpha)) / 255));
#endif
        }
    }
    return rgb;
}

void reportShell(const std::wstring &path);
void reportVersion(const std::wstring &path);

// One block of lines per file; each line names one query so that a
// difference points at the query that differs.
void report(const std::wstring &path, bool shell)
{
    std::printf("file %s\n", toUtf8(path).c_str());
    {
        platform::ResourceModule module(path);
        std::printf("loaded %d\n", module.loaded() ? 1 : 0);
        quillon::ico::ImageBytes group;
        if (!module.firstIconGroup(group)) {
            std::printf("group none\n");
        } else {
            std::printf("group %s\n", hex(group.data, group.size).c_str());
            std::vector<quillon::ico::GroupEntry> entries;
            if (!quillon::ico::parseGroup(group.data, group.size, entries)) {
                std::printf("entries invalid\n");
            }
            for (const quillon::ico::GroupEntry &entry : entries) {
                quillon::ico::ImageBytes image;
                if (module.iconImage(entry.imageId, image)) {
                    std::printf("image %u %s\n", unsigned(entry.imageId),
                                digest(image.data, image.size).c_str());
                } else {
                    std::printf("image %u missing\n", unsigned(entry.imageId));
                }
            }
            std::vector<std::uint8_t> icoBytes;
            const bool assembled = quillon::ico::assembleIco(
                entries,
                [&module](std::uint16_t id, quillon::ico::ImageBytes &image) {
                    return module.iconImage(id, image);
                },
                icoBytes);
            std::printf("ico %s\n", assembled && !entries.empty()
                                        ? digest(icoBytes.data(), icoBytes.size()).c_str()
                                        : "none");
        }
    }

    if (!shell) {
        std::printf("shell skipped\n");
    } else {
        reportShell(path);
    }
    reportVersion(path);
    std::fflush(stdout);
}

void reportShell(const std::wstring &path)
{
    platform::LargeIcon large;
    const platform::LargeIconStatus status = platform::drawLargeIcon(path, large);
    std::printf("large %s %dx%d pixels=%d\n", statusName(status), large.width, large.height,
                large.hasPixels ? 1 : 0);
    if (large.hasPixels) {
        std::printf("large-pixels %s\n", digest(large.bgra.data(), large.bgra.size()).c_str());
        std::printf("large-seen %s\n", hex(seenOnWhite(large)).c_str());
    }

    // exeHasUsableIcon's two calls.
    std::printf("icons %d first=%d\n", platform::extractIconCount(path),
                platform::extractFirstLargeIcon(path) ? 1 : 0);
}

void reportVersion(const std::wstring &path)
{
    const VersionQuery version = queryVersion(path);
    std::printf("version-size %s\n", version.size ? "nonzero" : "0");
    std::printf("version-info %d\n", version.filled ? 1 : 0);
    std::printf("version-root %s\n", version.hasRoot ? hex(version.root).c_str() : "none");
    std::printf("version-translation %s\n",
                version.hasTranslation ? hex(version.translation).c_str() : "none");
    if (version.hasDescription) {
        std::printf("version-description %u %s\n", unsigned(version.descriptionLength),
                    toUtf8(version.description).c_str());
    } else {
        std::printf("version-description none\n");
    }
}

std::vector<std::wstring> readList(const std::wstring &listPath, bool &ok)
{
    std::vector<std::uint8_t> bytes;
    std::vector<std::wstring> lines;
    ok = readFile(listPath, bytes);
    std::string line;
    for (std::uint8_t byte : bytes) {
        if (byte == '\n') {
            if (!line.empty()) {
                lines.push_back(fromUtf8(line));
            }
            line.clear();
        } else if (byte != '\r') {
            line.push_back(static_cast<char>(byte));
        }
    }
    if (!line.empty()) {
        lines.push_back(fromUtf8(line));
    }
    return lines;
}

} // namespace

std::wstring fromUtf8(const std::string &text)
{
    std::u32string points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xe0 ? 1 : lead < 0xf0 ? 2 : 3;
        char32_t c = lead < 0x80   ? lead
                     : lead < 0xe0 ? lead & 0x1fu
                     : lead < 0xf0 ? lead & 0x0fu
                                   : lead & 0x07u;
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i) {
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3fu);
        }
        points.push_back(c);
    }
    std::wstring out;
    for (char32_t c : points) {
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xd800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xdc00 + (c & 0x3ff)));
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}

namespace {

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

template <typename Units> std::string unitsToUtf8(const Units &units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        auto c = static_cast<char32_t>(units[i]);
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < units.size()) {
            const auto low = static_cast<char32_t>(units[i + 1]);
            if (low >= 0xdc00 && low < 0xe000) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

} // namespace

std::string toUtf8(const std::u16string &text)
{
    return unitsToUtf8(text);
}

std::string toUtf8(const std::wstring &text)
{
    return unitsToUtf8(text);
}

int run(const std::vector<std::wstring> &arguments)
{
    if (arguments.size() == 2 && arguments[0] == L"read") {
        bool ok = false;
        const std::vector<std::wstring> files = readList(arguments[1], ok);
        if (!ok) {
            std::fprintf(stderr, "cannot read the list %s\n", toUtf8(arguments[1]).c_str());
            return 2;
        }
        // A leading '?' keeps the shell's icon calls away from a file: Wine's
        // ExtractIconExW reads past the end of a truncated image.
        for (const std::wstring &file : files) {
            if (!file.empty() && file[0] == L'?') {
                report(file.substr(1), false);
            } else {
                report(file, true);
            }
        }
        std::printf("end\n");
        return 0;
    }
    if (arguments.size() == 3 && arguments[0] == L"write") {
        std::vector<std::uint8_t> bytes;
        if (!readFile(arguments[2], bytes)) {
            std::fprintf(stderr, "cannot read %s\n", toUtf8(arguments[2]).c_str());
            return 2;
        }
        const VersionWrite result = writeVersion(arguments[1], bytes);
        std::printf("write begin=%d/%u update=%d/%u commit=%d/%u\n", result.begun ? 1 : 0,
                    unsigned(result.beginError), result.updated ? 1 : 0,
                    unsigned(result.updateError), result.committed ? 1 : 0,
                    unsigned(result.commitError));
        return 0;
    }
    std::fprintf(stderr, "usage: probe read <list file> | probe write <exe> <resource file>\n");
    return 2;
}

} // namespace probe

#ifdef _WIN32
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return probe::run(arguments);
}
#else
int main(int argc, char **argv)
{
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(probe::fromUtf8(argv[i]));
    }
    return probe::run(arguments);
}
#endif
