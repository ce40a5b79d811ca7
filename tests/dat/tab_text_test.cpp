#include <gtest/gtest.h>

#include "dat/tab_text.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

using Lines = std::vector<std::string>;

// Every line followed by eol, so texts end with a line ending as written tables do.
std::string join(const Lines& lines, const std::string& eol)
{
    std::string t;
    for (const auto& l : lines)
        t += l + eol;
    return t;
}

Lines head(const std::string& countLine, Lines rest)
{
    Lines l{"!table", "!version 300",     "!charset WindowsLatin1",
            "",       "Definition Table", "  Type NATIVE Charset \"WindowsLatin1\"",
            countLine};
    l.insert(l.end(), rest.begin(), rest.end());
    return l;
}

int errorOf(std::string_view text)
{
    try {
        makeDatResultTabText(text);
    } catch (const RecoverError& e) {
        return e.number();
    }
    return 0;
}

TEST(NextNonBlankLine, SkipsLinesOfBlanksOnly)
{
    const Lines l{"", "   ", "\t", " x ", ""};
    EXPECT_EQ(nextNonBlankLine(0, l), 2); // a tab is not a blank
    EXPECT_EQ(nextNonBlankLine(3, l), 3);
    EXPECT_EQ(nextNonBlankLine(4, l), -1);
    EXPECT_EQ(nextNonBlankLine(9, l), -1);
    EXPECT_EQ(nextNonBlankLine(0, {}), -1);
}

// Each case runs as a CR LF text and as an LF text; `out` empty means "not recognised".
struct RewriteCase
{
    const char* name;
    std::string (*rewrite)(std::string_view);
    Lines in;
    Lines out;
};

