#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace tabrescue {

// The one place where the window's texts meet the core's UTF-8 strings.
std::string toCorePath(const QString& text);
// A path or text from the core as the window shows it (the platform's separators for paths).
QString toShownPath(const std::string& path);
// A run-log text for a text box: lines end in LF there, CR LF in the log.
QString toShownLog(std::string_view text);

} // namespace tabrescue
