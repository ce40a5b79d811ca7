#pragma once

#include <cstdint>
#include <string>

namespace tabrescue {

// Decimal with at least `digits` digits.
void appendDecimal(std::string& out, std::uint64_t value, int digits = 0);
// Upper-case hexadecimal, at least `digits` digits.
void appendHex(std::string& out, std::uint32_t value, int digits = 1);

} // namespace tabrescue
