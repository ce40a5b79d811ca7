#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "map/map_spatial_index.h"
#include "support/map_builder.h"
#include "support/spatial_index_check.h"
#include "support/temp_dir.h"

namespace tabrescue::map {

namespace {

using test::Bytes;
using test::MapBuilder;

struct BoxCase
{
    const char* name;
    std::uint8_t code;
    Point centre;
    std::vector<test::LeRun> runs;
    std::size_t size; // bytes of the record that lie in the file
    std::optional<Box> expected;
};

constexpr std::int32_t kMax = INT32_MAX;
constexpr std::int32_t kMin = INT32_MIN;
// Far from every short origin below, so a box taken relative to the wrong base shows.
constexpr Point kFarCentre{5'000'000, -5'000'000};

// Short coordinates are relative to the block centre; records of several pairs order their corners.
const BoxCase kBoxCases[] = {
    {"ShortPoint", 0x01, {1000, -2000}, {{5, 2, {-5, 7}}}, 10, Box{995, -1993, 995, -1993}},
    {"LongPoint", 0x02, {1000, 1000}, {{5, 4, {-70000, 123456}}}, 14, Box{-70000, 123456, -70000, 123456}},
    {"ShortFontSymbol", 0x28, {10, 20}, {{17, 2, {1, 2}}}, 22, Box{11, 22, 11, 22}},
    {"LongFontSymbol", 0x29, {10, 20}, {{17, 4, {1, 2}}}, 26, Box{1, 2, 1, 2}},
    {"ShortCustomSymbol", 0x2B, {-10, -20}, {{7, 2, {-1, -2}}}, 13, Box{-11, -22, -11, -22}},
    {"LongCustomSymbol", 0x2C, {10, 20}, {{7, 4, {5, 6}}}, 17, Box{5, 6, 5, 6}},
    {"ShortLine", 0x04, {100, 100}, {{5, 2, {10, -5, -20, 30}}}, 14, Box{80, 95, 110, 130}},
    {"LongLine", 0x05, {100, 100}, {{5, 4, {1, 2, 3, 4}}}, 22, Box{1, 2, 3, 4}},
    {"LongRectangle", 0x14, {}, {{5, 4, {500, 600, 100, 900}}}, 23, Box{100, 600, 500, 900}},
    {"ShortEllipse", 0x19, {7, 7}, {{5, 2, {1, 2, 3, 4}}}, 15, Box{8, 9, 10, 11}},
    {"ShortRoundRectangle", 0x16, {}, {{9, 2, {1, 2, 3, 4}}}, 19, Box{1, 2, 3, 4}},
    {"LongRoundRectangle", 0x17, {}, {{13, 4, {-1, -2, -3, -4}}}, 31, Box{-3, -4, -1, -2}},
    {"ShortText", 0x10, {50, 50}, {{30, 2, {0, 1, 2, 3}}}, 39, Box{50, 51, 52, 53}},
    {"LongText", 0x11, {}, {{36, 4, {9, 8, 7, 6}}}, 53, Box{7, 6, 9, 8}},
    {"ShortArc", 0x0A, {100, 100}, {{9, 2, {-10, -10, 10, 10, 20, -30, 0, 0}}}, 26, Box{90, 70, 120, 110}},
    {"LongArc", 0x0B, {}, {{9, 4, {0, 0, 100, 100, 150, 20, 50, 50}}}, 42, Box{0, 0, 150, 100}},
    {"Saturates", 0x01, {kMax - 47, kMin + 47}, {{5, 2, {32767, -32768}}}, 10, Box{kMax, kMin, kMax, kMin}},
    {"OwnOriginSaturates",
     0x07,
     {},
     {{17, 4, {kMax - 5, kMin + 5}}, {25, 2, {10, -10, -10, 10}}},
     34,
     Box{kMax - 15, kMin, kMax, kMin + 15}},
    {"BytesPastTheFileReadAsZeros", 0x02, {}, {{5, 4, {0x7F7F1234, 99}}}, 7, Box{0x1234, 0, 0x1234, 0}},
    {"NoGeometry", 0x00, {}, {{5, 4, {1, 2}}}, 5, std::nullopt},
    {"UnknownInPointRange", 0x03, {}, {{5, 4, {1, 2}}}, 13, std::nullopt},
    {"UnknownHighCode", 0xFF, {}, {}, 40, std::nullopt}};

// Types that keep a box of their own: a short one as an origin and four 16-bit values relative to it,
// a long one as four 32-bit values; `at` is where the box starts.
TEST(RecordBoxTest, ReadsTheBoxWhereTheTypeKeepsIt)
{
    std::vector<BoxCase> cases(std::begin(kBoxCases), std::end(kBoxCases));
    const std::tuple<std::uint8_t, std::size_t, bool> kinds[] = {
        {0x07, 17, true},  {0x08, 21, false}, {0x0D, 19, true},  {0x0E, 23, false}, {0x25, 19, true},
        {0x26, 23, false}, {0x2E, 19, true},  {0x32, 23, false}, {0x3D, 54, true},  {0x41, 58, false},
        {0x34, 34, true},  {0x44, 71, false}, {0x37, 45, true},  {0x47, 50, false}};
    for (const auto& [code, at, isShort] : kinds) {
        BoxCase c{"OwnBox", code, kFarCentre, {}, at + 16, Box{-100, -400, 300, 200}};
        c.runs = {{at, 4, {300, -400, -100, 200}}};
        if (isShort) {
            c.runs = {{at, 4, {100000, 200000}}, {at + 8, 2, {-10, 40, 30, -20}}};
            c.expected = Box{99990, 199980, 100030, 200040};
        }
        cases.push_back(c);
    }
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.code));
        EXPECT_EQ(recordBox(c.code, test::leBytes(c.size, c.runs), c.centre), c.expected);
    }
}

