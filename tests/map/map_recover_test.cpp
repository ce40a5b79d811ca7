#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "base/recover_error.h"
#include "base/text_case.h"
#include "map/map_recover.h"
#include "map/map_result_files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/spatial_index_check.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;
using test::MapResultRow;
using Lines = std::vector<std::string>;

// The template is kept as the dump it was taken from: widths count characters, so a dump whose bar
// is one byte reads the same. Its bytes are checked through every result .DAT below.
TEST(MapResultFiles, DatTemplateIsTheDumpText)
{
    EXPECT_EQ(countChars(MapDatTemplate), 708u); // eleven lines of 61 characters and one of 37
    std::string latin1(MapDatTemplate);
    for (std::size_t at; (at = latin1.find("\u00A6")) != std::string::npos;)
        latin1.replace(at, 2, "\xA6");
    std::vector<std::byte> header, closing, header1, closing1;
    doDAT_for_MAP_title(header, closing);
    doDAT_for_MAP_title(latin1, header1, closing1);
    EXPECT_EQ(header.size(), 161u);
    EXPECT_EQ(header1, header);
    EXPECT_EQ(closing1, closing);
}

TEST(MapResultFiles, BrokenDumps)
{
    const std::string dump(MapDatTemplate);
    const std::pair<std::string, int> cases[] = {
        {"03 2A 1A", kErrProgramData}, // no colon
        {dump.substr(0, dump.find("1A    ")) + "1B", kErrProgramData},
        {"", kErrProgramData},
        {"0000000000: 0D 1A", kErrProgramData}, // no closing row
        {"0000000000: 0G 2A 1A", kErrInvalidCall}};
    for (const auto& [text, number] : cases) {
        SCOPED_TRACE(text);
        std::vector<std::byte> header, closing;
        try {
            doDAT_for_MAP_title(text, header, closing);
            ADD_FAILURE() << "no error";
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), number);
            EXPECT_TRUE(number != kErrProgramData || e.description() == "Unknown Error in Program Data");
        }
    }
    // The closing part starts at the last byte 2A; "A2 A1" holds the digits 2A across two bytes.
    std::vector<std::byte> header, closing;
    doDAT_for_MAP_title("0000000000: 2A 11 A2 A1 1A", header, closing);
    EXPECT_EQ(header, Bytes{});
    EXPECT_EQ(closing, hexToBytes("2A11A2A11A"));
    EXPECT_EQ(hexToBytes("0d2AF"), (Bytes{std::byte{0x0D}, std::byte{0x2A}})); // a last odd digit is dropped
}

const std::string kResultTab =
    "!table\r\n!version 650\r\n!charset WindowsCyrillic\r\n\r\nDefinition Table\r\n"
    "  Type NATIVE Charset \"WindowsCyrillic\"\r\n  Fields 4\r\n"
    "    RowId_new Integer ;\r\n    RowId_old Integer ;\r\n"
    "    rec_map_offset Integer ;\r\n    rec_status Char (4) ;";
const std::string kError = "+++ mapinfoRecoverTable::doDelMAP_ID_recover()+++ ";
const MapObject kPoint = MapObject::of(0x01, 4);

struct RecoverCase
{
    const char* name;
    MapBuilder map;
    std::vector<MapResultRow> rows;
    std::vector<std::uint64_t> resetToOne; // style bytes the recovery sets to 1
    std::array<std::int32_t, 4> counts;    // points, lines, areas, texts
    std::int32_t deleted = 0;
    Lines lines = {};
    // What a reader finds through the result's index; without a header box, not checked.
    std::optional<map::Box> headerBox = {};
    std::vector<map::IndexEntry> leaves = {};
    std::vector<std::size_t> levelSizes = {}; // root level first; empty: no index
    Lines listing = {};                       // checked when given
    friend void PrintTo(const RecoverCase& c, std::ostream* os) { *os << c.name; }
};

class MapRecoverTest : public test::TempDirTest, public ::testing::WithParamInterface<RecoverCase>
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

