#include "support/spatial_index_check.h"

#include <set>

namespace tabrescue::map {

void PrintTo(const Box& b, std::ostream* os)
{
    *os << "(" << b.xMin << "," << b.yMin << " .. " << b.xMax << "," << b.yMax << ")";
}

void PrintTo(const IndexEntry& e, std::ostream* os)
{
    PrintTo(e.box, os);
    *os << " -> " << e.child;
}

} // namespace tabrescue::map

namespace tabrescue::test {

namespace {

struct Descent
{
    const Bytes& map;
    IndexShape& shape;
    std::size_t levels;
    std::set<std::uint64_t> seen;

    map::Box boxAt(std::size_t at) const
    {
        const auto s32 = [&](std::size_t i) { return static_cast<std::int32_t>(getLE32(map, i)); };
        return {s32(at), s32(at + 4), s32(at + 8), s32(at + 12)};
    }

    // Sets `bound` to the union of the block's entries; returns what is wrong, or "".
    std::string visit(std::uint64_t offset, std::size_t depth, map::Box& bound)
    {
        const std::string where = "block " + std::to_string(offset) + " at depth " + std::to_string(depth);
        if (offset % 512 != 0 || offset + 512 > map.size() || !seen.insert(offset).second)
            return where + " is no fresh whole block";
        const auto at = static_cast<std::size_t>(offset);
        const std::size_t n = getLE16(map, at + 2);
        if (getLE16(map, at) != 1 || n < 1 || n > 25)
            return where + " is no index block of 1 to 25 entries";
        for (std::size_t i = 4 + 20 * n; i < 512; ++i)
            if (map[at + i] != std::byte{0})
                return where + " has a non-zero byte after its entries";
        shape.levelSizes.resize(std::max(shape.levelSizes.size(), depth));
        ++shape.levelSizes[depth - 1];
        shape.firstIndexBlock = std::min(shape.firstIndexBlock, offset);
        for (std::size_t k = 0; k < n; ++k) {
            const map::IndexEntry entry{boxAt(at + 4 + 20 * k), getLE32(map, at + 20 + 20 * k)};
            const std::string what =
                where + " entry " + std::to_string(k) + " " + testing::PrintToString(entry);
            bound = k == 0 ? entry.box : map::unite(bound, entry.box);
            map::Box child;
            if (depth == levels) {
                if (entry.child % 512 != 0 || entry.child >= map.size() || map[entry.child] != std::byte{2} ||
                    !seen.insert(entry.child).second)
                    return what + " leads to no fresh object data block";
                shape.leaves.push_back(entry);
            } else if (std::string why = visit(entry.child, depth + 1, child); !why.empty()) {
                return why;
            } else if (!(child == entry.box)) {
                return what + " differs from its child's " + testing::PrintToString(child);
            }
        }
        return {};
    }
};

} // namespace

::testing::AssertionResult checkSpatialIndex(const Bytes& map, IndexShape& shape)
{
    shape = {};
    shape.firstIndexBlock = map.size();
    const std::uint32_t root = getLE32(map, 304);
    const auto depth = std::to_integer<std::size_t>(map.at(351));
    if (root == 0 && depth == 0)
        return ::testing::AssertionSuccess();
    if (root == 0 || depth < 2)
        return ::testing::AssertionFailure() << "root " << root << " with depth byte " << depth;
    Descent descent{map, shape, depth - 1, {}};
    map::Box rootBox;
    if (std::string why = descent.visit(root, 1, rootBox); !why.empty())
        return ::testing::AssertionFailure() << why;
    std::size_t blocks = 0;
    for (std::size_t n : shape.levelSizes)
        blocks += n;
    if (root + 512 != map.size() || shape.firstIndexBlock + 512 * blocks != map.size())
        return ::testing::AssertionFailure() << "the index blocks do not fill the file's end, root last";
    const map::Box header = descent.boxAt(272);
    if (!(map::unite(header, rootBox) == header))
        return ::testing::AssertionFailure() << "header box " << testing::PrintToString(header)
                                             << " misses the root's " << testing::PrintToString(rootBox);
    return ::testing::AssertionSuccess();
}

} // namespace tabrescue::test
