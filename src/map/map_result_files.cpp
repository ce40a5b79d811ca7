#include "map/map_result_files.h"

#include "base/recover_error.h"
#include "base/text_case.h"

namespace tabrescue {

const std::string_view MapDatTemplate = "0000000000: 03 73 03 1D 01 00 00 00 ¦ A1 00 11 00 00 00 00 00"
                                        "0000000010: 00 00 00 00 00 00 00 00 ¦ 00 00 00 00 00 00 00 00"
                                        "0000000020: 52 6F 77 49 64 5F 6E 65 ¦ 77 00 00 43 00 00 00 00"
                                        "0000000030: 04 00 00 00 00 00 00 00 ¦ 00 00 00 00 00 00 00 00"
                                        "0000000040: 52 6F 77 49 64 5F 6F 6C ¦ 64 00 00 43 00 00 00 00"
                                        "0000000050: 04 00 00 00 00 00 00 00 ¦ 00 00 00 00 00 00 00 00"
                                        "0000000060: 72 65 63 5F 6D 61 70 5F ¦ 6F 66 00 43 00 00 00 00"
                                        "0000000070: 04 00 00 00 00 00 00 00 ¦ 00 00 00 00 00 00 00 00"
                                        "0000000080: 72 65 63 5F 73 74 61 74 ¦ 75 73 00 43 00 00 00 00"
                                        "0000000090: 04 00 00 00 00 00 00 00 ¦ 00 00 00 00 00 00 00 00"
                                        "00000000A0: 0D 2A FF FF FF 00 FF FF ¦ FF 00 FF FF FF 00 44 20"
                                        "00000000B0: 20 20 1A                ¦";

std::string makeMapResultTabText()
{
    static constexpr std::string_view kLines[] = {
        "!table",
        "!version 650",
        "!charset WindowsCyrillic",
        "",
        "Definition Table",
        "  Type NATIVE Charset \"WindowsCyrillic\"",
        "  Fields 4",
        "    RowId_new Integer ;",
        "    RowId_old Integer ;",
        "    rec_map_offset Integer ;",
        "    rec_status Char (4) ;",
    };
    std::string text;
    for (std::size_t i = 0; i < std::size(kLines); ++i) {
        if (i > 0)
            text += "\r\n";
        text += kLines[i];
    }
    return text;
}

namespace {

constexpr char32_t kBar = U'\u00A6';

[[noreturn]] void throwProgramData()
{
    throw RecoverError(kErrProgramData, "Unknown Error in Program Data");
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::vector<std::byte> hexToBytes(std::string_view text)
{
    std::vector<std::byte> out(text.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k) {
        const int hi = hexDigit(text[2 * k]);
        const int lo = hexDigit(text[2 * k + 1]);
        if (hi < 0 || lo < 0)
            throw RecoverError(kErrInvalidCall, "Invalid procedure call or argument: '" +
                                                    std::string(text.substr(2 * k, 2)) +
                                                    "' is not a hexadecimal byte");
        out[k] = static_cast<std::byte>(hi * 16 + lo);
    }
    return out;
}

void doDAT_for_MAP_title(std::string_view dump, std::vector<std::byte>& header,
                         std::vector<std::byte>& closing)
{
    // Widths and positions count characters, so work on characters rather than UTF-8 bytes.
    std::u32string t;
    for (std::size_t i = 0; i < dump.size();)
        t += nextCodePoint(dump, i);

    // Blank every offset prefix; all are as wide as the first (colon included).
    std::size_t colon = t.find(U':');
    if (colon == std::u32string::npos)
        throwProgramData();
    const std::size_t width = colon + 1;
    while (colon != std::u32string::npos) {
        const std::size_t from = colon + 1 >= width ? colon + 1 - width : 0;
        for (std::size_t k = from; k <= colon; ++k)
            t[k] = U' ';
        colon = t.find(U':', colon + 1);
    }

    std::string digits;
    digits.reserve(t.size());
    for (const char32_t c : t) {
        if (c == kBar || c == U' ')
            continue;
        digits += c < 0x80 ? static_cast<char>(c) : '?';
    }
    if (digits.size() < 2 || digits.compare(digits.size() - 2, 2, "1A") != 0)
        throwProgramData();

    // The closing part starts at the last byte 0x2A, searched on byte boundaries from the end.
    std::size_t start = std::string::npos;
    for (std::size_t i = digits.size() - 1; i >= 1; i -= 2) { // i: 1-based position of a pair
        if (digits[i - 1] == '2' && digits[i] == 'A') {
            start = i - 1;
            break;
        }
        if (i < 3)
            break;
    }
    if (start == std::string::npos)
        throwProgramData();
    header = hexToBytes(std::string_view(digits).substr(0, start));
    closing = hexToBytes(std::string_view(digits).substr(start));
}

void doDAT_for_MAP_title(std::vector<std::byte>& header, std::vector<std::byte>& closing)
{
    doDAT_for_MAP_title(MapDatTemplate, header, closing);
}

} // namespace tabrescue
