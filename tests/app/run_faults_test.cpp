// Failing file-system calls during a whole run: every call in turn, and real faults of the output
// folder. Whatever fails, the input keeps its bytes, no file of the output folder is lost, and the
// run says plainly that it ended by ERROR.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"
#include "table/file_system.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Snapshot;

constexpr const char* kInjected = "Injected fault";

struct Outcome {
    RunOutcome run;
    std::vector<std::string> lines;
    std::vector<std::string> messages;
    std::string escaped; // what left runRecovery as an exception
};

class RunFaultTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        m_in = dir() / "in";
        m_out = dir() / "out";
        fs::create_directories(m_in);
        // An indexed table, so that the working copy also rewrites its definition.
        test::TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (8)").write(m_in / "t.TAB");
        test::DatBuilder().field("ID", 4).field("NAME", 8).rows(" **").write(m_in / "t.DAT");
        // A live point, a deleted line and a deleted region.
        test::MapBuilder()
            .objectBlock({test::MapObject::of(0x02, 1), test::MapObject::of(0x05, 0x40000002),
                          test::MapObject::of(0x0E, 0x80000003)})
            .write(m_in / "t.MAP");
        test::writeBytes(m_in / "t.ID", Bytes(12, std::byte{0}));
        test::writeText(m_in / "t.IND", "index");
        m_inBefore = test::snapshot(m_in);
    }
    void TearDown() override
    {
        FileSystem& fsys = fileSystem();
        fsys.setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }

    // The output folder as the user left it: an earlier run's results and a file of their own.
    void resetOutput()
    {
        test::removeTree(m_out);
        fs::create_directories(m_out);
        for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.DAT", "t_MAP.MAP", "t_MAP.ID"})
            test::writeText(m_out / name, std::string("earlier ") + name);
        test::writeText(m_out / "notes.txt", "mine");
    }

    Outcome run(bool restoreAll)
    {
        test::TestFrontend frontend;
        Outcome o;
        fileSystem().startNewRun();
        try {
            o.run = runRecovery(frontend, RunInput{(m_in / "t.TAB").string(), m_out.string(), restoreAll});
        } catch (const std::exception& e) {
            o.escaped = e.what();
        } catch (...) {
            o.escaped = "unknown exception";
        }
        fileSystem().setFaultHook(nullptr);
        // The run's private temporary folder would otherwise pile up, one per run.
        test::removeTree(fileSystem().tempFolder());
        o.lines = frontend.capture.lines();
        o.messages = frontend.messages;
        return o;
    }

    // Every file of the output folder before the run holds its old bytes under its own name or
    // under its name + ".bak".
    void expectNothingLost(const Snapshot& before, const std::string& context)
    {
        const Snapshot after = test::snapshot(m_out);
        for (const auto& [name, bytes] : before) {
            const auto own = after.find(name);
            const auto bak = after.find(name + ".bak");
            const bool kept = (own != after.end() && own->second == bytes) ||
                              (bak != after.end() && bak->second == bytes);
            EXPECT_TRUE(kept) << context << ": " << name << " lost its bytes";
        }
    }

    fs::path m_in, m_out;
    Snapshot m_inBefore;
};

std::vector<std::string> errorLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.rfind("+++ ", 0) == 0)
            out.push_back(l);
    return out;
}

bool endedByError(const Outcome& o)
{
    return o.run.verdict == RunVerdict::DriverError || o.run.verdict == RunVerdict::EndsByError;
}

// Walks a fault over every file-system call of a whole run, one run per call.
//
// A failing call is reported by one error line, and the run ends by ERROR; a run that still ends OK
// (a later step read the file again and got it whole) must have written exactly what a run
// without faults writes. An existence test cannot fail for real (the service answers "absent"
// when the system cannot tell), so a fault there only has to leave everything safe.
class RunFaultWalk : public RunFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RunFaultWalk, EveryFailingCallIsReportedAndLosesNothing)
{
    const bool restoreAll = GetParam();
    resetOutput();
    std::vector<std::string> calls;
    fileSystem().setFaultHook([&](std::string_view op, const std::string& path) {
        calls.push_back(std::string(op) + " " + path);
    });
    const Snapshot initial = test::snapshot(m_out);
    const Outcome clean = run(restoreAll);
    ASSERT_EQ(clean.escaped, "");
    ASSERT_EQ(clean.run.verdict, RunVerdict::EndsByOk) << testing::PrintToString(clean.lines);
    expectNothingLost(initial, "run without faults");
    ASSERT_GT(calls.size(), 20u);
    const Snapshot cleanOut = test::snapshot(m_out);

