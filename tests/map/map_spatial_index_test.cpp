#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <ostream>
#include <vector>

#include "map/map_spatial_index.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/recover_error.h"

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

namespace {

using test::Bytes;

// A little-endian value placed in a record or block.
struct Field
{
    std::size_t at;
    std::size_t width; // 2 or 4
    std::int64_t value;
};

Bytes bytesWith(std::size_t size, const std::vector<Field>& fields)
{
    Bytes b(std::max<std::size_t>(size, 80));
    for (const Field& f : fields) {
        if (f.width == 2)
            test::putLE16(b, f.at, static_cast<std::uint16_t>(f.value));
        else
            test::putLE32(b, f.at, static_cast<std::uint32_t>(f.value));
    }
    b.resize(size);
    return b;
}

// Two 16-bit or 32-bit values, x then y, from `at`.
std::vector<Field> pairAt(std::size_t at, std::size_t width, std::int64_t x, std::int64_t y)
{
    return {{at, width, x}, {at + width, width, y}};
}

std::vector<Field> operator+(std::vector<Field> a, const std::vector<Field>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---------------------------------------------------------------------------------------------
// The box of one record.

struct BoxCase
{
    const char* name;
    std::uint8_t code;
    Point centre;
    std::vector<Field> fields;
    std::size_t size; // bytes of the record that lie in the file
    std::optional<Box> expected;
};

void PrintTo(const BoxCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecordBoxTest : public ::testing::TestWithParam<BoxCase>
{
};

TEST_P(RecordBoxTest, ReadsTheBoxWhereTheTypeKeepsIt)
{
    const BoxCase& c = GetParam();
    const Bytes record = bytesWith(c.size, c.fields);
    EXPECT_EQ(recordBox(c.code, record, c.centre), c.expected);
}

constexpr std::int32_t kMax = INT32_MAX;
constexpr std::int32_t kMin = INT32_MIN;

// A centre far from every short origin below, so a box taken relative to the wrong base shows.
constexpr Point kFarCentre{5'000'000, -5'000'000};

BoxCase shortOrigin(const char* name, std::uint8_t code, std::size_t at)
{
    return {name,
            code,
            kFarCentre,
            pairAt(at, 4, 100000, 200000) +
                std::vector<Field>{{at + 8, 2, -10}, {at + 10, 2, 40}, {at + 12, 2, 30}, {at + 14, 2, -20}},
            at + 16,
            Box{99990, 199980, 100030, 200040}};
}

BoxCase longOrigin(const char* name, std::uint8_t code, std::size_t at)
{
    return {name,       code,
            kFarCentre, pairAt(at, 4, 300, -400) + pairAt(at + 8, 4, -100, 200),
            at + 16,    Box{-100, -400, 300, 200}};
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RecordBoxTest,
    ::testing::Values(
        BoxCase{"ShortPointFromBlockCentre",
                0x01,
                {1000, -2000},
                pairAt(5, 2, -5, 7),
                10,
                Box{995, -1993, 995, -1993}},
        BoxCase{"LongPointAbsolute",
                0x02,
                {1000, 1000},
                pairAt(5, 4, -70000, 123456),
                14,
                Box{-70000, 123456, -70000, 123456}},
        BoxCase{"ShortFontSymbolAt17", 0x28, {10, 20}, pairAt(17, 2, 1, 2), 22, Box{11, 22, 11, 22}},
        BoxCase{"LongFontSymbolAt17", 0x29, {10, 20}, pairAt(17, 4, 1, 2), 26, Box{1, 2, 1, 2}},
        BoxCase{"ShortCustomSymbolAt7", 0x2B, {-10, -20}, pairAt(7, 2, -1, -2), 13, Box{-11, -22, -11, -22}},
        BoxCase{"LongCustomSymbolAt7", 0x2C, {10, 20}, pairAt(7, 4, 5, 6), 17, Box{5, 6, 5, 6}},
        BoxCase{"ShortLineOrdersItsEnds",
                0x04,
                {100, 100},
                pairAt(5, 2, 10, -5) + pairAt(9, 2, -20, 30),
                14,
                Box{80, 95, 110, 130}},
        BoxCase{"LongLine", 0x05, {100, 100}, pairAt(5, 4, 1, 2) + pairAt(13, 4, 3, 4), 22, Box{1, 2, 3, 4}},
        BoxCase{"LongRectangleOrdersCorners",
                0x14,
                {},
                pairAt(5, 4, 500, 600) + pairAt(13, 4, 100, 900),
                23,
                Box{100, 600, 500, 900}},
        BoxCase{"ShortEllipse", 0x19, {7, 7}, pairAt(5, 2, 1, 2) + pairAt(9, 2, 3, 4), 15, Box{8, 9, 10, 11}},
        BoxCase{"ShortRoundRectangleAt9",
                0x16,
                {0, 0},
                pairAt(9, 2, 1, 2) + pairAt(13, 2, 3, 4),
                19,
                Box{1, 2, 3, 4}},
        BoxCase{"LongRoundRectangleAt13",
                0x17,
                {},
                pairAt(13, 4, -1, -2) + pairAt(21, 4, -3, -4),
                31,
                Box{-3, -4, -1, -2}},
        BoxCase{"ShortTextAt30",
                0x10,
                {50, 50},
                pairAt(30, 2, 0, 1) + pairAt(34, 2, 2, 3),
                39,
                Box{50, 51, 52, 53}},
        BoxCase{"LongTextAt36", 0x11, {}, pairAt(36, 4, 9, 8) + pairAt(44, 4, 7, 6), 53, Box{7, 6, 9, 8}},
        BoxCase{"ShortArcSpansEllipseAndArc",
                0x0A,
                {1000, 1000},
                pairAt(9, 2, -10, -10) + pairAt(13, 2, 10, 10) + pairAt(17, 2, 20, -30) + pairAt(21, 2, 0, 0),
                26,
                Box{990, 970, 1020, 1010}},
        BoxCase{"LongArcSpansEllipseAndArc",
                0x0B,
                {},
                pairAt(9, 4, 0, 0) + pairAt(17, 4, 100, 100) + pairAt(25, 4, 150, 20) + pairAt(33, 4, 50, 50),
                42,
                Box{0, 0, 150, 100}},
        shortOrigin("ShortPolylineFromItsOwnOrigin", 0x07, 17), longOrigin("LongPolyline", 0x08, 21),
        shortOrigin("ShortRegion", 0x0D, 19), longOrigin("LongRegion", 0x0E, 23),
        shortOrigin("ShortMultiPolyline", 0x25, 19), longOrigin("LongMultiPolyline", 0x26, 23),
        shortOrigin("ShortRegionV450", 0x2E, 19), longOrigin("LongMultiPolylineV450", 0x32, 23),
        shortOrigin("ShortRegionV800", 0x3D, 54), longOrigin("LongMultiPolylineV800", 0x41, 58),
        shortOrigin("ShortMultiPoint", 0x34, 34), longOrigin("LongMultiPointV800", 0x44, 71),
        shortOrigin("ShortCollection", 0x37, 45), longOrigin("LongCollectionV800", 0x47, 50),
        BoxCase{"ShortSumSaturatesAtBothLimits",
                0x01,
                {kMax - 47, kMin + 47},
                pairAt(5, 2, 32767, -32768),
                10,
                Box{kMax, kMin, kMax, kMin}},
        BoxCase{"ShortOriginSumSaturates",
                0x07,
                {},
                pairAt(17, 4, kMax - 5, kMin + 5) +
                    std::vector<Field>{{25, 2, 10}, {27, 2, -10}, {29, 2, -10}, {31, 2, 10}},
                34,
                Box{kMax - 15, kMin, kMax, kMin + 15}},
        BoxCase{"BytesPastTheFileReadAsZeros",
                0x02,
                {},
                pairAt(5, 4, 0x7F7F1234, 99),
                7,
                Box{0x1234, 0, 0x1234, 0}},
        BoxCase{"CutShortPointIsTheCentre", 0x01, {-3, 4}, {}, 5, Box{-3, 4, -3, 4}},
        BoxCase{"NoGeometryHasNoBox", 0x00, {}, pairAt(5, 4, 1, 2), 5, std::nullopt},
        BoxCase{"UnknownInPointRangeHasNoBox", 0x03, {}, pairAt(5, 4, 1, 2), 13, std::nullopt},
        BoxCase{"UnknownCodeHasNoBox", 0x1D, {}, {}, 40, std::nullopt},
        BoxCase{"UnknownHighCodeHasNoBox", 0xFF, {}, {}, 40, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

// The walk steps over exactly the records whose box is known, and every box lies in its record.
TEST(BoxLayoutTest, AgreesWithTheTypeTable)
{
    for (unsigned c = 0; c < 256; ++c) {
        const auto code = static_cast<std::uint8_t>(c);
        const BoxLayout layout = boxLayout(code);
        const auto length = static_cast<std::size_t>(geoType(code).length);
        EXPECT_EQ(layout.kind == BoxKind::Unknown, length == 0) << std::hex << c;
        const std::size_t pairWidth = isShortType(code) ? 4 : 8;
        std::size_t width = 0;
        switch (layout.kind) {
        case BoxKind::Unknown:
        case BoxKind::None:
            continue;
        case BoxKind::Point:
            width = pairWidth;
            break;
        case BoxKind::TwoPairs:
            width = 2 * pairWidth;
            break;
        case BoxKind::Arc:
            width = 4 * pairWidth;
            break;
        case BoxKind::OriginBox:
            width = 16;
            break;
        }
        EXPECT_LE(layout.offset + width, length) << std::hex << c;
        EXPECT_GE(layout.offset, kRecordHeaderSize) << std::hex << c;
    }
}

// ---------------------------------------------------------------------------------------------
// One leaf per object data block.

constexpr Box kHeaderBox{-100, -50, 100, 50};

Bytes headerWithBox(const Box& b)
{
    Bytes h(512);
    test::putLE32(h, kHeaderBoxOffset, static_cast<std::uint32_t>(b.xMin));
    test::putLE32(h, kHeaderBoxOffset + 4, static_cast<std::uint32_t>(b.yMin));
    test::putLE32(h, kHeaderBoxOffset + 8, static_cast<std::uint32_t>(b.xMax));
    test::putLE32(h, kHeaderBoxOffset + 12, static_cast<std::uint32_t>(b.yMax));
    return h;
}

struct WalkedRecord
{
    std::uint8_t code;
    Bytes bytes;
};

struct WalkedBlock
{
    std::uint64_t offset;
    Bytes block; // as far as it lies in the file
    std::vector<WalkedRecord> records;
};

struct LeafCase
{
    const char* name;
    Box header;
    std::vector<WalkedBlock> blocks;
    std::vector<IndexEntry> expected;
};

void PrintTo(const LeafCase& c, std::ostream* os)
{
    *os << c.name;
}

Bytes centred(std::int32_t x, std::int32_t y)
{
    return bytesWith(512, pairAt(kBlockCentreXOffset, 4, x, y));
}

WalkedRecord longPoint(std::int32_t x, std::int32_t y)
{
    return {0x02, bytesWith(14, pairAt(5, 4, x, y))};
}

WalkedRecord shortPoint(std::int16_t x, std::int16_t y)
{
    return {0x01, bytesWith(10, pairAt(5, 2, x, y))};
}

const WalkedRecord kNoGeometry{0x00, Bytes(5)};
const WalkedRecord kUnknown{0x1D, Bytes(5)};

class BlockBoxesTest : public ::testing::TestWithParam<LeafCase>
{
};

TEST_P(BlockBoxesTest, GathersOneLeafPerBlockWithABox)
{
    const LeafCase& c = GetParam();
    BlockBoxes boxes(headerWithBox(c.header));
    for (const WalkedBlock& b : c.blocks) {
        boxes.beginBlock(b.offset, b.block);
        for (const WalkedRecord& r : b.records)
            boxes.addRecord(r.code, r.bytes);
        boxes.endBlock();
    }
    EXPECT_EQ(boxes.leaves(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, BlockBoxesTest,
    ::testing::Values(LeafCase{"UnionOfItsRecords",
                               kHeaderBox,
                               {{1024,
                                 centred(0, 0),
                                 {shortPoint(5, 5),
                                  {0x05, bytesWith(22, pairAt(5, 4, -10, 20) + pairAt(13, 4, 30, -40))}}}},
                               {{{-10, -40, 30, 20}, 1024}}},
                      LeafCase{"NoGeometryAddsNothing",
                               kHeaderBox,
                               {{1024, centred(0, 0), {kNoGeometry, longPoint(7, 8), kNoGeometry}}},
                               {{{7, 8, 7, 8}, 1024}}},
                      LeafCase{"BlocksWithNothingToBoundGetNoLeaf",
                               kHeaderBox,
                               {{1024, centred(0, 0), {}},
                                {1536, centred(0, 0), {kNoGeometry}},
                                {2048, centred(0, 0), {longPoint(1, 1)}}},
                               {{{1, 1, 1, 1}, 2048}}},
                      LeafCase{"EachBlockUsesItsOwnCentre",
                               kHeaderBox,
                               {{1024, centred(1000, 2000), {shortPoint(1, 1)}},
                                {1536, centred(-1000, -2000), {shortPoint(1, 1)}}},
                               {{{1001, 2001, 1001, 2001}, 1024}, {{-999, -1999, -999, -1999}, 1536}}},
                      LeafCase{"UnknownTypeTakesInTheHeaderBox",
                               kHeaderBox,
                               {{1024, centred(0, 0), {longPoint(1000, 10), kUnknown}}},
                               {{{-100, -50, 1000, 50}, 1024}}},
                      LeafCase{"UnknownTypeAloneGetsTheHeaderBox",
                               kHeaderBox,
                               {{1024, centred(0, 0), {kUnknown}}, {1536, centred(0, 0), {longPoint(3, 4)}}},
                               {{kHeaderBox, 1024}, {{3, 4, 3, 4}, 1536}}},
                      LeafCase{"HeaderBoxCornersAreOrdered",
                               Box{100, 50, -100, -50},
                               {{1024, centred(0, 0), {kUnknown}}},
                               {{kHeaderBox, 1024}}},
                      // A damaged block or one cut by the end of the file hands over only what it processed.
                      LeafCase{"CutBlockCentreReadsZeros",
                               kHeaderBox,
                               {{1024,
                                 bytesWith(6, pairAt(kBlockCentreXOffset, 4, 0x10203, 7)),
                                 {{0x01, Bytes{std::byte{1}, {}, {}, {}, {}, std::byte{2}}}}}},
                               {{{0x203 + 2, 0, 0x203 + 2, 0}, 1024}}}),
    [](const auto& row) { return std::string(row.param.name); });

// The walk gathers boxes on a path of its own for whole records; it must agree with recordBox for
// every type code, with coordinates near the limits where the 16-bit sums saturate.
TEST(BlockBoxesAgreeTest, WholeRecordsGiveRecordBoxForEveryCode)
{
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (unsigned code = 0; code < 256; ++code) {
        const std::int16_t length = geoType(static_cast<std::uint8_t>(code)).length;
        if (length == 0)
            continue;
        for (int round = 0; round < 50; ++round) {
            Bytes record(static_cast<std::size_t>(length));
            for (std::byte& b : record)
                b = static_cast<std::byte>(next() >> 24);
            const bool nearLimit = round % 2 == 0;
            const std::int32_t cx = nearLimit ? INT_MAX - 1000 : static_cast<std::int32_t>(next());
            const std::int32_t cy = nearLimit ? INT_MIN + 1000 : static_cast<std::int32_t>(next());
            const Bytes block = centred(cx, cy);
            const std::optional<Box> expected = recordBox(static_cast<std::uint8_t>(code), record, {cx, cy});

            BlockBoxes boxes(headerWithBox(kHeaderBox));
            boxes.beginBlock(1024, block);
            boxes.addRecord(static_cast<std::uint8_t>(code), record);
            boxes.endBlock();
            if (expected) {
                ASSERT_EQ(boxes.leaves().size(), 1u) << "code " << code;
                EXPECT_EQ(boxes.leaves()[0].box, *expected) << "code " << code << " round " << round;
            } else {
                EXPECT_TRUE(boxes.leaves().empty()) << "code " << code;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Where the index goes.

struct PlanCase
{
    const char* name;
    std::uint64_t fileLength;
    std::size_t leaves;
    std::uint64_t firstBlock;
    std::uint64_t blockCount;
    int levels;
    bool overflows;
};

void PrintTo(const PlanCase& c, std::ostream* os)
{
    *os << c.name;
}

class PlanTest : public ::testing::TestWithParam<PlanCase>
{
};

TEST_P(PlanTest, CountsLevelsAndBlocks)
{
    const PlanCase& c = GetParam();
    if (c.overflows) {
        try {
            planSpatialIndex(c.fileLength, c.leaves);
            FAIL() << "no overflow";
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), kErrOverflow);
        }
        return;
    }
    const IndexPlan plan = planSpatialIndex(c.fileLength, c.leaves);
    EXPECT_EQ(plan.firstBlock, c.firstBlock);
    EXPECT_EQ(plan.blockCount, c.blockCount);
    EXPECT_EQ(plan.levels, c.levels);
}

constexpr std::uint64_t k2G = std::uint64_t{1} << 31;

INSTANTIATE_TEST_SUITE_P(
    Sizes, PlanTest,
    ::testing::Values(PlanCase{"NoLeaf", 1024, 0, 1024, 0, 0, false},
                      PlanCase{"OneLeaf", 1536, 1, 1536, 1, 1, false},
                      PlanCase{"TwentyFivePadded", 1500, 25, 1536, 1, 1, false},
                      PlanCase{"TwentySix", 2048, 26, 2048, 3, 2, false},
                      PlanCase{"SixHundredTwentyFive", 2048, 625, 2048, 26, 2, false},
                      PlanCase{"SixHundredTwentySix", 2048, 626, 2048, 29, 3, false},
                      PlanCase{"FifteenThousandSixHundredTwentyFive", 2048, 15625, 2048, 651, 3, false},
                      PlanCase{"FifteenThousandSixHundredTwentySix", 2048, 15626, 2048, 655, 4, false},
                      PlanCase{"LastByteAtTheLimit", k2G - 512, 1, k2G - 512, 1, 1, false},
                      PlanCase{"PaddingCrossesTheLimit", k2G - 511, 1, 0, 0, 0, true},
                      PlanCase{"UpperLevelCrossesTheLimit", k2G - 1024, 26, 0, 0, 0, true}),
    [](const auto& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------------------------
// Writing the index into a file.

// A header with `box`, then one object data block full of non-zero bytes, cut to `length`.
Bytes mapWithOneBlock(std::uint64_t length, const Box& box)
{
    Bytes m = headerWithBox(box);
    m.resize(static_cast<std::size_t>(length));
    for (std::size_t i = 512; i < m.size(); ++i)
        m[i] = static_cast<std::byte>(1 + i % 251);
    m.at(1024) = std::byte{0x02};
    return m;
}

class WriteIndexFileTest : public test::TempDirTest
{
};

TEST_F(WriteIndexFileTest, OneBlockIndexIsLaidOutByteForByte)
{
    const auto p = dir() / "t.MAP";
    test::writeBytes(p, mapWithOneBlock(1536, kHeaderBox));
    const IndexEntry leaf{{-7, -8, 9, 10}, 1024};
    {
        BinaryFile f = fileSystem().openReadWrite(p.string());
        writeSpatialIndex(f, 1536, std::vector<IndexEntry>{leaf});
    }
    const Bytes after = test::readBytes(p);
    ASSERT_EQ(after.size(), 2048u);
    Bytes expected(512);
    test::putLE16(expected, 0, 1);
    test::putLE16(expected, 2, 1);
    for (const auto& [at, v] : {std::pair{4, -7}, {8, -8}, {12, 9}, {16, 10}, {20, 1024}})
        test::putLE32(expected, static_cast<std::size_t>(at), static_cast<std::uint32_t>(v));
    EXPECT_EQ(test::firstDifference(Bytes(after.begin() + 1536, after.end()), expected), "");
    EXPECT_EQ(test::getLE32(after, kIndexRootOffset), 1536u);
    EXPECT_EQ(after[kIndexDepthOffset], std::byte{2});
}

TEST_F(WriteIndexFileTest, IndexPastTwoGigabytesFailsBeforeWriting)
{
    const auto p = dir() / "t.MAP";
    const Bytes before = mapWithOneBlock(1536, kHeaderBox);
    test::writeBytes(p, before);
    {
        BinaryFile f = fileSystem().openReadWrite(p.string());
        // The length is what the index would follow; the file itself stays small.
        try {
            writeSpatialIndex(f, k2G - 100, std::vector<IndexEntry>{{kHeaderBox, 1024}});
            FAIL() << "no overflow";
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), kErrOverflow);
        }
    }
    EXPECT_EQ(test::firstDifference(test::readBytes(p), before), "");
}

} // namespace
} // namespace tabrescue::map
