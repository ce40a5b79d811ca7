#include <gtest/gtest.h>

#include <filesystem>

#include "io/file_system.h"
#include "io/paths.h"
#include "recovery/run.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"
#include "table/tab_text.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class RunTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        for (const char* sub : {"in", "out", "tmp"})
            fs::create_directories(dir() / sub);
        m_tmp.emplace(dir() / "tmp");
        fileSystem().startNewRun();
    }
    void TearDown() override
    {
        m_tmp.reset();
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }

    // Checks what every run must do (input unchanged, colour restored, two beeps, start line first,
    // end line and warning block last) and returns the lines between start and end line.
    Lines run(const std::string& input, const std::string& output, bool all, RunVerdict expected)
    {
        frontend = test::TestFrontend();
        const auto before = test::snapshot(dir() / "in");
        EXPECT_EQ(runRecovery(frontend, RunInput{input, output, all}).verdict, expected);
        EXPECT_EQ(test::snapshot(dir() / "in"), before) << "the input changed";
        EXPECT_EQ(frontend.flips, 2);
        EXPECT_EQ(frontend.colour, 0xF0FFFFu);
        EXPECT_EQ(frontend.beeps, 2);
        EXPECT_EQ(frontend.capture.log.caret(), frontend.capture.log.text().size());
        const Lines lines = frontend.capture.lines(), warning = test::warningBlockLines();
        const auto w = static_cast<long>(warning.size());
        if (lines.size() < warning.size() + 2) {
            ADD_FAILURE() << testing::PrintToString(lines);
            return lines;
        }
        EXPECT_EQ(lines.front(), std::string("<<< ") + test::kFixedTime + input + "*** ");
        EXPECT_EQ(lines.end()[-w - 1], std::string(">>> ") + test::kFixedTime + input + "*** ");
        EXPECT_EQ(Lines(lines.end() - w, lines.end()), warning);
        return Lines(lines.begin() + 1, lines.end() - w - 1);
    }

    std::string in(const std::string& name) const { return test::utf8(dir() / "in" / name); }
    std::string out(const std::string& name = "") const
    {
        return test::utf8(name.empty() ? dir() / "out" : dir() / "out" / name);
    }
    static std::string t(const std::string& text) { return text + test::kFixedTime; }
    std::string restored(int n, const char* what, const std::string& tab) const
    {
        return " +!+ " + std::to_string(n) + " deleteted " + what + " were restored to file '" + out(tab) +
               "' +!+";
    }

    test::TestFrontend frontend;

private:
    std::optional<test::ScopedTempFolder> m_tmp;
};

struct DatRun {
    const char* name;
    const char* statuses;
    bool all, trailingSeparator;
    int restored; // -1: nothing to do
    bool earlier = false; // an earlier run's results and an older backup are in the output folder
    friend void PrintTo(const DatRun& c, std::ostream* os) { *os << c.name; }
};

class RunDatTest : public RunTest, public ::testing::WithParamInterface<DatRun> {};

