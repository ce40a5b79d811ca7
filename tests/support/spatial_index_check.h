#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "map/map_spatial_index.h"
#include "support/files.h"

namespace tabrescue::test {

// What a reader finds when it descends a .MAP's spatial index from the header's root.
struct IndexShape
{
    int levels = 0;                      // index levels; 0 when the header names no index
    std::vector<std::size_t> levelSizes; // index blocks per level, root level first
    std::vector<map::IndexEntry> leaves; // leaf entries in the order a full descent meets them
    std::uint64_t firstIndexBlock = 0;   // offset of the lowest index block
};

// Descends the index the way a reader does and checks, independently of the code that wrote it:
// the header's depth matches the tree, every index block is well formed (type 1, 1 to 25 entries,
// zeros after them), every leaf lies at the same depth and is an object data block, no block is
// reached twice, every inner entry equals the union of its child's entries, the index blocks
// fill the file from the first of them to its end with the root last, and the header's box
// holds the root's. A header without an index must carry 0 at both fields.
::testing::AssertionResult checkSpatialIndex(const Bytes& map, IndexShape& shape);

// Leaf entries as plain rows for readable comparisons.
std::vector<std::uint32_t> leafChildren(const IndexShape& shape);

} // namespace tabrescue::test
