// Writes the fuzz targets' seed corpora, a subfolder per target, with the tests' fixture builders.
#include <stdexcept>

#include "fuzz/fuzz_support.h"
#include "support/map_builder.h"
#include "support/table_builders.h"

using namespace tabrescue::test;
using Seeds = std::vector<std::pair<std::string, std::string>>;

template <class Builder> std::string t(const Builder& builder) // the bytes as a string
{
    const Bytes b = builder.bytes();
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

int main(int argc, char** argv)
{
    const std::filesystem::path out = argc == 2 ? argv[1] : throw std::invalid_argument("one folder");
    // clang-format off
    const auto d = [] { return DatBuilder().field("ID", 4).field("NAME", 8); };
    const Seeds dats = {
        {"live", t(d().rows("   "))}, {"deleted", t(d().rows(" *  * *"))}, {"empty", t(d())},
        {"early_end", t(d().rows("* *").recordCount(9))}, {"zero_record", t(d().rows(" *").recordLength(0))},
        {"no_end_mark", t(d().rows(" **").endMark(false))}, {"odd_status", t(d().row('X').row('*').row(' '))},
        {"short_header", t(d().rows("* ").headerLength(20))},
        {"huge_claims", t(d().rows("*").recordCount(0xFFFFFFFFu).recordLength(65535))},
        {"trailing", t(d().rows(" *").trailing({std::byte{'*'}, std::byte{' '}}))}};
    using O = MapObject; using M = MapBuilder;
    const std::vector<O> mixed = {O::of(0x02, 1), O::of(0x05, 0x40000002), O::of(0x07, 3).style(0, 9),
        O::of(0x0E, 0x80000004).style(0, 7), O::of(0x26, 0xC0000007), O::of(0x2F, 9)};
    const O unknown = O::raw(0x1D, 0x40000002, Bytes(4, std::byte{0}));
    const Seeds maps = {
        {"header_only", t(M())}, {"truncated", t(M().objectBlock(mixed).truncateLastBlock(200))},
        {"mixed", t(M().objectBlock(mixed).block(0x03).objectBlock({O::of(0x01, 0x40000009)}))},
        {"unknown_type", t(M().objectBlock({O::of(0x02, 1), unknown, O::of(0x02, 3)}))},
        {"garbage_block", t(M().objectBlock({O::of(0x02, 1)}).block(0x04).objectBlock(mixed))},
        {"used_overflow", t(M().objectBlock({O::of(0x02, 1)}, 32748))},
        {"used_negative", t(M().objectBlock({O::of(0x02, 1)}, -16))},
        {"used_past_block", t(M().objectBlock({O::of(0x0E, 0x40000001)}, 600))},
        {"style_above_limits", t(M().styleLimits(3, 3, 3, 3).objectBlock(
            {O::of(0x02, 1).style(0, 250), O::of(0x0E, 3).style(0, 250).style(1, 250)}))}};
    const std::string table = "!table\r\nDefinition Table\r\n";
    const Seeds tabs = {
        {"plain", TabTextBuilder().field("ID Integer").field("NAME Char (20)").text()},
        {"indexed", TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (20)").text()},
        {"indexed_lf", TabTextBuilder().indexedField("ID Integer", 1).lineEnding("\n").text()},
        {"capitals", "!TABLE\r\n!version 300\r\n\r\nDEFINITION TABLE\r\n  Type NATIVE\r\n  FIELDS 2\r\n"
                     "    A Decimal (12, 3) INDEX 2 ;\r\n\r\n    B Char ( 10 )   Index 1 ;\r\n"},
        {"no_type_line", table + "  Fields 1\r\n    A Integer Index 1 ;\r\n"},
        {"missing_fields", table + "  Type NATIVE\r\n  Fields 5\r\n    A Integer ;\r\n"},
        {"huge_count", table + "  Type NATIVE\r\n  Fields 99999999999\r\n"},
        {"mixed_endings",
         "!table\n!version 300\r\nDefinition Table\n  Type NATIVE\r\n  Fields 1\n A Integer Index 3 ;\r\n"}};
    Seeds driver; // flag byte, then .TAB, .DAT and .MAP joined by the separator
    const std::string sep(tabrescue::fuzz::kPartSeparator);
    for (std::size_t i = 0; i < 18; ++i)
        driver.emplace_back("run" + std::to_string(i), "\x03\x02\x07\x23\x0B\x13\x43\x82\xC7"[i % 9] +
                                tabs[i % 8].second + sep + dats[i % 10].second + sep + maps[i % 9].second);
    for (const auto& [name, all] : {std::pair{"dat", dats}, {"map", maps}, {"tab_text", tabs}, {"driver", driver}})
        for (const auto& [file, bytes] : all) {
            std::filesystem::create_directories(out / name);
            writeText(out / name / file, bytes);
        }
}
