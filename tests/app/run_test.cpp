#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/run.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"
#include "table/file_system.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// The attribute result of a .DAT, built from the layout: every row live, RowId_old and rec_status
// appended, two descriptors added, header length + 64, record length + 5.
Bytes expectedDatResult(const Bytes& in)
{
    const std::uint32_t count = test::getLE32(in, 4);
    const std::uint16_t h = test::getLE16(in, 8);
    const std::uint16_t r = test::getLE16(in, 10);
    Bytes out(in.begin(), in.begin() + h - 1);
    auto descriptor = [&](const std::string& name, std::uint8_t length) {
        Bytes d(32, std::byte{0});
        for (std::size_t i = 0; i < name.size(); ++i)
            d[i] = static_cast<std::byte>(name[i]);
        d[11] = std::byte{'C'};
        d[16] = static_cast<std::byte>(length);
        out.insert(out.end(), d.begin(), d.end());
    };
    descriptor("RowId_old", 4);
    descriptor("rec_status", 1);
    out.push_back(std::byte{0x0D});
    std::uint32_t rows = 0;
    for (std::uint32_t k = 0; k <= count; ++k) {
        const std::size_t at = h + std::size_t{k} * r;
        if (at >= in.size() || in[at] == std::byte{0x1A})
            break;
        Bytes row(in.begin() + at, in.begin() + at + r);
        const bool deleted = row[0] == std::byte{'*'};
        row[0] = std::byte{' '};
        out.insert(out.end(), row.begin(), row.end());
        test::appendLE32(out, ++rows);
        out.push_back(deleted ? std::byte{'D'} : std::byte{' '});
    }
    out.push_back(std::byte{0x1A});
    test::putLE32(out, 4, rows);
    test::putLE16(out, 8, static_cast<std::uint16_t>(h + 64));
    test::putLE16(out, 10, static_cast<std::uint16_t>(r + 5));
    return out;
}

// The definition text of a result: field count + 2 and the two field lines after the last field.
std::string expectedTabResult(const std::vector<std::string>& fields)
{
    test::TabTextBuilder b;
    for (const auto& f : fields)
        b.field(f);
    b.field("RowId_old Integer").field("rec_status Char (1)");
    return b.text();
}

class RunTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        fs::create_directories(dir() / "in");
        fs::create_directories(dir() / "out");
        fs::create_directories(dir() / "tmp");
        m_tmp.emplace(dir() / "tmp");
        fileSystem().startNewRun();
    }
    void TearDown() override
    {
        m_tmp.reset();
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }

    // Runs and checks what every run must do: input unchanged, colour restored, two beeps, the
    // start line first and the end line and warning block last.
    std::vector<std::string> run(const std::string& input, const std::string& output, bool all,
                                 RunVerdict expected)
    {
        const auto before = test::snapshot(dir() / "in");
        const RunOutcome outcome = runRecovery(frontend, RunInput{input, output, all});
        EXPECT_EQ(outcome.verdict, expected);
        EXPECT_EQ(test::snapshot(dir() / "in"), before) << "the input changed";
        EXPECT_EQ(frontend.flips, 2);
        EXPECT_EQ(frontend.colour, 0xF0FFFFu);
        EXPECT_EQ(frontend.beeps, 2);
        auto lines = frontend.capture.lines();
        const auto warning = test::warningBlockLines();
        EXPECT_GE(lines.size(), warning.size() + 2);
        if (lines.size() < warning.size() + 2)
            return lines;
        EXPECT_EQ(lines.front(), std::string("<<< ") + test::kFixedTime + input + "*** ");
        EXPECT_EQ(lines[lines.size() - warning.size() - 1], std::string(">>> ") + test::kFixedTime + input + "*** ");
        EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(warning.size()), lines.end()), warning);
        EXPECT_EQ(frontend.capture.log.caret(), frontend.capture.log.text().size());
        // Between the start line and the end line.
        return std::vector<std::string>(lines.begin() + 1, lines.end() - static_cast<long>(warning.size()) - 1);
    }

    std::string in(const std::string& name) const { return test::utf8(dir() / "in" / test::u8path(name)); }
    std::string out(const std::string& name = "") const
    {
        return test::utf8(name.empty() ? dir() / "out" : dir() / "out" / test::u8path(name));
    }
    static std::string t(const std::string& text) { return text + test::kFixedTime; }

    test::TestFrontend frontend;

private:
    std::optional<test::ScopedTempFolder> m_tmp;
};

TEST_F(RunTest, NothingDeletedWithoutOptionEndsByErrorAndMovesNothing)
{
    test::writeSimpleTable(dir() / "in", "roads", "   ");
    const auto mid = run(in("roads.TAB"), out(), false, RunVerdict::DriverError);
    EXPECT_EQ(mid, std::vector<std::string>{t("*** ends by ERROR at ")});
    EXPECT_TRUE(fs::is_empty(dir() / "out"));
    EXPECT_TRUE(fs::is_empty(dir() / "tmp")) << "no working copy when there is nothing to do";
}

