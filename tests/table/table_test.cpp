#include <gtest/gtest.h>

#include <numeric>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "table/tab_text.h"
#include "table/working_copy.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

class WorkingCopyTest : public test::TempDirTest
{
  protected:
    void TearDown() override
    {
        setGuidRandomSource(nullptr);
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }
    test::LogCapture cap;
};

// Temporary names: "~" + 30 hex digits + ".tab" in the run's folder; a name is taken when any of its
// five files exists, in any letter case; after 100 taken names there is none.
TEST_F(WorkingCopyTest, TemporaryNames)
{
    const test::ScopedTempFolder tmp(dir());
    const std::string a = newGuidHex();
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos) << a;
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, newGuidHex());
    const std::string run = withTrailingSeparator(fileSystem().tempFolder());
    int calls = 0;
    setGuidRandomSource([&](std::span<std::byte> o) {
        std::fill(o.begin(), o.end(), std::byte(++calls == 1 ? 0x11 : 0x22));
    });
    EXPECT_EQ(newGuidString(), "{11111111-1111-1111-1111-111111111111}");
    calls = 0;
    test::writeText(run + "~" + std::string(30, '1') + ".id", "");
    EXPECT_EQ(makeTempTabPath(&cap.log), run + "~" + std::string(30, '2') + ".tab");
    test::writeText(run + "~" + std::string(30, '2') + ".IND", "");
    calls = 0;
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    EXPECT_EQ(calls, 100);
    EXPECT_TRUE(
        cap.log.text().starts_with("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 75 No free temporary"));
}

TEST_F(WorkingCopyTest, RefusedCopies)
{
    const test::ScopedTempFolder tmp(dir());
    const std::string src = test::writeSimpleTable(dir(), "roads", "*").tabPath;
    EXPECT_EQ(mapinfoTabCopy(src, path("ROADS.tab"), &cap.log), "");
    EXPECT_EQ(mapinfoTabCopy(src, path("x.dat"), &cap.log), "");
    EXPECT_FALSE(fs::exists(dir() / "roads.TAB.bak"));
    // An index to drop in a definition that is not recognised: no working copy.
    test::writeText(dir() / "roads.TAB", "!table\r\n!version 300\r\nOpen Table \"a\"\r\n");
    test::writeText(dir() / "roads.IND", "index");
    mapinfoTableFilesPull view;
    view.initByTABpath(src);
    EXPECT_FALSE(createTempMiTabCopy(view, true, &cap.log));
    const std::vector<std::string> lines = cap.lines();
    ASSERT_EQ(lines.size(), 3u) << cap.log.text();
    for (const std::string& line : {lines[0], lines[1]})
        EXPECT_TRUE(line.starts_with("+++ mapinfoRecoverTable::mapinfoTabCopy()+++ 5 ")) << line;
    EXPECT_EQ(lines[2], "+++ mapinfoRecoverTable::createTempMiTabCopy()+++ 5 The table definition in '" +
                            src + "' is not recognised");
}

// A component that arrives short (the source changed under the copy) fails the copy: one line, the
// cut file gone, its predecessor kept under the backup name.
TEST_F(WorkingCopyTest, ShortCopyIsNoCopy)
{
    const std::string src = test::writeSimpleTable(dir(), "roads", "*").tabPath;
    test::writeText(dir() / "out.DAT", "older");
    platform::setFaultHook([](platform::Call call, const std::string& path) {
        // The kernel's copy where there is one, else the reads of the copy through a buffer.
        const bool copying = call == platform::Call::Copy || call == platform::Call::Read;
        return platform::Fault{0, copying && path.ends_with(".DAT") ? 0u : SIZE_MAX};
    });
    const std::string copied = mapinfoTabCopy(src, path("out.tab"), &cap.log);
    platform::setFaultHook(nullptr);
    EXPECT_EQ(copied, "");
    const std::vector<std::string> lines{
        "File '" + path("out.DAT") + "' was backuped as '" + path("out.DAT.bak") + "'.",
        "Error in coping file '" + path("roads.DAT") + "' to file '" + path("out.DAT") + "'."};
    EXPECT_EQ(cap.lines(), lines);
    EXPECT_FALSE(fs::exists(dir() / "out.DAT"));
}

using Lines = std::vector<std::string>;

// Every line followed by eol, as written tables end.
std::string join(const Lines& ls, const std::string& eol)
{
    return std::accumulate(ls.begin(), ls.end(), std::string(), [&](auto t, auto& l) { return t + l + eol; });
}

Lines def(const std::string& countLine, const Lines& rest)
{
    Lines l{"!table", "!version 300", "", "Definition Table", "  Type NATIVE", countLine};
    l.insert(l.end(), rest.begin(), rest.end());
    return l;
}

// Each case runs as a CR LF text and as an LF text; `out` empty means "not recognised", and an
// error number means the rewrite throws it.
struct RewriteCase
{
    const char* name;
    std::string (*rewrite)(std::string_view);
    Lines in, out;
    int error = 0;
    friend void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }
};

