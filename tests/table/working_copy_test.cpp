#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "table/tab_text.h"
#include "table/working_copy.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

Strings listing(const fs::path& folder)
{
    Strings names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(test::utf8(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

using platform::Call;

void failOn(std::vector<Call> calls, const std::string& suffix, int error)
{
    platform::setFaultHook([=](Call c, const std::string& p) {
        const bool hit = std::find(calls.begin(), calls.end(), c) != calls.end() && p.ends_with(suffix);
        return platform::Fault{hit ? error : 0};
    });
}

class WorkingCopyTest : public test::TempDirTest
{
  protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        for (const char* sub : {"tmp", "in", "out"})
            fs::create_directory(dir() / sub);
        m_tmp.emplace(dir() / "tmp");
        fileSystem().startNewRun();
    }
    void TearDown() override
    {
        m_tmp.reset();
        platform::setFaultHook(nullptr);
        fileSystem().startNewRun();
        setGuidRandomSource(nullptr);
        test::TempDirTest::TearDown();
    }
    // in/roads.* with .TAB, .DAT, .MAP, .ID and, when indexed, .IND.
    std::string input(bool indexed = false)
    {
        auto tab = test::TabTextBuilder().field("ID Integer");
        indexed ? tab.indexedField("NAME Char (8)", 1) : tab.field("NAME Char (8)");
        tab.write(dir() / "in" / "roads.tab");
        test::DatBuilder().field("ID", 4).field("NAME", 8).rows(" * ").write(dir() / "in" / "roads.DAT");
        test::writeText(dir() / "in" / "roads.MAP", std::string(1024, 'm'));
        test::writeText(dir() / "in" / "roads.ID", "idid");
        indexed ? test::writeText(dir() / "in" / "roads.IND", "index")
                : void(fs::remove(dir() / "in" / "roads.IND"));
        m_input = test::snapshot(dir() / "in");
        return path("in/roads.tab");
    }
    std::string out(const std::string& name) const { return path("out/" + name); }
    // Every destination file that is not a backup is a whole copy of its source component.
    void expectNoCutFiles(const std::string& folder, const std::string& base) const
    {
        for (const auto& [name, bytes] : test::snapshot(dir() / "out" / folder)) {
            if (name.starts_with(base + ".") && !name.ends_with(".bak")) {
                EXPECT_EQ(bytes, m_input.at(name.ends_with(".TAB") ? "roads.tab"
                                                                   : "roads" + name.substr(base.size())));
            }
        }
    }
    test::LogCapture cap;
    test::Snapshot m_input;
    std::optional<test::ScopedTempFolder> m_tmp;
};

// Temporary names: "~" + 30 hex digits + ".tab" in the run's folder; a name is taken when any of its
// five files exists, in any letter case; after 100 taken names there is none.
TEST_F(WorkingCopyTest, GuidsAndTemporaryNames)
{
    const std::string a = newGuidHex();
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos) << a;
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, newGuidHex());
    const std::string run = withTrailingSeparator(fileSystem().tempFolder());
    EXPECT_TRUE(run.starts_with(withTrailingSeparator(path("tmp"))));

    int calls = 0;
    setGuidRandomSource([&](std::span<std::byte> o) {
        std::fill(o.begin(), o.end(), static_cast<std::byte>(++calls == 1 ? 0x11 : 0x22));
    });
    EXPECT_EQ(newGuidString(), "{11111111-1111-1111-1111-111111111111}");
    calls = 0;
    test::writeText(run + "~" + std::string(30, '1') + ".id", "");
    EXPECT_EQ(makeTempTabPath(&cap.log), run + "~" + std::string(30, '2') + ".tab");
    test::writeText(run + "~" + std::string(30, '2') + ".IND", "");
    calls = 0;
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    EXPECT_EQ(calls, 100);
    setGuidRandomSource([](std::span<std::byte>) { throw RecoverError(kErrPathAccess, "No random source"); });
    EXPECT_EQ(newGuidHex(), "");
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    const Strings lines = cap.lines();
    ASSERT_EQ(lines.size(), 2u) << cap.log.text();
    EXPECT_TRUE(lines[0].starts_with("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 75 No free temporary"));
    EXPECT_TRUE(lines[1].starts_with("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 5 ")) << lines[1];
}

