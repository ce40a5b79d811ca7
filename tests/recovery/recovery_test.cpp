#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "map/map_layout.h"
#include "recovery/run.h"
#include "support/log_capture.h"
#include "support/map_builder.h"
#include "support/table_builders.h"

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
    // One run under `hook` into an output folder holding earlier results and a file of the user's. Whatever
    // failed, the input keeps its bytes, no output file is lost, a table reported restored is new.
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

// Fails each call of a run in turn with "disk full": one error line and ERROR, or the run got round it
// and ends OK with a clean run's results. A failed look-up shows other files: only the checks above hold.
class RunFaultWalk : public RunFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RunFaultWalk, EveryFailingCallIsReportedAndLosesNothing)
{
#ifdef _WIN32
    if (!GetParam()) // a run under Wine costs a hundred times more: there the option's run alone
        GTEST_SKIP();
#endif
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
        // There the first call of each kind on each file.
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

// What the command line does not show: the pane's colour, the beeps, the caret, and a long log
// emptied when a run starts.
TEST(Run, FrontEndAndLongLog)
{
    for (const std::size_t kept : {kRunClearLimit + 1, kRunClearLimit}) {
        test::TestFrontend frontend;
        const std::string earlier(kept, 'x');
        frontend.capture.log.setText(earlier);
        EXPECT_EQ(runRecovery(frontend, RunInput{"", "", true}).verdict, RunVerdict::DriverError);
        const std::string& text = frontend.capture.log.text();
        EXPECT_EQ(text.starts_with(earlier), kept == kRunClearLimit);
        EXPECT_NE(text.find("File '' not exists or can't be opened.\r\n*** ends by ERROR at "),
                  std::string::npos);
        EXPECT_EQ(frontend.colour, 0xF0FFFFu);
        EXPECT_EQ(frontend.flips, 2);
        EXPECT_EQ(frontend.beeps, 2);
        EXPECT_EQ(frontend.capture.log.caret(), text.size());
    }
}

using test::Bytes;
using test::MapObject;

// .ID entries as object numbers: k > 0 is the k-th object of the block, 0 is no object.
struct UndeleteCase
{
    const char* name;
    std::string statuses;           // one per .DAT row
    std::vector<MapObject> objects; // none: a table without .MAP and .ID
    std::vector<int> id, expectedId;
    std::vector<int> revived; // objects made live
    std::array<std::int32_t, 4> counts;
    std::array<int, 3> back;                   // rows and geometries that came back, rows without a geometry
    std::vector<std::size_t> resetStyles = {}; // bytes set to 1
    friend void PrintTo(const UndeleteCase& c, std::ostream* os) { *os << c.name; }
};

class UndeleteTest : public test::TempDirTest, public ::testing::WithParamInterface<UndeleteCase> {};

TEST_P(UndeleteTest, WritesTheTableAsItWasBeforeTheDeletions)
{
    const UndeleteCase& c = GetParam();
    for (const char* sub : {"in", "out", "tmp"})
        fs::create_directories(dir() / sub);
    test::ScopedTempFolder tmp(dir() / "tmp");
    const auto in = [&](const char* ext) { return dir() / test::u8path("in/t 'ü'." + std::string(ext)); };
    const std::string out = joinPath(path("out"), "t 'ü'_undeleted.");
    const auto result = [&](const char* ext) { return test::u8path(out + ext); };
    test::TabTextBuilder().indexedField("NAME Char (8)", 1).write(in("TAB"));
    test::DatBuilder().field("NAME", 8).rows(c.statuses).write(in("DAT"));
    test::MapBuilder map = test::MapBuilder().styleLimits(10, 4, 10, 10).objectBlock(c.objects);
    const auto idBytes = [&](const std::vector<int>& objects) {
        Bytes b;
        for (int k : objects)
            test::appendLE32(b, k == 0 ? 0 : static_cast<std::uint32_t>(map.recordOffset(0, k - 1)));
        return b;
    };
    if (!c.objects.empty()) {
        map.write(in("MAP"));
        test::writeBytes(in("ID"), idBytes(c.id));
    }
    test::writeText(in("IND"), "index");
    const auto before = test::snapshot(dir() / "in");

    test::TestFrontend frontend;
    ASSERT_EQ(runUndelete(frontend, RunInput{test::utf8(in("TAB")), path("out"), false}).status, 0)
        << testing::PrintToString(frontend.capture.lines());
    EXPECT_EQ(frontend.capture.lines().at(1),
              " +!+ " + std::to_string(c.back[0]) + " deleted rows and " + std::to_string(c.back[1]) +
                  " deleted geometries came back, " + std::to_string(c.back[2]) +
                  " of these rows without a geometry, in file '" + out + "TAB' +!+");
    EXPECT_EQ(test::snapshot(dir() / "in"), before);
    EXPECT_FALSE(fs::exists(result("IND")));
    EXPECT_EQ(test::readText(result("TAB")).find("Index"), std::string::npos);
    std::string live = c.statuses; // the input's rows, every one made live
    std::replace(live.begin(), live.end(), '*', ' ');
    EXPECT_EQ(test::firstDifference(test::readBytes(result("DAT")),
                                    test::DatBuilder().field("NAME", 8).rows(live).bytes()), "");
    ASSERT_EQ(fs::exists(result("MAP")), !c.objects.empty());
    if (c.objects.empty())
        return;
    EXPECT_EQ(test::firstDifference(test::readBytes(result("ID")), idBytes(c.expectedId)), "");

    // The input's bytes but for the revived row fields, the repaired styles, the counts and the index:
    // one index block at the end, its one entry pointing at the object data block, in the header's box.
    const Bytes m = test::readBytes(result("MAP"));
    const std::size_t root = test::getLE32(m, 304);
    ASSERT_EQ(root + 512, m.size());
    const auto s32 = [&](std::size_t at) { return static_cast<std::int32_t>(test::getLE32(m, at)); };
    EXPECT_EQ(Bytes(m.begin() + root, m.end()),
              test::leBytes(512, {{0, 2, {1, 1}}, {4, 4, {s32(root + 4), s32(root + 8), s32(root + 12)}},
                                  {16, 4, {s32(root + 16), 1024}}}));
    EXPECT_TRUE(s32(272) <= s32(root + 4) && s32(276) <= s32(root + 8) && s32(root + 12) <= s32(280) &&
                s32(root + 16) <= s32(284));
    Bytes expected = map.bytes();
    for (int k : c.revived)
        test::putLE32(expected, map.recordOffset(0, k - 1) + 1,
                      c.objects[k - 1].rowField & map::kRowNumberMask);
    for (std::size_t at : c.resetStyles)
        expected.at(at) = std::byte{1};
    for (std::size_t i = 0; i < 4; ++i)
        test::putLE32(expected, 316 + 4 * i, static_cast<std::uint32_t>(c.counts[i]));
    std::copy_n(m.begin() + 272, 16, expected.begin() + 272); // the header's box, checked above
    test::putLE32(expected, 304, static_cast<std::uint32_t>(root));
    expected.at(351) = std::byte{2};
    EXPECT_EQ(test::firstDifference(Bytes(m.begin(), m.begin() + expected.size()), expected), "");
}

const MapObject kPoint1 = MapObject::of(0x01, 1);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tables, UndeleteTest, ::testing::Values(
    UndeleteCase{"DeletedRowWithItsObject", " *", {kPoint1, MapObject::of(0x2B, 0x40000002)}, {1, 0}, {1, 2}, {2}, {2, 0, 0, 0}, {1, 1, 0}},
    // The newest version of a changed geometry comes back, its brush above the limit reset; the older one stays deleted.
    UndeleteCase{"TwoVersionsOfItsObject", "*", {MapObject::of(0x0E, 0x40000001), MapObject::of(0x0E, 0x80000001).style(0, 9)}, {0}, {2}, {2}, {0, 0, 1, 0}, {1, 1, 0}, {1125}},
    UndeleteCase{"NonZeroEntryKept", "*", {MapObject::of(0x26, 0x40000001), MapObject::of(0x26, 0x40000001)}, {1}, {1}, {1}, {0, 1, 0, 0}, {1, 1, 0}},
    UndeleteCase{"RowWithoutObject", " *", {kPoint1}, {1, 0}, {1, 0}, {}, {1, 0, 0, 0}, {1, 0, 1}},
    UndeleteCase{"ShortId", " **", {kPoint1, MapObject::of(0x05, 0xC0000003)}, {1}, {1, 0, 2}, {2}, {1, 1, 0, 0}, {2, 1, 1}},
    UndeleteCase{"NothingDeleted", "  ", {kPoint1, MapObject::of(0x11, 2)}, {1, 2}, {1, 2}, {}, {1, 0, 0, 1}, {0, 0, 0}},
    UndeleteCase{"DatOnly", "* ", {}, {}, {}, {}, {}, {1, 0, 1}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });
// clang-format on

} // namespace
} // namespace tabrescue
