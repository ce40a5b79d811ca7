#pragma once

#include "recovery/run.h"
#include "support/log_capture.h"

namespace tabrescue::test {

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
