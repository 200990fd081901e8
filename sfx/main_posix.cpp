// Entry point of the host launcher: fills the context and runs it.
#include "launcher.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    using namespace quillon::sfx;
    Context ctx;
    if (const char *value = std::getenv(kTraceVariable);
        value && *value && std::strcmp(value, "0")) {
        ctx.trace = true;
        if (std::strcmp(value, "1") != 0)
            ctx.traceFile = value;
    }
    if (const char *value = std::getenv(kNoUiVariable); value && *value && std::strcmp(value, "0"))
        ctx.noUi = true;

    char self[4096];
    const ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (len > 0) {
        self[len] = '\0';
        ctx.ownPath = self;
    } else if (argc > 0) {
        ctx.ownPath = argv[0];
    }
    for (int i = 1; i < argc; ++i)
        ctx.arguments.emplace_back(argv[i]);
    return run(ctx);
}
