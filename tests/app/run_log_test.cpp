#include <gtest/gtest.h>

#include "app/run_log.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

struct LineCase {
    const char* name;
    std::size_t before;     // characters already in the pane
    std::string message;
    std::string source;
    bool replaced;          // the pane holds the new line alone afterwards
    std::string line;       // the line as written
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.name;
}

class LogStrTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogStrTest, WritesLineAndKeepsLimit)
{
    const LineCase& c = GetParam();
    RunLog log;
    log.setText(std::string(c.before, 'x'));
    LogStr_to_TxtBox(&log, c.message, c.source);
    const std::string expected = c.replaced ? c.line : std::string(c.before, 'x') + c.line;
    EXPECT_EQ(log.text(), expected);
    EXPECT_EQ(log.caret(), log.text().size());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogStrTest,
    ::testing::Values(
        LineCase{"PlainMessage", 0, "File 'a' was not  found.", "", false, "File 'a' was not  found.\r\n"},
        LineCase{"WithSource", 3, "70 Permission denied", "mapinfoRecoverTable::mapinfoTabMove()", false,
                 "+++ mapinfoRecoverTable::mapinfoTabMove()+++ 70 Permission denied\r\n"},
        // 18 characters + CR LF = 20
        LineCase{"OverLimitReplaces", 32500, "123456789012345678", "", true, "123456789012345678\r\n"},
        LineCase{"UnderLimitAppends", 32400, "123456789012345678", "", false, "123456789012345678\r\n"},
        LineCase{"ExactlyAtLimitAppends", 32492, "123456789012345678", "", false, "123456789012345678\r\n"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(LogStr, CountsCharactersNotBytes)
{
    RunLog log;
    // 32490 Cyrillic letters are 64980 bytes, yet only 32490 characters: a 20-character line fits.
    std::string cyr;
    for (int i = 0; i < 32490; ++i)
        cyr += "\xD0\x96";
    log.setText(cyr);
    LogStr_to_TxtBox(&log, "123456789012345678", "");
    EXPECT_EQ(log.length(), 32510u);
    EXPECT_EQ(log.text().substr(0, cyr.size()), cyr);
}

TEST(LogStr, NullLogDoesNothing)
{
    EXPECT_NO_THROW(LogStr_to_TxtBox(nullptr, "x", "y"));
    EXPECT_NO_THROW(ExportLog(nullptr, "x", 0));
}

TEST(ExportLogTest, SaveLogZeroAppendsAndYieldsOnce)
{
    RunLog log;
    int pumps = 0;
    log.setEventPump([&] { ++pumps; });
    ExportLog(&log, "<<< line", 0);
    EXPECT_EQ(log.text(), "<<< line\r\n");
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(log.caret(), log.text().size());
}

TEST(ExportLogTest, OtherSaveLogOnlyMovesCaretAndNeverYields)
{
    test::LogCapture cap;
    int pumps = 0;
    cap.log.setEventPump([&] { ++pumps; });
    cap.log.setText("abc\r\n");
    for (std::int16_t saveLog : {std::int16_t{1}, std::int16_t{-1}, std::int16_t{7}})
        ExportLog(&cap.log, "listing", saveLog);
    EXPECT_EQ(cap.log.text(), "abc\r\n");
    EXPECT_EQ(cap.log.caret(), 5u);
    EXPECT_EQ(pumps, 0);
    EXPECT_EQ(cap.listing.size(), 3u);
}

TEST(ExportLogTest, ChecksNoLength)
{
    RunLog log;
    log.setText(std::string(40000, 'x'));
    ExportLog(&log, "tail", 0);
    EXPECT_EQ(log.length(), 40006u);
}

} // namespace
} // namespace tabrescue