// The walk gathers boxes of whole records on a path of its own; it must agree with recordBox for
// every type code, also near the limits where the 16-bit sums saturate.
TEST(BlockBoxesTest, WholeRecordsGiveRecordBoxForEveryCode)
{
    const Bytes header = test::leBytes(512, {{kHeaderBoxOffset, 4, {-100, -50, 100, 50}}});
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (unsigned c = 0; c < 256; ++c) {
        const auto code = static_cast<std::uint8_t>(c);
        const std::int16_t length = geoType(code).length;
        if (length == 0)
            continue;
        for (int round = 0; round < 50; ++round) {
            Bytes record(static_cast<std::size_t>(length));
            for (std::byte& b : record)
                b = static_cast<std::byte>(next() >> 24);
            const bool nearLimit = round % 2 == 0;
            const std::int32_t cx = nearLimit ? kMax - 1000 : static_cast<std::int32_t>(next());
            const std::int32_t cy = nearLimit ? kMin + 1000 : static_cast<std::int32_t>(next());
            const Bytes block = test::leBytes(512, {{kBlockCentreXOffset, 4, {cx, cy}}});
            const std::optional<Box> expected = recordBox(code, record, {cx, cy});

            BlockBoxes boxes(header);
            boxes.beginBlock(1024, block);
            boxes.addRecord(code, record);
            boxes.endBlock();
            if (expected) {
                ASSERT_EQ(boxes.leaves().size(), 1u) << "code " << c;
                EXPECT_EQ(boxes.leaves()[0].box, *expected) << "code " << c << " round " << round;
            } else {
                EXPECT_TRUE(boxes.leaves().empty()) << "code " << c;
            }
        }
    }
}

constexpr std::uint64_t k2G = std::uint64_t{1} << 31;

TEST(PlanTest, CountsLevelsAndBlocksBelowTwoGigabytes)
{
    struct Case
    {
        std::uint64_t fileLength;
        std::size_t leaves;
        std::uint64_t firstBlock, blockCount; // both 0: overflow
        int levels;
    };
    const Case cases[] = {{1500, 25, 1536, 1, 1},      {2048, 15625, 2048, 651, 3},
                          {2048, 15626, 2048, 655, 4}, {k2G - 512, 1, k2G - 512, 1, 1},
                          {k2G - 511, 1, 0, 0, 0},     {k2G - 1024, 26, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fileLength) + " " + std::to_string(c.leaves));
        try {
            const IndexPlan plan = planSpatialIndex(c.fileLength, c.leaves);
            EXPECT_EQ(plan.firstBlock, c.firstBlock);
            EXPECT_EQ(plan.blockCount, c.blockCount);
            EXPECT_EQ(plan.levels, c.levels);
        } catch (const RecoverError& e) {
            EXPECT_EQ(c.blockCount, 0u);
            EXPECT_EQ(e.number(), kErrOverflow);
        }
    }
}

class WriteIndexTest : public test::TempDirTest
{
  protected:
    void write(std::uint64_t fileLength, const IndexEntry& leaf)
    {
        BinaryFile f = fileSystem().openReadWrite(path("t.MAP"));
        writeSpatialIndex(f, fileLength, std::vector<IndexEntry>{leaf});
    }
};

TEST_F(WriteIndexTest, OneBlockIndexByteForByteAndNothingPastTwoGigabytes)
{
    MapBuilder m = MapBuilder().put32(272, -100).put32(276, -50).put32(280, 100).put32(284, 1000);
    const Bytes before = m.objectBlock({}).bytes();
    test::writeBytes(path("t.MAP"), before);
    EXPECT_THROW(write(k2G - 100, {{}, 1024}), RecoverError);
    EXPECT_EQ(test::firstDifference(test::readBytes(path("t.MAP")), before), "");
    write(1536, {{-7, -8, 9, 1500}, 1024});
    Bytes expected = before;
    expected.resize(2048);
    const std::pair<std::size_t, std::int32_t> fields[] = {{284, 1500},  {304, 1536}, {1536, 0x10001},
                                                           {1540, -7},   {1544, -8},  {1548, 9},
                                                           {1552, 1500}, {1556, 1024}};
    for (const auto& [at, v] : fields)
        test::putLE32(expected, at, static_cast<std::uint32_t>(v));
    expected[351] = std::byte{2};
    EXPECT_EQ(test::firstDifference(test::readBytes(path("t.MAP")), expected), "");
}

} // namespace
} // namespace tabrescue::map
