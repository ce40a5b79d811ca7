#include <gtest/gtest.h>

#include "recovery/run.h"
#include "support/test_frontend.h"

namespace tabrescue {
namespace {

// What the command line does not show: the pane's colour, the beeps, the caret, and a long log
// emptied when a run starts.
TEST(Run, FrontEndAndLongLog)
{
    for (const std::size_t kept : {kRunClearLimit + 1, kRunClearLimit}) {
        test::TestFrontend frontend;
        const std::string earlier(kept, 'x');
        frontend.capture.log.setText(earlier);
        EXPECT_EQ(runRecovery(frontend, RunInput{"", "", true}).verdict, RunVerdict::DriverError);
        const std::string& text = frontend.capture.log.text();
        EXPECT_EQ(text.starts_with(earlier), kept == kRunClearLimit);
        EXPECT_NE(text.find("File '' not exists or can't be opened.\r\n*** ends by ERROR at "),
                  std::string::npos);
        EXPECT_EQ(frontend.colour, 0xF0FFFFu);
        EXPECT_EQ(frontend.flips, 2);
        EXPECT_EQ(frontend.beeps, 2);
        EXPECT_EQ(frontend.capture.log.caret(), text.size());
    }
}

} // namespace
} // namespace tabrescue
