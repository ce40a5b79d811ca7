#include <gtest/gtest.h>

#include <tuple>

#include "base/text_case.h"

namespace tabrescue {
namespace {

// Each capital of ASCII, Latin-1 and Cyrillic folds to its small letter, and nothing else moves.
TEST(FoldCase, CapitalsOfEachScriptMeetTheirSmallLetters)
{
    // first and last capital, distance to the small letters (0: a sign or small letter that stays)
    const std::tuple<char32_t, char32_t, char32_t> capitals[] = {
        {U'@', U'@', 0},    {U'A', U'Z', 32},   {U'[', U'[', 0},  {0xC0, 0xD6, 32},
        {0xD7, 0xD7, 0},    {0xD8, 0xDE, 32},   {0xDF, 0xDF, 0},  {0x3FF, 0x3FF, 0},
        {0x400, 0x40F, 80}, {0x410, 0x42F, 32}, {0x460, 0x460, 0}};
    for (const auto& [first, last, toSmall] : capitals)
        for (char32_t c = first; c <= last; ++c)
            EXPECT_TRUE(foldCase(c) == c + toSmall && foldCase(c + toSmall) == c + toSmall) << unsigned(c);
    EXPECT_TRUE(equalsIgnoreCase("ЁЛКА_Ђ.TAB", "ёлка_ђ.tab"));
    EXPECT_FALSE(equalsIgnoreCase("Ёлка", "Елка") || equalsIgnoreCase("ёлка", "ёлк"));
}

// A malformed or cut sequence counts byte by byte; names are cut between characters, never inside one.
TEST(Utf8, MalformedBytesStandForThemselves)
{
    const std::pair<std::string_view, std::size_t> texts[] = {
        {"a\xC3", 2}, {"\xC3(", 2}, {"\xE2\x82", 2}, {"\xF0\x9F\x98\x80", 1}, {"\xC1\x81", 2}, {"Ёлка", 4}};
    for (const auto& [text, chars] : texts)
        EXPECT_EQ(countChars(text), chars) << text;
    EXPECT_EQ(firstChars("Ёлка", 2), "Ёл");
}

} // namespace
} // namespace tabrescue