using RewriteTest = ::testing::TestWithParam<RewriteCase>;

TEST_P(RewriteTest, KeepsEveryOtherByte)
{
    const auto& c = GetParam();
    for (const std::string eol : {"\r\n", "\n"}) {
        try {
            EXPECT_EQ(c.rewrite(join(c.in, eol)), c.out.empty() ? "" : join(c.out, eol)) << eol.size();
            EXPECT_EQ(c.error, 0);
        } catch (const RecoverError& e) {
            EXPECT_EQ(e.number(), c.error);
        }
    }
}

const Lines kTwo{"    ID Integer ;", "    Name Char (20) ;"};
const Lines kNoType{"!table", "Definition Table", "Fields 0"};
const std::string kRowId = "RowId_old Integer ;", kStatus = "rec_status Char (1) ;";

INSTANTIATE_TEST_SUITE_P(
    Definitions, RewriteTest,
    ::testing::Values(
        RewriteCase{"IndexDropped", removeTabIndexes,
                    def("Fields 2", {"  Nm Char (20) Index 1 ;", " B  Char ;"}),
                    def("Fields 2", {"  Nm Char(20) ;", " B  Char ;"})},
        RewriteCase{"Capitals", removeTabIndexes,
                    {"!TABLE", "DEFINITION TABLE", "  t", "FIELDS 1", "", " S  Decimal ( 12 , 3 ) INDEX 2 ;"},
                    {"!TABLE", "DEFINITION TABLE", "  t", "FIELDS 1", "", " S Decimal(12,3) ;"}},
        RewriteCase{"NameSpelledOtherwise", removeTabIndexes, def("Fields 1", {"  a ( b Char Index 1 ; a(b"}),
                    def("Fields 1", {"  a(b Char ;"})},
        RewriteCase{"FieldLineMissing", removeTabIndexes, def("  Fields 3", kTwo), {}},
        // the type line after the definition line is not searched for the count
        RewriteCase{"CountAfterDefinition", removeTabIndexes, kNoType, {}},
        RewriteCase{"CountAfterDefinitionAdded", makeDatResultTabText, kNoType,
                    {"!table", "Definition Table", "Fields 2", kRowId, kStatus}},
        RewriteCase{"FieldsZero", makeDatResultTabText, def("  Fields 0 ", {"", "begin_metadata"}),
                    def("  Fields 2", {"  " + kRowId, "  " + kStatus, "", "begin_metadata"})},
        RewriteCase{"BlankLinesStay", makeDatResultTabText, def("  Fields 2", {"", " A ;", "", "  B ;", ""}),
                    def("  Fields 4", {"", " A ;", "", "  B ;", "  " + kRowId, "  " + kStatus, ""})},
        RewriteCase{"FieldLinesMissing", makeDatResultTabText, def("Fields 3", kTwo), {}, kErrIndexRange},
        RewriteCase{"CountTooLarge", makeDatResultTabText, def("Fields 2147483647", kTwo), {}, kErrOverflow},
        RewriteCase{"CountNotNumeric", makeDatResultTabText, def("  Fields 2x", kTwo), {}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(TabText, MixedEndingsAndBlanks)
{
    // The last line has no ending: it takes the one above, and the added lines follow suit.
    EXPECT_EQ(makeDatResultTabText("!table\nDefinition Table\r\n Type\n Fields 1\r\n  A ;"),
              "!table\nDefinition Table\r\n Type\n Fields 3\r\n  A ;\r\n  " + kRowId + "\r\n  " + kStatus);
    // a lone CR joins lines
    EXPECT_EQ(removeTabIndexes("!table\r\rDefinition Table\r\n Type\r\n Fields 0\r\n"), "");
    EXPECT_EQ(nextNonBlankLine(0, {"", "   ", "\t"}), 2); // only spaces are blanks
}

// A count with a fraction or an exponent is rounded to the nearest integer, a half to the even one.
TEST(TabText, NumericCounts)
{
    const std::pair<const char*, int> counts[] = {{"1.5", 2}, {"2.5", 2}, {"0.25e1", 2}, {"15E-1", 2}, {"3e0", 3},
                                                  {"0.4", 0}, {"0.6", 1},  {"1e+0", 1},    {"1e", -1},   {"1.2.3", -1},
                                                  {"e1", -1}, {"-1", -1}};
    const Lines three{" A ;", " B ;", " C ;"};
    for (const auto& [count, n] : counts) {
        const std::string in = join(def("Fields " + std::string(count), three), "\r\n");
        const std::string out = makeDatResultTabText(in);
        EXPECT_EQ(out.find("Fields " + std::to_string(n + 2) + "\r\n") != std::string::npos, n >= 0) << count;
        EXPECT_EQ(out.empty(), n < 0) << count;
    }
    EXPECT_THROW(makeDatResultTabText(join(def("Fields 1e10", three), "\r\n")), RecoverError);
}

} // namespace
} // namespace tabrescue
