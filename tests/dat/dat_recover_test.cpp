#include <gtest/gtest.h>

#include <filesystem>

#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "dat/tab_text.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::DatBuilder;

// The result of the first `rows` row slots of an input .DAT, built from the layout.
Bytes expectedResult(const Bytes& in, std::uint32_t rows)
{
    const std::uint16_t h = test::getLE16(in, 8), r = test::getLE16(in, 10);
    Bytes e(in.begin(), in.begin() + h - 1);
    test::putLE32(e, 4, rows);
    test::putLE16(e, 8, static_cast<std::uint16_t>(h + 64));
    test::putLE16(e, 10, static_cast<std::uint16_t>(r + 5));
    for (const auto& [name, length] : {std::pair<std::string, int>{"RowId_old", 4}, {"rec_status", 1}}) {
        Bytes d = test::toBytes(name);
        d.resize(32, std::byte{0});
        d[11] = std::byte{'C'};
        d[16] = static_cast<std::byte>(length);
        e.insert(e.end(), d.begin(), d.end());
    }
    e.push_back(std::byte{0x0D});
    for (std::uint32_t k = 0; k < rows; ++k) {
        const auto at = in.begin() + h + std::ptrdiff_t{k} * r;
        Bytes row(at, std::min(in.end(), at + r));
        row.resize(r, std::byte{0}); // a cut last row
        const bool deleted = row[0] == std::byte{'*'};
        row[0] = std::byte{' '};
        e.insert(e.end(), row.begin(), row.end());
        test::appendLE32(e, k + 1);
        e.push_back(deleted ? std::byte{'D'} : std::byte{' '});
    }
    e.push_back(std::byte{0x1A});
    return e;
}

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

struct DatCase
{
    const char* name;
    DatBuilder dat;
    std::int32_t count;    // -1: fails
    std::uint32_t rows;    // rows written; on failure: bytes left in the result .DAT
    std::string line = {}; // the error line's message begins so
    std::string tab = kTab;
};

void PrintTo(const DatCase& c, std::ostream* os)
{
    *os << c.name;
}

class DatRecoverTest : public test::TempDirTest, public ::testing::WithParamInterface<DatCase>
{
  protected:
    void TearDown() override
    {
        fileSystem().setFaultHook(nullptr);
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
    const Bytes result = test::readBytes(dir() / "t#R_DAT.DAT");
    if (c.count >= 0) {
        EXPECT_EQ(r.tabPath, path("t#R_DAT.TAB"));
        EXPECT_EQ(test::firstDifference(result, expectedResult(c.dat.bytes(), c.rows)), "");
        EXPECT_EQ(test::readText(dir() / "t#R_DAT.TAB"), makeDatResultTabText(kTab));
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
    EXPECT_EQ(test::readBytes(dir() / "t.DAT"), c.dat.bytes());
}

std::string manyRows()
{
    std::string s;
    for (int i = 0; i < 5000; ++i)
        s += (i % 7 == 3) ? '*' : ' ';
    return s;
}

const std::string kView = "!table\n!version 300\n\nOpen Table \"a\" Hide\nCreate View t As Select * From a\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, DatRecoverTest,
    ::testing::Values(
        DatCase{"SecondOfThreeDeleted", twoFields().rows(" * "), 1, 3},
        DatCase{"NoneDeleted", twoFields().rows("  "), 0, 2},
        DatCase{"EndMarkBeforeCount",
                twoFields().rows("**").recordCount(5).trailing(Bytes(40, std::byte{'*'})), 2, 2},
        DatCase{"NoEndMark", twoFields().rows(" *").endMark(false), 1, 2},
        DatCase{"CutLastRow",
                twoFields().rows(" *").recordCount(3).endMark(false).trailing(test::toBytes("*7x")), 2, 3},
        DatCase{"OtherStatusBytes", twoFields().rows(std::string("?\0*", 3)), 1, 3},
        DatCase{"RecordLength32763", recordOf(32763).rows(" *"), 1, 2},
        DatCase{"RecordLength65530", recordOf(65530).rows("* "), 1, 2},
        DatCase{"AcrossReadChunks", DatBuilder().field("A", 200).field("B", 100).rows(manyRows()), 714, 5000},
        // failures: the result .DAT keeps what was written, the header alone or nothing
        DatCase{"RecordLengthZero", twoFields().rows("*").recordLength(0), -1, 97 + 64,
                "5 Invalid procedure call"},
        DatCase{"RecordTooLong", recordOf(65531).rows(" "), -1, 0, "6 Overflow"},
        DatCase{"HeaderTooLong", twoFields().rows(" ").headerLength(65472), -1, 0, "6 Overflow"},
        DatCase{"PositionsBeyond2GB", twoFields().rows(" ").recordCount(200000000u), -1, 0, "6 Overflow"},
        DatCase{"HeaderPastEnd", twoFields().headerLength(5000), -1, 0, "62 Input past end of file"},
        DatCase{"ViewTable", twoFields().rows("*"), -1, 97 + 64 + 18 + 1, "5 The table definition in '",
                kView},
        DatCase{"FieldLinesMissing", twoFields().rows("*"), -1, 97 + 64 + 18 + 1, "9 Subscript out of range",
                "!table\r\nDefinition Table\r\n Type NATIVE\r\n Fields 3\r\n  ID Integer ;\r\n"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(DatRecoverTest, MissingTabLeftoversLinksAndFullDisk)
{
    mapinfoTableFilesPull none;
    EXPECT_EQ(doDelDAT_recover(none, &cap.log).count, -1);
    EXPECT_TRUE(test::snapshot(dir()).empty());

    test::writeBytes(dir() / "victim", Bytes(10, std::byte{'v'}));
    test::writeBytes(dir() / "t#r_dat.dat", Bytes(100000, std::byte{'*'})); // longer, other case, read-only
    fs::permissions(dir() / "t#r_dat.dat", fs::perms::owner_read);
    const DatBuilder dat = twoFields().rows(" * ");
    EXPECT_EQ(recover(dat).count, 1);
    EXPECT_EQ(test::readBytes(dir() / "t#R_DAT.DAT"), expectedResult(dat.bytes(), 3));
    for (const auto& entry : fs::directory_iterator(dir()))
        EXPECT_NE(entry.path().filename(), "t#r_dat.dat"); // gone in its old spelling

    fs::remove(dir() / "t#R_DAT.DAT");
    const bool links = test::makeSymlink(dir() / "victim", dir() / "t#R_DAT.DAT");
    if (links) {
        EXPECT_EQ(recover(dat).count, 1);
        EXPECT_FALSE(fs::is_symlink(dir() / "t#R_DAT.DAT"));
        EXPECT_EQ(test::readBytes(dir() / "victim"), Bytes(10, std::byte{'v'}));
    }

    // A failed call leaves no result .TAB of an earlier one beside its own .DAT.
    fileSystem().setFaultHook([](std::string_view op, const std::string& p) {
        if (op == "write" && p.ends_with("#R_DAT.DAT"))
            throw RecoverError(kErrDiskFull, "Disk full");
    });
    EXPECT_EQ(recover(dat).count, -1);
    EXPECT_FALSE(exists("t#R_DAT.TAB"));
    fileSystem().setFaultHook(nullptr);

    if (links) {
        fs::create_symlink(dir() / "nowhere", dir() / "t#R_DAT.TAB"); // dangling: refused, not followed
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