TEST_P(RunDatTest, MovesTheAttributeResultOnlyWhenThereIsOne)
{
    const DatRun& c = GetParam();
    const auto table = test::writeSimpleTable(dir() / "in", "roads", c.statuses);
    const std::string folder = out() + (c.trailingSeparator ? std::string(1, pathSeparator()) : "");
    if (c.restored < 0) {
        EXPECT_EQ(run(in("roads.TAB"), folder, c.all, RunVerdict::DriverError),
                  Lines{t("*** ends by ERROR at ")});
        EXPECT_TRUE(fs::is_empty(dir() / "out"));
        EXPECT_TRUE(fs::is_empty(dir() / "tmp")) << "no working copy when there is nothing to do";
        return;
    }
    const std::string tab = out("roads_DAT.TAB"), dat = out("roads_DAT.DAT");
    Lines expected{restored(c.restored, "Attributes", "roads_DAT.TAB"), t("*** Ends by OK at ")};
    if (c.earlier) {
        for (const std::string& name : {tab, dat, tab + ".bak"})
            test::writeText(test::u8path(name), "old " + name);
        expected.insert(expected.begin(), {"File '" + tab + ".bak' was deleted.",
                                           "File '" + tab + "' was backuped as '" + tab + ".bak'.",
                                           "File '" + dat + "' was backuped as '" + dat + ".bak'."});
    }
    EXPECT_EQ(run(in("roads.TAB"), folder, c.all, RunVerdict::EndsByOk), expected);
    if (c.earlier) {
        EXPECT_EQ(test::readText(test::u8path(tab + ".bak")), "old " + tab);
        EXPECT_EQ(test::readText(test::u8path(dat + ".bak")), "old " + dat);
    }
    const auto rows = static_cast<std::uint32_t>(std::string(c.statuses).size());
    EXPECT_EQ(test::readBytes(test::u8path(dat)),
              test::expectedDatResult(test::readBytes(table.datPath), rows));
    EXPECT_EQ(test::readText(test::u8path(tab)), makeDatResultTabText(test::readText(table.tabPath)));
    EXPECT_EQ(test::snapshot(dir() / "out").size(), c.earlier ? 4u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunDatTest,
                         ::testing::Values(DatRun{"NothingDeleted", "   ", false, false, -1},
                                           DatRun{"NothingDeletedRestoreAll", "  ", true, false, 0},
                                           DatRun{"DeletedRows", " * *", false, false, 2},
                                           DatRun{"TrailingSeparator", "*", true, true, 1},
                                           DatRun{"EarlierResultsBackedUp", "*", false, false, 1, true}),
                         [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(RunTest, UnusableInputOrOutputFolderMovesNothing)
{
    test::writeSimpleTable(dir() / "in", "roads", "*");
    test::writeText(dir() / "file", "x");
    fs::create_directories(dir() / "in" / "folder.TAB");
    test::writeText(dir() / "in" / "lonely.TAB", "!table\r\n"); // unusable, yet it opens
    const std::string error = t("*** ends by ERROR at ");
    const auto unopened = [](const std::string& p) {
        return "File '" + p + "' not exists or can't be opened.";
    };
    const struct {
        std::string input, output;
        RunVerdict verdict;
        Lines mid; // empty: the output folder message instead
    } cases[] = {
        {in("roads.TAB"), out("missing"), RunVerdict::OutputFolderMissing, {}},
        {in("roads.TAB"), test::utf8(dir() / "file"), RunVerdict::OutputFolderMissing, {}},
        {in("roads.TAB"), "", RunVerdict::OutputFolderMissing, {}},
        {"", out(), RunVerdict::DriverError, {unopened(""), error}},
        {in("missing.TAB"), out(), RunVerdict::DriverError, {unopened(in("missing.TAB")), error}},
        {in("folder.TAB"), out(), RunVerdict::DriverError, {unopened(in("folder.TAB")), error}},
        {in("lonely.TAB"), out(), RunVerdict::DriverError, {error}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.input, c.output, true, c.verdict), c.mid) << c.input << " -> " << c.output;
        EXPECT_EQ(frontend.messages, c.mid.empty() ? Lines{std::string(kWrongOutputFolderMessage)} : Lines{});
    }
    EXPECT_TRUE(fs::is_empty(dir() / "out"));
}

TEST_F(RunTest, InputAndOutputInOneFolderWithAwkwardNames)
{
    std::string name = "мои 'данные'";
    if (pathSeparator() == '/')
        name += " \"x\""; // Windows allows no quotes in names
    const fs::path folder = dir() / "in" / test::u8path(name);
    fs::create_directories(folder);
    const auto table = test::writeSimpleTable(folder, "Дороги 2015", "**");
    const auto before = test::readBytes(test::u8path(table.datPath));
    EXPECT_EQ(runRecovery(frontend, RunInput{table.tabPath, test::utf8(folder), false}).verdict,
              RunVerdict::EndsByOk);
    EXPECT_EQ(test::readBytes(test::u8path(table.datPath)), before);
    EXPECT_EQ(test::readBytes(folder / test::u8path("Дороги 2015_DAT.DAT")),
              test::expectedDatResult(before, 2));
}

test::MapBuilder twoObjects(std::uint32_t secondRowField)
{
    using test::MapObject;
    return test::MapBuilder().objectBlock({MapObject::of(0x02, 1), MapObject::of(0x0E, secondRowField)});
}

// The attribute result is made too, but with no deleted row it stays in the temporary folder.
TEST_F(RunTest, DeletedGeometriesAreRestored)
{
    const auto map = twoObjects(0x40000002);
    const auto mid = run(test::writeMapTable(dir() / "in", "roads", map), out(), false, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (Lines{restored(1, "Geometries", "roads_MAP.TAB"), t("*** Ends by OK at ")}));
    const std::vector<test::MapResultRow> rows = {{map.recordOffset(0, 0), 1, "  02"},
                                                  {map.recordOffset(0, 1), 2, "D 0E"}};
    EXPECT_EQ(test::readBytes(out("roads_MAP.DAT")), test::expectedMapResultDat(rows));
    EXPECT_EQ(test::readBytes(out("roads_MAP.ID")), test::expectedMapResultId(rows));
    const test::Bytes result = test::readBytes(out("roads_MAP.MAP"));
    EXPECT_EQ(test::getLE32(result, map.recordOffset(0, 1) + 1), 2u) << "live and renumbered";
    EXPECT_EQ(test::snapshot(dir() / "out").size(), 4u);

    // Without a .DAT the good geometry result is still moved.
    fs::remove(dir() / "in" / "roads.DAT");
    test::removeTree(dir() / "out");
    fs::create_directories(dir() / "out");
    EXPECT_EQ(run(in("roads.TAB"), out(), false, RunVerdict::EndsByOk), mid);
}

TEST_F(RunTest, FailedGeometryRecoveryKeepsTheAttributeResult)
{
    // A block size the walk cannot follow: the count fails, so the recovery runs and fails too.
    const std::string tab = test::writeMapTable(dir() / "in", "roads", twoObjects(2).blockSize(16384));
    test::DatBuilder().field("NAME", 8).rows("*").write(dir() / "in" / "roads.DAT");
    EXPECT_EQ(run(tab, out(), false, RunVerdict::EndsByError),
              (Lines{"+++ mapinfoRecoverTable::getDelMAPcount()+++ 5 Unsupported .MAP block size 16384 "
                     "(only 512 is supported)",
                     "+++ mapinfoRecoverTable::doDelMAP_ID_recover()+++ 5 Unsupported .MAP block size 16384 "
                     "(only 512 is supported)",
                     restored(1, "Attributes", "roads_DAT.TAB"), t("*** Ends by ERROR at ")}));
    EXPECT_FALSE(fs::exists(out("roads_MAP.TAB")));
}

TEST_F(RunTest, LongLogIsClearedAtStart)
{
    test::writeSimpleTable(dir() / "in", "roads", " ");
    for (const std::size_t kept : {kRunClearLimit + 1, kRunClearLimit}) {
        frontend = test::TestFrontend();
        frontend.capture.log.setText(std::string(kept, 'x'));
        runRecovery(frontend, RunInput{in("roads.TAB"), out(), false});
        EXPECT_EQ(frontend.capture.log.text().find(std::string(kept, 'x')) == 0, kept == kRunClearLimit);
    }
}

} // namespace
} // namespace tabrescue
