// Queries arbitrary bytes as a version-information block, as the read-back
// after a version write does: every answer lies inside the buffer, and the
// description text is read without passing its end.
#include "platform_write.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > (1u << 16))
        return 0;
    const std::vector<std::uint8_t> buffer(data, data + size);
    static const wchar_t *const queries[] = {
        L"\\",
        L"\\VarFileInfo\\Translation",
        L"\\StringFileInfo\\040904B0\\FileDescription",
        L"\\StringFileInfo\\040904b0\\ProductName",
        L"\\StringFileInfo",
    };
    for (const wchar_t *query : queries) {
        const void *value = nullptr;
        std::uint32_t length = 0;
        if (!quillon::platform::verQueryValue(buffer, query, &value, &length))
            continue;
        const auto *at = static_cast<const std::uint8_t *>(value);
        if (!at || at < buffer.data() || length > buffer.data() + buffer.size() - at)
            std::abort();
        const std::u16string text = quillon::platform::versionText(buffer, value, length);
        if (text.size() > length)
            std::abort();
    }
    return 0;
}
