#include "table/tab_text.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/recover_error.h"
#include "base/text_case.h"

namespace tabrescue {

namespace {

constexpr char kBlank = ' ';
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kHeaderLine = "!table";
constexpr std::string_view kDefinitionLine = "definition table";
constexpr std::string_view kFieldCountPattern = "fields [0-9]*";
constexpr std::string_view kIndexPattern = "* * index [0-9]*";
constexpr std::size_t kFieldCountPrefix = 7; // "fields "
constexpr std::string_view kRowIdField = "RowId_old Integer ;";
constexpr std::string_view kStatusField = "rec_status Char (1) ;";
constexpr std::int32_t kAddedFields = 2;

// A text as lines: each keeps its own ending (CR LF, LF, or none for the last line), so that
// lines left alone come back byte for byte.
struct Lines
{
    std::vector<std::string> body;
    std::vector<std::string> eol;
};

Lines splitLines(std::string_view text)
{
    Lines lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.body.emplace_back(text.substr(start));
            lines.eol.emplace_back();
            break;
        }
        const bool crlf = lf > start && text[lf - 1] == '\r';
        const std::size_t end = crlf ? lf - 1 : lf;
        lines.body.emplace_back(text.substr(start, end - start));
        lines.eol.emplace_back(crlf ? kCrLf : "\n");
        start = lf + 1;
    }
    if (lines.body.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throwOverflow();
    return lines;
}

std::string joinLines(const Lines& lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines.body.size(); ++i) {
        out += lines.body[i];
        out += lines.eol[i];
    }
    return out;
}

// Inserts lines after `at`. They take the ending of that line; a last line without an ending
// gets the one of the line above, so a CR LF text stays CR LF.
void insertAfter(Lines& lines, std::size_t at, const std::vector<std::string>& added)
{
    const std::string original = lines.eol[at];
    std::string eol = original.empty() && at > 0 ? lines.eol[at - 1] : original;
    if (eol.empty())
        eol = kCrLf;
    lines.eol[at] = eol;
    for (std::size_t k = 0; k < added.size(); ++k) {
        const auto pos = static_cast<std::ptrdiff_t>(at + 1 + k);
        lines.body.insert(lines.body.begin() + pos, added[k]);
        lines.eol.insert(lines.eol.begin() + pos, k + 1 == added.size() ? original : eol);
    }
}

std::string_view trimBlanks(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

std::size_t leadingBlanks(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlank);
    return first == std::string_view::npos ? s.size() : first;
}

std::string comparisonForm(std::string_view line)
{
    return asciiLower(trimBlanks(line));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whole-text match: '*' is any run of characters, "[0-9]" one decimal digit, anything else itself.
bool matchesPattern(std::string_view text, std::string_view pattern)
{
    constexpr std::string_view kDigitClass = "[0-9]";
    std::size_t t = 0, p = 0;
    std::size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const bool digitClass = pattern.substr(p, kDigitClass.size()) == kDigitClass;
            if (digitClass ? isDigit(text[t]) : pattern[p] == text[t]) {
                p += digitClass ? kDigitClass.size() : 1;
                ++t;
                continue;
            }
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP + 1;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void replaceAll(std::string& s, std::string_view from, std::string_view to)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t at; (at = s.find(from, start)) != std::string::npos; start = at + from.size()) {
        out.append(s, start, at - start);
        out += to;
    }
    out.append(s, start, std::string::npos);
    s = std::move(out);
}

// The value of a count text: digits, an optional fraction and an optional exponent, rounded to
// the nearest integer with a half going to the even neighbour. None when the text is not a number;
// error 6 when the value does not fit 32 bits.
std::optional<std::int32_t> parseCount(std::string_view s)
{
    std::string digits;
    std::int64_t exp10 = 0;
    std::size_t i = 0;
    while (i < s.size() && isDigit(s[i]))
        digits += s[i++];
    if (digits.empty())
        return std::nullopt;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && isDigit(s[i]); ++i, --exp10)
            digits += s[i];
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        const bool negative = i < s.size() && s[i] == '-';
        if (i < s.size() && (s[i] == '-' || s[i] == '+'))
            ++i;
        if (i == s.size() || !isDigit(s[i]))
            return std::nullopt;
        std::int64_t e = 0;
        for (; i < s.size() && isDigit(s[i]); ++i)
            e = std::min<std::int64_t>(e * 10 + (s[i] - '0'), 1'000'000'000);
        exp10 += negative ? -e : e;
    }
    if (i != s.size())
        return std::nullopt;

    const std::size_t nonZero = digits.find_first_not_of('0');
    if (nonZero == std::string::npos)
        return 0;
    digits.erase(0, nonZero);
    // Integer digits of the value: the first intLen of `digits`, padded with zeros beyond them.
    const std::int64_t intLen = static_cast<std::int64_t>(digits.size()) + exp10;
    if (intLen > 10)
        throwOverflow();
    std::int64_t value = 0;
    for (std::int64_t k = 0; k < intLen; ++k) {
        const auto at = static_cast<std::size_t>(k);
        value = value * 10 + (at < digits.size() ? digits[at] - '0' : 0);
    }
    if (intLen >= 0 && intLen < static_cast<std::int64_t>(digits.size())) {
        const std::size_t f = static_cast<std::size_t>(intLen);
        const char first = digits[f];
        const bool restNonZero = digits.find_first_not_of('0', f + 1) != std::string::npos;
        if (first > '5' || (first == '5' && (restNonZero || value % 2 != 0)))
            ++value;
    }
    if (value > std::numeric_limits<std::int32_t>::max())
        throwOverflow();
    return static_cast<std::int32_t>(value);
}

