#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "io/file_system.h"
#include "io/platform.h"
#include "recovery/run.h"
#include "support/files.h"
#include "support/map_builder.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "support/test_frontend.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using platform::Call;
using platform::Fault;
using Lines = std::vector<std::string>;

class RunFaultTest : public test::TempDirTest
{
  protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        fs::create_directories(dir() / "in");
        // Indexed, so that the working copy rewrites its definition too.
        test::TabTextBuilder().indexedField("ID Integer", 1).field("NAME Char (8)").write(dir() / "in/t.TAB");
        test::DatBuilder().field("ID", 4).field("NAME", 8).rows(" **").write(dir() / "in/t.DAT");
        test::MapBuilder() // a live point, a deleted line and a deleted region
            .objectBlock({test::MapObject::of(0x02, 1), test::MapObject::of(0x05, 0x40000002),
                          test::MapObject::of(0x0E, 0x80000003)})
            .write(dir() / "in/t.MAP");
        test::writeBytes(dir() / "in/t.ID", test::Bytes(12, std::byte{0}));
        test::writeText(dir() / "in/t.IND", "index");
        m_input = test::snapshot(dir() / "in");
    }
    // One run under `hook` into an output folder as the user left it (an earlier run's results and
    // a file of their own). Whatever failed, the input keeps its bytes, no file of the output folder
    // is lost and a table reported restored is a new one. Returns the error lines.
    Lines run(bool restoreAll, platform::FaultHook hook, const std::string& context)
    {
        const fs::path out = dir() / "out";
        test::removeTree(out);
        fs::create_directories(out);
        for (const char* name : {"t_DAT.TAB", "t_DAT.DAT", "t_MAP.TAB", "t_MAP.DAT", "t_MAP.MAP", "t_MAP.ID"})
            test::writeText(out / name, std::string("earlier ") + name);
        test::writeText(out / "notes.txt", "mine");
        const test::Snapshot before = test::snapshot(out);
        test::TestFrontend frontend;
        fileSystem().startNewRun();
        platform::setFaultHook(std::move(hook));
        m_verdict = runRecovery(frontend, RunInput{path("in/t.TAB"), path("out"), restoreAll}).verdict;
        platform::setFaultHook(nullptr);             // the run throws nothing
        test::removeTree(fileSystem().tempFolder()); // one per run otherwise
        EXPECT_EQ(test::snapshot(dir() / "in"), m_input) << context << ": the input changed";
        m_out = test::snapshot(out);
        for (const auto& [name, bytes] : before) { // under its own name or its name + ".bak"
            const auto own = m_out.find(name), bak = m_out.find(name + ".bak");
            EXPECT_TRUE((own != m_out.end() && own->second == bytes) ||
                        (bak != m_out.end() && bak->second == bytes))
                << context << ": " << name << " lost its bytes";
        }
        Lines errors;
        for (const std::string& line : frontend.capture.lines()) {
            if (line.starts_with("+++ "))
                errors.push_back(line);
            if (!line.starts_with(" +!+ "))
                continue; // else a table reported restored is a new one
            const std::string tab = line.substr(line.find('\'') + 1, line.rfind('\'') - line.find('\'') - 1);
            EXPECT_TRUE(fileSystem().fileExists(tab) && !fileSystem().readAll(tab).starts_with("earlier"))
                << context << ": " << line;
        }
        return errors;
    }

    test::Snapshot m_input, m_out;
    RunVerdict m_verdict{};
};

// Fails each system call of a whole run in turn, one run per call, with "disk full". The failure
// shows in one error line and the run ends by ERROR; or the run got round it (a link, a rename, a
// close after reading) or read the file again, and ends OK with the results of a run without
// faults. Where a name could not be looked up, the run saw other files: the checks above hold.
class RunFaultWalk : public RunFaultTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(RunFaultWalk, EveryFailingCallIsReportedAndLosesNothing)
{
    std::vector<std::pair<Call, std::string>> calls;
    run(
        GetParam(), [&](Call c, const std::string& p) { return calls.emplace_back(c, p), Fault{}; }, "clean");
    ASSERT_EQ(m_verdict, RunVerdict::EndsByOk);
    const test::Snapshot clean = m_out;
#ifdef _WIN32
    std::set<std::pair<Call, std::string>> walked;
#endif
    for (std::size_t n = 1; n <= calls.size(); ++n) {
        const auto& [call, file] = calls[n - 1];
#ifdef _WIN32
        // A run under Wine costs a hundred times more: there the first call of each kind on each file.
        if (!walked.insert(calls[n - 1]).second)
            continue;
#endif
        const std::string context =
            "call " + std::to_string(n) + "/" + std::to_string(int(call)) + " " + file;
        std::size_t seen = 0;
        const Lines errors = run(
            GetParam(), [&](Call, const std::string&) { return Fault{++seen == n ? ENOSPC : 0}; }, context);
        EXPECT_LE(errors.size(), 1u) << context << testing::PrintToString(errors);
        if (call == Call::Stat || call == Call::List || call == Call::CurrentFolder)
            continue;
        EXPECT_TRUE(errors.empty() || errors.front().find("61 Disk full") != std::string::npos) << context;
        if (errors.empty() || m_verdict == RunVerdict::EndsByOk) {
            EXPECT_EQ(m_verdict, RunVerdict::EndsByOk) << context;
            EXPECT_EQ(m_out, clean) << context << ": ended OK with other results";
        } else {
            EXPECT_TRUE(m_verdict == RunVerdict::DriverError || m_verdict == RunVerdict::EndsByError)
                << context;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Options, RunFaultWalk, ::testing::Bool(),
                         [](const auto& l_info) { return l_info.param ? "RestoreAll" : "DeletedOnly"; });

} // namespace
} // namespace tabrescue
