#include "pewriter.h"

namespace quillon::pe {

// Placeholder until the writer lands.
WriteResult rebuildResources(const std::vector<std::uint8_t> &, const PeImage &,
                             const std::vector<Resource> &, std::vector<std::uint8_t> &)
{
    WriteResult r;
    r.error = Error(ErrorKind::Unsupported, 0, "PE writer not built yet");
    return r;
}

void upsertResource(std::vector<Resource> &, Resource) {}

std::size_t removeResources(std::vector<Resource> &, const ResId &, const ResId &, int)
{
    return 0;
}

Error writeFileAtomically(const std::string &, const std::vector<std::uint8_t> &)
{
    return Error(ErrorKind::Unsupported, 0, "PE writer not built yet");
}

} // namespace quillon::pe
