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

void appendDescriptor(Bytes& b, const std::string& name, std::uint8_t length)
{
    Bytes d(32, std::byte{0});
    for (std::size_t i = 0; i < name.size(); ++i)
        d[i] = static_cast<std::byte>(name[i]);
    d[11] = std::byte{'C'};
    d[16] = std::byte{length};
    b.insert(b.end(), d.begin(), d.end());
}

// The result of the first `rows` row slots of an input .DAT, built from the layout.
Bytes expectedResult(const Bytes& in, std::uint32_t rows)
{
    const std::uint16_t h = test::getLE16(in, 8), r = test::getLE16(in, 10);
    Bytes e(in.begin(), in.begin() + h - 1);
    test::putLE32(e, 4, rows);
    test::putLE16(e, 8, static_cast<std::uint16_t>(h + 64));
    test::putLE16(e, 10, static_cast<std::uint16_t>(r + 5));
    appendDescriptor(e, "RowId_old", 4);
    appendDescriptor(e, "rec_status", 1);
    e.push_back(std::byte{0x0D});
    for (std::uint32_t k = 0; k < rows; ++k) {
        const std::size_t at = h + std::size_t{k} * r;
        Bytes row(in.begin() + static_cast<std::ptrdiff_t>(at),
                  in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), at + r)));
        row.resize(r, std::byte{0});
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
    return DatBuilder().field("ID", 4).field("NAME", 8);
}

// Fields whose record, status byte included, is `length` bytes long.
DatBuilder recordOf(std::uint32_t length)
{
    DatBuilder b;
    for (std::uint32_t left = length - 1; left > 0; left -= std::min<std::uint32_t>(left, 255))
        b.field("F", static_cast<std::uint8_t>(std::min<std::uint32_t>(left, 255)));
    return b;
}

class DatRecoverFixture : public test::TempDirTest
{
  protected:
    void TearDown() override
    {
        fileSystem().setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }
    RecoverResult recover(const DatBuilder& dat, const std::string& tabText)
    {
        test::writeText(dir() / "t.TAB", tabText);
        if (noDat) { // still a usable table, through its geometry files
            test::writeText(dir() / "t.MAP", "");
            test::writeText(dir() / "t.ID", "");
        } else {
            dat.write(dir() / "t.DAT");
        }
        before = test::snapshot(dir());
        mapinfoTableFilesPull table;
        table.initByTABpath(path("t.TAB"));
        return doDelDAT_recover(table, &cap.log);
    }
    std::string defaultTab() const
    {
        return test::TabTextBuilder().field("ID Integer").field("NAME Char (8)").text();
    }
    bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(dir() / name)); }
    test::LogCapture cap;
    test::Snapshot before;
    bool noDat = false;
};

struct RowsCase
{
    const char* name;
    DatBuilder dat;
    std::uint32_t rowsWritten;
    std::int32_t deleted;
};

void PrintTo(const RowsCase& c, std::ostream* os)
{
    *os << c.name;
}

class DatRecoverRows : public DatRecoverFixture, public ::testing::WithParamInterface<RowsCase>
{
};

TEST_P(DatRecoverRows, EveryRowComesBackLive)
{
    const auto& c = GetParam();
    const RecoverResult r = recover(c.dat, defaultTab());
    EXPECT_EQ(r.count, c.deleted) << cap.log.text();
    EXPECT_EQ(r.tabPath, path("t#R_DAT.TAB"));
    const Bytes in = c.dat.bytes();
    EXPECT_EQ(
        test::firstDifference(test::readBytes(dir() / "t#R_DAT.DAT"), expectedResult(in, c.rowsWritten)), "");
    EXPECT_EQ(test::readText(dir() / "t#R_DAT.TAB"), makeDatResultTabText(defaultTab()));
    EXPECT_EQ(getDelDATcount(path("t#R_DAT.DAT"), nullptr), 0); // a second reader sees only live rows
    const auto after = test::snapshot(dir());
    EXPECT_EQ(after.at("t.DAT"), before.at("t.DAT"));
    EXPECT_EQ(after.at("t.TAB"), before.at("t.TAB"));
    EXPECT_TRUE(cap.log.text().empty()) << cap.log.text();
}

