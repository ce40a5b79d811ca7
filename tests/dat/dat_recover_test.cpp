#include <gtest/gtest.h>

#include <filesystem>

#include "base/recover_error.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "io/file_system.h"
#include "io/platform.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "table/tab_text.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::DatBuilder;

DatBuilder twoFields()
{
    return DatBuilder().field("ID", 4).field("NAME", 8); // header 97, record 13
}

DatBuilder recordOf(std::uint32_t length)
{
    DatBuilder b;
    for (std::uint32_t left = length - 1; left > 0; left -= std::min<std::uint32_t>(left, 255))
        b.field("F", static_cast<std::uint8_t>(std::min<std::uint32_t>(left, 255)));
    return b;
}

const std::string kTab = test::TabTextBuilder().field("ID Integer").field("NAME Char (8)").text();

struct DatCase {
    const char* name;
    DatBuilder dat;
    std::int32_t count; // -1: fails
    std::uint32_t rows; // rows written; on failure: bytes left in the result .DAT
    std::string line = {}; // the error line's message begins so
    std::string tab = kTab;
    friend void PrintTo(const DatCase& c, std::ostream* os) { *os << c.name; }
};

class DatRecoverTest : public test::TempDirTest, public ::testing::WithParamInterface<DatCase> {
protected:
    void TearDown() override
    {
        platform::setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }
    RecoverResult recover(const DatBuilder& dat, const std::string& tab = kTab)
    {
        test::writeText(dir() / "t.TAB", tab);
        dat.write(dir() / "t.DAT");
        mapinfoTableFilesPull table;
        table.initByTABpath(path("t.TAB"));
        return doDelDAT_recover(table, &cap.log);
    }
    bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(dir() / name)); }
    test::LogCapture cap;
};

TEST_P(DatRecoverTest, WritesEveryRowLiveOrFailsPlainly)
{
    const auto& c = GetParam();
    const RecoverResult r = recover(c.dat, c.tab);
    EXPECT_EQ(r.count, c.count) << cap.log.text();
    EXPECT_EQ(test::readBytes(dir() / "t.DAT"), c.dat.bytes());
    const Bytes result = test::readBytes(dir() / "t#R_DAT.DAT");
    if (c.count >= 0) {
        EXPECT_EQ(r.tabPath, path("t#R_DAT.TAB"));
        EXPECT_EQ(test::firstDifference(result, test::expectedDatResult(c.dat.bytes(), c.rows)), "");
        EXPECT_EQ(test::readText(dir() / "t#R_DAT.TAB"), makeDatResultTabText(kTab));
        EXPECT_EQ(getDelDATcount(path("t.DAT"), nullptr), c.count) << "the count disagrees";
        EXPECT_EQ(getDelDATcount(path("t#R_DAT.DAT"), nullptr), 0); // a second reader sees only live rows
        EXPECT_EQ(cap.log.text(), "");
    } else {
        EXPECT_EQ(r.tabPath, "");
        EXPECT_EQ(result.size(), c.rows);
        EXPECT_FALSE(exists("t#R_DAT.TAB"));
        ASSERT_EQ(cap.lines().size(), 1u) << cap.log.text();
        EXPECT_EQ(cap.lines()[0].rfind("+++ mapinfoRecoverTable::doDelDAT_recover()+++ " + c.line, 0), 0u)
            << cap.lines()[0];
    }
}

std::string manyRows()
{
    std::string s;
    for (int i = 0; i < 5000; ++i)
        s += (i % 7 == 3) ? '*' : ' ';
    return s;
}

