// Writes the seed corpora of the fuzz targets into the folder given as the only argument:
// <folder>/dat, /map, /tab_text and /driver, built with the same fixture builders as the tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "support/files.h"
#include "support/table_builders.h"

namespace {

namespace fs = std::filesystem;
using tabrescue::test::Bytes;
using tabrescue::test::DatBuilder;
using tabrescue::test::putLE16;
using tabrescue::test::putLE32;
using tabrescue::test::TabTextBuilder;

constexpr std::size_t kBlock = 512;

// Record lengths of the object types the seeds use.
std::size_t recordLength(std::uint8_t type)
{
    switch (type) {
    case 0x00: return 5;
    case 0x01: return 10;
    case 0x02: return 14;
    case 0x05: return 22;
    case 0x07: return 34;
    case 0x0E: return 41;
    case 0x11: return 53;
    case 0x14: return 23;
    case 0x26: return 40;
    default: return 9; // unknown to the reader: any length will do
    }
}

struct Obj {
    std::uint8_t type;
    std::uint32_t rowField;
    std::uint8_t lastByte = 1;
};

// A .MAP: a two-block header with style limits, then the blocks added.
class MapSeed {
public:
    MapSeed() : m_bytes(2 * kBlock, std::byte{0})
    {
        m_bytes[0x100] = std::byte{0xB2}; // magic cookie, as written by MapInfo
        for (std::size_t at = 356; at < 360; ++at)
            m_bytes[at] = std::byte{3};
    }
    MapSeed& objects(const std::vector<Obj>& objs, int usedOverride = -1)
    {
        Bytes block(kBlock, std::byte{0});
        block[0] = std::byte{0x02};
        std::size_t at = 20;
        for (const Obj& o : objs) {
            const std::size_t len = recordLength(o.type);
            if (at + len > kBlock)
                break;
            block[at] = std::byte{o.type};
            putLE32(block, at + 1, o.rowField);
            block[at + len - 1] = std::byte{o.lastByte};
            at += len;
        }
        putLE16(block, 2, static_cast<std::uint16_t>(usedOverride >= 0 ? usedOverride : int(at - 20)));
        m_bytes.insert(m_bytes.end(), block.begin(), block.end());
        return *this;
    }
    MapSeed& block(std::uint8_t type)
    {
        Bytes b(kBlock, std::byte{0});
        b[0] = std::byte{type};
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    MapSeed& truncate(std::size_t drop)
    {
        m_bytes.resize(m_bytes.size() - drop);
        return *this;
    }
    std::string text() const { return std::string(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size()); }

private:
    Bytes m_bytes;
};

std::string text(const Bytes& b)
{
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

DatBuilder twoFields()
{
    return DatBuilder().field("ID", 4).field("NAME", 8);
}

std::vector<std::pair<std::string, std::string>> datSeeds()
{
    return {
        {"live", text(twoFields().rows("   ").bytes())},
        {"deleted", text(twoFields().rows(" *  * *").bytes())},
        {"empty", text(twoFields().bytes())},
        {"early_end", text(twoFields().rows("* *").recordCount(9).bytes())},
        {"no_end_mark", text(twoFields().rows(" **").endMark(false).bytes())},
        {"huge_claims", text(twoFields().rows("*").recordCount(0xFFFFFFFFu).recordLength(65535).bytes())},
        {"zero_record", text(twoFields().rows(" *").recordLength(0).bytes())},
        {"odd_status", text(twoFields().row('X').row('*').row(' ').bytes())},
        {"long_record", text(DatBuilder().field("A", 255).field("B", 255).rows(" * ").bytes())},
        {"short_header", text(twoFields().rows("* ").headerLength(20).bytes())},
        {"trailing", text(twoFields().rows(" *").trailing({std::byte{'*'}, std::byte{' '}}).bytes())},
    };
}

std::vector<std::pair<std::string, std::string>> mapSeeds()
{
    const std::vector<Obj> mixed = {{0x02, 1}, {0x05, 0x40000002}, {0x07, 3, 9}, {0x0E, 0x80000004, 7},
                                    {0x11, 5, 200}, {0x00, 6}, {0x26, 0xC0000007}, {0x14, 8, 4}};
    return {
        {"header_only", MapSeed().text()},
        {"mixed", MapSeed().objects(mixed).block(0x03).objects({{0x01, 0x40000009}}).text()},
        {"unknown_type", MapSeed().objects({{0x02, 1}, {0x1D, 0x40000002}, {0x02, 3}}).text()},
        {"garbage_block", MapSeed().objects({{0x02, 1}}).block(0x04).objects({{0x02, 0x40000002}}).text()},
        {"truncated", MapSeed().objects(mixed).truncate(200).text()},
        {"used_overflow", MapSeed().objects({{0x02, 1}}, 32748).text()},
        {"used_negative", MapSeed().objects({{0x02, 1}}, 0xFFF0).text()},
        {"used_past_block", MapSeed().objects({{0x0E, 0x40000001}}, 600).text()},
        {"style_above_limits", MapSeed().objects({{0x02, 1, 250}, {0x05, 2, 250}, {0x0E, 3, 250}}).text()},
    };
}

std::vector<std::pair<std::string, std::string>> tabSeeds()
{
    const TabTextBuilder base = TabTextBuilder().field("ID Integer").field("NAME Char (20)");
    return {
        {"plain", base.text()},
        {"indexed", TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (20)").text()},
        {"indexed_lf", TabTextBuilder().indexedField("ID Integer", 1).lineEnding("\n").text()},
        {"capitals", "!TABLE\r\n!version 300\r\n\r\nDEFINITION TABLE\r\n  Type NATIVE\r\n  FIELDS 2\r\n"
                     "    A Decimal (12, 3) INDEX 2 ;\r\n\r\n    B Char ( 10 )   Index 1 ;\r\n"},
        {"no_fields", "!table\r\n!version 300\r\n\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 0\r\n"},
        {"no_type_line", "!table\r\nDefinition Table\r\n  Fields 1\r\n    A Integer Index 1 ;\r\n"},
        {"missing_fields", "!table\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 5\r\n    A Integer ;\r\n"},
        {"huge_count", "!table\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 99999999999\r\n"},
        {"mixed_endings", "!table\n!version 300\r\nDefinition Table\n  Type NATIVE\r\n  Fields 1\n A Integer Index 3 ;\r\n"},
    };
}

void writeSeeds(const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& seeds)
{
    fs::create_directories(folder);
    for (const auto& [name, bytes] : seeds)
        tabrescue::fuzz::writeFile((folder / name).string(), bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_maker FOLDER\n");
        return 2;
    }
    const fs::path out(argv[1]);
    writeSeeds(out / "dat", datSeeds());
    writeSeeds(out / "map", mapSeeds());
    writeSeeds(out / "tab_text", tabSeeds());

    // Driver seeds: flag byte, then .TAB, .DAT and .MAP joined by the separator.
    std::vector<std::pair<std::string, std::string>> driver;
    const std::string sep(tabrescue::fuzz::kPartSeparator);
    const auto tabs = tabSeeds();
    const auto dats = datSeeds();
    const auto maps = mapSeeds();
    const char flagSets[] = {0x03, 0x02, 0x07, 0x23, 0x0B, 0x13, 0x43};
    for (std::size_t i = 0; i < 14; ++i) {
        const std::string flags(1, flagSets[i % sizeof flagSets]);
        driver.emplace_back("run" + std::to_string(i), flags + tabs[i % tabs.size()].second + sep +
                                                           dats[i % dats.size()].second + sep +
                                                           maps[i % maps.size()].second);
    }
    writeSeeds(out / "driver", driver);
    return 0;
}
