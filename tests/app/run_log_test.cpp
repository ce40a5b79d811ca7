#include <gtest/gtest.h>

#include "app/run_log.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

std::string repeat(const std::string& s, std::size_t n)
{
    std::string r;
    for (std::size_t i = 0; i < n; ++i)
        r += s;
    return r;
}

struct LineCase {
    const char* name;
    std::string before; // already in the pane
    std::string source;
    bool replaced; // the pane holds the new line alone afterwards
    std::string line;
};

class LogStrTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogStrTest, WritesLineAndKeepsLimit)
{
    const LineCase& c = GetParam();
    RunLog log;
    log.setText(c.before);
    LogStr_to_TxtBox(&log, "70 Permission denied", c.source);
    EXPECT_EQ(log.text(), c.replaced ? c.line : c.before + c.line);
    EXPECT_EQ(log.caret(), log.text().size());
}

// "70 Permission denied" + CR LF is 22 characters: 32490 + 22 = 32512 still fits.
INSTANTIATE_TEST_SUITE_P(
    Lines, LogStrTest,
    ::testing::Values(LineCase{"WithSource", "abc", "mapinfoRecoverTable::mapinfoTabMove()", false,
                               "+++ mapinfoRecoverTable::mapinfoTabMove()+++ 70 Permission denied\r\n"},
                      LineCase{"AtLimitAppends", repeat("x", 32490), "", false, "70 Permission denied\r\n"},
                      LineCase{"OverLimitReplaces", repeat("x", 32491), "", true, "70 Permission denied\r\n"},
                      LineCase{"CountsCharactersNotBytes", repeat("\xD0\x96", 32490), "", false,
                               "70 Permission denied\r\n"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(ExportLogTest, SaveLogZeroAppendsWithoutLimitAndYieldsOnce)
{
    RunLog log;
    int pumps = 0;
    log.setEventPump([&] { ++pumps; });
    log.setText(std::string(40000, 'x'));
    ExportLog(&log, "tail", 0);
    EXPECT_EQ(log.text(), std::string(40000, 'x') + "tail\r\n");
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(log.caret(), log.text().size());
    EXPECT_NO_THROW(LogStr_to_TxtBox(nullptr, "x", "y"));
    EXPECT_NO_THROW(ExportLog(nullptr, "x", 0));
}

TEST(ExportLogTest, OtherSaveLogGoesToTheListingOnly)
{
    EXPECT_FALSE(RunLog().wantsListing()) << "nobody listens: producers must not build listing lines";
    test::LogCapture cap;
    EXPECT_TRUE(cap.log.wantsListing());
    int pumps = 0;
    cap.log.setEventPump([&] { ++pumps; });
    cap.log.setText("abc\r\n");
    for (const std::int16_t saveLog : {1, -1, 7})
        ExportLog(&cap.log, "listing " + std::to_string(saveLog), saveLog);
    EXPECT_EQ(cap.log.text(), "abc\r\n");
    EXPECT_EQ(cap.log.caret(), 5u);
    EXPECT_EQ(pumps, 0);
    EXPECT_EQ(cap.listing, (std::vector<std::string>{"listing 1", "listing -1", "listing 7"}));
}

} // namespace
} // namespace tabrescue