    std::size_t reported = 0;
    for (std::size_t n = 1; n <= calls.size(); ++n) {
        const std::string context = "call " + std::to_string(n) + " of " + std::to_string(calls.size()) + " (" +
                                    calls[n - 1] + ")";
        const bool existenceTest = calls[n - 1].rfind("exists ", 0) == 0;
        resetOutput();
        const Snapshot outBefore = test::snapshot(m_out);
        std::size_t seen = 0;
        fileSystem().setFaultHook([&](std::string_view, const std::string&) {
            if (++seen == n)
                throw RecoverError(kErrDiskFull, kInjected);
        });
        const Outcome o = run(restoreAll);

        EXPECT_EQ(o.escaped, "") << context;
        EXPECT_EQ(test::snapshot(m_in), m_inBefore) << context;
        expectNothingLost(outBefore, context);
        const auto errors = errorLines(o.lines);
        EXPECT_LE(errors.size(), 1u) << context << "\n" << testing::PrintToString(errors);
        if (existenceTest)
            continue;
        ++reported;
        ASSERT_EQ(errors.size(), 1u) << context << "\n" << testing::PrintToString(o.lines);
        EXPECT_NE(errors.front().find(std::string("61 ") + kInjected), std::string::npos) << context;
        if (o.run.verdict == RunVerdict::EndsByOk)
            EXPECT_EQ(test::snapshot(m_out), cleanOut) << context << ": ended OK with other results";
        else
            EXPECT_TRUE(endedByError(o)) << context << "\n" << testing::PrintToString(o.lines);
    }
    std::cout << calls.size() << " calls walked, " << reported << " of them failing for real\n";
}

INSTANTIATE_TEST_SUITE_P(Options, RunFaultWalk, ::testing::Bool(),
                         [](const auto& l_info) { return l_info.param ? "RestoreAll" : "DeletedOnly"; });

// Whether this process may write into a folder it has made read-only (root may).
bool writesIntoReadOnlyFolders(const fs::path& probeFolder)
{
    fs::create_directories(probeFolder);
    fs::permissions(probeFolder, fs::perms::owner_read | fs::perms::owner_exec);
    std::error_code ec;
    const bool wrote = static_cast<bool>(std::ofstream(probeFolder / "probe"));
    fs::permissions(probeFolder, fs::perms::owner_all);
    fs::remove_all(probeFolder, ec);
    return wrote;
}

TEST_F(RunFaultTest, ReadOnlyOutputFolderEndsByErrorAndKeepsEverything)
{
    resetOutput();
    const Snapshot before = test::snapshot(m_out);
    if (writesIntoReadOnlyFolders(dir() / "probe")) {
        // Privileged: the folder cannot refuse us, so the file system refuses every change in it.
        fileSystem().setFaultHook([out = m_out.string()](std::string_view op, const std::string& path) {
            const bool changes = op == "create" || op == "copy" || op == "move" || op == "delete" || op == "write";
            if (changes && path.rfind(out, 0) == 0)
                throw ioError(EACCES, path);
        });
    } else {
        fs::permissions(m_out, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const Outcome o = run(true);
    fs::permissions(m_out, fs::perms::owner_all);

    EXPECT_EQ(o.escaped, "");
    EXPECT_EQ(o.run.verdict, RunVerdict::EndsByError) << testing::PrintToString(o.lines);
    EXPECT_EQ(test::snapshot(m_out), before);
    EXPECT_EQ(test::snapshot(m_in), m_inBefore);
    // Both results stay in the temporary folder, each move failed with its own line.
    EXPECT_EQ(o.run.result.results[kAttributeResult].count, -1);
    EXPECT_EQ(o.run.result.results[kGeometryResult].count, -1);
}

struct TakenName {
    const char* name;
    const char* folder; // a folder of this name stands in the output folder
};

void PrintTo(const TakenName& c, std::ostream* os)
{
    *os << c.name;
}

class RunTakenNameTest : public RunFaultTest, public ::testing::WithParamInterface<TakenName> {};

TEST_P(RunTakenNameTest, FolderInPlaceOfAResultFile)
{
    resetOutput();
    fs::remove(m_out / GetParam().folder);
    fs::create_directories(m_out / GetParam().folder / "inside");
    test::writeText(m_out / GetParam().folder / "inside" / "keep.txt", "keep");
    const Snapshot before = test::snapshot(m_out);

    const Outcome o = run(true);

    EXPECT_EQ(o.escaped, "");
    EXPECT_EQ(o.run.verdict, RunVerdict::EndsByError) << testing::PrintToString(o.lines);
    EXPECT_EQ(test::readText(m_out / GetParam().folder / "inside" / "keep.txt"), "keep");
    expectNothingLost(before, GetParam().name);
    EXPECT_EQ(test::snapshot(m_in), m_inBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RunTakenNameTest,
    ::testing::Values(TakenName{"AttributeTab", "t_DAT.TAB"}, TakenName{"GeometryMap", "t_MAP.MAP"},
                      TakenName{"BackupName", "t_MAP.ID.bak"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

} // namespace
} // namespace tabrescue
