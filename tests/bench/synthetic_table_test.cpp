#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "dat/dat_count.h"
#include "map/map_count.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "synthetic_table.h"

namespace tabrescue {
namespace {

using bench::TableRecipe;
using bench::TableSummary;
using test::Bytes;
using test::getLE16;
using test::getLE32;

// The block types of the .MAP in file order, from the third block on.
std::string blockTypes(const Bytes& m)
{
    std::string types;
    for (std::size_t b = 1024; b + 512 <= m.size(); b += 512)
        types += static_cast<char>(m[b]);
    return types;
}

TableRecipe shape(std::uint32_t rows, std::uint32_t deletedRows, std::uint32_t erased, std::uint32_t over,
                std::uint32_t garbage = 2)
{
    TableRecipe s;
    s.rows = rows;
    s.seed = 42;
    s.deletedRowsPermille = deletedRows;
    s.erasedObjectsPermille = erased;
    s.styleOverLimitPermille = over;
    s.garbageBlocks = garbage;
    return s;
}

struct ShapeCase
{
    const char* name;
    TableRecipe table;
};

void PrintTo(const ShapeCase& c, std::ostream* os)
{
    *os << c.name;
}

class SyntheticTableTest : public test::TempDirTest, public ::testing::WithParamInterface<ShapeCase>
{
};

// The four files agree with each other, with a second reader and with the generator's summary.
TEST_P(SyntheticTableTest, WritesAConsistentTable)
{
    const TableRecipe& s = GetParam().table;
    const TableSummary sum = bench::writeSyntheticTable(test::utf8(dir()), "t", s);
    const Bytes dat = test::readBytes(dir() / "t.DAT"), map = test::readBytes(dir() / "t.MAP"),
                id = test::readBytes(dir() / "t.ID");

    const std::size_t header = 32 + 8 * 32 + 1;
    ASSERT_EQ(dat.size(), header + std::size_t{s.rows} * bench::kRecordLength + 1);
    EXPECT_EQ(sum.datBytes, dat.size());
    EXPECT_EQ(dat.back(), std::byte{0x1A});
    std::uint32_t stars = 0;
    for (std::uint32_t k = 0; k < s.rows; ++k) {
        const std::byte status = dat[header + std::size_t{k} * bench::kRecordLength];
        ASSERT_TRUE(status == std::byte{0x20} || status == std::byte{0x2A}) << "row " << k;
        stars += status == std::byte{0x2A} ? 1 : 0;
    }
    EXPECT_EQ(stars, sum.deletedRows);
    if (s.deletedRowsPermille % 1000 == 0) {
        EXPECT_EQ(stars, s.deletedRowsPermille == 0 ? 0u : s.rows);
    }
    EXPECT_EQ(getDelDATcount(test::utf8(dir() / "t.DAT"), nullptr), static_cast<std::int32_t>(stars));

    ASSERT_EQ(map.size() % 512, 0u);
    ASSERT_GE(map.size(), 1024u);
    EXPECT_EQ(sum.mapBytes, map.size());
    EXPECT_EQ(getLE32(map, 256), 42424242u);
    EXPECT_EQ(getLE16(map, 262), 512u);
    EXPECT_EQ(test::Bytes(map.begin() + 356, map.begin() + 360),
              (test::Bytes{std::byte{bench::kPenLimit}, std::byte{bench::kBrushLimit},
                           std::byte{bench::kSymbolLimit}, std::byte{bench::kFontLimit}}));
    const std::string blocks = blockTypes(map);
    const auto count = [&](char type) { return static_cast<std::uint32_t>(std::ranges::count(blocks, type)); };
    EXPECT_EQ(count(0x02), sum.objectBlocks);
    EXPECT_EQ(count(0x03), sum.coordBlocks);
    EXPECT_EQ(count(0x04), s.garbageBlocks);
    EXPECT_EQ(count(0x01) + count(0x05), sum.otherBlocks);
    EXPECT_EQ(sum.objects, s.rows);
    EXPECT_EQ(getDelMAPcount(test::utf8(dir() / "t.MAP"), nullptr), static_cast<std::int32_t>(sum.deletedObjects));
    // A deleted row takes its geometry with it; a deleted geometry leaves no .ID entry.
    ASSERT_EQ(id.size(), std::size_t{s.rows} * 4);
    std::uint32_t noEntry = 0;
    for (std::size_t k = 0; k < s.rows; ++k) {
        const bool entry = getLE32(id, k * 4) != 0;
        noEntry += entry ? 0 : 1;
        if (dat[header + k * bench::kRecordLength] == std::byte{0x2A}) {
            EXPECT_FALSE(entry) << "row " << k + 1;
        }
    }
    EXPECT_EQ(noEntry, sum.deletedObjects);

    const std::string tab = test::readText(dir() / "t.TAB");
    EXPECT_NE(tab.find("\r\n  Fields 8\r\n"), std::string::npos);
    EXPECT_NE(tab.find("    NOTE Char (103) ;\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Shapes, SyntheticTableTest,
                         ::testing::Values(ShapeCase{"Typical", shape(3000, 30, 5, 10)},
                                           ShapeCase{"NoRows", shape(0, 30, 5, 10)},
                                           ShapeCase{"OneRowNothingDeleted", shape(1, 0, 0, 0, 0)},
                                           ShapeCase{"EverythingDeleted", shape(2000, 1000, 0, 1000)},
                                           ShapeCase{"OnlyGeometriesErased", shape(2000, 0, 200, 10, 5)}),
                         [](const auto& l_info) { return std::string(l_info.param.name); });

using SyntheticTableFileTest = test::TempDirTest;

TEST_F(SyntheticTableFileTest, SameSeedWritesTheSameBytes)
{
    const auto write = [&](const char* sub, std::uint64_t seed) {
        TableRecipe s = shape(2500, 30, 5, 10);
        s.seed = seed;
        std::filesystem::create_directories(dir() / sub);
        bench::writeSyntheticTable(test::utf8(dir() / sub), "t", s);
    };
    for (const auto& [sub, seed] : {std::pair{"a", 42}, {"b", 42}, {"c", 43}})
        write(sub, seed);
    const auto bytes = [&](const char* sub, const char* name) { return test::readBytes(dir() / sub / name); };
    for (const char* name : {"t.TAB", "t.DAT", "t.MAP", "t.ID"})
        EXPECT_EQ(test::firstDifference(bytes("b", name), bytes("a", name)), "") << name;
    EXPECT_NE(bytes("c", "t.DAT"), bytes("a", "t.DAT"));
    EXPECT_NE(bytes("c", "t.MAP"), bytes("a", "t.MAP"));
}

// Shaped like a table from the field: .MAP about as large as .DAT, a few percent deleted, every class
// of object, and coordinate and other blocks among the object data blocks.
TEST_F(SyntheticTableFileTest, TypicalProportions)
{
    const TableSummary sum = bench::writeSyntheticTable(test::utf8(dir()), "t", shape(20000, 30, 5, 10));
    const double ratio = static_cast<double>(sum.mapBytes) / static_cast<double>(sum.datBytes);
    EXPECT_GT(ratio, 0.8);
    EXPECT_LT(ratio, 1.25);
    EXPECT_GT(sum.deletedRows, 20000u * 2 / 100);
    EXPECT_LT(sum.deletedRows, 20000u * 4 / 100);
    EXPECT_GT(sum.deletedObjects, sum.deletedRows);
    EXPECT_GT(sum.styleOverLimit, 0u);
    EXPECT_GT(sum.otherBlocks, 0u);
    for (std::uint32_t c : sum.classCounts)
        EXPECT_GT(c, 0u);
    // Garbage among the object data blocks, not after them; coordinates after most of them.
    const std::string blocks = blockTypes(test::readBytes(dir() / "t.MAP"));
    EXPECT_LT(blocks.find('\x04'), blocks.rfind('\x02'));
    std::uint32_t coordsThenObjects = 0;
    for (std::size_t at = blocks.find("\x03\x02"); at != std::string::npos;
         at = blocks.find("\x03\x02", at + 1))
        ++coordsThenObjects;
    EXPECT_GT(coordsThenObjects, sum.objectBlocks / 2);
}

TEST(TableSummary, IsJson)
{
    TableSummary sum;
    sum.tabPath = "C:\\t \"x\".TAB";
    sum.rows = 7;
    const std::string j = sum.json();
    EXPECT_NE(j.find("\"tab\": \"C:\\\\t \\\"x\\\".TAB\""), std::string::npos) << j;
    EXPECT_NE(j.find("\"rows\": 7,"), std::string::npos) << j;
    EXPECT_EQ(j.substr(j.size() - 2), "}\n");
}

} // namespace
} // namespace tabrescue
