#include <gtest/gtest.h>

#include "base/run_log.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

struct LineCase {
    const char* name;
    std::string unit; // the pane holds `count` of these already
    std::size_t count;
    std::string source;
    bool replaced; // the pane holds the new line alone afterwards
    std::string line;
    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }
};

class LogStrTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LogStrTest, WritesLineAndKeepsLimit)
{
    const LineCase& c = GetParam();
    std::string before;
    for (std::size_t i = 0; i < c.count; ++i)
        before += c.unit;
    RunLog log;
    log.setText(before);
    LogStr_to_TxtBox(&log, "70 Permission denied", c.source);
    EXPECT_EQ(log.text(), c.replaced ? c.line : before + c.line);
    EXPECT_EQ(log.caret(), log.text().size());
}

// "70 Permission denied" + CR LF is 22 characters: 32490 + 22 = 32512 still fits.
const std::string kLine = "70 Permission denied\r\n";
INSTANTIATE_TEST_SUITE_P(
    Lines, LogStrTest,
    ::testing::Values(LineCase{"WithSource", "abc", 1, "mapinfoRecoverTable::mapinfoTabMove()", false,
                               "+++ mapinfoRecoverTable::mapinfoTabMove()+++ " + kLine},
                      LineCase{"AtLimitAppends", "x", 32490, "", false, kLine},
                      LineCase{"OverLimitReplaces", "x", 32491, "", true, kLine},
                      LineCase{"CountsCharactersNotBytes", "\xD0\x96", 32490, "", false, kLine}),
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