TEST_P(MapRecoverTest, WritesResultTable)
{
    const RecoverCase& c = GetParam();
    const mapinfoTableFilesPull t = table(c.map);
    const Bytes input = test::readBytes(path("~work.MAP"));
    for (const char* ext : {"MAP", "ID", "DAT", "TAB"}) // an earlier run's results, longer than the new ones
        test::writeBytes(result(ext), Bytes(5000, std::byte{0x5A}));
    std::filesystem::permissions(result("DAT"), std::filesystem::perms::owner_read);
    test::LogCapture cap;
    const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);
    EXPECT_EQ(r.count, c.deleted);
    EXPECT_EQ(r.tabPath, result("TAB"));
    EXPECT_EQ(cap.lines(), c.lines);
    if (!c.listing.empty()) {
        EXPECT_EQ(cap.listing, c.listing);
    }

    // The input renumbered, the named style bytes reset, the counts rewritten and the index named,
    // padded with zeros up to the index; the header's box from the index expectation.
    const Bytes map = test::readBytes(result("MAP"));
    test::IndexShape index;
    EXPECT_TRUE(test::checkSpatialIndex(map, index));
    Bytes expected = input;
    for (std::size_t i = 0; i < c.rows.size(); ++i)
        test::putLE32(expected, c.rows[i].offset + 1, static_cast<std::uint32_t>(i + 1));
    for (std::uint64_t at : c.resetToOne)
        expected.at(at) = std::byte{1};
    for (std::size_t i = 0; i < 4; ++i)
        test::putLE32(expected, 316 + 4 * i, static_cast<std::uint32_t>(c.counts[i]));
    if (c.headerBox) {
        const map::Box& b = *c.headerBox;
        for (const auto& [at, v] : {std::pair{272, b.xMin}, {276, b.yMin}, {280, b.xMax}, {284, b.yMax}})
            test::putLE32(expected, at, static_cast<std::uint32_t>(v));
    } else {
        std::copy(map.begin() + 272, map.begin() + 288, expected.begin() + 272);
    }
    const bool indexed = !index.levelSizes.empty();
    test::putLE32(expected, 304, indexed ? static_cast<std::uint32_t>(map.size() - 512) : 0);
    expected.at(351) = static_cast<std::byte>(indexed ? index.levelSizes.size() + 1 : 0);
    expected.resize(static_cast<std::size_t>(index.firstIndexBlock));
    EXPECT_EQ(test::firstDifference(Bytes(map.begin(), map.begin() + std::min(map.size(), expected.size())),
                                    expected),
              "");
    if (c.headerBox) {
        EXPECT_EQ(index.levelSizes, c.levelSizes);
        EXPECT_EQ(index.leaves, c.leaves);
    }
    EXPECT_EQ(test::firstDifference(test::readBytes(result("ID")), test::expectedMapResultId(c.rows)), "");
    EXPECT_EQ(test::firstDifference(test::readBytes(result("DAT")), test::expectedMapResultDat(c.rows)), "");
    EXPECT_EQ(test::readText(result("TAB")), kResultTab);
    EXPECT_EQ(test::readBytes(path("~work.MAP")), input);
}

RecoverCase rc(const char* name, MapBuilder map, std::vector<MapResultRow> rows,
               std::vector<std::uint64_t> reset, std::array<std::int32_t, 4> counts, std::int32_t deleted = 0,
               Lines lines = {}, Lines listing = {})
{
    return {name, std::move(map), std::move(rows), std::move(reset), counts, deleted, lines, {}, {},
            {},   listing};
}

MapBuilder limited(std::uint8_t limit)
{
    return MapBuilder().styleLimits(limit, limit, limit, limit);
}

// Limits pen 4, brush 5, symbol 6, font 7: a byte at its limit stays, one above becomes 1.
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

const std::vector<MapResultRow> kStyleRows = {{1044, 1, "  01"}, {1054, 2, "  02"}, {1068, 3, "  05"},
                                              {1090, 4, "  0E"}, {1131, 5, "  13"}, {1146, 6, "  1A"},
                                              {1169, 7, "  10"}, {1208, 8, "  11"}};