TEST_F(WorkingCopyTest, CopyBacksUpWhatItWouldOverwriteInAnyLetterCase)
{
    const std::string src = input();
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"roads_MAP.TAB", "old"},
                                     {"roads_MAP.TAB.bak", "older"},
                                     {"roads_MAP.DAT.bak", "orphan"},
                                     {"roads_map.id", "old id"},
                                     {"roads_map.id.BAK", "older id"}}) {
        test::writeText(dir() / "out" / name, text);
        fs::permissions(dir() / "out" / name, fs::perms::owner_read);
    }
    EXPECT_EQ(mapinfoTabCopy(src, out("roads_MAP.tab"), &cap.log), out("roads_MAP.TAB"));
    EXPECT_EQ(
        cap.lines(),
        (Strings{"File '" + out("roads_MAP.TAB.bak") + "' was deleted.",
                 "File '" + out("roads_MAP.TAB") + "' was backuped as '" + out("roads_MAP.TAB.bak") + "'.",
                 "File '" + out("roads_map.id.BAK") + "' was deleted.",
                 "File '" + out("roads_map.id") + "' was backuped as '" + out("roads_map.id.bak") + "'."}));
    EXPECT_EQ(listing(dir() / "out"),
              (Strings{"roads_MAP.DAT", "roads_MAP.DAT.bak", "roads_MAP.ID", "roads_MAP.MAP", "roads_MAP.TAB",
                       "roads_MAP.TAB.bak", "roads_map.id.bak"}));
    EXPECT_EQ(test::readText(dir() / "out" / "roads_MAP.TAB.bak"), "old");
    EXPECT_EQ(test::readText(dir() / "out" / "roads_MAP.DAT.bak"), "orphan");
    expectNoCutFiles("", "roads_MAP");
    EXPECT_EQ(test::snapshot(dir() / "in"), m_input);
}

// A failed copy: empty result, the listed lines, the input as it was, no cut copy, nothing written
// through a link. Each case gets a destination folder of its own.
TEST_F(WorkingCopyTest, FailedCopySaysSoAndCutsNothing)
{
    const std::string coping = "Error in coping file '",
                      error = "+++ mapinfoRecoverTable::mapinfoTabCopy()+++ ";
    const struct
    {
        const char* name;
        std::string dst;
        Strings linePrefixes;
        std::function<void(const fs::path& out)> arrange;
    } cases[] = {
        {"disk full on .DAT",
         "x.tab",
         {"File '", coping, error + "61 "},
         [](const fs::path& out) {
             test::writeText(out / "x.DAT", "kept");
             failOn({Call::Copy, Call::Write}, "x.DAT", ENOSPC);
         }},
        {"target size differs",
         "x.tab",
         {coping},
         [](const fs::path&) {
             platform::setFaultHook([](Call c, const std::string& p) {
                 if (c == Call::Stat && p.ends_with("x.DAT") && fs::exists(p))
                     std::ofstream(p, std::ios::app) << "+";
                 return platform::Fault{};
             });
         }},
        {"dangling link at target",
         "x.tab",
         {coping, error + "75 "},
         [this](const fs::path& out) {
             if (!test::makeSymlink(dir() / "victim", out / "x.MAP")) // as the system would refuse it
                 failOn({Call::Create}, "x.MAP", EIO);
         }},
        {"folder not writable",
         "x.tab",
         {coping, error + "70 "},
         [](const fs::path& out) {
             fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
             if (std::ofstream(out / "probe")) // permission bits do not bind this user
                 failOn({Call::Create}, "x.TAB", EACCES);
         }},
        {"the source itself", "../../in/roads.TAB", {error + "5 "}, nullptr},
        {"not a .TAB path", "x.dat", {error + "5 "}, nullptr},
    };
    const std::string src = input();
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string sub = "f" + std::to_string(++n);
        fs::create_directory(dir() / "out" / sub);
        cap.log.setText("");
        if (c.arrange)
            c.arrange(dir() / "out" / sub);
        EXPECT_EQ(mapinfoTabCopy(src, out(sub + "/" + c.dst), &cap.log), "");
        platform::setFaultHook(nullptr);
        fs::permissions(dir() / "out" / sub, fs::perms::owner_all);
        const Strings lines = cap.lines();
        ASSERT_EQ(lines.size(), c.linePrefixes.size()) << cap.log.text();
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(lines[i].starts_with(c.linePrefixes[i])) << lines[i];
        EXPECT_EQ(test::snapshot(dir() / "in"), m_input);
        expectNoCutFiles(sub, "x");
        EXPECT_FALSE(fs::exists(dir() / "victim"));
    }
}

TEST_F(WorkingCopyTest, MoveDeletesTheSourceTabOnlyWhenAllArrived)
{
    EXPECT_EQ(mapinfoTabMove(path("in/none.TAB"), out("x.tab"), &cap.log), "");
    EXPECT_EQ(cap.lines(), Strings{"File '" + path("in/none.TAB") + "' not exists or can't be opened."});

    const std::string src = input();
    failOn({Call::Link, Call::Create}, "b.ID", ENOSPC); // no link, then no copy
    EXPECT_EQ(mapinfoTabMove(src, out("b.tab"), &cap.log), "");
    EXPECT_TRUE(fs::exists(src));
    platform::setFaultHook(nullptr);
    EXPECT_EQ(mapinfoTabMove(src, out("a.tab"), &cap.log), out("a.TAB"));
    EXPECT_EQ(listing(dir() / "in"), (Strings{"roads.DAT", "roads.ID", "roads.MAP"}));
    EXPECT_EQ(listing(dir() / "out"),
              (Strings{"a.DAT", "a.ID", "a.MAP", "a.TAB", "b.DAT", "b.MAP", "b.TAB"}));
}

