#include <gtest/gtest.h>

#include <filesystem>

#include "map/map_recover.h"
#include "map/map_result_files.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/spatial_index_check.h"
#include "support/temp_dir.h"
#include "table/file_system.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;
using test::MapResultRow;
using Lines = std::vector<std::string>;

const std::string kError = "+++ mapinfoRecoverTable::doDelMAP_ID_recover()+++ ";

struct HeaderCounts
{
    std::int32_t points = 0, lines = 0, areas = 0, texts = 0;
};

struct RecoverCase
{
    const char* name;
    MapBuilder map;
    std::vector<MapResultRow> rows;
    std::vector<std::uint64_t> resetToOne; // style bytes the recovery must set to 1
    HeaderCounts header;
    std::int32_t deleted = 0;
    Lines lines = {};
};

void PrintTo(const RecoverCase& c, std::ostream* os)
{
    *os << c.name;
}

// The input with every row field renumbered, the named style bytes reset and the header rebuilt.
// The spatial index's header fields are taken from `result`; the index tests check them.
Bytes expectedMap(Bytes map, const RecoverCase& c, const Bytes& result)
{
    for (std::size_t i = 0; i < c.rows.size(); ++i)
        test::putLE32(map, c.rows[i].offset + 1, static_cast<std::uint32_t>(i + 1));
    for (std::uint64_t at : c.resetToOne)
        map.at(at) = std::byte{1};
    test::putLE32(map, 316, static_cast<std::uint32_t>(c.header.points));
    test::putLE32(map, 320, static_cast<std::uint32_t>(c.header.lines));
    test::putLE32(map, 324, static_cast<std::uint32_t>(c.header.areas));
    test::putLE32(map, 328, static_cast<std::uint32_t>(c.header.texts));
    for (std::size_t at : {272, 276, 280, 284, 304})
        test::putLE32(map, at, test::getLE32(result, at));
    map.at(351) = result.at(351);
    return map;
}

class MapRecoverTest : public test::TempDirTest
{
  protected:
    mapinfoTableFilesPull table(const MapBuilder& map)
    {
        mapinfoTableFilesPull t;
        t.initByTABpath(test::writeMapTable(dir(), "~work", map));
        return t;
    }
    std::string result(const char* ext) const { return path(std::string("~work#R_MAP.") + ext); }
};

class MapRecoverCaseTest : public MapRecoverTest, public ::testing::WithParamInterface<RecoverCase>
{
};

TEST_P(MapRecoverCaseTest, WritesResultTable)
{
    const RecoverCase& c = GetParam();
    const mapinfoTableFilesPull t = table(c.map);
    const Bytes input = test::readBytes(path("~work.MAP"));
    test::LogCapture cap;

    const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);

    EXPECT_EQ(r.count, c.deleted);
    EXPECT_EQ(r.tabPath, result("TAB"));
    EXPECT_EQ(cap.lines(), c.lines);
    const Bytes map = test::readBytes(result("MAP"));
    Bytes withinInput = map; // the index lies beyond
    withinInput.resize(std::min(map.size(), input.size()));
    EXPECT_EQ(test::firstDifference(withinInput, expectedMap(input, c, map)), "");
    test::IndexShape index;
    EXPECT_TRUE(test::checkSpatialIndex(map, index));
    EXPECT_EQ(test::firstDifference(test::readBytes(result("ID")), test::expectedMapResultId(c.rows)), "");
    EXPECT_EQ(test::firstDifference(test::readBytes(result("DAT")), test::expectedMapResultDat(c.rows)), "");
    EXPECT_EQ(test::readText(result("TAB")), makeMapResultTabText());
    EXPECT_EQ(test::readBytes(path("~work.MAP")), input);
}

const MapObject kPoint = MapObject::of(0x01, 4);

// Limits pen 4, brush 5, symbol 6, font 7: a byte equal to its limit stays, one above becomes 1.
MapBuilder styleFile()
{
    return MapBuilder()
        .styleLimits(4, 5, 6, 7)
        .objectBlock({
            MapObject::of(0x01, 1).style(0, 6),              // 1044 symbol at limit
            MapObject::of(0x02, 2).style(0, 7),              // 1054 symbol above: 1067
            MapObject::of(0x05, 3).style(0, 5),              // 1068 pen above: 1089
            MapObject::of(0x0E, 4).style(0, 5).style(1, 4),  // 1090 brush, pen at limit
            MapObject::of(0x13, 5).style(0, 6).style(1, 5),  // 1131 both above: 1145, 1144
            MapObject::of(0x1A, 6).style(0, 0).style(1, 0),  // 1146 zeros stay
            MapObject::of(0x10, 7).style(9, 7).style(0, 5),  // 1169 font at limit, pen above: 1207
            MapObject::of(0x11, 8).style(17, 8).style(0, 4), // 1208 font above: 1243, pen at limit
        });
}