INSTANTIATE_TEST_SUITE_P(
    Files, MapRecoverTest,
    ::testing::Values(
        rc("DeletedRegionStyles",
           MapBuilder()
               .styleLimits(4, 5, 10, 10)
               .objectBlock({MapObject::of(0x0E, 0x40000007).style(0, 9).style(1, 3)}),
           {{1044, 7, "D 0E"}}, {1084}, {0, 0, 1, 0}, 1),
        rc("ShortFile", MapBuilder().truncateTo(700), {}, {}, {}),
        rc("UnknownTypeMidBlock",
           MapBuilder()
               .objectBlock({kPoint, MapObject::raw(0x1D, 0x40000009, Bytes(40, std::byte{0xFF})), kPoint})
               .objectBlock({MapObject::of(0x0B, 0x80000003)}),
           {{1044, 4, "  01"}, {1054, 9, "DU1D"}, {1556, 3, "D 0B"}}, {}, {1, 1, 0, 0}, 2,
           {"!!! Found unknown element type: offset: 00001054 element: &H1D"},
           {"Del?\tRowId_old\tRowId_new\tMI offset \tType", " \t00000004\t00000001\t00001044\t  01",
            "D\t00000009\t00000002\t00001054\tDU1D", "D\t00000003\t00000003\t00001556\tD 0B"}),
        // Style class none: no style check; the header counts 0x25 and 0x26 as lines, 0x47 nowhere.
        // Unknown length inside a class range: counted in its class, no byte of it checked.
        rc("LimitsZeroClassNoneAndUnknownInRange",
           limited(0).objectBlock(
               {MapObject::of(0x26, 0xC0000001), MapObject::of(0x25, 2), MapObject::of(0x00, 3),
                MapObject::of(0x47, 4), MapObject::of(0x0E, 5).style(0, 0).style(1, 2),
                MapObject::of(0x01, 6).style(0, 5), MapObject::raw(0x0F, 7, Bytes(40, std::byte{9}))}),
           {{1044, 1, "D 26"},
            {1084, 2, "  25"},
            {1120, 3, "  00"},
            {1125, 4, "  47"},
            {1191, 5, "  0E"},
            {1232, 6, "  01"},
            {1242, 7, " U0F"}},
           {1230, 1241}, {1, 2, 2, 0}, 1, {"!!! Found unknown element type: offset: 00001242 element: &HF"}),
        rc("StyleLimits", styleFile(), kStyleRows, {1067, 1089, 1145, 1144, 1207, 1243}, {2, 1, 3, 2}),
        rc("Limits255",
           limited(255).objectBlock({MapObject::of(0x0E, 1).style(0, 255).style(1, 255),
                                     MapObject::of(0x10, 2).style(9, 255)}),
           {{1044, 1, "  0E"}, {1085, 2, "  10"}}, {}, {0, 0, 1, 1}),
        rc("HandRepairBlock",
           MapBuilder().objectBlock({kPoint}).block(0x04, Bytes(100, std::byte{0x02})).objectBlock({kPoint}),
           {{1044, 4, "  01"}, {2068, 4, "  01"}}, {}, {2, 0, 0, 0}, 0,
           {"Block &H04 at offset 00001537 found. Handelmade operations are needful."}),
        // The cut record keeps its row field rewritten; its style bytes lie beyond the file.
        rc("TruncatedLastBlock",
           limited(1)
               .objectBlock({MapObject::of(0x02, 0x40000001).style(0, 9),
                             MapObject::of(0x0E, 0x40000002).style(0, 9)})
               .truncateLastBlock(60),
           {{1044, 1, "D 02"}, {1058, 2, "D 0E"}}, {1057}, {1, 0, 1, 0}, 2)),
    [](const auto& i) { return std::string(i.param.name); });

// Records whose row field is already their walk position and whose style bytes are valid, so
// that the recovery changes no byte of them.
MapObject longPoint(std::uint32_t row, std::int32_t x, std::int32_t y)
{
    return MapObject::raw(0x02, row, test::leBytes(9, {{0, 4, {x, y}}, {8, 1, {1}}}));
}

constexpr map::Box kHeaderBox{-1000, -1000, 1000, 1000};

MapBuilder withHeaderBox(const map::Box& b = kHeaderBox)
{
    return MapBuilder().put32(272, b.xMin).put32(276, b.yMin).put32(280, b.xMax).put32(284, b.yMax);
}

