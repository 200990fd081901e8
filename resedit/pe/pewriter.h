// Portable writer of PE resources: rebuilds the resource section of a PE32 /
// PE32+ image from a list of resources. Plain C++ (no Qt).
#pragma once

#include "peimage.h"

#include <string>
#include <vector>

namespace quillon::pe {

struct WriteResult
{
    Error error;
    std::vector<std::string> notes; // e.g. "certificate table dropped"
};

// Builds a new image from `original` (parsed as `image`) whose resource tree
// holds exactly `resources`. Headers, section sizes, SizeOfImage,
// SizeOfInitializedData, the resource data directory and the checksum (when
// the file had one) are kept consistent; an overlay is kept after the image.
WriteResult rebuildResources(const std::vector<std::uint8_t> &original, const PeImage &image,
                             const std::vector<Resource> &resources,
                             std::vector<std::uint8_t> &out);

// Replaces (or adds) one resource in the list, by type, name and language.
void upsertResource(std::vector<Resource> &resources, Resource resource);

// Removes resources matching type and name (every language when
// `language` is negative). Returns how many were removed.
std::size_t removeResources(std::vector<Resource> &resources, const ResId &type, const ResId &name,
                            int language = -1);

} // namespace quillon::pe