const std::string kView = "!table\n!version 300\n\nOpen Table \"a\" Hide\nCreate View t As Select * From a\n";
const std::string kFewFields = "!table\r\nDefinition Table\r\n Type NATIVE\r\n Fields 3\r\n ID Integer ;\r\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, DatRecoverTest,
    ::testing::Values(
        DatCase{"SecondOfThreeDeleted", twoFields().rows(" * "), 1, 3},
        DatCase{"NoneDeleted", twoFields().rows("  "), 0, 2},
        DatCase{"EndMarkBeforeCount",
                twoFields().rows("**").recordCount(5).trailing(Bytes(40, std::byte{'*'})), 2, 2},
        DatCase{"CutLastRowNoEndMark",
                twoFields().rows(" *").recordCount(3).endMark(false).trailing(test::toBytes("*7x")), 2, 3},
        DatCase{"OtherStatusBytes", twoFields().rows(std::string("?\0*", 3)), 1, 3},
        DatCase{"RecordLength32763", recordOf(32763).rows(" *"), 1, 2},
        DatCase{"RecordLength65530", recordOf(65530).rows("* "), 1, 2},
        DatCase{"AcrossReadChunks", DatBuilder().field("A", 200).field("B", 100).rows(manyRows()), 714, 5000},
        // failures: the result .DAT keeps what was written (header 97 + 64, one row 18 + 1) or nothing
        DatCase{"RecordLengthZero", twoFields().rows("*").recordLength(0), -1, 161, "5 Invalid procedure"},
        DatCase{"RecordTooLong", recordOf(65531).rows(" "), -1, 0, "6 Overflow"},
        DatCase{"HeaderTooLong", twoFields().rows(" ").headerLength(65472), -1, 0, "6 Overflow"},
        DatCase{"PositionsBeyond2GB", twoFields().rows(" ").recordCount(200000000u), -1, 0, "6 Overflow"},
        DatCase{"HeaderPastEnd", twoFields().headerLength(5000), -1, 0, "62 Input past end of file"},
        DatCase{"ViewTable", twoFields().rows("*"), -1, 180, "5 The table definition in '", kView},
        DatCase{"FieldLinesMissing", twoFields().rows("*"), -1, 180, "9 Subscript out of range", kFewFields}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(DatRecoverTest, MissingTabLeftoversLinksAndFullDisk)
{
    mapinfoTableFilesPull none;
    EXPECT_EQ(doDelDAT_recover(none, &cap.log).count, -1);
    EXPECT_TRUE(test::snapshot(dir()).empty());

    // A longer, read-only leftover in another letter case is replaced, not overwritten in part.
    test::writeBytes(dir() / "t#r_dat.dat", Bytes(100000, std::byte{'*'}));
    fs::permissions(dir() / "t#r_dat.dat", fs::perms::owner_read);
    const DatBuilder dat = twoFields().rows(" * ");
    EXPECT_EQ(recover(dat).count, 1);
    EXPECT_EQ(test::readBytes(dir() / "t#R_DAT.DAT"), test::expectedDatResult(dat.bytes(), 3));
    for (const auto& entry : fs::directory_iterator(dir()))
        EXPECT_NE(entry.path().filename(), "t#r_dat.dat");

    const Bytes victim(10, std::byte{'v'});
    test::writeBytes(dir() / "victim", victim);
    fs::remove(dir() / "t#R_DAT.DAT");
    const bool links = test::makeSymlink(dir() / "victim", dir() / "t#R_DAT.DAT");
    if (links) {
        EXPECT_EQ(recover(dat).count, 1);
        EXPECT_FALSE(fs::is_symlink(dir() / "t#R_DAT.DAT"));
        EXPECT_EQ(test::readBytes(dir() / "victim"), victim);
    }

    // A failed call leaves no result .TAB of an earlier one beside its own .DAT.
    platform::setFaultHook([](platform::Call c, const std::string& p) {
        if (c == platform::Call::Write && p.ends_with("#R_DAT.DAT"))
            throw RecoverError(kErrDiskFull, "Disk full");
        return platform::Fault{};
    });
    EXPECT_EQ(recover(dat).count, -1);
    EXPECT_FALSE(exists("t#R_DAT.TAB"));
    platform::setFaultHook(nullptr);

    if (links) { // a dangling link is refused, not followed
        fs::create_symlink(dir() / "nowhere", dir() / "t#R_DAT.TAB");
        EXPECT_EQ(recover(dat).count, -1);
        EXPECT_FALSE(exists("nowhere"));
    }
    const auto lines = cap.lines();
    ASSERT_EQ(lines.size(), links ? 3u : 2u) << cap.log.text();
    EXPECT_EQ(lines[0], "File '' was not  found.");
    EXPECT_EQ(lines[1], "+++ mapinfoRecoverTable::doDelDAT_recover()+++ 61 Disk full");
    if (links) {
        EXPECT_EQ(lines[2].substr(0, 50), "+++ mapinfoRecoverTable::doDelDAT_recover()+++ 75 ");
    }
}

} // namespace
} // namespace tabrescue
