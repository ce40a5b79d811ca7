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
    std::string error = {}; // the error line's number and blank; "" when nothing is logged
    const char* onDisk = "t.DAT"; // looked up as t.DAT
    friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};

DatBuilder twoFields()
{
    return DatBuilder().field("ID", 4).field("NAME", 8);
}

class DatCountTest : public test::TempDirTest, public ::testing::WithParamInterface<CountCase> {};

const std::string kError = "+++ mapinfoRecoverTable::getDelDATcount()+++ ";

TEST_P(DatCountTest, CountsStarRows)
{
    const auto& c = GetParam();
    c.dat.write(dir() / c.onDisk);
    test::LogCapture cap;
    bool failed = false;
    EXPECT_EQ(getDelDATcount(path("t.DAT"), &cap.log, &failed), c.expected);
    EXPECT_EQ(failed, !c.error.empty());
    if (c.error.empty()) {
        EXPECT_EQ(cap.log.text(), "");
    } else {
        ASSERT_EQ(cap.lines().size(), 1u) << cap.log.text();
        EXPECT_EQ(cap.lines()[0].rfind(kError + c.error, 0), 0u) << cap.lines()[0];
    }
    EXPECT_EQ(test::readBytes(dir() / c.onDisk), c.dat.bytes());
}

// Ordinary rows, end marks and status bytes are counted in the recovery's tests too. record count
// + 1 slots are read: the last is where the end mark belongs.
INSTANTIATE_TEST_SUITE_P(
    Rows, DatCountTest,
    ::testing::Values(
        CountCase{"NoRows", twoFields().rows(""), 0},
        CountCase{"FoundWithoutRegardToCase", twoFields().rows("**"), 2, "", "t.dat"},
        CountCase{"ClaimsMoreRowsThanFileHolds", twoFields().rows("* *").recordCount(1000).endMark(false), 2},
        CountCase{"CountZeroReadsOnlySlotZero", twoFields().rows("**").recordCount(0), 1},
        CountCase{"RowsAfterClaimedCountIgnored", twoFields().rows("****").recordCount(1).endMark(false), 2},
        CountCase{"RecordLengthZero", twoFields().rows("*").recordLength(0), 0, "5 "},
        // 4 billion rows of 65,535 bytes claimed by a small file: one line, no scan
        CountCase{"HugeClaims", twoFields().rows("*").recordCount(0xFFFFFFFFu).recordLength(65535), 0, "6 "}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(DatCountTest, BadFilesGiveOneLine)
{
    std::filesystem::create_directory(dir() / "x.DAT");
    test::writeBytes(dir() / "short.DAT", Bytes(10, std::byte{'*'}));
    const auto notFound = [&](const char* name) { return "File '" + path(name) + "' was not  found."; };
    for (const auto& [name, line] : {std::pair<std::string, std::string>{"none.DAT", notFound("none.DAT")},
                                     {"x.DAT", notFound("x.DAT")},
                                     {"short.DAT", kError + "62 Input past end of file"}}) {
        test::LogCapture cap;
        EXPECT_EQ(getDelDATcount(path(name), &cap.log), 0);
        EXPECT_EQ(cap.lines(), std::vector<std::string>{line});
    }
}

TEST_F(DatCountTest, UnreadableFile)
{
    twoFields().rows("**").write(dir() / "u.DAT");
    std::filesystem::permissions(dir() / "u.DAT", std::filesystem::perms::none);
    if (std::ifstream(dir() / "u.DAT").good())
        GTEST_SKIP() << "running with rights that read any file";
    test::LogCapture cap;
    EXPECT_EQ(getDelDATcount(path("u.DAT"), &cap.log), 0);
    ASSERT_EQ(cap.lines().size(), 1u);
    EXPECT_EQ(cap.lines()[0].rfind(kError + "70 ", 0), 0u);
}

} // namespace
} // namespace tabrescue
