#include "base/text_case.h"

namespace tabrescue {

std::string asciiLower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

char32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    char32_t cp = b0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
    }
    if (len > 1) {
        if (i + len > s.size()) {
            ++i;
            return b0;
        }
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0u) != 0x80u) {
                ++i;
                return b0;
            }
            cp = (cp << 6) | (b & 0x3Fu);
        }
    }
    i += len;
    return cp;
}

std::size_t countChars(std::string_view s)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n)
        nextCodePoint(s, i);
    return n;
}

std::string_view firstChars(std::string_view s, std::size_t n)
{
    std::size_t i = 0;
    for (std::size_t k = 0; k < n && i < s.size(); ++k)
        nextCodePoint(s, i);
    return s.substr(0, i);
}

char32_t foldCase(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x410 && c <= 0x42F))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (foldCase(nextCodePoint(a, i)) != foldCase(nextCodePoint(b, j)))
            return false;
    }
    return i == a.size() && j == b.size();
}

bool isAlphaNumeric(char32_t c)
{
    if (c < 0x80)
        return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    if (c < 0xC0 || c == 0xD7 || c == 0xF7)
        return false; // Latin-1 signs and punctuation
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF00 && c <= 0xFF0F) || c == 0xFEFF || (c >= 0xE000 && c <= 0xF8FF))
        return false; // punctuation, symbols, private use
    return true;
}

} // namespace tabrescue
