#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tabrescue {

// Header and closing bytes of the geometry result's .DAT as the hex dump they were taken from:
// twelve lines of offset, colon and byte pairs, a broken bar after the eighth pair of each line.
// Held as UTF-8 text; the bar is one character, as in the dump.
extern const std::string_view MapDatTemplate;

// The fixed .TAB text of the geometry result (226 characters, no line end after the last line).
std::string makeMapResultTabText();
// The header part (161 bytes) and closing part (18 bytes) of the geometry result's .DAT.
// Throws error 99999 when the dump is not usable.
void doDAT_for_MAP_title(std::vector<std::byte>& header, std::vector<std::byte>& closing);
// The same for any dump in the template's format.
void doDAT_for_MAP_title(std::string_view dump, std::vector<std::byte>& header,
                         std::vector<std::byte>& closing);
// One byte per pair of hexadecimal digits; a last odd digit is ignored. Error 5 for a pair that
// is not hexadecimal.
std::vector<std::byte> hexToBytes(std::string_view text);

} // namespace tabrescue