struct Definition
{
    std::int32_t countLine = -1;
    std::int32_t fieldCount = 0;
};

// Header line, definition line and field-count line, searched from definition line + searchOffset.
std::optional<Definition> recognise(const Lines& lines, std::int32_t searchOffset)
{
    const auto& body = lines.body;
    const std::int32_t last = static_cast<std::int32_t>(body.size()) - 1;
    const std::int32_t h = nextNonBlankLine(0, body);
    if (h < 0 || comparisonForm(body[static_cast<std::size_t>(h)]) != kHeaderLine)
        return std::nullopt;
    std::int32_t d = h + 1;
    while (d <= last && comparisonForm(body[static_cast<std::size_t>(d)]) != kDefinitionLine)
        ++d;
    if (d > last)
        return std::nullopt;
    for (std::int64_t c = std::int64_t{d} + searchOffset; c <= last; ++c) {
        const std::string form = comparisonForm(body[static_cast<std::size_t>(c)]);
        if (!matchesPattern(form, kFieldCountPattern))
            continue;
        const auto count = parseCount(trimBlanks(std::string_view(form).substr(kFieldCountPrefix)));
        if (!count || *count < 0)
            return std::nullopt;
        return Definition{static_cast<std::int32_t>(c), *count};
    }
    return std::nullopt;
}

} // namespace

std::int32_t nextNonBlankLine(std::int32_t start, const std::vector<std::string>& lines)
{
    for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start); i < lines.size(); ++i) {
        if (!trimBlanks(lines[i]).empty())
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::string removeTabIndexes(std::string_view text)
{
    Lines lines = splitLines(text);
    // The line right after the definition line is the table's type line and is not examined.
    const auto def = recognise(lines, 2);
    if (!def)
        return {};
    std::int32_t previous = def->countLine;
    for (std::int64_t k = 1; k <= def->fieldCount; ++k) {
        const std::int32_t f = nextNonBlankLine(previous + 1, lines.body);
        if (f < 0)
            return {};
        previous = f;
        std::string& line = lines.body[static_cast<std::size_t>(f)];

        // Normalise blanks so that the type is one word: "Decimal (12, 3)" -> "Decimal(12,3)".
        std::string w(trimBlanks(line));
        while (w.find("  ") != std::string::npos)
            replaceAll(w, "  ", " ");
        replaceAll(w, "( ", "(");
        replaceAll(w, " (", "(");
        replaceAll(w, " )", ")");
        replaceAll(w, ", ", ",");
        replaceAll(w, " ,", ",");
        if (!matchesPattern(asciiLower(w), kIndexPattern))
            continue;

        const std::size_t p1 = w.find(kBlank);
        const std::size_t p2 = w.find(kBlank, p1 + 1);
        if (p1 == std::string::npos || p2 == std::string::npos)
            continue;
        // The name as normalised may first stand further on ("a( b" became "a(b"): never indent
        // beyond the line's own leading blanks.
        const std::size_t at = line.find(std::string_view(w).substr(0, p1));
        const std::size_t indent = at == std::string::npos ? 0 : std::min(at, leadingBlanks(line));
        line = std::string(indent, kBlank) + w.substr(0, p2 + 1) + ";";
    }
    return joinLines(lines);
}

std::string makeDatResultTabText(std::string_view text)
{
    Lines lines = splitLines(text);
    const auto def = recognise(lines, 1);
    if (!def)
        return {};
    const std::int32_t n = def->fieldCount;
    if (n > std::numeric_limits<std::int32_t>::max() - kAddedFields)
        throwOverflow();

    // The count line keeps everything before its number; a plain number keeps its leading zeros.
    std::string& countLine = lines.body[static_cast<std::size_t>(def->countLine)];
    const std::size_t countStart = leadingBlanks(countLine) + kFieldCountPrefix;
    const std::string_view countText = trimBlanks(std::string_view(countLine).substr(countStart));
    const std::string decimal = std::to_string(n);
    std::size_t kept = 0;
    if (countText.find_first_not_of("0123456789") == std::string_view::npos &&
        countText.size() >= decimal.size())
        kept = countText.size() - decimal.size();
    countLine = countLine.substr(0, countStart + kept) + std::to_string(n + kAddedFields);

    std::int32_t last = def->countLine;
    for (std::int64_t k = 1; k <= n; ++k) {
        const std::int32_t f = nextNonBlankLine(last + 1, lines.body);
        if (f < 0)
            throw RecoverError(kErrIndexRange,
                               "Subscript out of range: the definition lists fewer fields than " + decimal);
        last = f;
    }
    const std::string indent(leadingBlanks(lines.body[static_cast<std::size_t>(last)]), kBlank);
    insertAfter(lines, static_cast<std::size_t>(last),
                {indent + std::string(kRowIdField), indent + std::string(kStatusField)});
    return joinLines(lines);
}

} // namespace tabrescue
