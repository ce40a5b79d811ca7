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
#include "support/map_builder.h"
#include "support/table_builders.h"

namespace {

namespace fs = std::filesystem;
using tabrescue::test::Bytes;
using tabrescue::test::DatBuilder;
using tabrescue::test::MapBuilder;
using tabrescue::test::MapObject;
using tabrescue::test::TabTextBuilder;

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
    using O = MapObject;
    const std::vector<MapObject> mixed = {O::of(0x02, 1),           O::of(0x05, 0x40000002),
                                          O::of(0x07, 3).style(0, 9), O::of(0x0E, 0x80000004).style(0, 7),
                                          O::of(0x11, 5).style(0, 200), O::of(0x00, 6),
                                          O::of(0x26, 0xC0000007),  O::of(0x14, 8).style(0, 4),
                                          O::of(0x2F, 9)};
    const Bytes unknownBody(4, std::byte{0});
    return {
        {"header_only", text(MapBuilder().bytes())},
        {"mixed", text(MapBuilder().objectBlock(mixed).block(0x03).objectBlock({O::of(0x01, 0x40000009)}).bytes())},
        {"unknown_type",
         text(MapBuilder().objectBlock({O::of(0x02, 1), O::raw(0x1D, 0x40000002, unknownBody), O::of(0x02, 3)}).bytes())},
        {"garbage_block",
         text(MapBuilder().objectBlock({O::of(0x02, 1)}).block(0x04).objectBlock({O::of(0x02, 0x40000002)}).bytes())},
        {"truncated", text(MapBuilder().objectBlock(mixed).truncateLastBlock(200).bytes())},
        {"used_overflow", text(MapBuilder().objectBlock({O::of(0x02, 1)}, 32748).bytes())},
        {"used_negative", text(MapBuilder().objectBlock({O::of(0x02, 1)}, -16).bytes())},
        {"used_past_block", text(MapBuilder().objectBlock({O::of(0x0E, 0x40000001)}, 600).bytes())},
        {"style_above_limits",
         text(MapBuilder()
                  .styleLimits(3, 3, 3, 3)
                  .objectBlock({O::of(0x02, 1).style(0, 250), O::of(0x05, 2).style(0, 250),
                                O::of(0x0E, 3).style(0, 250).style(1, 250), O::of(0x11, 4).style(0, 250)})
                  .bytes())},
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
