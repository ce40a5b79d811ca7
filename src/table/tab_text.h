#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tabrescue {

// Smallest index i >= start whose line is not blank (blanks are spaces only); -1 when none.
std::int32_t nextNonBlankLine(std::int32_t start, const std::vector<std::string>& lines);
// The definition with every field line's index clause removed, or "" when not recognised.
std::string removeTabIndexes(std::string_view text);
// The definition with RowId_old and rec_status added, or "" when not recognised. Throws error 9
// when field lines are missing.
std::string makeDatResultTabText(std::string_view text);

} // namespace tabrescue
