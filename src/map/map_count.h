#pragma once

#include <cstdint>
#include <string>

namespace tabrescue {

class RunLog;

// Number of deleted objects in a .MAP file; 0 when it does not exist. `failed`, when given, tells
// the caller whether an error was caught (its line is already written).
std::int32_t getDelMAPcount(const std::string& mapPath, RunLog* log, bool* failed = nullptr);

} // namespace tabrescue
