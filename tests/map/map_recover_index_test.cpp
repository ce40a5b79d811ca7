#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "map/map_recover.h"
#include "map/map_spatial_index.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/spatial_index_check.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using map::Box;
using map::IndexEntry;
using test::Bytes;
using test::MapBuilder;
using test::MapObject;

// Records whose row field is already their walk position and whose style bytes are valid, so
// that the recovery itself changes nothing in them and every changed byte belongs to the index.
Bytes le32s(std::initializer_list<std::int32_t> values)
{
    Bytes b;
    for (std::int32_t v : values)
        test::appendLE32(b, static_cast<std::uint32_t>(v));
    return b;
}

Bytes withStyle(Bytes body)
{
    body.push_back(std::byte{1});
    return body;
}

MapObject longPoint(std::uint32_t row, std::int32_t x, std::int32_t y)
{
    return MapObject::raw(0x02, row, withStyle(le32s({x, y})));
}

MapObject shortPoint(std::uint32_t row, std::int16_t dx, std::int16_t dy)
{
    Bytes body;
    test::appendLE16(body, static_cast<std::uint16_t>(dx));
    test::appendLE16(body, static_cast<std::uint16_t>(dy));
    return MapObject::raw(0x01, row, withStyle(body));
}

// Coordinate block pointer and sizes, then its own origin and four 16-bit box values.
MapObject shortPolyline(std::uint32_t row, std::int32_t ox, std::int32_t oy, std::int16_t x1, std::int16_t y1,
                        std::int16_t x2, std::int16_t y2)
{
    Bytes body(12);
    const Bytes origin = le32s({ox, oy});
    body.insert(body.end(), origin.begin(), origin.end());
    for (std::int16_t v : {x1, y1, x2, y2})
        test::appendLE16(body, static_cast<std::uint16_t>(v));
    return MapObject::raw(0x07, row, withStyle(body));
}

MapObject noGeometry(std::uint32_t row)
{
    return MapObject::raw(0x00, row, {});
}

constexpr std::int32_t kCentreX = 7'000'000;
constexpr std::int32_t kCentreY = -3'000'000;

constexpr Box kHeaderBox{-1000, -1000, 1000, 1000};

MapBuilder withHeaderBox(MapBuilder m, const Box& b = kHeaderBox)
{
    return m.headerLE32(272, static_cast<std::uint32_t>(b.xMin))
        .headerLE32(276, static_cast<std::uint32_t>(b.yMin))
        .headerLE32(280, static_cast<std::uint32_t>(b.xMax))
        .headerLE32(284, static_cast<std::uint32_t>(b.yMax));
}

// `n` blocks holding one point each, point i at (10 i, -10 i).
MapBuilder onePointBlocks(std::size_t n, const Box& header = kHeaderBox)
{
    MapBuilder m = withHeaderBox(MapBuilder(), header);
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(i);
        m.objectBlock({longPoint(static_cast<std::uint32_t>(i + 1), 10 * v, -10 * v)});
    }
    return m.counts(static_cast<std::int32_t>(n), 0, 0, 0);
}

std::vector<IndexEntry> onePointLeaves(std::size_t n)
{
    std::vector<IndexEntry> out;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(i);
        out.push_back(
            {{10 * v, -10 * v, 10 * v, -10 * v}, static_cast<std::uint32_t>(MapBuilder::blockOffset(i))});
    }
    return out;
}

struct IndexCase
{
    const char* name;
    std::function<MapBuilder()> map;
    std::vector<IndexEntry> leaves;
    std::vector<std::size_t> levelSizes; // root level first; empty: no index
    Box headerAfter;
};

