#pragma once

// Windows only: UTF-8 inside the program, UTF-16 at every W API. Embedded NULs are kept, so
// NUL-separated lists (a dialog's filter) convert whole.

#include <string>
#include <string_view>

namespace tabrescue::platform {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

} // namespace tabrescue::platform
