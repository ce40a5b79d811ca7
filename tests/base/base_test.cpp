#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <tuple>

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "base/text_case.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

TEST(Errors, SystemErrorsGetTheClassicNumbers)
{
    const std::pair<int, int> cases[] = {{ENOENT, 53}, {ENOTDIR, 76}, {EACCES, 70}, {EPERM, 70}, {EROFS, 70},
                                         {ENOSPC, 61}, {EFBIG, 61},   {ENOMEM, 7},  {EIO, 75}};
    for (const auto& [errnum, number] : cases)
        EXPECT_EQ(ioError(errnum, "x").number(), number) << errnum;
    EXPECT_EQ(ioError(ENOENT, "a b").logText(), "53 File not found: 'a b'");
}

// Whatever a body throws becomes one numbered line under the operation's source name.
TEST(Errors, TheBoundaryWritesOneLineForWhateverWasThrown)
{
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { throw RecoverError(62, "Input past end of file"); }, "62 Input past end of file"},
        {[] { throw std::bad_alloc(); }, "7 Out of memory"},
        {[] { throw std::filesystem::filesystem_error("x", "p", std::make_error_code(std::errc::permission_denied)); },
         "70 Permission denied: 'p'"},
        {[] { throw std::runtime_error("odd"); }, "5 odd"},
        {[] { throw 1; }, "5 Invalid procedure call or argument"},
    };
    for (const auto& [body, text] : cases) {
        test::LogCapture cap;
        EXPECT_FALSE(guarded(&cap.log, "op", body));
        EXPECT_EQ(cap.lines(), std::vector<std::string>{"+++ mapinfoRecoverTable::op()+++ " + text});
    }
    test::LogCapture cap;
    EXPECT_TRUE(guarded(&cap.log, "op", [] {}));
    EXPECT_TRUE(cap.lines().empty());
}

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

// "70 Permission denied" + CR LF is 22 characters: 32490 + 22 = 32512 still fits.
TEST(LogStrTest, WritesLineAndKeepsLimit)
{
    const std::string line = "70 Permission denied\r\n";
    // the pane holds `count` times `unit`; the source; whether the new line replaces all; the line
    const std::tuple<std::string, std::size_t, std::string, bool, std::string> cases[] = {
        {"abc", 1, "mapinfoRecoverTable::mapinfoTabMove()", false,
         "+++ mapinfoRecoverTable::mapinfoTabMove()+++ " + line},
        {"x", 32490, "", false, line},
        {"x", 32491, "", true, line},
        {"\xD0\x96", 32490, "", false, line}, // counts characters, not bytes
    };
    for (const auto& [unit, count, source, replaced, expected] : cases) {
        std::string before;
        for (std::size_t i = 0; i < count; ++i)
            before += unit;
        RunLog log;
        log.setText(before);
        LogStr_to_TxtBox(&log, "70 Permission denied", source);
        EXPECT_EQ(log.text(), replaced ? expected : before + expected) << count;
        EXPECT_EQ(log.caret(), log.text().size());
    }
}

// SaveLog 0 appends to the pane without its limit and yields once; any other goes to the listing.
TEST(ExportLogTest, SaveLogChoosesPaneOrListing)
{
    EXPECT_FALSE(RunLog().wantsListing()) << "nobody listens: producers must not build listing lines";
    test::LogCapture cap;
    int pumps = 0;
    cap.log.setEventPump([&] { ++pumps; });
    cap.log.setText(std::string(40000, 'x'));
    for (const std::int16_t saveLog : {1, -1, 7})
        ExportLog(&cap.log, "listing " + std::to_string(saveLog), saveLog);
    ExportLog(&cap.log, "tail", 0);
    EXPECT_EQ(cap.log.text(), std::string(40000, 'x') + "tail\r\n");
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(cap.log.caret(), cap.log.text().size());
    EXPECT_EQ(cap.listing, (std::vector<std::string>{"listing 1", "listing -1", "listing 7"}));
    EXPECT_NO_THROW(LogStr_to_TxtBox(nullptr, "x", "y"));
    EXPECT_NO_THROW(ExportLog(nullptr, "x", 0));
}

} // namespace
} // namespace tabrescue
