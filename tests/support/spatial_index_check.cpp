#include "support/spatial_index_check.h"

#include <set>
#include <sstream>

namespace tabrescue::test {

namespace {

constexpr std::size_t kBlock = 512;

std::int32_t s32(const Bytes& b, std::size_t at)
{
    return static_cast<std::int32_t>(getLE32(b, at));
}

map::Box boxAt(const Bytes& b, std::size_t at)
{
    return {s32(b, at), s32(b, at + 4), s32(b, at + 8), s32(b, at + 12)};
}

std::string describe(const map::Box& b)
{
    std::ostringstream s;
    s << "(" << b.xMin << "," << b.yMin << " .. " << b.xMax << "," << b.yMax << ")";
    return s.str();
}

class Descent
{
  public:
    Descent(const Bytes& map, IndexShape& shape) : m_map(map), m_shape(shape) {}

    // Returns the union of the block's entries, or an error text.
    std::string visit(std::uint64_t offset, int depth, map::Box& unionOut)
    {
        std::ostringstream err;
        if (offset % kBlock != 0 || offset + kBlock > m_map.size()) {
            err << "index block at " << offset << " is not a whole block of the file";
            return err.str();
        }
        if (!m_seen.insert(offset).second) {
            err << "block " << offset << " is reached twice";
            return err.str();
        }
        const auto at = static_cast<std::size_t>(offset);
        if (getLE16(m_map, at) != map::kIndexBlock) {
            err << "block " << offset << " at depth " << depth << " is not an index block";
            return err.str();
        }
        const std::size_t n = getLE16(m_map, at + map::kIndexEntryCountOffset);
        if (n < 1 || n > map::kIndexFanOut) {
            err << "index block " << offset << " holds " << n << " entries";
            return err.str();
        }
        for (std::size_t i = map::kIndexEntriesOffset + n * map::kIndexEntrySize; i < kBlock; ++i)
            if (m_map[at + i] != std::byte{0}) {
                err << "index block " << offset << " has a non-zero byte at " << i << " after its entries";
                return err.str();
            }
        if (m_shape.levelSizes.size() < static_cast<std::size_t>(depth))
            m_shape.levelSizes.resize(static_cast<std::size_t>(depth));
        ++m_shape.levelSizes[static_cast<std::size_t>(depth - 1)];
        m_firstIndex = std::min(m_firstIndex, offset);

        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t e = at + map::kIndexEntriesOffset + k * map::kIndexEntrySize;
            const map::IndexEntry entry{boxAt(m_map, e), getLE32(m_map, e + map::kIndexEntryChildOffset)};
            unionOut = k == 0 ? entry.box : map::unite(unionOut, entry.box);
            if (depth < m_shape.levels) {
                map::Box child;
                if (std::string why = visit(entry.child, depth + 1, child); !why.empty())
                    return why;
                if (!(child == entry.box)) {
                    err << "entry " << k << " of block " << offset << " has box " << describe(entry.box)
                        << " but its child's entries span " << describe(child);
                    return err.str();
                }
                continue;
            }
            if (entry.child % kBlock != 0 || entry.child + std::uint64_t{1} > m_map.size() ||
                m_map[entry.child] != std::byte{0x02}) {
                err << "leaf entry " << k << " of block " << offset << " points at " << entry.child
                    << ", which is not an object data block";
                return err.str();
            }
            if (!m_seen.insert(entry.child).second) {
                err << "object data block " << entry.child << " is reached twice";
                return err.str();
            }
            m_shape.leaves.push_back(entry);
        }
        return {};
    }

    std::uint64_t firstIndex() const { return m_firstIndex; }

  private:
    const Bytes& m_map;
    IndexShape& m_shape;
    std::set<std::uint64_t> m_seen;
    std::uint64_t m_firstIndex = UINT64_MAX;
};

} // namespace

::testing::AssertionResult checkSpatialIndex(const Bytes& map, IndexShape& shape)
{
    shape = {};
    if (map.size() < map::kIndexDepthOffset + 1)
        return ::testing::AssertionFailure() << "the file has no whole header";
    const std::uint32_t root = getLE32(map, map::kIndexRootOffset);
    const auto depth = std::to_integer<int>(map[map::kIndexDepthOffset]);
    if (root == 0 || depth == 0) {
        if (root != 0 || depth != 0)
            return ::testing::AssertionFailure() << "root " << root << " with depth byte " << depth;
        return ::testing::AssertionSuccess();
    }
    if (depth < 2)
        return ::testing::AssertionFailure() << "depth byte " << depth << " names no index level";
    shape.levels = depth - 1;
    Descent descent(map, shape);
    map::Box rootBox;
    if (std::string why = descent.visit(root, 1, rootBox); !why.empty())
        return ::testing::AssertionFailure() << why;
    if (root + kBlock != map.size())
        return ::testing::AssertionFailure()
               << "root " << root << " is not the last block of a file of " << map.size() << " bytes";
    shape.firstIndexBlock = descent.firstIndex();
    std::size_t indexBlocks = 0;
    for (std::size_t n : shape.levelSizes)
        indexBlocks += n;
    if (shape.firstIndexBlock + indexBlocks * kBlock != map.size())
        return ::testing::AssertionFailure() << "blocks between " << shape.firstIndexBlock
                                             << " and the end of the file are not all reached";
    const map::Box header = boxAt(map, map::kHeaderBoxOffset);
    if (!(map::unite(header, rootBox) == header))
        return ::testing::AssertionFailure()
               << "header box " << describe(header) << " does not hold the root's " << describe(rootBox);
    return ::testing::AssertionSuccess();
}

std::vector<std::uint32_t> leafChildren(const IndexShape& shape)
{
    std::vector<std::uint32_t> out;
    for (const map::IndexEntry& e : shape.leaves)
        out.push_back(e.child);
    return out;
}

} // namespace tabrescue::test
