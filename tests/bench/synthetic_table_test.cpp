#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "dat/dat_count.h"
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
    std::map<std::uint8_t, std::uint32_t> blockTypes;
    std::map<std::uint32_t, std::uint64_t> offsetOfRow; // row number -> record offset
    std::map<std::uint32_t, bool> deletedRow;
    std::string problems; // empty when every structural check held
};

MapFacts walkMap(const Bytes& m)
{
    MapFacts f;
    auto problem = [&](const std::string& what) {
        if (f.problems.size() < 2000)
            f.problems += what + "\n";
    };
    const std::uint8_t pen = std::to_integer<std::uint8_t>(m[356]),
                       brush = std::to_integer<std::uint8_t>(m[357]),
                       symbol = std::to_integer<std::uint8_t>(m[358]);
    std::uint32_t expectedRow = 1;
    for (std::size_t b = 1024; b + 512 <= m.size(); b += 512) {
        const auto type = std::to_integer<std::uint8_t>(m[b]);
        ++f.blockTypes[type];
        if (type != 0x02)
            continue;
        const std::size_t used = getLE16(m, b + 2);
        if (used > 492)
            problem("block " + std::to_string(b) + " used " + std::to_string(used));
        for (std::size_t r = b + 20; r < b + 20 + used;) {
            const auto code = std::to_integer<std::uint8_t>(m[r]);
            const auto len = kLengths.find(code);
            if (len == kLengths.end()) {
                problem("unknown type at " + std::to_string(r));
                break;
            }
            if (r + len->second > b + 512)
                problem("record past its block at " + std::to_string(r));
            const std::uint32_t rowField = getLE32(m, r + 1);
            const std::uint32_t row = rowField & 0x3FFFFFFFu;
            if (row != expectedRow++)
                problem("row " + std::to_string(row) + " out of order at " + std::to_string(r));
            const bool del = (rowField & 0xC0000000u) != 0;
            ++f.objects;
            f.deleted += del ? 1 : 0;
            ++f.classCounts[classOf(code)];
            f.offsetOfRow[row] = r;
            f.deletedRow[row] = del;

            const auto last = std::to_integer<std::uint8_t>(m[r + len->second - 1]);
            const int cls = classOf(code);
            const bool over = (cls == 0 && last > symbol) || (cls == 1 && last > pen) ||
                              (cls == 2 && last > brush) || (cls == 3 && last > pen);
            f.overLimit += over ? 1 : 0;
            if (cls == 2 && std::to_integer<std::uint8_t>(m[r + len->second - 2]) > pen)
                problem("area pen above its limit at " + std::to_string(r));

            // Polylines, regions and texts point at their data in a coordinate block.
            const bool hasCoords = code == 0x07 || code == 0x08 || code == 0x0D || code == 0x0E ||
                                   code == 0x26 || code == 0x10 || code == 0x11;
            if (hasCoords) {
                const std::uint32_t ptr = getLE32(m, r + 5);
                const std::size_t cb = ptr / 512 * 512;
                if (ptr >= m.size() || std::to_integer<std::uint8_t>(m[cb]) != 0x03 || ptr - cb < 8 ||
                    ptr - cb >= 8u + getLE16(m, cb + 2))
                    problem("coordinate pointer " + std::to_string(ptr) + " of record " + std::to_string(r));
            }
            r += len->second;
        }
    }
    return f;
}

struct SpecCase
{
    const char* name;
    TableSpec spec;
};

void PrintTo(const SpecCase& c, std::ostream* os)
{
    *os << c.name;
}

