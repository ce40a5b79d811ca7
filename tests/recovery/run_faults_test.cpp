// Failing file-system calls during a whole run. Whatever fails, the input keeps its bytes, no file
// of the output folder is lost, and the run says plainly that it ended by ERROR.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "recovery/run.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using test::Snapshot;
using Lines = std::vector<std::string>;

struct Outcome {
    RunOutcome run;
    Lines lines;
    Lines startingWith(const std::string& prefix) const
    {
        Lines found;
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0)
                found.push_back(l);
        return found;
    }
};

class RunFaultTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        m_in = dir() / "in";
        m_out = dir() / "out";
        fs::create_directories(m_in);
        // Indexed, so that the working copy rewrites its definition too.
        test::TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (8)").write(m_in / "t.TAB");
        test::DatBuilder().field("ID", 4).field("NAME", 8).rows(" **").write(m_in / "t.DAT");
        test::MapBuilder() // a live point, a deleted line and a deleted region
            .objectBlock({test::MapObject::of(0x02, 1), test::MapObject::of(0x05, 0x40000002),
                          test::MapObject::of(0x0E, 0x80000003)})
            .write(m_in / "t.MAP");
        test::writeBytes(m_in / "t.ID", test::Bytes(12, std::byte{0}));
        test::writeText(m_in / "t.IND", "index");
        m_inBefore = test::snapshot(m_in);
    }
    void TearDown() override
    {
        fileSystem().setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }

    // The output folder as the user left it: an earlier run's results and a file of their own.
    Snapshot resetOutput()
    {
        test::removeTree(m_out);
        fs::create_directories(m_out);
        for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.DAT", "t_MAP.MAP", "t_MAP.ID"})
            test::writeText(m_out / name, std::string("earlier ") + name);
        test::writeText(m_out / "notes.txt", "mine");
        return test::snapshot(m_out);
    }

    Outcome run(bool restoreAll)
    {
        test::TestFrontend frontend;
        Outcome o;
        fileSystem().startNewRun();
        try {
            o.run = runRecovery(frontend, RunInput{(m_in / "t.TAB").string(), m_out.string(), restoreAll});
        } catch (const std::exception& e) {
            ADD_FAILURE() << "escaped the run: " << e.what();
        }
        fileSystem().setFaultHook(nullptr);
        test::removeTree(fileSystem().tempFolder()); // one per run otherwise
        o.lines = frontend.capture.lines();
        EXPECT_EQ(test::snapshot(m_in), m_inBefore) << "the input changed";
        return o;
    }

    // Every file of the output folder keeps its old bytes under its own name or its name + ".bak".
    void expectNothingLost(const Snapshot& before, const std::string& context)
    {
        const Snapshot after = test::snapshot(m_out);
        for (const auto& [name, bytes] : before) {
            const auto own = after.find(name), bak = after.find(name + ".bak");
            const bool kept = (own != after.end() && own->second == bytes) ||
                              (bak != after.end() && bak->second == bytes);
            EXPECT_TRUE(kept) << context << ": " << name << " lost its bytes";
        }
    }

    fs::path m_in, m_out;
    Snapshot m_inBefore;
};

// Fails every file-system call of a whole run in turn, one run per call. A failing call gives one
// error line and the run ends by ERROR, or, when a later step read the file again whole, ends OK
// with exactly the results of a run without faults. An existence test cannot fail for real (the
// service answers "absent" when it cannot tell), so there it only has to leave everything safe.
class RunFaultWalk : public RunFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RunFaultWalk, EveryFailingCallIsReportedAndLosesNothing)
{
    const bool restoreAll = GetParam();
    const Snapshot initial = resetOutput();
    Lines calls;
    fileSystem().setFaultHook([&](std::string_view op, const std::string& path) {
        calls.push_back(std::string(op) + " " + path);
    });
    const Outcome clean = run(restoreAll);
    ASSERT_EQ(clean.run.verdict, RunVerdict::EndsByOk) << testing::PrintToString(clean.lines);
    expectNothingLost(initial, "run without faults");
    ASSERT_GT(calls.size(), 20u);
    const Snapshot cleanOut = test::snapshot(m_out);

