#include <gtest/gtest.h>

#include <climits>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "map/map_block_walk.h"
#include "map/map_count.h"
#include "map/map_layout.h"
#include "map/map_object_types.h"
#include "map/map_recover.h"
#include "map/map_spatial_index.h"
#include "support/log_capture.h"
#include "support/map_builder.h"

namespace tabrescue::map {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;
using Lines = std::vector<std::string>;

// The class of every code from 0x00 to 0x2F (point, line, area, text or none), unknown codes included.
TEST(GeoTypes, ClassesAndNames)
{
    std::string classes;
    for (unsigned c = 0; c < 0x30; ++c)
        classes += "-PLAT"[static_cast<int>(map::geoType(static_cast<std::uint8_t>(c)).geoClass)];
    EXPECT_EQ(classes, "-PPPLLLLLLLLLAAATTTAAAAAAAAA--------------------");
    EXPECT_EQ(getGeoTypeName(0x2F), "LongRegion V450");
    EXPECT_EQ(getGeoTypeName(0x03), "Unknown Type(&H3)");
}

// Traces the walk ("D1054": a deleted record at 1054) and flips the last byte of each record.
struct Tracer : map::BlockVisitor
{
    void record(const map::MapRecord& r, std::span<std::byte>) override
    {
        trace += (trace.empty() ? "" : " ") + std::string(map::isDeleted(r.rowField) ? "D" : "") +
                 std::to_string(r.offset);
        r.bytes.back() ^= std::byte{0xFF};
        flipped.push_back(r.offset + r.bytes.size() - 1);
    }
    std::string trace;
    std::vector<std::uint64_t> flipped;
};
// `n` like records of `length` bytes from `at`.
std::string run(std::uint64_t at, std::uint64_t n, std::uint64_t length, const std::string& deleted = "")
{
    std::string out = deleted + std::to_string(at);
    for (std::uint64_t i = 1; i < n; ++i)
        out += " " + deleted + std::to_string(at + i * length);
    return out;
}

struct CountCase
{
    const char* name;
    MapBuilder map;
    std::int32_t count;
    std::string trace;
    Lines lines = {}; // of the log pane; a failure's line comes last
    friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};
using C = CountCase;

class MapWalkTest : public test::MemoryDirTest, public ::testing::WithParamInterface<CountCase> {};
// A file of 2 GiB, sparse on the disk.
using MapLargeFileTest = test::TempDirTest;

// The count finds the deleted objects, the file unchanged; the walk, whatever its chunk size, meets the
// same records and copies the file with the visitor's changes, also when it fails.
TEST_P(MapWalkTest, CountsAndCopies)
{
    const CountCase& c = GetParam();
    c.map.write(path("t.MAP"));
    test::LogCapture cap;
    bool failed = false;
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), &cap.log, &failed), c.count);
    EXPECT_EQ(cap.lines(), c.lines);
    EXPECT_EQ(failed, !c.lines.empty() && c.lines.back().starts_with("+++"));
    EXPECT_EQ(test::readBytes(path("t.MAP")), c.map.bytes());
    for (std::size_t chunk : {512, 1536, 1 << 20}) {
        BinaryFile src = fileSystem().openRead(path("t.MAP")), dst = fileSystem().create(path("copy.MAP"));
        Tracer walk;
        test::LogCapture walkLog;
        try {
            map::walkBlocks(src, &walkLog.log, walk, {.copyTo = &dst, .chunkSize = chunk});
        } catch (const RecoverError& e) {
            EXPECT_TRUE(failed) << e.what();
        }
        dst.close();
        Bytes expected = c.map.bytes();
        for (std::uint64_t at : walk.flipped)
            expected[at] ^= std::byte{0xFF};
        EXPECT_EQ(walk.trace, c.trace) << chunk;
        Lines walkLines = c.lines; // the walk's own lines, without the count's
        std::erase_if(walkLines, [](const std::string& l) { return !l.starts_with("!!!"); });
        EXPECT_EQ(walkLog.lines(), walkLines) << chunk;
        const bool refused = !c.lines.empty() && c.lines.back().find("block size") != std::string::npos;
        EXPECT_EQ(test::firstDifference(test::readBytes(path("copy.MAP")), refused ? Bytes{} : expected), "")
            << chunk;
    }
}

