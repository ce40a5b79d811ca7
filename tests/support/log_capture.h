#pragma once

#include <string>
#include <vector>

#include "app/run_log.h"

namespace tabrescue::test {

// A run log whose lines and never-shown listing lines tests can read.
struct LogCapture {
    LogCapture();
    RunLog log;
    std::vector<std::string> listing;
    // The pane's lines without their CR LF.
    std::vector<std::string> lines() const;
};

} // namespace tabrescue::test