TEST_F(RunTest, NothingDeletedWithOptionMovesAttributeResult)
{
    const auto table = test::writeSimpleTable(dir() / "in", "roads", "  ");
    const auto mid = run(in("roads.TAB"), out(), true, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (std::vector<std::string>{
                       " +!+ 0 deleteted Attributes were restored to file '" + out("roads_DAT.TAB") + "' +!+",
                       t("*** Ends by OK at ")}));
    EXPECT_EQ(test::readBytes(out("roads_DAT.DAT")), expectedDatResult(test::readBytes(table.datPath)));
    EXPECT_EQ(test::readText(out("roads_DAT.TAB")), expectedTabResult({"ID Integer", "NAME Char (8)"}));
    EXPECT_EQ(test::snapshot(dir() / "out").size(), 2u);
}

TEST_F(RunTest, DeletedRowsAreRestored)
{
    const auto table = test::writeSimpleTable(dir() / "in", "roads", " * *");
    const auto mid = run(in("roads.TAB"), out() + pathSeparator(), false, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (std::vector<std::string>{
                       " +!+ 2 deleteted Attributes were restored to file '" + out("roads_DAT.TAB") + "' +!+",
                       t("*** Ends by OK at ")}));
    EXPECT_EQ(test::readBytes(out("roads_DAT.DAT")), expectedDatResult(test::readBytes(table.datPath)));
}

TEST_F(RunTest, TrailingSeparatorGivesSameDestination)
{
    test::writeSimpleTable(dir() / "in", "a", "*");
    test::writeSimpleTable(dir() / "in", "b", "*");
    runRecovery(frontend, RunInput{in("a.TAB"), out(), false});
    runRecovery(frontend, RunInput{in("b.TAB"), out() + "/", false});
    EXPECT_TRUE(fs::exists(out("a_DAT.TAB")));
    EXPECT_TRUE(fs::exists(out("b_DAT.TAB")));
    EXPECT_EQ(test::snapshot(dir() / "out").size(), 4u);
}

TEST_F(RunTest, MissingOutputFolderShowsMessageOnce)
{
    test::writeSimpleTable(dir() / "in", "roads", "*");
    test::writeText(dir() / "file", "x");
    for (const std::string& folder : {out("missing"), (dir() / "file").string(), std::string()}) {
        frontend = test::TestFrontend();
        const auto mid = run(in("roads.TAB"), folder, false, RunVerdict::OutputFolderMissing);
        EXPECT_TRUE(mid.empty()) << "no verdict line, no +!+ line";
        ASSERT_EQ(frontend.messages.size(), 1u);
        EXPECT_EQ(frontend.messages[0], kWrongOutputFolderMessage);
    }
    EXPECT_TRUE(fs::is_empty(dir() / "out"));
}

TEST_F(RunTest, BadInputEndsByError)
{
    fs::create_directories(dir() / "in" / "folder.TAB");
    test::writeText(dir() / "in" / "lonely.TAB", "!table\r\n");
    for (const std::string& input : {std::string(), in("missing.TAB"), in("folder.TAB"), in("lonely.TAB")}) {
        frontend = test::TestFrontend();
        const auto mid = run(input, out(), true, RunVerdict::DriverError);
        ASSERT_FALSE(mid.empty());
        EXPECT_EQ(mid.back(), t("*** ends by ERROR at "));
        if (input != in("lonely.TAB")) { // an unusable group is not reported by the open check
            EXPECT_EQ(mid.front(), "File '" + input + "' not exists or can't be opened.");
        }
    }
    EXPECT_TRUE(fs::is_empty(dir() / "out"));
}

TEST_F(RunTest, FailedMoveEndsByErrorAndKeepsOldFiles)
{
    test::writeSimpleTable(dir() / "in", "roads", "*");
    fs::create_directories(dir() / "out" / "roads_DAT.TAB"); // the name is taken by a folder
    test::writeText(dir() / "out" / "roads_DAT.DAT", "old data");
    const auto mid = run(in("roads.TAB"), out(), false, RunVerdict::EndsByError);
    ASSERT_FALSE(mid.empty());
    EXPECT_EQ(mid.back(), t("*** Ends by ERROR at "));
    for (const auto& line : mid)
        EXPECT_EQ(line.find(" +!+ "), std::string::npos) << line;
    EXPECT_EQ(test::readText(dir() / "out" / "roads_DAT.DAT.bak"), "old data");
    EXPECT_TRUE(fs::is_directory(dir() / "out" / "roads_DAT.TAB"));
}

