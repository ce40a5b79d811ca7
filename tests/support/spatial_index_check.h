#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "map/map_spatial_index.h"
#include "support/files.h"

namespace tabrescue::map {
void PrintTo(const Box& b, std::ostream* os);
void PrintTo(const IndexEntry& e, std::ostream* os);
} // namespace tabrescue::map

namespace tabrescue::test {

// What a reader finds when it descends a .MAP's spatial index from the header's root.
struct IndexShape
{
    std::vector<std::size_t> levelSizes; // index blocks per level, root level first
    std::vector<map::IndexEntry> leaves; // in the order a full descent meets them
    std::uint64_t firstIndexBlock = 0;
};

// Reads the index level by level with offsets of its own and checks what the format asks: index
// blocks of type 1 with 1 to 25 entries and zeros after them, each reached once, each entry's box
// the union of its child's (the header's box holds the root's), leaves that are object data blocks
// at the header's depth, index blocks at the file's end with the root last; or both fields 0.
::testing::AssertionResult checkSpatialIndex(const Bytes& map, IndexShape& shape);

} // namespace tabrescue::test