void PrintTo(const RewriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class RewriteTest : public ::testing::TestWithParam<RewriteCase>
{
};

TEST_P(RewriteTest, KeepsEveryOtherByte)
{
    for (const std::string eol : {"\r\n", "\n"}) {
        const auto& c = GetParam();
        EXPECT_EQ(c.rewrite(join(c.in, eol)), c.out.empty() ? "" : join(c.out, eol))
            << "eol size " << eol.size();
    }
}

const Lines kTwoFields{"    ID Integer ;", "    Name Char (20) ;"};
const Lines kAdded{"    RowId_old Integer ;", "    rec_status Char (1) ;"};
Lines concat(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Lines numbered(int n)
{
    Lines l;
    for (int i = 0; i < n; ++i)
        l.push_back("    F" + std::to_string(i) + " Char (2) ;");
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, RewriteTest,
    ::testing::Values(
        RewriteCase{"NoIndexUnchanged", removeTabIndexes, head("  Fields 2", kTwoFields),
                    head("  Fields 2", kTwoFields)},
        RewriteCase{"IndexClauseDropped", removeTabIndexes,
                    head("  Fields 2", {"    Name Char (20) Index 1 ;", "    Code  Char (20) ;"}),
                    head("  Fields 2", {"    Name Char(20) ;", "    Code  Char (20) ;"})},
        RewriteCase{"CapitalsAndSpacedType",
                    removeTabIndexes,
                    {"!TABLE", "DEFINITION TABLE", "  type native", "FIELDS 2", "",
                     "  Sum   Decimal ( 12 , 3 )  INDEX 2 ;", "  ID Integer ;"},
                    {"!TABLE", "DEFINITION TABLE", "  type native", "FIELDS 2", "", "  Sum Decimal(12,3) ;",
                     "  ID Integer ;"}},
        RewriteCase{"IndexFieldLineMissing", removeTabIndexes, head("  Fields 3", kTwoFields), {}},
        // the line after the definition line is the type line and is not searched
        RewriteCase{"CountRightAfterDefinition",
                    removeTabIndexes,
                    {"!table", "Definition Table", "Fields 1", "  A Char (1) ;"},
                    {}},
        RewriteCase{"CountRightAfterDefinitionAdded",
                    makeDatResultTabText,
                    {"!table", "Definition Table", "Fields 1", "  A Char (1) ;"},
                    {"!table", "Definition Table", "Fields 3", "  A Char (1) ;", "  RowId_old Integer ;",
                     "  rec_status Char (1) ;"}},
        RewriteCase{"FieldsTwoExample", makeDatResultTabText, head("  Fields 2", kTwoFields),
                    head("  Fields 4", concat(kTwoFields, kAdded))},
        RewriteCase{"SevenFields", makeDatResultTabText, head("  Fields 7", numbered(7)),
                    head("  Fields 9", concat(numbered(7), kAdded))},
        RewriteCase{"TenFields", makeDatResultTabText, head("  Fields 10", numbered(10)),
                    head("  Fields 12", concat(numbered(10), kAdded))},
        RewriteCase{
            "ZeroFields", makeDatResultTabText, head("  Fields 0 ", {"", "begin_metadata"}),
            head("  Fields 2", {"  RowId_old Integer ;", "  rec_status Char (1) ;", "", "begin_metadata"})},
        RewriteCase{"BlankLinesStayInPlace", makeDatResultTabText,
                    head("  Fields 2", {"", "  A Char (1) ;", "", " B Integer ;", ""}),
                    head("  Fields 4", {"", "  A Char (1) ;", "", " B Integer ;", " RowId_old Integer ;",
                                        " rec_status Char (1) ;", ""})},
        RewriteCase{"HalfRoundsToEven", makeDatResultTabText, head("  Fields 2.5", kTwoFields),
                    head("  Fields 4", concat(kTwoFields, kAdded))},
        RewriteCase{"HalfRoundsUp", makeDatResultTabText,
                    head("Fields 1.5", {" A Char (1) ;", " B Char (1) ;"}),
                    head("Fields 4", {" A Char (1) ;", " B Char (1) ;", " RowId_old Integer ;",
                                      " rec_status Char (1) ;"})},
        RewriteCase{"Exponent", makeDatResultTabText, head("  Fields 1E1", numbered(10)),
                    head("  Fields 12", concat(numbered(10), kAdded))},
        RewriteCase{"LeadingZerosKept", makeDatResultTabText, head("  Fields 007", numbered(7)),
                    head("  Fields 009", concat(numbered(7), kAdded))},
        RewriteCase{"EmptyText", makeDatResultTabText, {}, {}},
        RewriteCase{"View",
                    makeDatResultTabText,
                    {"!table", "!version 300", "Open Table \"a\" Hide", "Create View b As Select * From a"},
                    {}},
        RewriteCase{"NotFirstLine", makeDatResultTabText, concat({"x"}, head("Fields 2", kTwoFields)), {}},
        RewriteCase{"CountNotNumeric", makeDatResultTabText, head("  Fields 2x", kTwoFields), {}},
        RewriteCase{"NoCountLine", removeTabIndexes, head("  Columns 2", kTwoFields), {}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(TabText, LineEndingsStayAsTheyAre)
{
    // No ending on the last field line: it gets the preceding one; the added lines follow suit.
    EXPECT_EQ(makeDatResultTabText("!table\nDefinition Table\r\n Type\n Fields 1\r\n  A Char (1) ;"),
              "!table\nDefinition Table\r\n Type\n Fields 3\r\n  A Char (1) ;\r\n  RowId_old Integer ;\r\n"
              "  rec_status Char (1) ;");
    // A lone CR is part of its line, so the header line is not "!table".
    EXPECT_EQ(removeTabIndexes("!table\r\rDefinition Table\r\n Type\r\n Fields 0\r\n"), "");
    EXPECT_EQ(removeTabIndexes("!table\nDefinition Table\r\n Type\n Fields 1\n A Char(2) Index 1 ;\r\n"),
              "!table\nDefinition Table\r\n Type\n Fields 1\n A Char(2) ;\r\n");
}

TEST(TabText, BrokenCountsRaiseErrors)
{
    EXPECT_EQ(errorOf(join(head("  Fields 3", kTwoFields), "\r\n")), kErrIndexRange);
    EXPECT_EQ(errorOf(join(head("  Fields 99999999999", kTwoFields), "\n")), kErrOverflow);
    EXPECT_EQ(errorOf(join(head("  Fields 2147483647", kTwoFields), "\n")), kErrOverflow);
    EXPECT_EQ(errorOf(join(head("  Fields 0.4e-3", {}), "\n")), 0);
}

} // namespace
} // namespace tabrescue
