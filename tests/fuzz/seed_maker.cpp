// Writes the seed corpora of the fuzz targets into the folder given as the only argument, one
// subfolder per target, built with the same fixture builders as the tests.
#include <filesystem>
#include <initializer_list>
#include <utility>

#include "fuzz/fuzz_support.h"
#include "support/map_builder.h"
#include "support/table_builders.h"

namespace {

using namespace tabrescue::test;
using Seeds = std::vector<std::pair<std::string, std::string>>;

std::string text(const Bytes& b)
{
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

Seeds datSeeds()
{
    const auto two = [] { return DatBuilder().field("ID", 4).field("NAME", 8); };
    return {{"live", text(two().rows("   ").bytes())},
            {"deleted", text(two().rows(" *  * *").bytes())},
            {"empty", text(two().bytes())},
            {"early_end", text(two().rows("* *").recordCount(9).bytes())},
            {"no_end_mark", text(two().rows(" **").endMark(false).bytes())},
            {"huge_claims", text(two().rows("*").recordCount(0xFFFFFFFFu).recordLength(65535).bytes())},
            {"zero_record", text(two().rows(" *").recordLength(0).bytes())},
            {"odd_status", text(two().row('X').row('*').row(' ').bytes())},
            {"short_header", text(two().rows("* ").headerLength(20).bytes())},
            {"trailing", text(two().rows(" *").trailing({std::byte{'*'}, std::byte{' '}}).bytes())}};
}

Seeds mapSeeds()
{
    using O = MapObject;
    const std::vector<O> mixed = {O::of(0x02, 1),
                                  O::of(0x05, 0x40000002),
                                  O::of(0x07, 3).style(0, 9),
                                  O::of(0x0E, 0x80000004).style(0, 7),
                                  O::of(0x26, 0xC0000007),
                                  O::of(0x2F, 9)};
    const O unknown = O::raw(0x1D, 0x40000002, Bytes(4, std::byte{0}));
    return {
        {"header_only", text(MapBuilder().bytes())},
        {"mixed",
         text(MapBuilder().objectBlock(mixed).block(0x03).objectBlock({O::of(0x01, 0x40000009)}).bytes())},
        {"unknown_type", text(MapBuilder().objectBlock({O::of(0x02, 1), unknown, O::of(0x02, 3)}).bytes())},
        {"garbage_block",
         text(MapBuilder().objectBlock({O::of(0x02, 1)}).block(0x04).objectBlock(mixed).bytes())},
        {"truncated", text(MapBuilder().objectBlock(mixed).truncateLastBlock(200).bytes())},
        {"used_overflow", text(MapBuilder().objectBlock({O::of(0x02, 1)}, 32748).bytes())},
        {"used_negative", text(MapBuilder().objectBlock({O::of(0x02, 1)}, -16).bytes())},
        {"used_past_block", text(MapBuilder().objectBlock({O::of(0x0E, 0x40000001)}, 600).bytes())},
        {"style_above_limits",
         text(MapBuilder()
                  .styleLimits(3, 3, 3, 3)
                  .objectBlock({O::of(0x02, 1).style(0, 250), O::of(0x0E, 3).style(0, 250).style(1, 250)})
                  .bytes())}};
}

Seeds tabSeeds()
{
    return {
        {"plain", TabTextBuilder().field("ID Integer").field("NAME Char (20)").text()},
        {"indexed", TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (20)").text()},
        {"indexed_lf", TabTextBuilder().indexedField("ID Integer", 1).lineEnding("\n").text()},
        {"capitals", "!TABLE\r\n!version 300\r\n\r\nDEFINITION TABLE\r\n  Type NATIVE\r\n  FIELDS 2\r\n"
                     "    A Decimal (12, 3) INDEX 2 ;\r\n\r\n    B Char ( 10 )   Index 1 ;\r\n"},
        {"no_type_line", "!table\r\nDefinition Table\r\n  Fields 1\r\n    A Integer Index 1 ;\r\n"},
        {"missing_fields",
         "!table\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 5\r\n    A Integer ;\r\n"},
        {"huge_count", "!table\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 99999999999\r\n"},
        {"mixed_endings",
         "!table\n!version 300\r\nDefinition Table\n  Type NATIVE\r\n  Fields 1\n A Integer Index 3 ;\r\n"}};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seed_maker FOLDER\n");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    const Seeds dats = datSeeds(), maps = mapSeeds(), tabs = tabSeeds();
    Seeds driver; // flag byte, then .TAB, .DAT and .MAP joined by the separator
    const std::string sep(tabrescue::fuzz::kPartSeparator);
    for (std::size_t i = 0; i < 14; ++i)
        driver.emplace_back("run" + std::to_string(i),
                            "\x03\x02\x07\x23\x0B\x13\x43"[i % 7] + tabs[i % tabs.size()].second + sep +
                                dats[i % dats.size()].second + sep + maps[i % maps.size()].second);
    for (const auto& [name, seeds] :
         {std::pair{"dat", dats}, {"map", maps}, {"tab_text", tabs}, {"driver", driver}}) {
        std::filesystem::create_directories(out / name);
        for (const auto& [file, bytes] : seeds)
            tabrescue::fuzz::writeFile((out / name / file).string(), bytes);
    }
    return 0;
}
