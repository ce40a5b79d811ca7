#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tabrescue {

// Lower-cases ASCII letters only: definition texts are bytes in the table's own code page.
constexpr char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string asciiLower(std::string_view s);

// Decodes the UTF-8 character at s[i] and advances i; a malformed byte stands for itself.
char32_t nextCodePoint(std::string_view s, std::size_t& i);
// Number of characters (not bytes) of a UTF-8 text.
std::size_t countChars(std::string_view s);
// The first n characters of a UTF-8 text.
std::string_view firstChars(std::string_view s, std::size_t n);

// Simple case folding for file names: ASCII, Latin-1 and Cyrillic letters.
char32_t foldCase(char32_t c);
// Compares two UTF-8 file names without regard to letter case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// ASCII letters and digits, and every letter beyond ASCII.
bool isAlphaNumeric(char32_t c);

} // namespace tabrescue
