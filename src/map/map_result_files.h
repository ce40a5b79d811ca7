#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tabrescue {

// The fixed .TAB text of the geometry result (226 characters, no line end after the last line).
std::string makeMapResultTabText();
// The header part (161 bytes) and closing part (18 bytes) of the geometry result's .DAT.
void doDAT_for_MAP_title(std::vector<std::byte>& header, std::vector<std::byte>& closing);
// One byte per pair of hexadecimal digits; a last odd digit is ignored.
std::vector<std::byte> hexToBytes(std::string_view text);

} // namespace tabrescue
