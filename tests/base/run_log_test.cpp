#include <gtest/gtest.h>

#include <tuple>

#include "base/run_log.h"
#include "support/log_capture.h"

namespace tabrescue {
namespace {

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
