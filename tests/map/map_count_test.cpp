#include <gtest/gtest.h>

#include "map/map_count.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapBuilder;
using test::MapObject;
using Lines = std::vector<std::string>;

const std::string kError = "+++ mapinfoRecoverTable::getDelMAPcount()+++ ";
const std::string kAbandon9 = " *: RowId := 9 unknow data type - unknow binary length ALL objects in current "
                              "'ODBlock' are ignored! Goto Next 'ODBlock'.";

struct CountCase
{
    const char* name;
    MapBuilder map;
    std::int32_t expected;
    Lines lines; // of the log pane
    bool failed = false;
};

void PrintTo(const CountCase& c, std::ostream* os)
{
    *os << c.name;
}

class MapCountTest : public test::TempDirTest, public ::testing::WithParamInterface<CountCase>
{
};

TEST_P(MapCountTest, CountsDeletedObjects)
{
    const CountCase& c = GetParam();
    const std::string p = path("t.MAP");
    c.map.write(p);
    const Bytes before = test::readBytes(p);
    test::LogCapture cap;
    bool failed = !c.failed;
    EXPECT_EQ(getDelMAPcount(p, &cap.log, &failed), c.expected);
    EXPECT_EQ(cap.lines(), c.lines);
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(test::readBytes(p), before);
}

const MapObject kLivePoint = MapObject::of(0x01, 4);

INSTANTIATE_TEST_SUITE_P(
    Files, MapCountTest,
    ::testing::Values(
        CountCase{"OnlyHeader", MapBuilder(), 0, {}},
        CountCase{"OtherBlocksQuiet", MapBuilder().block(0x04).block(0x01).block(0x03), 0, {}},
        CountCase{
            "EitherBitMarksDeleted",
            MapBuilder().objectBlock({MapObject::of(0x01, 0x00000001), MapObject::of(0x0E, 0x40000002),
                                      MapObject::of(0x05, 0x80000003), MapObject::of(0x26, 0xC0000004)}),
            3,
            {}},
        CountCase{"AllBlocksCounted",
                  MapBuilder()
                      .objectBlock({MapObject::of(0x02, 0x40000001)})
                      .block(0x04)
                      .objectBlock({MapObject::of(0x2F, 0x80000002), MapObject::of(0x00, 0x40000003)}),
                  3,
                  {}},
        CountCase{"UnknownTypeCountedThenBlockAbandoned",
                  MapBuilder()
                      .objectBlock({kLivePoint, MapObject::raw(0x1D, 0x40000009, Bytes(20, std::byte{0xC0})),
                                    MapObject::of(0x01, 0x40000010)})
                      .objectBlock({MapObject::of(0x01, 0x40000011)}),
                  2,
                  {"!!! Found unknown element type: offset: 00001054 element: &H1D", kAbandon9}},
        CountCase{"UnknownTypeInClassRange",
                  MapBuilder().objectBlock({MapObject::raw(0x03, 9, Bytes(5, std::byte{0}))}),
                  0,
                  {"!!! Found unknown element type: offset: 00001044 element: &H3", kAbandon9}},
        CountCase{
            "UsedOverflowKeepsCountSoFar",
            MapBuilder().objectBlock({MapObject::of(0x01, 0x40000001)}).objectBlock({kLivePoint}, 32748),
            1,
            {kError + "6 Overflow"},
            true},
        CountCase{"BlockSizeRefused",
                  MapBuilder().blockSize(16384).objectBlock({MapObject::of(0x01, 0x40000001)}),
                  0,
                  {kError + "5 Unsupported .MAP block size 16384 (only 512 is supported)"},
                  true}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

class MapCountFileTest : public test::TempDirTest
{
};

TEST_F(MapCountFileTest, MissingFile)
{
    test::LogCapture cap;
    bool failed = true;
    const std::string p = path("none.MAP");
    EXPECT_EQ(getDelMAPcount(p, &cap.log, &failed), 0);
    EXPECT_EQ(cap.lines(), Lines{"File '" + p + "' was not  found."});
    EXPECT_FALSE(failed);
}

TEST_F(MapCountFileTest, UnreadableFile)
{
    MapBuilder().objectBlock({MapObject::of(0x01, 0x40000001)}).write(path("t.MAP"));
    fileSystem().setFaultHook([](std::string_view op, const std::string&) {
        if (op == "read")
            throw RecoverError(70, "Permission denied");
    });
    test::LogCapture cap;
    bool failed = false;
    const std::int32_t n = getDelMAPcount(path("t.MAP"), &cap.log, &failed);
    fileSystem().setFaultHook(nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(failed);
    EXPECT_EQ(cap.lines(), Lines{kError + "70 Permission denied"});
}

TEST_F(MapCountFileTest, ListingLines)
{
    MapBuilder()
        .objectBlock({MapObject::of(0x0E, 0x40000007), MapObject::of(0x01, 12),
                      MapObject::raw(0xFF, 0x80000009, Bytes(3, std::byte{0}))})
        .write(path("t.MAP"));
    test::LogCapture cap;
    EXPECT_EQ(getDelMAPcount(path("t.MAP"), &cap.log), 2);
    EXPECT_EQ(cap.listing,
              (Lines{" D: RowId := 7 MAP file offset := 00001044 geoType := &HE (LongRegion)",
                     "  : RowId := 12 MAP file offset := 00001085 geoType := &H1 (ShortPoint)",
                     " D: RowId := 9 MAP file offset := 00001095 geoType := &HFF (Unknown Type(&HFF))"}));
    // Listing lines never reach the pane; the unknown type's two lines do, in this order.
    EXPECT_EQ(cap.lines(),
              (Lines{"!!! Found unknown element type: offset: 00001095 element: &HFF", kAbandon9}));
}

} // namespace
} // namespace tabrescue