const std::string kError = "+++ mapinfoRecoverTable::getDelMAPcount()+++ ";
const std::string kDamaged = "!!! Damaged 'ODBlock' at offset: 00001024 objects run past the end of the "
                             "block; the rest of it is ignored.";
const MapObject kRegion = MapObject::of(0x0E, 0x40000007), kPoint = MapObject::of(0x01, 1);
const MapObject kDeletedPoint = MapObject::of(0x01, 0x40000001);
const std::vector<MapObject> kTwelveRegions(12, kRegion); // 492 bytes: the whole record area

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, MapWalkTest, ::testing::Values(
    C{"Exactly1024Bytes", MapBuilder().objectBlock({kRegion}).truncateTo(1024), 0, ""},
    C{"Used41HoldsOneRegion", MapBuilder().objectBlock({kRegion, kRegion}, 41), 1, "D1044"},
    // A record that starts inside the area is read whole.
    C{"RecordStartingInsideArea", MapBuilder().objectBlock({MapObject::of(0x00, 3), kPoint, kRegion}, 16), 1,
      "1044 1049 D1059"},
    C{"OtherBlocksQuiet", MapBuilder().block(0x01).block(0x04).block(0x03).block(0xFF), 0, ""},
    C{"EitherBitMarksDeleted",
      MapBuilder().objectBlock({kPoint, MapObject::of(0x0E, 0x40000002), MapObject::of(0x05, 0x80000003),
                                MapObject::of(0x26, 0xC0000004)}),
      3, "1044 D1054 D1095 D1117"},
    C{"UnknownTypeEndsItsBlockOnly",
      MapBuilder()
          .objectBlock({MapObject::of(0x01, 4), MapObject::raw(0x1D, 0x40000009, Bytes(20)), kDeletedPoint})
          .objectBlock({MapObject::of(0x01, 0x40000011)}),
      2, "1044 D1054 D1556",
      {"!!! Found unknown element type: offset: 00001054 element: &H1D",
       " *: RowId := 9 unknow data type - unknow binary length ALL objects in current 'ODBlock' are "
       "ignored! Goto Next 'ODBlock'."}},
    // used 600 claims bytes of the next block, which is walked on its own; at the file's end no damage.
    C{"UsedBeyondTheBlock", MapBuilder().objectBlock(kTwelveRegions, 600).objectBlock({kPoint}), 12,
      run(1044, 12, 41, "D") + " 1556", {kDamaged}},
    C{"UsedBeyondTheLastBlock", MapBuilder().objectBlock(kTwelveRegions, 600), 12, run(1044, 12, 41, "D")},
    C{"RecordCrossingTheBlockEnd",
      MapBuilder().objectBlock(std::vector(10, MapObject::of(0x11, 2)), 530).objectBlock({kPoint}), 0,
      run(1044, 9, 53) + " 1556", {kDamaged}},
    // A header across the block's end is not looked at: NoGeometry at 20, 25, ... 505, 0x1D at 510, used 520.
    C{"HeaderAcrossBlockEnd",
      MapBuilder().block(0x02, test::leBytes(511, {{1, 2, {500}}, {509, 1, {0x1D}}})).objectBlock({kPoint}),
      0, run(1044, 98, 5) + " 1556", {kDamaged}},
    // A cut last block: a record whose header lies in the file counts, one byte less and it does not.
    C{"CutAfterRecordHeader", MapBuilder().objectBlock({kPoint, kRegion, kPoint}).truncateLastBlock(35), 1,
      "1044 D1054"},
    C{"CutInsideRecordHeader", MapBuilder().objectBlock({kPoint, kRegion}).truncateLastBlock(34), 0, "1044"},
    C{"CutInsideBlockHeader", MapBuilder().objectBlock({kPoint}).truncateLastBlock(3), 0, ""},
    C{"OtherBlockSizeWithoutMagic", MapBuilder().put32(256, 0).blockSize(16384).objectBlock({kPoint}), 0,
      "1044"},
    C{"OtherBlockSizeRefused", MapBuilder().blockSize(1024).objectBlock({kDeletedPoint}), 0, "",
      {kError + "5 Unsupported .MAP block size 1024 (only 512 is supported)"}},
    C{"UsedAtTheLimit", MapBuilder().objectBlock({kDeletedPoint}, 32747), 1, "D1044 " + run(1054, 96, 5)},
    C{"UsedOverflowKeepsCountSoFar", MapBuilder().objectBlock({kDeletedPoint}).objectBlock({kPoint}, 32748),
      1, "D1044", {kError + "6 Overflow"}}),
    [](const auto& i) { return std::string(i.param.name); });
