#include "base/run_log.h"

#include "base/text_case.h"

namespace tabrescue {

void RunLog::setText(std::string text)
{
    m_text = std::move(text);
    m_chars = countChars(m_text);
    if (m_caret > m_text.size())
        m_caret = m_text.size();
    if (m_changeHook)
        m_changeHook(m_text, true);
}

void RunLog::append(std::string_view added)
{
    m_text.append(added);
    m_chars += countChars(added);
    if (m_changeHook)
        m_changeHook(added, false);
}

void RunLog::moveCaretToEnd()
{
    m_caret = m_text.size();
    if (m_caretHook)
        m_caretHook();
}

void RunLog::processEvents()
{
    if (m_eventPump)
        m_eventPump();
}

void LogStr_to_TxtBox(RunLog* log, std::string_view message, std::string_view source)
{
    if (log == nullptr)
        return;
    std::string line;
    line.reserve(message.size() + source.size() + 10);
    if (!source.empty()) {
        line += "+++ ";
        line += source;
        line += "+++ ";
    }
    line += message;
    line += kCrLf;
    if (log->length() + countChars(line) > kLogReplaceLimit)
        log->setText(std::move(line));
    else
        log->append(line);
    log->moveCaretToEnd();
}

void ExportLog(RunLog* log, std::string_view txtS, std::int16_t saveLog)
{
    if (log == nullptr)
        return;
    if (saveLog == 0) {
        std::string line(txtS);
        line += kCrLf;
        log->append(line);
        log->processEvents();
    } else {
        log->listing(txtS);
    }
    log->moveCaretToEnd();
}

} // namespace tabrescue
