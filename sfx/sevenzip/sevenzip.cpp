#include "sevenzip.h"

namespace quillon::sevenzip {

// Placeholder until the reader lands.
struct Archive::State {
    std::vector<Entry> entries;
};

Archive::Archive() : m_state(new State) {}
Archive::~Archive() { delete m_state; }

Error Archive::open(Input &, std::uint64_t, const Options &)
{
    return Error(ErrorKind::Unsupported, 0, "7z reader not built yet");
}

const std::vector<Entry> &Archive::entries() const { return m_state->entries; }
std::uint64_t Archive::totalUnpackSize() const { return 0; }
std::uint64_t Archive::archiveEnd() const { return 0; }

Error Archive::extract(Sink &) { return Error(ErrorKind::Unsupported, 0, "7z reader not built yet"); }

} // namespace quillon::sevenzip
