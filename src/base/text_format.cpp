#include "base/text_format.h"

namespace tabrescue {

void appendDecimal(std::string& out, std::uint64_t value, int digits)
{
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < digits; ++i)
        out += '0';
    while (n > 0)
        out += buf[--n];
}

void appendHex(std::string& out, std::uint32_t value, int digits)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kDigits[value & 0xFu];
        value >>= 4;
    } while (value != 0);
    for (int i = n; i < digits; ++i)
        out += '0';
    while (n > 0)
        out += buf[--n];
}

} // namespace tabrescue
