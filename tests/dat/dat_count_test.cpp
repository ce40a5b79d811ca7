#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dat/dat_count.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

using test::Bytes;
using test::DatBuilder;

struct CountCase {
    const char* name;
    DatBuilder dat;
    std::int32_t expected;
    std::string logLine; // "" when nothing is logged; else the line's start
};

void PrintTo(const CountCase& c, std::ostream* os)
{
    *os << c.name;
}

DatBuilder twoFields()
{
    return DatBuilder().field("ID", 4).field("NAME", 8);
}

class DatCountTest : public test::TempDirTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(DatCountTest, CountsStarRows)
{
    const auto& c = GetParam();
    const auto dat = dir() / "t.DAT";
    c.dat.write(dat);
    const Bytes before = test::readBytes(dat);
    test::LogCapture cap;
    bool failed = true;
    EXPECT_EQ(getDelDATcount(dat.string(), &cap.log, &failed), c.expected);
    const auto lines = cap.lines();
    if (c.logLine.empty()) {
        EXPECT_TRUE(lines.empty()) << cap.log.text();
        EXPECT_FALSE(failed);
    } else {
        ASSERT_EQ(lines.size(), 1u) << cap.log.text();
        EXPECT_EQ(lines[0].substr(0, c.logLine.size()), c.logLine);
        EXPECT_TRUE(failed);
    }
    EXPECT_EQ(test::readBytes(dat), before);
}

const std::string kError = "+++ mapinfoRecoverTable::getDelDATcount()+++ ";

INSTANTIATE_TEST_SUITE_P(
    Rows, DatCountTest,
    ::testing::Values(
        CountCase{"AllLive", twoFields().rows("   "), 0, ""},
        CountCase{"TwoOfSeven", twoFields().rows(" * ** ").row(' '), 3, ""},
        CountCase{"RowsTwoAndFiveOfSeven", twoFields().rows(" *  *  "), 2, ""},
        CountCase{"NoRows", twoFields().rows(""), 0, ""},
        CountCase{"DeletedLastRowBeforeEndMark", twoFields().rows("  *"), 1, ""},
        CountCase{"EndMarkBeforeClaimedCount", twoFields().rows("**").recordCount(5).trailing(Bytes(26, std::byte{'*'})), 2, ""},
        CountCase{"ClaimsMoreRowsThanFileHolds", twoFields().rows("* *").recordCount(1000).endMark(false), 2, ""},
        CountCase{"NoEndMark", twoFields().rows("**").endMark(false), 2, ""},
        CountCase{"OtherStatusCountsAsLive", twoFields().rows("?*\x01"), 1, ""},
        // record count + 1 slots are read: the last is where the end mark belongs
        CountCase{"CountZeroReadsOnlySlotZero", twoFields().rows("**").recordCount(0), 1, ""},
        CountCase{"RowsAfterClaimedCountIgnored", twoFields().rows("****").recordCount(1).endMark(false), 2, ""},
        CountCase{"RecordLengthZero", twoFields().rows("*").recordLength(0), 0, kError + "5 "},
        CountCase{"PositionOverflow", twoFields().rows("*").recordCount(0xFFFFFFFFu).recordLength(65535), 0,
                  kError + "6 "},
        CountCase{"LongRecordsAreUnsigned", DatBuilder().field("A", 200).field("B", 200).field("C", 200).rows("*"),
                  1, ""}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

class DatCountFileTest : public test::TempDirTest {};

TEST_F(DatCountFileTest, MissingFileGivesPlainLine)
{
    test::LogCapture cap;
    const std::string p = path("none.DAT");
    EXPECT_EQ(getDelDATcount(p, &cap.log), 0);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{"File '" + p + "' was not  found."});
}

TEST_F(DatCountFileTest, FolderIsNotAFile)
{
    std::filesystem::create_directory(dir() / "x.DAT");
    test::LogCapture cap;
    EXPECT_EQ(getDelDATcount(path("x.DAT"), &cap.log), 0);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{"File '" + path("x.DAT") + "' was not  found."});
}

TEST_F(DatCountFileTest, ShorterThanHeader)
{
    test::writeBytes(dir() / "s.DAT", Bytes(10, std::byte{0x2A}));
    test::LogCapture cap;
    EXPECT_EQ(getDelDATcount(path("s.DAT"), &cap.log), 0);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{kError + "62 Input past end of file"});
}

TEST_F(DatCountFileTest, FoundWithoutRegardToCase)
{
    twoFields().rows("**").write(dir() / "roads.dat");
    EXPECT_EQ(getDelDATcount(path("roads.DAT"), nullptr), 2);
}

TEST_F(DatCountFileTest, UnreadableFile)
{
    twoFields().rows("**").write(dir() / "u.DAT");
    std::filesystem::permissions(dir() / "u.DAT", std::filesystem::perms::none);
    if (std::ifstream(dir() / "u.DAT").good())
        GTEST_SKIP() << "running with rights that read any file";
    test::LogCapture cap;
    EXPECT_EQ(getDelDATcount(path("u.DAT"), &cap.log), 0);
    ASSERT_EQ(cap.lines().size(), 1u);
    EXPECT_EQ(cap.lines()[0].substr(0, kError.size() + 3), kError + "70 ");
}

TEST_F(DatCountFileTest, HugeClaimsEndQuickly)
{
    // 4 billion rows of 65,535 bytes claimed by a 200-byte file: one overflow line, no scan.
    Bytes b(200, std::byte{0x2A});
    test::putLE32(b, 4, 0xFFFFFFFFu);
    test::putLE16(b, 8, 33);
    test::putLE16(b, 10, 65535);
    test::writeBytes(dir() / "h.DAT", b);
    test::LogCapture cap;
    EXPECT_EQ(getDelDATcount(path("h.DAT"), &cap.log), 0);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{kError + "6 Overflow"});
}

} // namespace
} // namespace tabrescue