void PrintTo(const IndexCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecoverIndexTest : public test::TempDirTest, public ::testing::WithParamInterface<IndexCase>
{
};

TEST_P(RecoverIndexTest, IndexesEveryObjectDataBlockAndChangesNothingElse)
{
    const IndexCase& c = GetParam();
    const MapBuilder builder = c.map();
    mapinfoTableFilesPull table;
    table.initByTABpath(test::writeMapTable(dir(), "w", builder));
    const Bytes before = builder.bytes();
    test::LogCapture cap;
    const RecoverResult r = doDelMAP_ID_recover(table, &cap.log);
    ASSERT_GE(r.count, 0) << cap.log.text();
    const Bytes after = test::readBytes(dir() / "w#R_MAP.MAP");

    test::IndexShape shape;
    ASSERT_TRUE(test::checkSpatialIndex(after, shape));
    EXPECT_EQ(shape.levelSizes, c.levelSizes);
    EXPECT_EQ(shape.leaves, c.leaves);

    Bytes expected = before;
    for (const auto& [at, v] : {std::pair{272, c.headerAfter.xMin},
                                {276, c.headerAfter.yMin},
                                {280, c.headerAfter.xMax},
                                {284, c.headerAfter.yMax}})
        test::putLE32(expected, static_cast<std::size_t>(at), static_cast<std::uint32_t>(v));
    if (c.levelSizes.empty()) {
        test::putLE32(expected, 304, 0);
        expected[351] = std::byte{0};
    } else {
        test::putLE32(expected, 304, static_cast<std::uint32_t>(after.size() - 512));
        expected[351] = static_cast<std::byte>(c.levelSizes.size() + 1);
        expected.resize(static_cast<std::size_t>(shape.firstIndexBlock)); // zero padding
    }
    ASSERT_GE(after.size(), expected.size());
    EXPECT_EQ(
        test::firstDifference(
            Bytes(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected),
        "");
}

// 35 points fill a block to byte 510; used 600 sends the walk past its end.
MapBuilder damagedBlock()
{
    std::vector<MapObject> points;
    for (std::uint32_t i = 1; i <= 36; ++i)
        points.push_back(longPoint(i + 1, static_cast<std::int32_t>(i), 5));
    return withHeaderBox(MapBuilder())
        .objectBlock({longPoint(1, -7, -7)})
        .objectBlock(points, 600)
        .counts(36, 0, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, RecoverIndexTest,
    ::testing::Values(
        IndexCase{"OneBlock",
                  [] {
                      return withHeaderBox(MapBuilder())
                          .objectBlock({longPoint(1, 5, 6), longPoint(2, -5, 60), noGeometry(3)})
                          .counts(2, 0, 0, 0);
                  },
                  {{{-5, 6, 5, 60}, 1024}},
                  {1},
                  kHeaderBox},
        IndexCase{"TwentyFiveBlocks", [] { return onePointBlocks(25); }, onePointLeaves(25), {1}, kHeaderBox},
        IndexCase{
            "TwentySixBlocks", [] { return onePointBlocks(26); }, onePointLeaves(26), {1, 2}, kHeaderBox},
        // An empty header box (corners swapped) becomes the root's box.
        IndexCase{"TwentySixBlocksEmptyHeaderBox",
                  [] {
                      return onePointBlocks(26, Box{1000000, 1000000, -1000000, -1000000});
                  },
                  onePointLeaves(26),
                  {1, 2},
                  Box{0, -250, 250, 0}},
        IndexCase{"SixHundredTwentySixBlocks",
                  [] { return onePointBlocks(626); },
                  onePointLeaves(626),
                  {1, 2, 26},
                  Box{-1000, -6250, 6250, 1000}},
        IndexCase{"EmptyBlockGetsNoLeaf",
                  [] {
                      return withHeaderBox(MapBuilder())
                          .objectBlock({longPoint(1, 1, 1)})
                          .objectBlock({})
                          .objectBlock({noGeometry(2)})
                          .objectBlock({longPoint(3, 2, 2)})
                          .counts(2, 0, 0, 0);
                  },
                  {{{1, 1, 1, 1}, 1024}, {{2, 2, 2, 2}, 2560}},
                  {1},
                  kHeaderBox},
        IndexCase{"ShortTypesFromBlockCentreAndOwnOrigin",
                  [] {
                      return withHeaderBox(MapBuilder(), Box{0, 0, 0, 0})
                          .objectBlock({shortPoint(1, -1, 2), shortPolyline(2, 1000, 2000, -5, 8, 7, -6)})
                          .patchLastBlock(4, le32s({kCentreX, kCentreY}))
                          .counts(1, 1, 0, 0);
                  },
                  {{{995, kCentreY + 2, kCentreX - 1, 2008}, 1024}},
                  {1},
                  Box{0, kCentreY + 2, kCentreX - 1, 2008}},
        // The unknown record is kept but its box is unknown; the record after it is never read.
        IndexCase{"UnknownTypeTakesInTheHeaderBox",
                  [] {
                      return withHeaderBox(MapBuilder())
                          .objectBlock({longPoint(1, 5000, 5), MapObject::raw(0x1D, 2, Bytes(9)),
                                        longPoint(9, 9999, 9999)})
                          .objectBlock({longPoint(3, 1, 1)})
                          .counts(2, 0, 0, 0);
                  },
                  {{{-1000, -1000, 5000, 1000}, 1024}, {{1, 1, 1, 1}, 1536}},
                  {1},
                  Box{-1000, -1000, 5000, 1000}},
        IndexCase{"DamagedBlockKeepsWhatItProcessed",
                  damagedBlock,
                  {{{-7, -7, -7, -7}, 1024}, {{1, 5, 35, 5}, 1536}},
                  {1},
                  kHeaderBox},
        // The second point's type, row field and two bytes of its X lie in the file; the rest
        // reads as zeros. The result is padded to whole blocks before the index.
        IndexCase{"TruncatedLastBlock",
                  [] {
                      return withHeaderBox(MapBuilder())
                          .objectBlock({longPoint(1, 3, 3)})
                          .objectBlock({longPoint(2, 4, 4), longPoint(3, 0x7FFF0123, 77)})
                          .truncateLastBlock(20 + 14 + 7)
                          .counts(3, 0, 0, 0);
                  },
                  {{{3, 3, 3, 3}, 1024}, {{4, 0, 0x123, 4}, 1536}},
                  {1},
                  kHeaderBox},
        IndexCase{"NoObjectDataBlock",
                  [] { return withHeaderBox(MapBuilder()).block(0x01).block(0x03, Bytes(40, std::byte{7})); },
                  {},
                  {},
                  kHeaderBox},
        IndexCase{"NothingToBound",
                  [] { return withHeaderBox(MapBuilder()).objectBlock({noGeometry(1)}).objectBlock({}); },
                  {},
                  {},
                  kHeaderBox}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tabrescue