TEST_F(RunTest, ExistingResultsAreBackedUp)
{
    const auto table = test::writeSimpleTable(dir() / "in", "roads", "*");
    test::writeText(dir() / "out" / "roads_DAT.TAB", "old tab");
    test::writeText(dir() / "out" / "roads_DAT.DAT", "old dat");
    test::writeText(dir() / "out" / "roads_DAT.TAB.bak", "older tab");
    const auto mid = run(in("roads.TAB"), out(), false, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (std::vector<std::string>{
                       "File '" + out("roads_DAT.TAB") + ".bak' was deleted.",
                       "File '" + out("roads_DAT.TAB") + "' was backuped as '" + out("roads_DAT.TAB") + ".bak'.",
                       "File '" + out("roads_DAT.DAT") + "' was backuped as '" + out("roads_DAT.DAT") + ".bak'.",
                       " +!+ 1 deleteted Attributes were restored to file '" + out("roads_DAT.TAB") + "' +!+",
                       t("*** Ends by OK at ")}));
    EXPECT_EQ(test::readText(dir() / "out" / "roads_DAT.TAB.bak"), "old tab");
    EXPECT_EQ(test::readText(dir() / "out" / "roads_DAT.DAT.bak"), "old dat");
    EXPECT_EQ(test::readBytes(out("roads_DAT.DAT")), expectedDatResult(test::readBytes(table.datPath)));
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
    const RunOutcome o = runRecovery(frontend, RunInput{table.tabPath, test::utf8(folder), false});
    EXPECT_EQ(o.verdict, RunVerdict::EndsByOk);
    EXPECT_EQ(test::readBytes(test::u8path(table.datPath)), before);
    EXPECT_EQ(test::readBytes(folder / test::u8path("Дороги 2015_DAT.DAT")), expectedDatResult(before));
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
    const std::string tab = test::writeMapTable(dir() / "in", "roads", map);
    const auto mid = run(tab, out(), false, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (std::vector<std::string>{
                       " +!+ 1 deleteted Geometries were restored to file '" + out("roads_MAP.TAB") + "' +!+",
                       t("*** Ends by OK at ")}));
    const std::vector<test::MapResultRow> rows = {{map.recordOffset(0, 0), 1, "  02"},
                                                  {map.recordOffset(0, 1), 2, "D 0E"}};
    EXPECT_EQ(test::readBytes(out("roads_MAP.DAT")), test::expectedMapResultDat(rows));
    EXPECT_EQ(test::readBytes(out("roads_MAP.ID")), test::expectedMapResultId(rows));
    const Bytes result = test::readBytes(out("roads_MAP.MAP"));
    EXPECT_EQ(test::getLE32(result, map.recordOffset(0, 1) + 1), 2u) << "live and renumbered";
    EXPECT_EQ(test::getLE32(result, 316), 1u); // points
    EXPECT_EQ(test::getLE32(result, 324), 1u); // areas
    EXPECT_EQ(test::snapshot(dir() / "out").size(), 4u);
}

TEST_F(RunTest, GeometryWithoutAttributes)
{
    const std::string tab = test::writeMapTable(dir() / "in", "roads", twoObjects(0x80000002));
    fs::remove(dir() / "in" / "roads.DAT");
    const auto mid = run(tab, out(), false, RunVerdict::EndsByOk);
    EXPECT_EQ(mid, (std::vector<std::string>{
                       " +!+ 1 deleteted Geometries were restored to file '" + out("roads_MAP.TAB") + "' +!+",
                       t("*** Ends by OK at ")}));
}

TEST_F(RunTest, FailedGeometryRecoveryKeepsTheAttributeResult)
{
    // A block size the walk cannot follow: the count fails, so the recovery runs and fails too.
    const std::string tab = test::writeMapTable(dir() / "in", "roads", twoObjects(2).blockSize(16384));
    test::DatBuilder().field("NAME", 8).rows("*").write(dir() / "in" / "roads.DAT");
    const auto mid = run(tab, out(), false, RunVerdict::EndsByError);
    ASSERT_GE(mid.size(), 3u);
    EXPECT_EQ(mid[0], "+++ mapinfoRecoverTable::getDelMAPcount()+++ 5 Unsupported .MAP block size 16384 "
                      "(only 512 is supported)");
    EXPECT_EQ(mid[mid.size() - 2],
              " +!+ 1 deleteted Attributes were restored to file '" + out("roads_DAT.TAB") + "' +!+");
    EXPECT_EQ(mid.back(), t("*** Ends by ERROR at "));
    EXPECT_FALSE(fs::exists(out("roads_MAP.TAB")));
}

TEST_F(RunTest, LongLogIsClearedAtStart)
{
    test::writeSimpleTable(dir() / "in", "roads", " ");
    frontend.capture.log.setText(std::string(32257, 'x'));
    run(in("roads.TAB"), out(), false, RunVerdict::DriverError);
    EXPECT_EQ(frontend.capture.log.text().find('x'), std::string::npos);

    frontend = test::TestFrontend();
    frontend.capture.log.setText(std::string(32256, 'x'));
    runRecovery(frontend, RunInput{in("roads.TAB"), out(), false});
    EXPECT_EQ(frontend.capture.log.text().substr(0, 32256), std::string(32256, 'x'));
}

} // namespace
} // namespace tabrescue
