#include "support/spatial_index_check.h"

#include <algorithm>
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

::testing::AssertionResult checkSpatialIndex(const Bytes& m, IndexShape& shape)
{
    const auto boxAt = [&](std::size_t at) {
        const auto s32 = [&](std::size_t i) { return static_cast<std::int32_t>(getLE32(m, at + i)); };
        return map::Box{s32(0), s32(4), s32(8), s32(12)};
    };
    shape = {{}, {}, m.size()};
    const auto depth = std::to_integer<std::size_t>(m.at(351));
    if (getLE32(m, 304) == 0 && depth == 0)
        return ::testing::AssertionSuccess();
    // The header's box stands for the root's entry, which only has to hold the root's box.
    std::vector<map::IndexEntry> level{{boxAt(272), getLE32(m, 304)}};
    std::set<std::uint64_t> seen;
    for (std::size_t d = 0; d + 2 <= depth; ++d) {
        std::vector<map::IndexEntry> next;
        for (const map::IndexEntry& up : level) {
            const std::size_t at = up.child, n = at + 512 <= m.size() ? getLE16(m, at + 2) : 0;
            if (at % 512 != 0 || n < 1 || n > 25 || getLE16(m, at) != 1 || !seen.insert(at).second ||
                std::any_of(m.begin() + at + 4 + 20 * n, m.begin() + at + 512,
                            [](std::byte b) { return b != std::byte{0}; }))
                return ::testing::AssertionFailure() << "no fresh index block of 1 to 25 entries at " << at;
            map::Box box = boxAt(at + 4);
            for (std::size_t k = 0; k < n; ++k) {
                next.push_back({boxAt(at + 4 + 20 * k), getLE32(m, at + 20 + 20 * k)});
                box = map::unite(box, next.back().box);
            }
            if (d == 0 ? !(map::unite(up.box, box) == up.box) : !(box == up.box))
                return ::testing::AssertionFailure()
                       << "block " << at << " bounds " << testing::PrintToString(box) << ", its entry "
                       << testing::PrintToString(up.box);
            shape.firstIndexBlock = std::min<std::uint64_t>(shape.firstIndexBlock, at);
        }
        shape.levelSizes.push_back(level.size());
        level = std::move(next);
    }
    for (const map::IndexEntry& leaf : level)
        if (leaf.child % 512 != 0 || leaf.child >= m.size() || m[leaf.child] != std::byte{2} ||
            !seen.insert(leaf.child).second)
            return ::testing::AssertionFailure() << "no fresh object data block at " << leaf.child;
    shape.leaves = level;
    if (getLE32(m, 304) + 512 != m.size() ||
        shape.firstIndexBlock + 512 * seen.size() != m.size() + 512 * level.size())
        return ::testing::AssertionFailure() << "the index blocks do not fill the file's end, root last";
    return ::testing::AssertionSuccess();
}

} // namespace tabrescue::test
