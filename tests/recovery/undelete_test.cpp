#include <gtest/gtest.h>

#include <filesystem>

#include "map/map_layout.h"
#include "recovery/run.h"
#include "support/map_builder.h"
#include "support/spatial_index_check.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapObject;
namespace fs = std::filesystem;

// Header counts follow GDAL's classes; style checks keep the classic ones.
static_assert(map::geoType(0x2B).countClass == map::GeoClass::Point && map::geoType(0x2B).styleCount == 0);
static_assert(map::geoType(0x3E).countClass == map::GeoClass::Area &&
              map::geoType(0x37).countClass == map::GeoClass::None);

// .ID entries as object numbers: k > 0 is the k-th object of the block, 0 is no object.
struct UndeleteCase
{
    const char* name;
    std::string statuses;           // one per .DAT row
    std::vector<MapObject> objects; // none: a table without .MAP and .ID
    std::vector<int> id, expectedId;
    std::vector<int> revived; // objects made live
    std::array<std::int32_t, 4> counts;
    std::array<int, 3> back;                   // rows and geometries that came back, rows without a geometry
    std::vector<std::size_t> resetStyles = {}; // bytes set to 1
};
void PrintTo(const UndeleteCase& c, std::ostream* os)
{
    *os << c.name;
}

class UndeleteTest : public test::TempDirTest, public ::testing::WithParamInterface<UndeleteCase>
{
};

TEST_P(UndeleteTest, WritesTheTableAsItWasBeforeTheDeletions)
{
    const UndeleteCase& c = GetParam();
    for (const char* sub : {"in", "out", "tmp"})
        fs::create_directories(dir() / sub);
    test::ScopedTempFolder tmp(dir() / "tmp");
    const std::string in = path("in/t 'ü'");
    test::TabTextBuilder().indexedField("NAME Char (8)", 1).write(test::u8path(in + ".TAB"));
    test::DatBuilder dat = test::DatBuilder().field("NAME", 8).rows(c.statuses);
    dat.write(test::u8path(in + ".DAT"));
    test::MapBuilder map = test::MapBuilder().styleLimits(10, 4, 10, 10).objectBlock(c.objects);
    const auto idBytes = [&](const std::vector<int>& objects) {
        Bytes b;
        for (int k : objects)
            test::appendLE32(b, k == 0 ? 0 : static_cast<std::uint32_t>(map.recordOffset(0, k - 1)));
        return b;
    };
    if (!c.objects.empty()) {
        map.write(test::u8path(in + ".MAP"));
        test::writeBytes(test::u8path(in + ".ID"), idBytes(c.id));
    }
    test::writeText(test::u8path(in + ".IND"), "index");
    const auto before = test::snapshot(dir() / "in");

    test::TestFrontend frontend;
    const UndeleteResult r = runUndelete(frontend, RunInput{in + ".TAB", path("out"), false});
    ASSERT_EQ(r.status, 0) << testing::PrintToString(frontend.capture.lines());
    const std::string out = path("out/t 'ü'_undeleted.");
    EXPECT_EQ(frontend.capture.lines().at(1),
              " +!+ " + std::to_string(c.back[0]) + " deleted rows and " + std::to_string(c.back[1]) +
                  " deleted geometries came back, " + std::to_string(c.back[2]) +
                  " of these rows without a geometry, in file '" + out + "TAB' +!+");
    EXPECT_EQ(test::snapshot(dir() / "in"), before);
    EXPECT_FALSE(fs::exists(test::u8path(out + "IND")));
    EXPECT_EQ(test::readText(test::u8path(out + "TAB")).find("Index"), std::string::npos);

    Bytes expectedDat = dat.bytes(); // the input's, every deleted row's status byte made live
    for (std::size_t i = 0; i < c.statuses.size(); ++i)
        if (c.statuses[i] == '*')
            expectedDat.at(dat.realHeaderLength() + i * dat.realRecordLength()) = std::byte{' '};
    EXPECT_EQ(test::firstDifference(test::readBytes(test::u8path(out + "DAT")), expectedDat), "");
    EXPECT_EQ(fs::exists(test::u8path(out + "MAP")), !c.objects.empty());
    if (c.objects.empty())
        return;
    EXPECT_EQ(test::firstDifference(test::readBytes(test::u8path(out + "ID")), idBytes(c.expectedId)), "");

    // The input's bytes but for the revived row fields, the repaired styles, the counts and the index.
    const Bytes result = test::readBytes(test::u8path(out + "MAP"));
    test::IndexShape index;
    EXPECT_TRUE(test::checkSpatialIndex(result, index));
    EXPECT_EQ(index.leaves.size(), 1u);
    Bytes expected = map.bytes();
    for (int k : c.revived)
        test::putLE32(expected, map.recordOffset(0, k - 1) + 1,
                      c.objects[k - 1].rowField & map::kRowNumberMask);
    for (std::size_t at : c.resetStyles)
        expected.at(at) = std::byte{1};
    for (std::size_t i = 0; i < 4; ++i)
        test::putLE32(expected, 316 + 4 * i, static_cast<std::uint32_t>(c.counts[i]));
    for (std::size_t at = 272; at < 288; ++at) // the index's own fields, checked above
        expected.at(at) = result.at(at);
    test::putLE32(expected, 304, test::getLE32(result, 304));
    expected.at(351) = result.at(351);
    EXPECT_EQ(test::firstDifference(Bytes(result.begin(), result.begin() + expected.size()), expected), "");
}

const MapObject kPoint1 = MapObject::of(0x01, 1);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tables, UndeleteTest, ::testing::Values(
    UndeleteCase{"DeletedRowWithItsObject", " *", {kPoint1, MapObject::of(0x2B, 0x40000002)}, {1, 0}, {1, 2}, {2}, {2, 0, 0, 0}, {1, 1, 0}},
    // The newest version of a changed geometry comes back, its brush above the limit reset; the older one stays deleted.
    UndeleteCase{"TwoVersionsOfItsObject", "*", {MapObject::of(0x0E, 0x40000001), MapObject::of(0x0E, 0x80000001).style(0, 9)}, {0}, {2}, {2}, {0, 0, 1, 0}, {1, 1, 0}, {1125}},
    UndeleteCase{"NonZeroEntryKept", "*", {MapObject::of(0x26, 0x40000001), MapObject::of(0x26, 0x40000001)}, {1}, {1}, {1}, {0, 1, 0, 0}, {1, 1, 0}},
    UndeleteCase{"RowWithoutObject", " *", {kPoint1}, {1, 0}, {1, 0}, {}, {1, 0, 0, 0}, {1, 0, 1}},
    UndeleteCase{"ShortId", " **", {kPoint1, MapObject::of(0x05, 0xC0000003)}, {1}, {1, 0, 2}, {2}, {1, 1, 0, 0}, {2, 1, 1}},
    UndeleteCase{"NothingDeleted", "  ", {kPoint1, MapObject::of(0x11, 2)}, {1, 2}, {1, 2}, {}, {1, 0, 0, 1}, {0, 0, 0}},
    UndeleteCase{"DatOnly", "* ", {}, {}, {}, {}, {}, {1, 0, 1}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });
// clang-format on

} // namespace
} // namespace tabrescue