// `n` blocks of one point each, point i at (10 i, -10 i), and what the recovery makes of them.
RecoverCase onePointCase(const char* name, std::int32_t n, std::vector<std::size_t> levelSizes,
                         const map::Box& header = kHeaderBox, const map::Box& headerAfter = kHeaderBox)
{
    RecoverCase c{name, withHeaderBox(header), {}, {}, {n, 0, 0, 0}, 0, {}, headerAfter, {}, levelSizes};
    for (std::int32_t i = 0; i < n; ++i) {
        const auto block = static_cast<std::uint32_t>(1024 + 512 * i);
        c.map.objectBlock({longPoint(static_cast<std::uint32_t>(i + 1), 10 * i, -10 * i)});
        c.rows.push_back({block + 20, static_cast<std::uint32_t>(i + 1), "  02"});
        c.leaves.push_back({{10 * i, -10 * i, 10 * i, -10 * i}, block});
    }
    return c;
}

RecoverCase ic(const char* name, MapBuilder map, std::vector<MapResultRow> rows,
               std::array<std::int32_t, 4> counts, Lines lines, std::vector<map::IndexEntry> leaves,
               std::vector<std::size_t> levelSizes, const map::Box& headerAfter = kHeaderBox)
{
    return {name, std::move(map),   std::move(rows), {},     counts,
            0,    std::move(lines), headerAfter,     leaves, levelSizes};
}

// Short points from their block's centre, a short polyline from its own origin.
MapBuilder shortTypes()
{
    const Bytes point = test::leBytes(5, {{0, 2, {-1, 2}}, {4, 1, {1}}});
    const Bytes line = test::leBytes(29, {{12, 4, {1000, 2000}}, {20, 2, {-5, 8, 7, -6}}, {28, 1, {1}}});
    MapBuilder m = withHeaderBox({0, 0, 0, 0});
    m.objectBlock({MapObject::raw(0x01, 1, point), MapObject::raw(0x07, 2, line)}).put32(1028, 7'000'000);
    return m.put32(1032, -3'000'000)
        .objectBlock({MapObject::raw(0x01, 3, point)})
        .put32(1540, -10)
        .put32(1544, 10);
}

// 35 points fill the second block to byte 510; used 600 claims the next block, which comes through
// untouched.
RecoverCase damagedBlock()
{
    std::vector<MapObject> points;
    std::vector<MapResultRow> rows{{1044, 1, "  02"}};
    for (std::uint32_t i = 0; i < 36; ++i) {
        points.push_back(longPoint(i + 2, static_cast<std::int32_t>(i + 1), 5));
        if (i < 35)
            rows.push_back({1556 + 14 * i, i + 2, "  02"});
    }
    rows.push_back({2068, 37, "  02"});
    return ic(
        "DamagedBlockKeepsWhatItProcessed",
        withHeaderBox()
            .objectBlock({longPoint(1, -7, -7)})
            .objectBlock(points, 600)
            .objectBlock({longPoint(37, 7, 7)}),
        rows, {37, 0, 0, 0},
        {"!!! Damaged 'ODBlock' at offset: 00001536 objects run past the end of the block; the rest of it is "
         "ignored."},
        {{{-7, -7, -7, -7}, 1024}, {{1, 5, 35, 5}, 1536}, {{7, 7, 7, 7}, 2048}}, {1});
}

