#include "support/log_capture.h"

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
    std::size_t start = 0;
    while (start < t.size()) {
        const std::size_t end = t.find("\r\n", start);
        if (end == std::string::npos) {
            out.push_back(t.substr(start));
            break;
        }
        out.push_back(t.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

} // namespace tabrescue::test
