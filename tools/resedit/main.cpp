// quillon-resedit: our resource editor, bundled as ResourceHacker.exe.
//
//   quillon-resedit -open T -save S -action addoverwrite -resource ICO
//                   -mask ICONGROUP,<name>,[<language>] [-log L]
//
// Makes the images of ICO the icon group <name> of T and writes the result
// to S (usually T itself) atomically. "-log NUL" or "/dev/null" discards the
// log; another path receives it. Any problem is one line on standard error
// and exit code 1 (2 for a bad command line), with nothing written.
#include "atomicfile.h"
#include "icongroup.h"
#include "peimage.h"
#include "pewriter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace quillon;

constexpr std::uint64_t kMaxInput = 1ull << 30;

int fail(int code, const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return code;
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool readFile(const std::string &path, std::vector<std::uint8_t> &bytes, std::string &why)
{
    std::error_code ec;
    const std::filesystem::path native = std::filesystem::u8path(path);
    const auto size = std::filesystem::file_size(native, ec);
    if (ec) {
        why = ec.message();
        return false;
    }
    if (size > kMaxInput) {
        why = "file too large";
        return false;
    }
    std::ifstream in(native, std::ios::binary);
    if (!in) {
        why = "cannot open";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        why = "read error";
        return false;
    }
    return true;
}

// "ICONGROUP,1," -> name 1, any language; "ICONGROUP,MAINICON,1033" -> a
// string name in language 1033.
bool parseMask(const std::string &mask, pe::ResId &name, int &language)
{
    const auto first = mask.find(',');
    if (first == std::string::npos || lower(mask.substr(0, first)) != "icongroup")
        return false;
    const auto second = mask.find(',', first + 1);
    const std::string nameText = mask.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string languageText =
        second == std::string::npos ? std::string() : mask.substr(second + 1);
    if (nameText.empty() || nameText.size() > 256)
        return false;
    const auto isNumber = [](const std::string &text) {
        return !text.empty() && text.size() <= 5 &&
               text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (isNumber(nameText)) {
        const unsigned long id = std::stoul(nameText);
        if (id == 0 || id > 0xFFFF)
            return false;
        name = pe::ResId::fromId(static_cast<std::uint16_t>(id));
    } else {
        std::u16string upper;
        for (char c : nameText) {
            if (static_cast<unsigned char>(c) > 0x7F || c == ',')
                return false;
            upper.push_back(static_cast<char16_t>(std::toupper(static_cast<unsigned char>(c))));
        }
        name = pe::ResId::fromName(upper);
    }
    language = -1;
    if (!languageText.empty()) {
        if (!isNumber(languageText) || std::stoul(languageText) > 0xFFFF)
            return false;
        language = static_cast<int>(std::stoul(languageText));
    }
    return true;
}

int run(const std::vector<std::string> &args)
{
    static const char *known[] = {"-open", "-save", "-action", "-resource", "-mask", "-log"};
    std::map<std::string, std::string> options;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::string key = lower(args[i]);
        if (std::find(std::begin(known), std::end(known), key) == std::end(known))
            return fail(2, "unknown option: " + args[i]);
        if (i + 1 >= args.size())
            return fail(2, "missing value for " + args[i]);
        if (!options.emplace(key, args[i + 1]).second)
            return fail(2, "option given twice: " + args[i]);
    }
    for (const char *required : {"-open", "-save", "-action", "-resource", "-mask"}) {
        if (!options.count(required))
            return fail(2, std::string("missing option: ") + required);
    }
    if (lower(options["-action"]) != "addoverwrite")
        return fail(2, "unknown action: " + options["-action"]);
    pe::ResId groupName;
    int language = -1;
    if (!parseMask(options["-mask"], groupName, language))
        return fail(2, "unsupported mask: " + options["-mask"]);

    // The log goes nowhere, or to a file opened before anything is changed.
    std::FILE *log = nullptr;
    const std::string logPath = options.count("-log") ? options["-log"] : std::string("NUL");
    const bool discardLog = lower(logPath) == "nul" || logPath == "/dev/null";
    if (!discardLog) {
        log = std::fopen(logPath.c_str(), "a");
        if (!log)
            return fail(1, "cannot open log file: " + logPath);
    }
    auto note = [&](const std::string &line) {
        if (log)
            std::fprintf(log, "%s\n", line.c_str());
    };
    struct Closer
    {
        std::FILE *&file;
        ~Closer()
        {
            if (file)
                std::fclose(file);
        }
    } closer{log};

    const std::string &icoPath = options["-resource"];
    std::vector<std::uint8_t> icoBytes;
    std::string why;
    if (!readFile(icoPath, icoBytes, why))
        return fail(1, "cannot read icon file: " + icoPath + ": " + why);
    std::vector<ico::Image> images;
    Error error = ico::readIco(icoBytes.data(), icoBytes.size(), images);
    if (error.failed())
        return fail(1, "bad icon file: " + icoPath + ": " + error.message());

    const std::string &targetPath = options["-open"];
    std::vector<std::uint8_t> target;
    if (!readFile(targetPath, target, why))
        return fail(1, "cannot read target: " + targetPath + ": " + why);
    pe::PeImage image;
    error = pe::parsePe(target.data(), target.size(), image);
    if (error.failed())
        return fail(1, "not a usable executable: " + targetPath + ": " + error.message());
    note("opened " + targetPath);

    std::vector<pe::Resource> resources = image.resources;
    std::string summary;
    error = resedit::replaceIconGroup(resources, groupName, language, images, summary);
    if (error.failed())
        return fail(1, "cannot replace the icon group: " + error.message());
    note(summary);

    std::vector<std::uint8_t> rebuilt;
    const pe::WriteResult result = pe::rebuildResources(target, image, resources, rebuilt);
    if (result.error.failed())
        return fail(1, "cannot rebuild " + targetPath + ": " + result.error.message());
    for (const std::string &line : result.notes)
        note("note: " + line);

    const std::string &savePath = options["-save"];
    error = writeFileAtomically(savePath, rebuilt);
    if (error.failed())
        return fail(1, "cannot save " + savePath + ": " + error.message());
    note("saved " + savePath);
    return 0;
}

} // namespace

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
        if (size > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), size, nullptr, nullptr);
        args.push_back(text);
    }
    return run(args);
}
#else
int main(int argc, char **argv)
{
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
