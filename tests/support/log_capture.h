#pragma once

#include <string>
#include <vector>

#include "base/run_log.h"

namespace tabrescue::test {

// A run log whose lines and never-shown listing lines tests can read.
struct LogCapture {
    LogCapture();
    // A copy listens on its own log: the hook must not point at the object it was copied from.
    LogCapture(const LogCapture& other);
    LogCapture& operator=(const LogCapture& other);
    RunLog log;
    std::vector<std::string> listing;
    // The pane's lines without their CR LF.
    std::vector<std::string> lines() const;
};

} // namespace tabrescue::test