    for (std::size_t n = 1; n <= calls.size(); ++n) {
        const std::string context = "call " + std::to_string(n) + " (" + calls[n - 1] + ")";
        const Snapshot before = resetOutput();
        std::size_t seen = 0;
        fileSystem().setFaultHook([&](std::string_view, const std::string&) {
            if (++seen == n)
                throw RecoverError(kErrDiskFull, "Injected fault");
        });
        const Outcome o = run(restoreAll);
        expectNothingLost(before, context);
        const auto errors = o.startingWith("+++ ");
        EXPECT_LE(errors.size(), 1u) << context << "\n" << testing::PrintToString(errors);
        if (calls[n - 1].rfind("exists ", 0) == 0)
            continue;
        ASSERT_EQ(errors.size(), 1u) << context << "\n" << testing::PrintToString(o.lines);
        EXPECT_NE(errors.front().find("61 Injected fault"), std::string::npos) << context;
        if (o.run.verdict == RunVerdict::EndsByOk)
            EXPECT_EQ(test::snapshot(m_out), cleanOut) << context << ": ended OK with other results";
        else
            EXPECT_TRUE(o.run.verdict == RunVerdict::DriverError || o.run.verdict == RunVerdict::EndsByError)
                << context << "\n" << testing::PrintToString(o.lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Options, RunFaultWalk, ::testing::Bool(),
                         [](const auto& l_info) { return l_info.param ? "RestoreAll" : "DeletedOnly"; });

// Real faults of the output folder; each blocks the move of `blocked` ("" blocks both).
struct OutputFault {
    const char* name;
    const char* folder; // a folder holding a file stands in place of this name; nullptr: read-only
    const char* blocked;
    friend void PrintTo(const OutputFault& c, std::ostream* os) { *os << c.name; }
};

void makeReadOnly(const fs::path& out)
{
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    if (!std::ofstream(out / "probe"))
        return;
    // Privileged: the folder cannot refuse us, so the file system refuses every change in it.
    fs::permissions(out, fs::perms::owner_all);
    fs::remove(out / "probe");
    fileSystem().setFaultHook([o = out.string()](std::string_view op, const std::string& path) {
        const bool changes =
            op == "create" || op == "copy" || op == "move" || op == "delete" || op == "write";
        if (changes && path.starts_with(o))
            throw ioError(EACCES, path);
    });
}

class RunOutputFaultTest : public RunFaultTest, public ::testing::WithParamInterface<OutputFault> {};

TEST_P(RunOutputFaultTest, EndsByErrorAndReportsNoFailedMoveAsRestored)
{
    const OutputFault& c = GetParam();
    resetOutput();
    if (c.folder == nullptr) {
        makeReadOnly(m_out);
    } else {
        fs::remove(m_out / c.folder);
        fs::create_directories(m_out / c.folder / "inside");
        test::writeText(m_out / c.folder / "inside" / "keep.txt", "keep");
    }
    const Snapshot before = test::snapshot(m_out);
    const Outcome o = run(true);
    fs::permissions(m_out, fs::perms::owner_all);
    EXPECT_EQ(o.run.verdict, RunVerdict::EndsByError) << testing::PrintToString(o.lines);
    expectNothingLost(before, c.name);
    for (const auto& line : o.startingWith(" +!+ "))
        EXPECT_EQ(line.find(c.blocked), std::string::npos) << "a failed move reported as restored: " << line;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RunOutputFaultTest,
    ::testing::Values(
        OutputFault{"ReadOnlyFolder", nullptr, ""}, OutputFault{"FolderAsAttributeTab", "t_DAT.TAB", "t_DAT"},
        OutputFault{"FolderAsGeometryMap", "t_MAP.MAP", "t_MAP"},
        OutputFault{"FolderAsBackupName", "t_MAP.ID.bak", "t_MAP"}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

} // namespace
} // namespace tabrescue
