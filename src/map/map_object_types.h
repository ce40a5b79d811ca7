#pragma once

#include <cstdint>
#include <string>

namespace tabrescue {

class RunLog;

// Record length of a type code; 0 for a code without a known length, after writing the line
// "!!! Found unknown element type: offset: 00001044 element: &H1D".
std::int16_t getGeoTypeLength(std::uint8_t geoType, RunLog* log, std::uint64_t offset);
// Display name of a type code; "Unknown Type(&H1D)" for a code not in the table.
std::string getGeoTypeName(std::uint8_t geoType);

} // namespace tabrescue
