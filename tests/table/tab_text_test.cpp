#include <gtest/gtest.h>

#include "base/recover_error.h"
#include "table/tab_text.h"

namespace tabrescue {
namespace {

using Lines = std::vector<std::string>;

// Every line followed by eol, as written tables end.
std::string join(const Lines& lines, const std::string& eol)
{
    std::string t;
    for (const auto& l : lines)
        t += l + eol;
    return t;
}

Lines def(const std::string& countLine, const Lines& rest, const Lines& more = {})
{
    Lines l{"!table", "!version 300", "", "Definition Table", "  Type NATIVE Charset \"WindowsLatin1\"",
            countLine};
    l.insert(l.end(), rest.begin(), rest.end());
    l.insert(l.end(), more.begin(), more.end());
    return l;
}

int errorOf(const Lines& lines)
{
    try {
        makeDatResultTabText(join(lines, "\r\n"));
    } catch (const RecoverError& e) {
        return e.number();
    }
    return 0;
}

// Each case runs as a CR LF text and as an LF text; `out` empty means "not recognised".
struct RewriteCase {
    const char* name;
    std::string (*rewrite)(std::string_view);
    Lines in, out;
    friend void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }
};

class RewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, KeepsEveryOtherByte)
{
    const auto& c = GetParam();
    for (const std::string eol : {"\r\n", "\n"})
        EXPECT_EQ(c.rewrite(join(c.in, eol)), c.out.empty() ? "" : join(c.out, eol)) << eol.size();
}

const Lines kTwo{"    ID Integer ;", "    Name Char (20) ;"};
const Lines kAdded{"    RowId_old Integer ;", "    rec_status Char (1) ;"};
const Lines kTen(10, "    F Char (2) ;");

INSTANTIATE_TEST_SUITE_P(
    Definitions, RewriteTest,
    ::testing::Values(
        RewriteCase{"IndexDropped", removeTabIndexes,
                    def("Fields 2", {"    Name Char (20) Index 1 ;", "  B  Char (2) ;"}),
                    def("Fields 2", {"    Name Char(20) ;", "  B  Char (2) ;"})},
        RewriteCase{"Capitals", removeTabIndexes,
                    {"!TABLE", "DEFINITION TABLE", "  type native", "FIELDS 1", "",
                     "  Sum   Decimal ( 12 , 3 )  INDEX 2 ;"},
                    {"!TABLE", "DEFINITION TABLE", "  type native", "FIELDS 1", "", "  Sum Decimal(12,3) ;"}},
        RewriteCase{"FieldLineMissing", removeTabIndexes, def("  Fields 3", kTwo), {}},
        // the type line after the definition line is not searched for the count
        RewriteCase{"CountAfterDefinition", removeTabIndexes, {"!table", "Definition Table", "Fields 0"}, {}},
        RewriteCase{"CountAfterDefinitionAdded", makeDatResultTabText,
                    {"!table", "Definition Table", "Fields 0"},
                    {"!table", "Definition Table", "Fields 2", kAdded[0].substr(4), kAdded[1].substr(4)}},
        RewriteCase{"FieldsTwo", makeDatResultTabText, def("  Fields 2", kTwo),
                    def("  Fields 4", kTwo, kAdded)},
        RewriteCase{"FieldsZero", makeDatResultTabText, def("  Fields 0 ", {"", "begin_metadata"}),
                    def("  Fields 2", {kAdded[0].substr(2), kAdded[1].substr(2), "", "begin_metadata"})},
        RewriteCase{"BlankLinesStay", makeDatResultTabText,
                    def("  Fields 2", {"", "  A Char (1) ;", "", " B Integer ;", ""}),
                    def("  Fields 4", {"", "  A Char (1) ;", "", " B Integer ;", " RowId_old Integer ;",
                                       " rec_status Char (1) ;", ""})},
        RewriteCase{"HalfToEven", makeDatResultTabText, def("  Fields 2.5", kTwo),
                    def("  Fields 4", kTwo, kAdded)},
        RewriteCase{"Exponent", makeDatResultTabText, def("  Fields 1E1", kTen),
                    def("  Fields 12", kTen, kAdded)},
        RewriteCase{"LeadingZeros", makeDatResultTabText, def("  Fields 002", kTwo),
                    def("  Fields 004", kTwo, kAdded)},
        RewriteCase{"Empty", makeDatResultTabText, {}, {}},
        RewriteCase{"View", makeDatResultTabText,
                    {"!table", "Open Table \"a\" Hide", "Create View b As Select * From a"}, {}},
        RewriteCase{"CountNotNumeric", makeDatResultTabText, def("  Fields 2x", kTwo), {}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(TabText, MixedEndingsAndBrokenCounts)
{
    // The last line has no ending: it takes the one above, and the added lines follow suit.
    EXPECT_EQ(makeDatResultTabText("!table\nDefinition Table\r\n Type\n Fields 1\r\n  A Char (1) ;"),
              "!table\nDefinition Table\r\n Type\n Fields 3\r\n  A Char (1) ;\r\n  RowId_old Integer ;\r\n"
              "  rec_status Char (1) ;");
    EXPECT_EQ(removeTabIndexes("!table\r\rDefinition Table\r\n Type\r\n Fields 0\r\n"),
              ""); // a lone CR joins lines
    EXPECT_EQ(errorOf(def("  Fields 99999999999", kTwo)), kErrOverflow);
    EXPECT_EQ(errorOf(def("  Fields 2147483647", kTwo)), kErrOverflow);
    EXPECT_EQ(nextNonBlankLine(0, {"", "   ", "\t"}), 2); // only spaces are blanks
    EXPECT_EQ(nextNonBlankLine(0, {}), -1);
}

} // namespace
} // namespace tabrescue
