#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "io/paths.h"
#include "map/map_layout.h"
#include "recovery/run.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::MapObject;
namespace fs = std::filesystem;

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
    friend void PrintTo(const UndeleteCase& c, std::ostream* os) { *os << c.name; }
};

class UndeleteTest : public test::TempDirTest, public ::testing::WithParamInterface<UndeleteCase> {};

TEST_P(UndeleteTest, WritesTheTableAsItWasBeforeTheDeletions)
{
    const UndeleteCase& c = GetParam();
    for (const char* sub : {"in", "out", "tmp"})
        fs::create_directories(dir() / sub);
    test::ScopedTempFolder tmp(dir() / "tmp");
    const auto in = [&](const char* ext) { return dir() / test::u8path("in/t 'ü'." + std::string(ext)); };
    const std::string out = joinPath(path("out"), "t 'ü'_undeleted.");
    const auto result = [&](const char* ext) { return test::u8path(out + ext); };
    test::TabTextBuilder().indexedField("NAME Char (8)", 1).write(in("TAB"));
    test::DatBuilder().field("NAME", 8).rows(c.statuses).write(in("DAT"));
    test::MapBuilder map = test::MapBuilder().styleLimits(10, 4, 10, 10).objectBlock(c.objects);
    const auto idBytes = [&](const std::vector<int>& objects) {
        Bytes b;
        for (int k : objects)
            test::appendLE32(b, k == 0 ? 0 : static_cast<std::uint32_t>(map.recordOffset(0, k - 1)));
        return b;
    };
    if (!c.objects.empty()) {
        map.write(in("MAP"));
        test::writeBytes(in("ID"), idBytes(c.id));
    }
    test::writeText(in("IND"), "index");
    const auto before = test::snapshot(dir() / "in");

    test::TestFrontend frontend;
    ASSERT_EQ(runUndelete(frontend, RunInput{test::utf8(in("TAB")), path("out"), false}).status, 0)
        << testing::PrintToString(frontend.capture.lines());
    EXPECT_EQ(frontend.capture.lines().at(1),
              " +!+ " + std::to_string(c.back[0]) + " deleted rows and " + std::to_string(c.back[1]) +
                  " deleted geometries came back, " + std::to_string(c.back[2]) +
                  " of these rows without a geometry, in file '" + out + "TAB' +!+");
    EXPECT_EQ(test::snapshot(dir() / "in"), before);
    EXPECT_FALSE(fs::exists(result("IND")));
    EXPECT_EQ(test::readText(result("TAB")).find("Index"), std::string::npos);
    std::string live = c.statuses; // the input's rows, every one made live
    std::replace(live.begin(), live.end(), '*', ' ');
    EXPECT_EQ(test::firstDifference(test::readBytes(result("DAT")),
                                    test::DatBuilder().field("NAME", 8).rows(live).bytes()), "");
    ASSERT_EQ(fs::exists(result("MAP")), !c.objects.empty());
    if (c.objects.empty())
        return;
    EXPECT_EQ(test::firstDifference(test::readBytes(result("ID")), idBytes(c.expectedId)), "");

    // The input's bytes but for the revived row fields, the repaired styles, the counts and the index:
    // one index block at the end, its one entry pointing at the object data block, in the header's box.
    const Bytes m = test::readBytes(result("MAP"));
    const std::size_t root = test::getLE32(m, 304);
    ASSERT_EQ(root + 512, m.size());
    const auto s32 = [&](std::size_t at) { return static_cast<std::int32_t>(test::getLE32(m, at)); };
    EXPECT_EQ(Bytes(m.begin() + root, m.end()),
              test::leBytes(512, {{0, 2, {1, 1}}, {4, 4, {s32(root + 4), s32(root + 8), s32(root + 12)}},
                                  {16, 4, {s32(root + 16), 1024}}}));
    EXPECT_TRUE(s32(272) <= s32(root + 4) && s32(276) <= s32(root + 8) && s32(root + 12) <= s32(280) &&
                s32(root + 16) <= s32(284));
    Bytes expected = map.bytes();
    for (int k : c.revived)
        test::putLE32(expected, map.recordOffset(0, k - 1) + 1,
                      c.objects[k - 1].rowField & map::kRowNumberMask);
    for (std::size_t at : c.resetStyles)
        expected.at(at) = std::byte{1};
    for (std::size_t i = 0; i < 4; ++i)
        test::putLE32(expected, 316 + 4 * i, static_cast<std::uint32_t>(c.counts[i]));
    std::copy_n(m.begin() + 272, 16, expected.begin() + 272); // the header's box, checked above
    test::putLE32(expected, 304, static_cast<std::uint32_t>(root));
    expected.at(351) = std::byte{2};
    EXPECT_EQ(test::firstDifference(Bytes(m.begin(), m.begin() + expected.size()), expected), "");
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
