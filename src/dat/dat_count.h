#pragma once

#include <cstdint>
#include <string>

namespace tabrescue {

class RunLog;

// Number of rows whose status byte is '*'. A missing file gives 0 and a plain line; an error gives
// its line under "mapinfoRecoverTable::getDelDATcount()" and the count reached so far. `failed`,
// when given, tells the caller whether an error was caught.
std::int32_t getDelDATcount(const std::string& datPath, RunLog* log, bool* failed = nullptr);

} // namespace tabrescue
