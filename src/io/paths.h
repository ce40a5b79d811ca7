#pragma once

#include <string>

namespace tabrescue {

// Path helpers on UTF-8 strings with the platform's separator.
char pathSeparator();
// The platform's separator, or '/' which every system takes.
bool isPathSeparator(char c);
std::string withTrailingSeparator(std::string folder);
std::string joinPath(const std::string& folder, const std::string& name);
std::string fileNameOf(const std::string& path);
std::string parentOf(const std::string& path);

} // namespace tabrescue