INSTANTIATE_TEST_SUITE_P(
    SpatialIndex, MapRecoverTest,
    ::testing::Values(
        ic("OneBlock", withHeaderBox().objectBlock({longPoint(1, 5, 6), longPoint(2, -5, 60)}),
           {{1044, 1, "  02"}, {1058, 2, "  02"}}, {2, 0, 0, 0}, {}, {{{-5, 6, 5, 60}, 1024}}, {1}),
        onePointCase("TwentyFiveBlocks", 25, {1}),
        // An empty header box (corners swapped) becomes the root's box.
        onePointCase("TwentySixBlocksEmptyHeaderBox", 26, {1, 2}, {9999, 9999, -9999, -9999},
                     {0, -250, 250, 0}),
        onePointCase("SixHundredTwentySixBlocks", 626, {1, 2, 26}, kHeaderBox, {-1000, -6250, 6250, 1000}),
        ic("EmptyBlockGetsNoLeaf",
           withHeaderBox()
               .objectBlock({longPoint(1, 1, 1)})
               .objectBlock({})
               .objectBlock({MapObject::raw(0x00, 2, {}), longPoint(3, 2, 2)}),
           {{1044, 1, "  02"}, {2068, 2, "  00"}, {2073, 3, "  02"}}, {2, 0, 0, 0}, {},
           {{{1, 1, 1, 1}, 1024}, {{2, 2, 2, 2}, 2048}}, {1}),
        ic("ShortTypesFromBlockCentreAndOwnOrigin", shortTypes(),
           {{1044, 1, "  01"}, {1054, 2, "  07"}, {1556, 3, "  01"}}, {2, 1, 0, 0}, {},
           {{{995, -2'999'998, 6'999'999, 2008}, 1024}, {{-11, 12, -11, 12}, 1536}}, {1},
           {-11, -2'999'998, 6'999'999, 2008}),
        // An unknown record's box is unknown: its block takes in the header's box, corners ordered.
        ic("UnknownTypeTakesInTheHeaderBox",
           withHeaderBox({1000, 1000, -1000, -1000})
               .objectBlock({longPoint(1, 5000, 5), MapObject::raw(0x1D, 2, Bytes(9)), longPoint(9, 9, 9)})
               .objectBlock({longPoint(3, 1, 1)}),
           {{1044, 1, "  02"}, {1058, 2, " U1D"}, {1556, 3, "  02"}}, {2, 0, 0, 0},
           {"!!! Found unknown element type: offset: 00001058 element: &H1D"},
           {{{-1000, -1000, 5000, 1000}, 1024}, {{1, 1, 1, 1}, 1536}}, {1}, {-1000, -1000, 5000, 1000}),
        damagedBlock(),
        // The third point's type, row field and two bytes of its X lie in the file; the rest reads as zeros.
        ic("TruncatedLastBlock",
           withHeaderBox()
               .objectBlock({longPoint(1, 3, 3)})
               .objectBlock({longPoint(2, 4, 4), longPoint(3, 0x7FFF0123, 77)})
               .truncateLastBlock(20 + 14 + 7),
           {{1044, 1, "  02"}, {1556, 2, "  02"}, {1570, 3, "  02"}}, {3, 0, 0, 0}, {},
           {{{3, 3, 3, 3}, 1024}, {{4, 0, 0x123, 4}, 1536}}, {1}),
        ic("NoObjectDataBlock", withHeaderBox().block(0x01).block(0x03, Bytes(40, std::byte{7})), {}, {}, {},
           {}, {}),
        // Empty blocks, one of NoGeometry and one cut inside its header: nothing to bound, no index.
        ic("EmptyBlocksAndNothingToBound",
           withHeaderBox()
               .objectBlock({kPoint}, 0)
               .objectBlock({kPoint}, -3)
               .objectBlock({MapObject::raw(0x00, 1, {})})
               .objectBlock({kPoint})
               .truncateLastBlock(6),
           {{2068, 1, "  00"}}, {}, {}, {}, {})),
    [](const auto& i) { return std::string(i.param.name); });

// Refused before any result file exists; the working copy is never changed.
TEST_F(MapRecoverTest, RefusedWorkingCopies)
{
    const std::pair<MapBuilder, std::string> cases[] = {
        {MapBuilder().truncateTo(359), kError + "62 Input past end of file"},
        {MapBuilder().blockSize(16384).objectBlock({kPoint}),
         kError + "5 Unsupported .MAP block size 16384 (only 512 is supported)"},
        {MapBuilder(), "File '" + path("~work.MAP") + "' was not  found."},
    };
    for (const auto& [map, line] : cases) {
        SCOPED_TRACE(line);
        const mapinfoTableFilesPull t = table(map);
        if (line.starts_with("File"))
            std::filesystem::remove(path("~work.MAP"));
        const auto before = test::snapshot(dir());
        test::LogCapture cap;
        const RecoverResult r = doDelMAP_ID_recover(t, &cap.log);
        EXPECT_EQ(r.count, -1);
        EXPECT_EQ(r.tabPath, "");
        EXPECT_EQ(cap.lines(), Lines{line});
        EXPECT_EQ(test::snapshot(dir()), before);
    }
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
    EXPECT_EQ(doDelMAP_ID_recover(t, &cap.log).count, -1);
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

} // namespace
} // namespace tabrescue
