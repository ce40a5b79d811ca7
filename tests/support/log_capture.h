#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "base/run_log.h"
#include "recovery/run.h"

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

// A front end that records what the run asked of it; times are fixed so lines compare exactly.
class TestFrontend : public RunFrontend {
public:
    RunLog& log() override { return capture.log; }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void flipLogColour() override { colour ^= 0xFF; ++flips; }
    void beep() override { ++beeps; }
    std::string now() override { return "06.12.2026 10:00:00"; }

    LogCapture capture;
    std::vector<std::string> messages;
    unsigned colour = 0xF0FFFF; // RGB(255, 255, 240) as 0x00BBGGRR
    int flips = 0;
    int beeps = 0;
};

} // namespace tabrescue::test
