#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tabrescue {

class RunLog;

struct MapUndeleteFiles
{
    std::string mapIn;
    std::string idIn; // empty: the table has no .ID, every entry reads as 0
    std::string mapOut;
    std::string idOut;
};

struct MapUndelete
{
    std::uint64_t geometries = 0;          // deleted objects made live
    std::uint64_t rowsWithoutGeometry = 0; // rows of `revivedRows` whose entry stays 0
};

// Writes the .MAP and .ID of the undeleted table: each .ID entry that is 0 (or missing) takes the
// last deleted object of its row, and every deleted object an entry points at is made live.
// `rows` is the number of entries written (none: as many as the .ID holds); `revivedRows` lists,
// ascending, the rows whose missing geometry is counted. Returns none after logging the error.
std::optional<MapUndelete> undeleteMapObjects(const MapUndeleteFiles& files,
                                              std::optional<std::uint64_t> rows,
                                              std::span<const std::uint32_t> revivedRows, RunLog* log);

} // namespace tabrescue
