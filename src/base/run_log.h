#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tabrescue {

inline constexpr std::string_view kCrLf = "\r\n";
inline constexpr std::size_t kLogReplaceLimit = 32512; // characters, LogStr_to_TxtBox
inline constexpr std::size_t kRunClearLimit = 32256;   // characters, start of a run

// The text of the log pane: one string of lines that end in CR LF. The window mirrors it into
// txtLog through the change hook; the command line prints what is added.
class RunLog {
public:
    // replaced: the whole text was set (text() is the new text); otherwise `added` was appended.
    using ChangeHook = std::function<void(std::string_view added, bool replaced)>;
    using ListingHook = std::function<void(std::string_view line)>;

    const std::string& text() const { return m_text; }
    // Length in characters, as the pane counts it.
    std::size_t length() const { return m_chars; }
    void setText(std::string text);
    void append(std::string_view added);
    std::size_t caret() const { return m_caret; }
    void moveCaretToEnd();
    // Lets the window handle its pending events once.
    void processEvents();

    void setChangeHook(ChangeHook hook) { m_changeHook = std::move(hook); }
    void setEventPump(std::function<void()> pump) { m_eventPump = std::move(pump); }
    void setCaretHook(std::function<void()> hook) { m_caretHook = std::move(hook); }
    // Lines handed to ExportLog with saveLog other than 0 are never shown. Producers build them
    // only when someone listens (tests); otherwise they cost nothing.
    void setListingHook(ListingHook hook) { m_listingHook = std::move(hook); }
    bool wantsListing() const { return static_cast<bool>(m_listingHook); }
    void listing(std::string_view line) const
    {
        if (m_listingHook)
            m_listingHook(line);
    }

private:
    std::string m_text;
    std::size_t m_chars = 0;
    std::size_t m_caret = 0;
    ChangeHook m_changeHook;
    std::function<void()> m_eventPump;
    std::function<void()> m_caretHook;
    ListingHook m_listingHook;
};

// Writes one line (message + CR LF), with "+++ " source "+++ " in front when source is not empty.
// Replaces the whole text when it would grow beyond 32512 characters. A null log does nothing.
void LogStr_to_TxtBox(RunLog* log, std::string_view message, std::string_view source);

// Appends txtS + CR LF and lets the window repaint when saveLog is 0; otherwise appends nothing.
// In every case the caret moves to the end.
void ExportLog(RunLog* log, std::string_view txtS, std::int16_t saveLog);

} // namespace tabrescue