INSTANTIATE_TEST_SUITE_P(
    Files, MapRecoverCaseTest,
    ::testing::Values(
        RecoverCase{"DeletedRegionStyles",
                    MapBuilder()
                        .styleLimits(4, 5, 10, 10)
                        .objectBlock({MapObject::of(0x0E, 0x40000007).style(0, 9).style(1, 3)}),
                    {{1044, 7, "D 0E"}},
                    {1084},
                    {0, 0, 1, 0},
                    1},
        RecoverCase{"NoObjectBlocks", MapBuilder().block(0x01).block(0x03), {}, {}, {}, 0},
        RecoverCase{"ShortFile", MapBuilder().truncateTo(700), {}, {}, {}, 0},
        RecoverCase{"EmptyBlocks",
                    MapBuilder().block(0x03).objectBlock({kPoint}, 0).objectBlock({kPoint}, -3),
                    {},
                    {},
                    {0, 0, 0, 0},
                    0},
        RecoverCase{
            "UnknownTypeMidBlock",
            MapBuilder()
                .objectBlock({kPoint, MapObject::raw(0x1D, 0x40000009, Bytes(40, std::byte{0xFF})), kPoint})
                .objectBlock({MapObject::of(0x0B, 0x80000003)}),
            {{1044, 4, "  01"}, {1054, 9, "DU1D"}, {1556, 3, "D 0B"}},
            {},
            {1, 1, 0, 0},
            2,
            {"!!! Found unknown element type: offset: 00001054 element: &H1D"}},
        // Unknown length inside a class range: counted in its class, no byte of it checked.
        RecoverCase{
            "UnknownTypeInClassRange",
            MapBuilder()
                .styleLimits(0, 0, 0, 0)
                .objectBlock({MapObject::raw(0x0F, 1, Bytes(40, std::byte{0xFF}))}),
            {{1044, 1, " U0F"}},
            {},
            {0, 0, 1, 0},
            0,
            {"!!! Found unknown element type: offset: 00001044 element: &HF"}},
        RecoverCase{
            "ClassNoneTypesUntouched",
            MapBuilder()
                .styleLimits(0, 0, 0, 0)
                .objectBlock({MapObject::of(0x26, 0xC0000001), MapObject::of(0x25, 2), MapObject::of(0x00, 3),
                              MapObject::of(0x47, 4)}),
            {{1044, 1, "D 26"}, {1084, 2, "  25"}, {1120, 3, "  00"}, {1125, 4, "  47"}},
            {},
            {0, 0, 0, 0},
            1},
        RecoverCase{"StyleLimits",
                    styleFile(),
                    {{1044, 1, "  01"},
                     {1054, 2, "  02"},
                     {1068, 3, "  05"},
                     {1090, 4, "  0E"},
                     {1131, 5, "  13"},
                     {1146, 6, "  1A"},
                     {1169, 7, "  10"},
                     {1208, 8, "  11"}},
                    {1067, 1089, 1145, 1144, 1207, 1243},
                    {2, 1, 3, 2},
                    0},
        RecoverCase{
            "LimitsZero",
            MapBuilder()
                .styleLimits(0, 0, 0, 0)
                .objectBlock({MapObject::of(0x0E, 1).style(0, 0).style(1, 2), MapObject::of(0x01, 2)}),
            {{1044, 1, "  0E"}, {1085, 2, "  01"}},
            {1083, 1094},
            {1, 0, 1, 0},
            0},
        RecoverCase{
            "Limits255",
            MapBuilder()
                .styleLimits(255, 255, 255, 255)
                .objectBlock({MapObject::of(0x0E, 1).style(0, 255).style(1, 255),
                              MapObject::of(0x10, 2).style(9, 255)}),
            {{1044, 1, "  0E"}, {1085, 2, "  10"}},
            {},
            {0, 0, 1, 1},
            0},
        RecoverCase{
            "HandRepairBlock",
            MapBuilder().objectBlock({kPoint}).block(0x04, Bytes(100, std::byte{0x02})).objectBlock({kPoint}),
            {{1044, 4, "  01"}, {2068, 4, "  01"}},
            {},
            {2, 0, 0, 0},
            0,
            {"Block &H04 at offset 00001537 found. Handelmade operations are needful."}},
        // The cut record keeps its row field rewritten; its style bytes lie beyond the file.
        RecoverCase{
            "TruncatedLastBlock",
            MapBuilder()
                .styleLimits(1, 1, 1, 1)
                .objectBlock({MapObject::of(0x02, 0x40000001).style(0, 9),
                              MapObject::of(0x0E, 0x40000002).style(0, 9)})
                .truncateLastBlock(60),
            {{1044, 1, "D 02"}, {1058, 2, "D 0E"}},
            {1057},
            {1, 0, 1, 0},
            2},
        RecoverCase{
            "UsedBeyondBlock",
            MapBuilder()
                .objectBlock(std::vector<MapObject>(12, MapObject::of(0x0E, 0x40000001)), 600)
                .objectBlock({kPoint}),
            [] {
                std::vector<MapResultRow> rows;
                for (std::uint64_t i = 0; i < 12; ++i)
                    rows.push_back({1044 + 41 * i, 1, "D 0E"});
                rows.push_back({1556, 4, "  01"});
                return rows;
            }(),
            {},
            {1, 0, 12, 0},
            12,
            {"!!! Damaged 'ODBlock' at offset: 00001024 objects run past the end of the block; the rest of "
             "it "
             "is ignored."}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(MapRecoverTest, ListingLines)
{
    const mapinfoTableFilesPull t = table(
        MapBuilder().objectBlock({MapObject::of(0x0E, 0x40000007), MapObject::raw(0x1D, 12, Bytes(9))}));
    test::LogCapture cap;
    doDelMAP_ID_recover(t, &cap.log);
    EXPECT_EQ(cap.listing,
              (Lines{"Del?\tRowId_old\tRowId_new\tMI offset \tType", "D\t00000007\t00000001\t00001044\tD 0E",
                     " \t00000012\t00000002\t00001085\t U1D"}));
}

// Refused before any result file exists; the working copy is never changed.
TEST_F(MapRecoverTest, RefusedWorkingCopies)
{
    struct Case
    {
        const char* name;
        MapBuilder map;
        std::string line;
    };
    const Case cases[] = {
        {"HeaderCut", MapBuilder().truncateTo(359), kError + "62 Input past end of file"},
        {"BlockSize16384", MapBuilder().blockSize(16384).objectBlock({kPoint}),
         kError + "5 Unsupported .MAP block size 16384 (only 512 is supported)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mapinfoTableFilesPull t = table(c.map);
        const auto before = test::snapshot(dir());
        test::LogCapture cap;
        const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);
        EXPECT_EQ(r.count, -1);
        EXPECT_EQ(r.tabPath, "");
        EXPECT_EQ(cap.lines(), Lines{c.line});
        EXPECT_EQ(test::snapshot(dir()), before);
    }
}

TEST_F(MapRecoverTest, MissingMap)
{
    const mapinfoTableFilesPull t = table(MapBuilder());
    std::filesystem::remove(path("~work.MAP"));
    const auto before = test::snapshot(dir());
    test::LogCapture cap;
    const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.tabPath, "");
    EXPECT_EQ(cap.lines(), Lines{"File '" + path("~work.MAP") + "' was not  found."});
    EXPECT_EQ(test::snapshot(dir()), before);
}

// An overflowing used count fails the run, yet the files hold everything written before it and
// the result .MAP is a whole copy, as the copy-then-patch steps would leave it.
TEST_F(MapRecoverTest, OverflowLeavesFilesAsFarAsWritten)
{
    const mapinfoTableFilesPull t = table(MapBuilder()
                                              .objectBlock({MapObject::of(0x01, 0x40000003)})
                                              .objectBlock({kPoint}, 32748)
                                              .objectBlock({kPoint}));
    const Bytes input = test::readBytes(path("~work.MAP"));
    test::LogCapture cap;
    const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(cap.lines(), Lines{kError + "6 Overflow"});
    Bytes map = input;
    test::putLE32(map, 1045, 1);
    EXPECT_EQ(test::firstDifference(test::readBytes(result("MAP")), map), "");
    EXPECT_EQ(test::readBytes(result("ID")), test::expectedMapResultId({{1044, 3, "D 01"}}));
    const Bytes dat = test::expectedMapResultDat({{1044, 3, "D 01"}});
    EXPECT_EQ(test::readBytes(result("DAT")), Bytes(dat.begin(), dat.begin() + 161 + 17));
    EXPECT_FALSE(std::filesystem::exists(result("TAB")));
    EXPECT_EQ(test::readBytes(path("~work.MAP")), input);
}

TEST_F(MapRecoverTest, LeftoverResultFilesAreReplaced)
{
    const mapinfoTableFilesPull t = table(MapBuilder().objectBlock({kPoint}));
    const Bytes junk(5000, std::byte{0x5A});
    for (const char* ext : {"MAP", "ID", "DAT", "TAB"})
        test::writeBytes(result(ext), junk);
    std::filesystem::permissions(result("DAT"), std::filesystem::perms::owner_read);
    const RecoverResult r = doDelMAP_ID_recover(t, nullptr);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(test::readBytes(result("ID")), test::expectedMapResultId({{1044, 4, "  01"}}));
    EXPECT_EQ(test::readBytes(result("DAT")), test::expectedMapResultDat({{1044, 4, "  01"}}));
    EXPECT_EQ(test::readBytes(result("MAP")).size(), 2048u); // one block and its index
    EXPECT_EQ(test::readText(result("TAB")), makeMapResultTabText());
}

} // namespace
} // namespace tabrescue