TableSpec spec(std::uint32_t rows, std::uint32_t deletedRows, std::uint32_t erased, std::uint32_t over,
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

class SyntheticTableTest : public test::TempDirTest, public ::testing::WithParamInterface<SpecCase>
{
  protected:
    TableSummary write(const TableSpec& s) { return bench::writeSyntheticTable(dir().string(), "t", s); }
};

TEST_P(SyntheticTableTest, DatIsAWellFormedTableOfTheRequestedRows)
{
    const TableSpec& s = GetParam().spec;
    const TableSummary sum = write(s);
    const Bytes dat = test::readBytes(dir() / "t.DAT");

    const std::size_t header = 32 + 8 * 32 + 1;
    ASSERT_EQ(dat.size(), header + std::size_t{s.rows} * bench::kRecordLength + 1);
    EXPECT_EQ(sum.datBytes, dat.size());
    EXPECT_EQ(getLE32(dat, 4), s.rows);
    EXPECT_EQ(getLE16(dat, 8), header);
    EXPECT_EQ(getLE16(dat, 10), bench::kRecordLength);
    EXPECT_EQ(dat[header - 1], std::byte{0x0D});
    EXPECT_EQ(dat.back(), std::byte{0x1A});
    std::size_t widths = 1;
    for (std::size_t d = 32; d + 1 < header; d += 32)
        widths += std::to_integer<std::size_t>(dat[d + 16]);
    EXPECT_EQ(widths, bench::kRecordLength);

    std::uint32_t stars = 0;
    for (std::uint32_t k = 0; k < s.rows; ++k) {
        const std::byte status = dat[header + std::size_t{k} * bench::kRecordLength];
        ASSERT_TRUE(status == std::byte{0x20} || status == std::byte{0x2A}) << "row " << k;
        stars += status == std::byte{0x2A} ? 1 : 0;
    }
    EXPECT_EQ(stars, sum.deletedRows);
    if (s.deletedRowsPermille == 0) {
        EXPECT_EQ(stars, 0u);
    }
    if (s.deletedRowsPermille == 1000) {
        EXPECT_EQ(stars, s.rows);
    }
    // The core's count agrees with what was written.
    EXPECT_EQ(getDelDATcount((dir() / "t.DAT").string(), nullptr), static_cast<std::int32_t>(stars));
}

TEST_P(SyntheticTableTest, MapHoldsOneObjectPerRowInWellFormedBlocks)
{
    const TableSpec& s = GetParam().spec;
    const TableSummary sum = write(s);
    const Bytes map = test::readBytes(dir() / "t.MAP");

    ASSERT_EQ(map.size() % 512, 0u);
    ASSERT_GE(map.size(), 1024u);
    EXPECT_EQ(sum.mapBytes, map.size());
    EXPECT_EQ(getLE32(map, 256), 42424242u);
    EXPECT_EQ(getLE16(map, 262), 512u);
    EXPECT_EQ(map[356], std::byte{bench::kPenLimit});
    EXPECT_EQ(map[357], std::byte{bench::kBrushLimit});
    EXPECT_EQ(map[358], std::byte{bench::kSymbolLimit});
    EXPECT_EQ(map[359], std::byte{bench::kFontLimit});

    const MapFacts f = walkMap(map);
    EXPECT_EQ(f.problems, "");
    EXPECT_EQ(f.objects, s.rows);
    EXPECT_EQ(f.objects, sum.objects);
    EXPECT_EQ(f.deleted, sum.deletedObjects);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(f.classCounts[c], sum.classCounts[c]) << "class " << c;
    EXPECT_EQ(f.overLimit, sum.styleOverLimit);
    auto blocks = [&](std::uint8_t type) { return f.blockTypes.count(type) ? f.blockTypes.at(type) : 0u; };
    EXPECT_EQ(blocks(0x02), sum.objectBlocks);
    EXPECT_EQ(blocks(0x03), sum.coordBlocks);
    EXPECT_EQ(blocks(0x04), sum.garbageBlocks);
    EXPECT_EQ(blocks(0x04), s.garbageBlocks);
    EXPECT_EQ(blocks(0x01) + blocks(0x05), sum.otherBlocks);
    if (s.styleOverLimitPermille == 0) {
        EXPECT_EQ(f.overLimit, 0u);
    }
}

TEST_P(SyntheticTableTest, IdPointsEveryLiveRowAtItsObject)
{
    const TableSpec& s = GetParam().spec;
    write(s);
    const Bytes id = test::readBytes(dir() / "t.ID");
    const Bytes dat = test::readBytes(dir() / "t.DAT");
    const MapFacts f = walkMap(test::readBytes(dir() / "t.MAP"));

    ASSERT_EQ(id.size(), std::size_t{s.rows} * 4);
    for (std::uint32_t row = 1; row <= s.rows; ++row) {
        const std::uint32_t entry = getLE32(id, (row - 1) * 4);
        ASSERT_TRUE(f.deletedRow.count(row)) << "row " << row;
        const bool rowDeleted = dat[289 + std::size_t{row - 1} * bench::kRecordLength] == std::byte{0x2A};
        // A deleted row takes its geometry with it; a deleted geometry leaves no .ID entry.
        if (rowDeleted) {
            EXPECT_TRUE(f.deletedRow.at(row)) << "row " << row;
        }
        EXPECT_EQ(entry, f.deletedRow.at(row) ? 0u : f.offsetOfRow.at(row)) << "row " << row;
    }
}

TEST_P(SyntheticTableTest, TabDeclaresTheDatFields)
{
    write(GetParam().spec);
    const std::string tab = test::readText(dir() / "t.TAB");
    EXPECT_EQ(tab.rfind("!table\r\n", 0), 0u);
    EXPECT_NE(tab.find("\r\nDefinition Table\r\n"), std::string::npos);
    EXPECT_NE(tab.find("\r\n  Fields 8\r\n"), std::string::npos);
    EXPECT_NE(tab.find("    NOTE Char (103) ;\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Specs, SyntheticTableTest,
                         ::testing::Values(SpecCase{"Typical", spec(3000, 30, 5, 10)},
                                           SpecCase{"NoRows", spec(0, 30, 5, 10)},
                                           SpecCase{"OneRow", spec(1, 0, 0, 0)},
                                           SpecCase{"NothingDeleted", spec(2000, 0, 0, 0, 0)},
                                           SpecCase{"EverythingDeleted", spec(2000, 1000, 0, 1000)},
                                           SpecCase{"OnlyGeometriesErased", spec(2000, 0, 200, 10, 5)}),
                         [](const auto& l_info) { return std::string(l_info.param.name); });

class SyntheticTableFileTest : public test::TempDirTest
{
};

TEST_F(SyntheticTableFileTest, SameSeedWritesTheSameBytes)
{
    const auto a = dir() / "a", b = dir() / "b", c = dir() / "c";
    for (const auto& p : {a, b, c})
        std::filesystem::create_directories(p);
    TableSpec s = spec(2500, 30, 5, 10);
    bench::writeSyntheticTable(a.string(), "t", s);
    bench::writeSyntheticTable(b.string(), "t", s);
    s.seed = 43;
    bench::writeSyntheticTable(c.string(), "t", s);
    for (const char* ext : {"t.TAB", "t.DAT", "t.MAP", "t.ID"})
        EXPECT_EQ(test::firstDifference(test::readBytes(b / ext), test::readBytes(a / ext)), "") << ext;
    EXPECT_NE(test::readBytes(c / "t.DAT"), test::readBytes(a / "t.DAT"));
    EXPECT_NE(test::readBytes(c / "t.MAP"), test::readBytes(a / "t.MAP"));
}

TEST_F(SyntheticTableFileTest, MapIsAboutAsLargeAsDatWithFewPercentDeleted)
{
    const TableSummary sum = bench::writeSyntheticTable(dir().string(), "t", spec(20000, 30, 5, 10));
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
}

TEST_F(SyntheticTableFileTest, SummaryIsJson)
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
