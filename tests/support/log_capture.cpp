#include "support/log_capture.h"

#include <algorithm>

namespace tabrescue::test {

LogCapture::LogCapture()
{
    log.setListingHook([this](std::string_view line) { listing.emplace_back(line); });
}

LogCapture::LogCapture(const LogCapture& other) : LogCapture()
{
    *this = other;
}

LogCapture& LogCapture::operator=(const LogCapture& other)
{
    log = other.log;
    listing = other.listing;
    log.setListingHook([this](std::string_view line) { listing.emplace_back(line); });
    return *this;
}

std::vector<std::string> LogCapture::lines() const
{
    std::vector<std::string> out;
    const std::string& t = log.text();
    for (std::size_t start = 0, end; start < t.size(); start = end + 2) {
        end = std::min(t.find("\r\n", start), t.size());
        out.push_back(t.substr(start, end - start));
    }
    return out;
}

} // namespace tabrescue::test
