// quillon-unpack l|t|x ARCHIVE [OUTDIR]
#include "fileinput.h"
#include "payload.h"
#include "posixsink.h"
#include "sevenzip.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace quillon;
using namespace quillon::sevenzip;

// Checks the data without writing it anywhere.
class TestSink : public Sink
{
public:
    bool directory(const Entry &) override { return true; }
    bool beginFile(const Entry &) override { return true; }
    bool write(const std::uint8_t *, std::size_t size) override
    {
        bytes += size;
        return true;
    }
    bool endFile(const Entry &) override
    {
        ++files;
        return true;
    }
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

int failWith(const std::string &message)
{
    std::fprintf(stderr, "quillon-unpack: %s\n", message.c_str());
    return 1;
}

std::string timeText(const Entry &entry)
{
    if (!entry.hasModificationTime)
        return "                   ";
    const auto seconds = static_cast<std::time_t>(
        (static_cast<std::int64_t>(entry.modificationTime) - 116444736000000000LL) / 10000000);
    std::tm tm{};
    char text[32];
    if (!::gmtime_r(&seconds, &tm) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm))
        return "                   ";
    return text;
}

constexpr char kUsage[] = "usage: quillon-unpack l|t|x ARCHIVE [OUTDIR]\n"
                          "  l  list the entries\n"
                          "  t  test every CRC\n"
                          "  x  extract into OUTDIR (default: the current folder)\n"
                          "ARCHIVE is a 7z archive or a self-extracting Quillon output.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quillon-unpack %s\n", QUILLON_VERSION_TEXT);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 3 || argc > 4 || std::strlen(argv[1]) != 1 || !std::strchr("ltx", argv[1][0]))
        return usage();
    const char mode = argv[1][0];
    if (mode != 'x' && argc == 4)
        return usage();
    const std::unique_ptr<Input> file = openFileInput(argv[2]);
    if (!file)
        return failWith(std::string("cannot open ") + argv[2] + ": " + std::strerror(errno));
    Input &input = *file;

    // A module (PE, or ELF for the host launcher) is read as the module reads
    // itself: the payload after its own image.
    std::uint64_t offset = 0;
    char magic[4] = {};
    if (input.size() >= 4 && input.readAt(0, magic, 4) &&
        ((magic[0] == 'M' && magic[1] == 'Z') ||
         (magic[0] == '\x7F' && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F'))) {
        Payload payload;
        const Error error = locateModulePayload(input, payload);
        if (error.failed())
            return failWith("not a Quillon output: " + error.message());
        offset = payload.archiveOffset;
    }
    Archive archive;
    Error error = archive.open(input, offset);
    if (error.failed())
        return failWith(error.message());

    if (mode == 'l') {
        for (const Entry &entry : archive.entries())
            std::printf("%s %c %14llu  %s\n", timeText(entry).c_str(),
                        entry.isDirectory ? 'D' : 'F', static_cast<unsigned long long>(entry.size),
                        entry.path.c_str());
        std::printf("%zu entries, %llu bytes\n", archive.entries().size(),
                    static_cast<unsigned long long>(archive.totalUnpackSize()));
        return 0;
    }
    if (mode == 't') {
        TestSink sink;
        if ((error = archive.extract(sink)).failed())
            return failWith(error.message());
        std::printf("OK: %llu files, %llu bytes\n", static_cast<unsigned long long>(sink.files),
                    static_cast<unsigned long long>(sink.bytes));
        return 0;
    }
    quillon::sevenzip::PosixSink sink(argc == 4 ? argv[3] : ".");
    if (!sink.open())
        return failWith(sink.lastError());
    error = archive.extract(sink);
    if (error.ok() && !sink.finish())
        error = Error(ErrorKind::Io, 0, sink.lastError());
    if (error.failed()) {
        const std::string detail = sink.lastError();
        sink.removeCreated();
        return failWith(error.kind == ErrorKind::Io && !detail.empty() ? detail : error.message());
    }
    return 0;
}