std::string manyRows()
{
    std::string s;
    for (int i = 0; i < 5000; ++i)
        s += (i % 7 == 3) ? '*' : ' ';
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DatRecoverRows,
    ::testing::Values(
        RowsCase{"SecondOfThreeDeleted", twoFields().rows(" * "), 3, 1},
        RowsCase{"NoneDeleted", twoFields().rows("   "), 3, 0}, RowsCase{"NoRows", twoFields(), 0, 0},
        RowsCase{"EndMarkBeforeCount",
                 twoFields().rows("**").recordCount(5).trailing(Bytes(40, std::byte{'*'})), 2, 2},
        RowsCase{"NoEndMark", twoFields().rows(" *").endMark(false), 2, 1},
        RowsCase{"PartialLastRow",
                 twoFields().rows(" *").recordCount(3).endMark(false).trailing(test::toBytes("*7x")), 3, 2},
        RowsCase{"OtherStatusBytes", twoFields().rows(std::string("?\0*", 3)), 3, 1},
        RowsCase{"SlotAfterCountIsRead", twoFields().rows("**").recordCount(1).endMark(false), 2, 2},
        RowsCase{"RecordLength32763", recordOf(32763).rows(" *"), 2, 1},
        RowsCase{"RecordLength65530", recordOf(65530).rows("* "), 2, 1},
        RowsCase{"AcrossReadChunks", DatBuilder().field("A", 200).field("B", 100).rows(manyRows()), 5000,
                 714}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

struct FailCase
{
    const char* name;
    DatBuilder dat;
    std::string tab; // "" uses the default definition
    std::string line;
    std::size_t resultDatSize; // bytes left in the result .DAT
    bool noDat = false;
};

void PrintTo(const FailCase& c, std::ostream* os)
{
    *os << c.name;
}

class DatRecoverFails : public DatRecoverFixture, public ::testing::WithParamInterface<FailCase>
{
};

TEST_P(DatRecoverFails, OneErrorLineAndNoResultTab)
{
    const auto& c = GetParam();
    noDat = c.noDat;
    const RecoverResult r = recover(c.dat, c.tab.empty() ? defaultTab() : c.tab);
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.tabPath, "");
    ASSERT_EQ(cap.lines().size(), 1u) << cap.log.text();
    EXPECT_EQ(cap.lines()[0].rfind("+++ mapinfoRecoverTable::doDelDAT_recover()+++ " + c.line, 0), 0u)
        << cap.lines()[0];
    EXPECT_FALSE(exists("t#R_DAT.TAB"));
    EXPECT_EQ(test::readBytes(dir() / "t#R_DAT.DAT").size(), c.resultDatSize);
}

const std::string kView = "!table\n!version 300\n\nOpen Table \"a\" Hide\nCreate View t As Select * From a\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, DatRecoverFails,
    ::testing::Values(
        FailCase{"RecordLengthZero", twoFields().rows("*").recordLength(0), "", "5 ", 97 + 64},
        FailCase{"RecordTooLongForField", recordOf(65531).rows(" "), "", "6 ", 0},
        FailCase{"HeaderTooLongForField", twoFields().rows(" ").headerLength(65472), "", "6 ", 0},
        FailCase{"HeaderShorterThanFixedPart", twoFields().rows(" ").headerLength(20), "", "5 ", 0},
        FailCase{"CountBeyondInt32", twoFields().rows(" ").recordCount(0x80000000u), "", "6 ", 0},
        FailCase{"PositionsBeyond2GB", twoFields().rows(" ").recordCount(200000000u), "", "6 ", 0},
        FailCase{"HeaderPastEnd", twoFields().headerLength(5000), "", "62 ", 0},
        FailCase{"MissingDat", twoFields(), "", "53 ", 0, true},
        FailCase{"ViewTable", twoFields().rows("*"), kView, "5 The table definition in '", 97 + 64 + 18 + 1},
        FailCase{"EmptyTab", twoFields().rows("*"), "\r\n", "5 ", 97 + 64 + 18 + 1},
        FailCase{"FieldLinesMissing", twoFields().rows("*"),
                 "!table\r\nDefinition Table\r\n Type NATIVE\r\n Fields 3\r\n  ID Integer ;\r\n", "9 ",
                 97 + 64 + 18 + 1}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(DatRecoverFixture, MissingTabTouchesNothing)
{
    mapinfoTableFilesPull none;
    EXPECT_EQ(doDelDAT_recover(none, &cap.log).count, -1);
    EXPECT_EQ(cap.lines(), std::vector<std::string>{"File '' was not  found."});
    EXPECT_TRUE(test::snapshot(dir()).empty());
}

TEST_F(DatRecoverFixture, LeftoversAndPlantedLinksAreReplacedNotFollowed)
{
    test::writeBytes(dir() / "victim", Bytes(10, std::byte{'v'}));
    test::writeBytes(dir() / "t#r_dat.dat", Bytes(100000, std::byte{'*'})); // longer, other case, read-only
    fs::permissions(dir() / "t#r_dat.dat", fs::perms::owner_read);
    const DatBuilder dat = twoFields().rows(" * ");
    EXPECT_EQ(recover(dat, defaultTab()).count, 1);
    EXPECT_EQ(test::readBytes(dir() / "t#R_DAT.DAT"), expectedResult(dat.bytes(), 3));
    EXPECT_FALSE(exists("t#r_dat.dat"));

    fs::remove(dir() / "t#R_DAT.DAT");
    fs::create_symlink(dir() / "victim", dir() / "t#R_DAT.DAT");
    EXPECT_EQ(recover(dat, defaultTab()).count, 1);
    EXPECT_FALSE(fs::is_symlink(dir() / "t#R_DAT.DAT"));
    EXPECT_EQ(test::readBytes(dir() / "victim"), Bytes(10, std::byte{'v'}));

    fs::remove(dir() / "t#R_DAT.TAB");
    fs::create_symlink(dir() / "nowhere", dir() / "t#R_DAT.TAB"); // dangling: refused, not followed
    EXPECT_EQ(recover(dat, defaultTab()).count, -1);
    EXPECT_FALSE(exists("nowhere"));
}

TEST_F(DatRecoverFixture, FullDiskIsAFailure)
{
    fileSystem().setFaultHook([](std::string_view op, const std::string& p) {
        if (op == "write" && p.find("#R_DAT.DAT") != std::string::npos)
            throw RecoverError(kErrDiskFull, "Disk full");
    });
    EXPECT_EQ(recover(twoFields().rows(" * "), defaultTab()).count, -1);
    EXPECT_EQ(cap.lines(),
              std::vector<std::string>{"+++ mapinfoRecoverTable::doDelDAT_recover()+++ 61 Disk full"});
    EXPECT_FALSE(exists("t#R_DAT.TAB"));
}

} // namespace
} // namespace tabrescue
