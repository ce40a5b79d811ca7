#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "dat/dat_count.h"
#include "map/map_count.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "synthetic_table.h"

namespace tabrescue {
namespace {

using bench::TableSpec;
using bench::TableSummary;
using test::Bytes;
using test::getLE16;
using test::getLE32;

// Record lengths as the format defines them, kept apart from the generator's table on purpose.
const std::map<std::uint8_t, std::size_t> kLengths{
    {0x00, 5},  {0x01, 10}, {0x02, 14}, {0x04, 14}, {0x05, 22}, {0x07, 34}, {0x08, 38},
    {0x0A, 26}, {0x0B, 42}, {0x0D, 37}, {0x0E, 41}, {0x10, 39}, {0x11, 53}, {0x13, 15},
    {0x14, 23}, {0x16, 19}, {0x17, 31}, {0x19, 15}, {0x1A, 23}, {0x26, 40}};

int classOf(std::uint8_t code)
{
    if (code >= 0x01 && code <= 0x03)
        return 0;
    if (code >= 0x04 && code <= 0x0C)
        return 1;
    if ((code >= 0x0D && code <= 0x0F) || (code >= 0x13 && code <= 0x1B))
        return 2;
    if (code >= 0x10 && code <= 0x12)
        return 3;
    return 4;
}

// What a second reader finds in the .MAP, walking it block by block.
struct MapFacts
{
    std::uint32_t objects = 0, deleted = 0, overLimit = 0;
    std::uint32_t classCounts[5] = {};
    std::string blocks;                 // block types in file order
    std::vector<std::uint64_t> offsets; // of each row's record
    std::vector<bool> deletedRows;
    std::string problem; // the first structural fault found
};

MapFacts walkMap(const Bytes& m)
{
    MapFacts f;
    const auto byteAt = [&](std::size_t at) { return std::to_integer<std::uint8_t>(m[at]); };
    const std::uint8_t pen = byteAt(356), brush = byteAt(357), symbol = byteAt(358);
    for (std::size_t b = 1024; b + 512 <= m.size() && f.problem.empty(); b += 512) {
        f.blocks += static_cast<char>(byteAt(b));
        if (byteAt(b) != 0x02)
            continue;
        for (std::size_t r = b + 20; r < b + 20 + getLE16(m, b + 2);) {
            const std::uint8_t code = byteAt(r);
            const auto len = kLengths.find(code);
            const std::uint32_t rowField = getLE32(m, r + 1);
            if (len == kLengths.end() || r + len->second > b + 512 ||
                (rowField & 0x3FFFFFFFu) != ++f.objects) {
                f.problem = "bad record at " + std::to_string(r);
                break;
            }
            f.deletedRows.push_back((rowField & 0xC0000000u) != 0);
            f.deleted += f.deletedRows.back() ? 1 : 0;
            f.offsets.push_back(r);
            const int cls = classOf(code);
            ++f.classCounts[cls];
            const std::uint8_t last = byteAt(r + len->second - 1);
            f.overLimit += (cls == 0 && last > symbol) || ((cls == 1 || cls == 3) && last > pen) ||
                           (cls == 2 && last > brush);
            // Polylines, regions and texts point at their data in a coordinate block.
            if (code == 0x07 || code == 0x08 || code == 0x0D || code == 0x0E || code == 0x26 ||
                code == 0x10 || code == 0x11) {
                const std::uint32_t ptr = getLE32(m, r + 5);
                const std::size_t cb = ptr / 512 * 512;
                if (ptr >= m.size() || byteAt(cb) != 0x03 || ptr - cb < 8 ||
                    ptr - cb >= 8u + getLE16(m, cb + 2))
                    f.problem =
                        "coordinate pointer " + std::to_string(ptr) + " of record " + std::to_string(r);
            }
            r += len->second;
        }
    }
    return f;
}

TableSpec shape(std::uint32_t rows, std::uint32_t deletedRows, std::uint32_t erased, std::uint32_t over,
                std::uint32_t garbage = 2)
{
    TableSpec s;
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
    TableSpec table;
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
    const TableSpec& s = GetParam().table;
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
    const MapFacts f = walkMap(map);
    EXPECT_EQ(f.problem, "");
    EXPECT_EQ(f.objects, s.rows);
    EXPECT_EQ(f.objects, sum.objects);
    EXPECT_EQ(f.deleted, sum.deletedObjects);
    EXPECT_EQ(getDelMAPcount(test::utf8(dir() / "t.MAP"), nullptr), static_cast<std::int32_t>(f.deleted));
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(f.classCounts[c], sum.classCounts[c]) << "class " << c;
    EXPECT_EQ(f.overLimit, sum.styleOverLimit);
    if (s.styleOverLimitPermille == 0) {
        EXPECT_EQ(f.overLimit, 0u);
    }
    auto blocks = [&](char type) { return static_cast<std::uint32_t>(std::ranges::count(f.blocks, type)); };
    EXPECT_EQ(blocks(0x02), sum.objectBlocks);
    EXPECT_EQ(blocks(0x03), sum.coordBlocks);
    EXPECT_EQ(blocks(0x04), sum.garbageBlocks);
    EXPECT_EQ(blocks(0x04), s.garbageBlocks);
    EXPECT_EQ(blocks(0x01) + blocks(0x05), sum.otherBlocks);

    // A deleted row takes its geometry with it; a deleted geometry leaves no .ID entry.
    ASSERT_EQ(id.size(), std::size_t{s.rows} * 4);
    ASSERT_EQ(f.deletedRows.size(), s.rows);
    for (std::size_t k = 0; k < s.rows; ++k) {
        if (dat[header + k * bench::kRecordLength] == std::byte{0x2A}) {
            EXPECT_TRUE(f.deletedRows[k]) << "row " << k + 1;
        }
        EXPECT_EQ(getLE32(id, k * 4), f.deletedRows[k] ? 0u : f.offsets[k]) << "row " << k + 1;
    }

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
        TableSpec s = shape(2500, 30, 5, 10);
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
    const std::string blocks = walkMap(test::readBytes(dir() / "t.MAP")).blocks;
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
