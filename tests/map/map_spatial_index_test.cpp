#include <gtest/gtest.h>

#include <climits>

#include "base/recover_error.h"
#include "map/map_spatial_index.h"
#include "support/map_builder.h"

namespace tabrescue::map {
namespace {

struct BoxCase
{
    std::uint8_t code;
    std::vector<test::LeRun> runs;
    std::optional<Box> expected;
    std::size_t size = 0; // bytes of the record that lie in the file; 0: all
    Point centre = {1000, -2000};
};

constexpr std::int32_t kMax = INT32_MAX, kMin = INT32_MIN;

// A block's leaf from one record: whole records take the walk's fast path, arcs and cut records
// another. Short coordinates count from the block's centre; boxes order their corners.
TEST(BlockBoxesTest, LeafBoxOfOneRecord)
{
    std::vector<BoxCase> cases = {
        {0x01, {{5, 2, {-5, 7}}}, Box{995, -1993, 995, -1993}},
        {0x02, {{5, 4, {-70000, 123456}}}, Box{-70000, 123456, -70000, 123456}},
        {0x28, {{17, 2, {1, 2}}}, Box{1001, -1998, 1001, -1998}},
        {0x2C, {{7, 4, {5, 6}}}, Box{5, 6, 5, 6}},
        {0x04, {{5, 2, {10, -5, -20, 30}}}, Box{980, -2005, 1010, -1970}},
        {0x1A, {{5, 4, {500, 600, 100, 900}}}, Box{100, 600, 500, 900}},
        {0x16, {{9, 2, {1, 2, 3, 4}}}, Box{1001, -1998, 1003, -1996}},
        {0x17, {{13, 4, {-1, -2, -3, -4}}}, Box{-3, -4, -1, -2}},
        {0x10, {{30, 2, {0, 1, 2, 3}}}, Box{1000, -1999, 1002, -1997}},
        {0x11, {{36, 4, {9, 8, 7, 6}}}, Box{7, 6, 9, 8}},
        {0x0A, {{9, 2, {-10, -10, 10, 10, 20, -30, 0, 0}}}, Box{990, -2030, 1020, -1990}},
        {0x0B, {{9, 4, {0, 0, 100, 100, 150, 20, 50, 50}}}, Box{0, 0, 150, 100}},
        {0x02, {{5, 4, {0x7F7F1234, 99}}}, Box{0x1234, 0, 0x1234, 0}, 7}, // cut: missing bytes read as zeros
        {0x00, {{5, 4, {1, 2}}}, std::nullopt},
        {0x03, {}, Box{-100, -50, 100, 50}, 5}, // unknown: the header's box, corners ordered
        {0x01, {{5, 2, {32767, -32768}}}, Box{kMax, kMin, kMax, kMin}, 0, {kMax - 47, kMin + 47}},
        {0x07,
         {{17, 4, {kMax - 5, kMin + 5}}, {25, 2, {10, -10, -10, 10}}},
         Box{kMax - 15, kMin, kMax, kMin + 15}}};
    // Types that keep a box of their own: short ones an origin and four 16-bit values relative to
    // it, long ones four 32-bit values, from `at`.
    for (const auto& [code, at] : std::initializer_list<std::pair<std::uint8_t, std::size_t>>{
             {0x07, 17}, {0x08, 21}, {0x0D, 19}, {0x0E, 23}, {0x25, 19}, {0x26, 23}, {0x2E, 19}, {0x2F, 23},
             {0x31, 19}, {0x32, 23}, {0x34, 34}, {0x35, 38}, {0x37, 45}, {0x38, 45}, {0x3D, 54}, {0x3E, 58},
             {0x40, 54}, {0x41, 58}, {0x43, 67}, {0x44, 71}, {0x46, 50}, {0x47, 50}})
        cases.push_back(code % 3 == 1
                            ? BoxCase{code,
                                      {{at, 4, {100000, 200000}}, {at + 8, 2, {-10, 40, 30, -20}}},
                                      Box{99990, 199980, 100030, 200040}}
                            : BoxCase{code, {{at, 4, {300, -400, -100, 200}}}, Box{-100, -400, 300, 200}});
    for (const BoxCase& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        BlockBoxes boxes(test::leBytes(288, {{272, 4, {-100, 50, 100, -50}}}));
        boxes.beginBlock(1024, test::leBytes(12, {{4, 4, {c.centre.x, c.centre.y}}}));
        const auto size = c.size ? c.size : static_cast<std::size_t>(geoType(c.code).length);
        boxes.addRecord(c.code, test::leBytes(size, c.runs));
        boxes.endBlock();
        const std::vector<IndexEntry> none, leaf{{c.expected.value_or(Box{}), 1024}};
        EXPECT_EQ(boxes.leaves(), c.expected ? leaf : none);
    }
}

// Levels of 25 entries each, and no index block may end beyond offset 2^31 - 1.
TEST(PlanTest, LevelsAndTheTwoGigabyteLimit)
{
    constexpr std::uint64_t k2G = std::uint64_t{1} << 31;
    const IndexPlan plan = planSpatialIndex(2049, 15626);
    EXPECT_EQ(std::tuple(plan.firstBlock, plan.blockCount, plan.levels), std::tuple(2560u, 655u, 4));
    EXPECT_EQ(planSpatialIndex(k2G - 1536, 26).blockCount, 3u);
    EXPECT_THROW(planSpatialIndex(k2G - 1024, 26), RecoverError);
    EXPECT_THROW(planSpatialIndex(k2G - 511, 1), RecoverError);
}

} // namespace
} // namespace tabrescue::map
