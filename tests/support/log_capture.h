#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "base/run_log.h"

namespace tabrescue::test {

// A run log whose lines and never-shown listing lines tests can read.
struct LogCapture {
    LogCapture() { log.setListingHook([this](std::string_view line) { listing.emplace_back(line); }); }
    LogCapture(const LogCapture&) = delete; // the hook points at this object
    LogCapture& operator=(const LogCapture&) = delete;
    RunLog log;
    std::vector<std::string> listing;
    // The pane's lines without their CR LF.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        const std::string& t = log.text();
        for (std::size_t start = 0, end; start < t.size(); start = end + 2) {
            end = std::min(t.find("\r\n", start), t.size());
            out.push_back(t.substr(start, end - start));
        }
        return out;
    }
};

} // namespace tabrescue::test