// A copy (the working copy above all) never shares a file with its source, or a later write to
// it would reach the user's table; a move shares where the system can, and never through a link.
TEST_F(WorkingCopyTest, OnlyAMoveSharesFilesAndNeverThroughALink)
{
    const std::string src = input();
    const auto sameFile = [&](const std::string& a, const std::string& b) {
        return fs::equivalent(test::u8path(a), test::u8path(b));
    };
    ASSERT_EQ(mapinfoTabCopy(src, out("c.tab"), &cap.log), out("c.TAB"));
    mapinfoTableFilesPull input;
    input.initByTABpath(src);
    const auto work = createTempMiTabCopy(input, true, &cap.log);
    ASSERT_TRUE(work);
    for (const char* ext : {".DAT", ".MAP", ".ID"}) {
        EXPECT_FALSE(sameFile(path("in/roads") + ext, out("c") + ext)) << ext;
        EXPECT_FALSE(sameFile(path("in/roads") + ext, work->ParentFolder() + work->TabBaseName() + ext))
            << ext;
    }

#ifdef _WIN32
    const bool linkable = false; // the platform copies
#else
    const bool linkable = true;
#endif
    fs::remove(dir() / "out" / "c.MAP");
    const bool symlinked = test::makeSymlink(dir() / "in" / "roads.MAP", dir() / "out" / "c.MAP");
    if (!symlinked)
        fs::copy_file(dir() / "in" / "roads.MAP", dir() / "out" / "c.MAP");
    ASSERT_EQ(mapinfoTabMove(out("c.tab"), out("m.tab"), &cap.log), out("m.TAB"));
    EXPECT_EQ(listing(dir() / "out"), (Strings{"c.DAT", "c.ID", "c.MAP", "m.DAT", "m.ID", "m.MAP", "m.TAB"}));
    EXPECT_EQ(sameFile(out("c.DAT"), out("m.DAT")), linkable);
    EXPECT_EQ(sameFile(out("c.ID"), out("m.ID")), linkable);
    EXPECT_FALSE(fs::is_symlink(dir() / "out" / "m.MAP"));
    EXPECT_FALSE(sameFile(path("in/roads.MAP"), out("m.MAP")));
    for (const char* ext : {".DAT", ".MAP", ".ID"})
        EXPECT_EQ(test::readBytes(dir() / "out" / ("m" + std::string(ext))),
                  m_input.at("roads" + std::string(ext)));
    EXPECT_EQ(test::snapshot(dir() / "in"), m_input);
    EXPECT_EQ(cap.log.text(), "");
}

TEST_F(WorkingCopyTest, WorkingCopyGoesWithoutItsIndex)
{
    for (const bool indexed : {true, false}) {
        mapinfoTableFilesPull table;
        table.initByTABpath(input(indexed));
        for (const bool dropIndex : {true, false}) {
            const auto work = createTempMiTabCopy(table, dropIndex, &cap.log);
            ASSERT_TRUE(work) << cap.log.text();
            EXPECT_EQ(work->ParentFolder(), withTrailingSeparator(fileSystem().tempFolder()));
            const bool keepsIndex = indexed && !dropIndex;
            EXPECT_EQ(work->INDfullpath().empty(), !keepsIndex);
            EXPECT_EQ(fs::exists(work->ParentFolder() + work->TabBaseName() + ".IND"), keepsIndex);
            const std::string original = test::readText(dir() / "in" / "roads.tab");
            EXPECT_EQ(test::readText(work->TABfullPath()),
                      indexed && dropIndex ? removeTabIndexes(original) : original);
            EXPECT_EQ(test::readBytes(work->DATfullpath()), m_input.at("roads.DAT"));
            EXPECT_EQ(test::snapshot(dir() / "in"), m_input);
        }
    }
    EXPECT_EQ(cap.log.text(), "");

    test::writeText(dir() / "in" / "roads.tab", "!table\r\n!version 300\r\nOpen Table \"a\"\r\n");
    test::writeText(dir() / "in" / "roads.IND", "index");
    mapinfoTableFilesPull view;
    view.initByTABpath(path("in/roads.tab"));
    EXPECT_FALSE(createTempMiTabCopy(view, true, &cap.log));
    EXPECT_EQ(cap.lines(),
              Strings{"+++ mapinfoRecoverTable::createTempMiTabCopy()+++ 5 The table definition in '" +
                      test::utf8(dir() / "in" / "roads.tab") + "' is not recognised"});
}

} // namespace
} // namespace tabrescue
