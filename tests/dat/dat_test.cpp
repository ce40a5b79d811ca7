#include <gtest/gtest.h>

#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "support/log_capture.h"
#include "support/table_builders.h"

namespace tabrescue {
namespace {

using DatTest = test::MemoryDirTest;

// What a run's log does not show: the flag that tells a failed count from a clean one, and what a
// failed recovery leaves beside the working copy.
TEST_F(DatTest, FailuresAndWhatTheyLeave)
{
    const std::string clean = test::writeSimpleTable(dir(), "c", "**").datPath;
    test::writeSimpleTable(dir(), "t", "*");
    test::DatBuilder().field("ID", 4).rows("*").recordLength(0).write(dir() / "t.DAT");
    test::LogCapture cap;
    bool failed = true;
    EXPECT_EQ(getDelDATcount(clean, &cap.log, &failed), 2);
    EXPECT_FALSE(failed);
    EXPECT_EQ(getDelDATcount(path("t.DAT"), &cap.log, &failed), 0);
    EXPECT_TRUE(failed);
    mapinfoTableFilesPull table;
    table.initByTABpath(path("t.TAB"));
    EXPECT_EQ(doDelDAT_recover(table, &cap.log).count, -1);
    EXPECT_EQ(test::fileSize(path("t#R_DAT.DAT")), 65u + 64u) << "its header, no row or end mark";
    EXPECT_FALSE(test::isFile(dir() / "t#R_DAT.TAB"));
    const std::vector<std::string> lines = cap.lines();
    ASSERT_EQ(lines.size(), 2u) << cap.log.text();
    EXPECT_TRUE(lines[0].starts_with("+++ mapinfoRecoverTable::getDelDATcount()+++ 5 ")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("+++ mapinfoRecoverTable::doDelDAT_recover()+++ 5 ")) << lines[1];
}

// A file that ends inside its last row, even one byte short, still gives that row its whole length.
TEST_F(DatTest, CutLastRowKeepsItsLength)
{
    std::uintmax_t sizes[2] = {};
    for (const int cut : {0, 1}) {
        const std::string name = "c" + std::to_string(cut);
        test::writeSimpleTable(dir(), name, " *");
        test::DatBuilder().field("ID", 4).rows(" *").endMark(false).write(dir() / (name + ".DAT"));
        test::resizeFile(dir() / (name + ".DAT"), test::fileSize(dir() / (name + ".DAT")) - cut);
        mapinfoTableFilesPull table;
        table.initByTABpath(path(name + ".TAB"));
        test::LogCapture cap;
        EXPECT_EQ(doDelDAT_recover(table, &cap.log).count, 1) << cap.log.text();
        sizes[cut] = test::fileSize(path(name + "#R_DAT.DAT"));
    }
    EXPECT_EQ(sizes[1], sizes[0]);
}

using DatCountTest = test::MemoryDirTest;

// The count reads one slot past the claimed rows and stops at the end mark, wherever it stands.
TEST_F(DatCountTest, ClaimedRowsAndEndMarkBoundTheCount)
{
    const struct {
        test::DatBuilder dat;
        std::int32_t deleted;
    } cases[] = {
        {test::DatBuilder().field("A", 1).rows("* *").recordCount(2).endMark(false), 2},
        {test::DatBuilder().field("A", 1).rows("* *").recordCount(1).endMark(false), 1},
        {test::DatBuilder().field("A", 1).rows("*").recordCount(3).trailing({std::byte{' '}, std::byte{'*'}}), 1},
    };
    for (const auto& c : cases) {
        c.dat.write(dir() / "t.DAT");
        test::LogCapture cap;
        bool failed = true;
        EXPECT_EQ(getDelDATcount(path("t.DAT"), &cap.log, &failed), c.deleted);
        EXPECT_FALSE(failed) << cap.log.text();
    }
}

} // namespace
} // namespace tabrescue
