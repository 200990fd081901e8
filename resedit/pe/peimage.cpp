#include "peimage.h"

namespace quillon::pe {

// Placeholder until the reader lands.
Error parsePe(const std::uint8_t *, std::uint64_t, PeImage &)
{
    return Error(ErrorKind::Unsupported, 0, "PE reader not built yet");
}

Error loadPeFile(const std::string &, std::vector<std::uint8_t> &, PeImage &)
{
    return Error(ErrorKind::Unsupported, 0, "PE reader not built yet");
}

std::vector<ResId> resourceNames(const PeImage &, const ResId &) { return {}; }

const Resource *findResource(const PeImage &, const ResId &, const ResId &) { return nullptr; }

const Resource *findResource(const PeImage &, const ResId &, const ResId &, std::uint16_t)
{
    return nullptr;
}

bool rvaToOffset(const PeImage &, std::uint32_t, std::uint64_t &) { return false; }

} // namespace quillon::pe
