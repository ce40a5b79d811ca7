#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tabrescue {

class RunLog;

struct DatUndelete
{
    std::uint64_t rows = 0;                 // row slots up to the end mark, the header's count at most
    std::vector<std::uint32_t> revivedRows; // numbers (from 1) of the rows that were deleted, ascending
};

// Writes `outDat`: the bytes of `inDat` with the status byte of every deleted row made live.
// Returns none after logging the error; `outDat` then holds what was written so far.
std::optional<DatUndelete> undeleteDatRows(const std::string& inDat, const std::string& outDat, RunLog* log);

} // namespace tabrescue