// clang-format on

// The listing of the objects; a missing file is no failure; one beyond 32-bit offsets is refused.
TEST_F(MapLargeFileTest, ListingMissingAndTooLargeFile)
{
    test::LogCapture cap;
    MapBuilder().objectBlock({kPoint, MapObject::of(0x0E, 0x80000005)}).write(path("t.MAP"));
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), &cap.log), 1);
    EXPECT_EQ(cap.listing, (Lines{"  : RowId := 1 MAP file offset := 00001044 geoType := &H1 (ShortPoint)",
                                  " D: RowId := 5 MAP file offset := 00001054 geoType := &HE (LongRegion)"}));
    bool failed = true;
    EXPECT_EQ(getDelMAPcount(path("none.MAP"), &cap.log, &failed), 0);
    EXPECT_FALSE(failed);
    std::filesystem::resize_file(path("t.MAP"), 2147483648ull); // sparse
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), &cap.log), 0);
    EXPECT_EQ(cap.lines(), (Lines{"File '" + path("none.MAP") + "' was not  found.", kError + "6 Overflow"}));
}

// An overflowing used count fails the recovery; the files hold all written before it, the .MAP a whole copy.
TEST_F(MapWalkTest, OverflowLeavesFilesAsFarAsWritten)
{
    const auto map = MapBuilder().objectBlock({MapObject::of(0x01, 0x40000003)}).objectBlock({kPoint}, 32748);
    map.write(path("~w.MAP"));
    for (const char* other : {"~w.TAB", "~w.ID"}) // a .MAP needs its .ID to count
        test::writeText(path(other), "");
    mapinfoTableFilesPull work;
    work.initByTABpath(path("~w.TAB"));
    test::LogCapture cap;
    EXPECT_EQ(doDelMAP_ID_recover(work, &cap.log).count, -1);
    EXPECT_EQ(cap.lines(), Lines{"+++ mapinfoRecoverTable::doDelMAP_ID_recover()+++ 6 Overflow"});
    Bytes copy = map.bytes();
    test::putLE32(copy, 1045, 1);
    EXPECT_EQ(test::firstDifference(test::readBytes(path("~w#R_MAP.MAP")), copy), "");
    EXPECT_EQ(test::readBytes(path("~w#R_MAP.ID")), test::leBytes(4, {{0, 4, {1044}}}));
    // The header, then the one row: RowId_new 1, RowId_old 3, the offset counted from 1, rec_status.
    const Bytes dat = test::readBytes(path("~w#R_MAP.DAT"));
    ASSERT_EQ(dat.size(), 161u + 17u);
    EXPECT_EQ(Bytes(dat.begin() + 161, dat.end()),
              test::leBytes(17, {{0, 1, {' '}}, {1, 4, {1, 3, 1045}}, {13, 1, {'D', ' ', '0', '1'}}}));
    EXPECT_FALSE(test::isFile(path("~w#R_MAP.TAB")));
    EXPECT_EQ(test::readBytes(path("~w.MAP")), map.bytes());
}

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
