#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "dat/tab_text.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "table/file_system.h"
#include "table/recover_error.h"
#include "table/working_copy.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

RandomSource fixedBytes(std::function<std::byte()> next)
{
    return [next](std::span<std::byte> out) {
        for (auto& b : out)
            b = next();
    };
}

Strings listing(const fs::path& folder)
{
    Strings names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class WorkingCopyTest : public test::TempDirTest
{
  protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        if (const char* old = std::getenv("TMPDIR"))
            m_oldTmp = old;
        for (const char* sub : {"tmp", "in", "out"})
            fs::create_directory(dir() / sub);
        setenv("TMPDIR", path("tmp").c_str(), 1); // the run's folder goes inside the test's
        fileSystem().startNewRun();
    }
    void TearDown() override
    {
        if (m_oldTmp)
            setenv("TMPDIR", m_oldTmp->c_str(), 1);
        else
            unsetenv("TMPDIR");
        fileSystem().setFaultHook(nullptr);
        fileSystem().startNewRun();
        setGuidRandomSource(nullptr);
        test::TempDirTest::TearDown();
    }
    // in/roads.* with .TAB, .DAT, .MAP, .ID and, when indexed, .IND.
    std::string input(bool indexed = false, const std::string& ext = "TAB")
    {
        auto tab = test::TabTextBuilder().field("ID Integer");
        indexed ? tab.indexedField("NAME Char (8)", 1) : tab.field("NAME Char (8)");
        tab.write(dir() / "in" / ("roads." + ext));
        test::DatBuilder().field("ID", 4).field("NAME", 8).rows(" * ").write(dir() / "in" / "roads.DAT");
        test::writeText(dir() / "in" / "roads.MAP", std::string(1024, 'm'));
        test::writeText(dir() / "in" / "roads.ID", "idid");
        if (indexed)
            test::writeText(dir() / "in" / "roads.IND", "index");
        else
            fs::remove(dir() / "in" / "roads.IND");
        m_input = test::snapshot(dir() / "in");
        return path("in/roads." + ext);
    }
    std::string out(const std::string& name) const { return path("out/" + name); }
    void expectInputUnchanged() const { EXPECT_EQ(test::snapshot(dir() / "in"), m_input); }
    // Every destination file that is not a backup is a whole copy of its source component.
    void expectNoCutFiles(const std::string& base) const
    {
        for (const auto& [name, bytes] : test::snapshot(dir() / "out")) {
            if (name.rfind(base + ".", 0) == 0 && name.find(".bak") == std::string::npos) {
                EXPECT_EQ(bytes, m_input.at("roads" + name.substr(base.size()))) << name;
            }
        }
    }
    std::string tempFolder() const { return withTrailingSeparator(fileSystem().tempFolder()); }

    test::LogCapture cap;
    test::Snapshot m_input;
    std::optional<std::string> m_oldTmp;
};

TEST_F(WorkingCopyTest, GuidsAreRandomUpperHex)
{
    const std::string a = newGuidHex(), b = newGuidHex();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos) << a;
    EXPECT_NE(a, b);
    int i = 0;
    setGuidRandomSource(fixedBytes([&] { return static_cast<std::byte>(i++ * 0x11); }));
    EXPECT_EQ(newGuidString(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
    setGuidRandomSource([](std::span<std::byte>) { throw RecoverError(kErrPathAccess, "No random source"); });
    EXPECT_EQ(newGuidString(), "");
    EXPECT_EQ(newGuidHex(), "");
}

TEST_F(WorkingCopyTest, TempPathIsFreeAndPrivate)
{
    const std::string p = makeTempTabPath(&cap.log);
    EXPECT_EQ(parentOf(p), tempFolder());
    EXPECT_EQ(p.rfind(withTrailingSeparator(path("tmp")), 0), 0u);
    EXPECT_EQ(fs::status(parentOf(p)).permissions() & fs::perms::all, fs::perms::owner_all);
    const std::string name = fileNameOf(p);
    ASSERT_EQ(name.size(), 35u);
    EXPECT_EQ(name.substr(0, 1) + name.substr(31), "~.tab");
    EXPECT_EQ(name.substr(1, 30).find_first_not_of("0123456789ABCDEF"), std::string::npos);

    // A candidate is taken when any of its five files exists, in any letter case.
    int calls = 0;
    setGuidRandomSource([&](std::span<std::byte> o) {
        std::fill(o.begin(), o.end(), static_cast<std::byte>(++calls == 1 ? 0x11 : 0x22));
    });
    test::writeText(tempFolder() + "~" + std::string(30, '1') + ".id", "");
    EXPECT_EQ(fileNameOf(makeTempTabPath(&cap.log)), "~" + std::string(30, '2') + ".tab");
    EXPECT_EQ(calls, 2);

    calls = 0;
    test::writeText(tempFolder() + "~" + std::string(30, '2') + ".IND", "");
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    setGuidRandomSource([](std::span<std::byte>) { throw RecoverError(kErrPathAccess, "No random source"); });
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    const Strings lines = cap.lines();
    ASSERT_EQ(lines.size(), 2u) << cap.log.text();
    EXPECT_EQ(
        lines[0].rfind("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 75 No free temporary table name", 0),
        0u);
    EXPECT_EQ(lines[1].rfind("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 5 ", 0), 0u);
}

TEST_F(WorkingCopyTest, CopyBacksUpWhatItWouldOverwrite)
{
    const std::string src = input();
    test::writeText(out("roads_MAP.TAB"), "old tab");
    test::writeText(out("roads_MAP.TAB.bak"), "older tab");
    test::writeText(out("roads_MAP.DAT.bak"), "orphan backup");
    EXPECT_EQ(mapinfoTabCopy(src, out("roads_MAP.tab"), &cap.log), out("roads_MAP.TAB"));
    EXPECT_EQ(cap.lines(), (Strings{"File '" + out("roads_MAP.TAB.bak") + "' was deleted.",
                                    "File '" + out("roads_MAP.TAB") + "' was backuped as '" +
                                        out("roads_MAP.TAB.bak") + "'."}));
    EXPECT_EQ(listing(dir() / "out"), (Strings{"roads_MAP.DAT", "roads_MAP.DAT.bak", "roads_MAP.ID",
                                               "roads_MAP.MAP", "roads_MAP.TAB", "roads_MAP.TAB.bak"}));
    EXPECT_EQ(test::readText(dir() / "out" / "roads_MAP.TAB.bak"), "old tab");
    EXPECT_EQ(test::readText(dir() / "out" / "roads_MAP.DAT.bak"), "orphan backup");
    expectNoCutFiles("roads_MAP");
    expectInputUnchanged();
}

TEST_F(WorkingCopyTest, CopyMatchesNamesWithoutRegardToCase)
{
    const std::string src = input(true, "tab"); // a lower-case .tab on disk
    for (const char* name : {"roads_DAT.tab", "roads_DAT.tab.BAK", "roads_dat.ind"}) {
        test::writeText(dir() / "out" / name, name);
        fs::permissions(dir() / "out" / name, fs::perms::owner_read);
    }
    EXPECT_EQ(mapinfoTabCopy(src, out("roads_DAT.tab"), &cap.log), out("roads_DAT.TAB"));
    EXPECT_EQ(listing(dir() / "out"),
              (Strings{"roads_DAT.DAT", "roads_DAT.ID", "roads_DAT.IND", "roads_DAT.MAP", "roads_DAT.TAB",
                       "roads_DAT.tab.bak", "roads_dat.ind.bak"}));
    EXPECT_EQ(test::readText(dir() / "out" / "roads_DAT.tab.bak"), "roads_DAT.tab");
    EXPECT_EQ(test::readBytes(dir() / "out" / "roads_DAT.TAB"), m_input.at("roads.tab"));
    EXPECT_EQ(cap.lines().size(), 3u) << cap.log.text();
}

// A failed copy: the result is empty, the listed lines are written, the input stays as it was and no
// destination file is a cut copy.
struct CopyFailure
{
    const char* name;
    std::function<void(const fs::path& out)> arrange;
    std::string dst;
    Strings linePrefixes;
};

class WorkingCopyFailure : public WorkingCopyTest, public ::testing::WithParamInterface<CopyFailure>
{
};

void PrintTo(const CopyFailure& c, std::ostream* os)
{
    *os << c.name;
}

TEST_P(WorkingCopyFailure, SaysSoAndCutsNothing)
{
    const auto& c = GetParam();
    const std::string src = input();
    c.arrange(dir() / "out");
    EXPECT_EQ(mapinfoTabCopy(src, out(c.dst), &cap.log), "");
    const Strings lines = cap.lines();
    ASSERT_EQ(lines.size(), c.linePrefixes.size()) << cap.log.text();
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(c.linePrefixes[i], 0), 0u) << lines[i];
    fileSystem().setFaultHook(nullptr);
    fs::permissions(dir() / "out", fs::perms::owner_all);
    expectInputUnchanged();
    expectNoCutFiles("x");
    EXPECT_FALSE(fs::exists(dir() / "victim")); // nothing was written through a link
}

void failOn(const std::string& op, const std::string& suffix, int number)
{
    fileSystem().setFaultHook([=](std::string_view o, const std::string& p) {
        if (o == op && p.size() >= suffix.size() &&
            p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0)
            throw RecoverError(number, "Injected");
    });
}

const std::string kCoping = "Error in coping file '";
const std::string kCopyError = "+++ mapinfoRecoverTable::mapinfoTabCopy()+++ ";

INSTANTIATE_TEST_SUITE_P(
    Faults, WorkingCopyFailure,
    ::testing::Values(
        CopyFailure{"DiskFullOnDat",
                    [](const fs::path& out) {
                        test::writeText(out / "x.DAT", "kept");
                        failOn("write", "x.DAT", kErrDiskFull);
                    },
                    "x.tab",
                    {"File '", kCoping, kCopyError + "61 "}},
        CopyFailure{"TargetSizeDiffers",
                    [](const fs::path&) {
                        fileSystem().setFaultHook([](std::string_view o, const std::string& p) {
                            if (o == "size" && p.ends_with("x.DAT"))
                                std::ofstream(p, std::ios::app) << "+";
                        });
                    },
                    "x.tab",
                    {kCoping}},
        CopyFailure{
            "DanglingLinkAtTarget",
            [](const fs::path& out) { fs::create_symlink(out.parent_path() / "victim", out / "x.MAP"); },
            "x.tab",
            {kCoping, kCopyError + "75 "}},
        CopyFailure{"FolderNotWritable",
                    [](const fs::path& out) {
                        fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
                        std::ofstream probe(out / "probe");
                        if (probe) // permission bits do not bind this user: inject the refusal instead
                            failOn("create", "x.TAB", kErrPermission);
                    },
                    "x.tab",
                    {kCoping, kCopyError + "70 "}},
        CopyFailure{"SourceItself", [](const fs::path&) {}, "../in/roads.tab", {kCopyError + "5 "}},
        CopyFailure{"NotATabPath", [](const fs::path&) {}, "x.dat", {kCopyError + "5 "}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(WorkingCopyTest, MissingSourceIsReported)
{
    EXPECT_EQ(mapinfoTabCopy(path("in/none.TAB"), out("x.tab"), &cap.log), "");
    EXPECT_FALSE(openMiTable(path("in"), &cap.log));
    test::writeText(dir() / "in" / "lonely.TAB", "!table\r\n"); // no .DAT, no .MAP/.ID: no table, no line
    EXPECT_FALSE(openMiTable(path("in/lonely.TAB"), &cap.log));
    EXPECT_EQ(cap.lines(), (Strings{"File '" + path("in/none.TAB") + "' not exists or can't be opened.",
                                    "File '" + path("in") + "' not exists or can't be opened."}));
    EXPECT_TRUE(listing(dir() / "out").empty());
}

TEST_F(WorkingCopyTest, MoveDeletesTheSourceTabOnlyWhenAllArrived)
{
    const std::string src = input();
    failOn("write", "b.ID", kErrDiskFull);
    EXPECT_EQ(mapinfoTabMove(src, out("b.tab"), &cap.log), "");
    EXPECT_TRUE(fs::exists(src));
    fileSystem().setFaultHook(nullptr);
    EXPECT_EQ(mapinfoTabMove(src, out("a.tab"), &cap.log), out("a.TAB"));
    EXPECT_FALSE(fs::exists(src));
    EXPECT_EQ(listing(dir() / "in"), (Strings{"roads.DAT", "roads.ID", "roads.MAP"}));
    EXPECT_EQ(listing(dir() / "out"),
              (Strings{"a.DAT", "a.ID", "a.MAP", "a.TAB", "b.DAT", "b.MAP", "b.TAB"}));
}

TEST_F(WorkingCopyTest, FullFileSystem)
{
    const fs::path small = dir() / "small";
    fs::create_directory(small);
    if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + small.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no small file system can be mounted here; the injected fault covers this";
    const std::string src = input();
    test::writeText(dir() / "in" / "roads.MAP", std::string(64 * 1024, 'm'));
    const std::string result = mapinfoTabCopy(src, (small / "x.tab").string(), &cap.log);
    const Strings inSmall = listing(small);
    std::system(("umount '" + small.string() + "'").c_str());
    EXPECT_EQ(result, "");
    EXPECT_EQ(inSmall, (Strings{"x.DAT", "x.TAB"}));
    ASSERT_EQ(cap.lines().size(), 2u) << cap.log.text();
    EXPECT_EQ(cap.lines()[1].rfind(kCopyError + "61 ", 0), 0u);
}

TEST_F(WorkingCopyTest, WorkingCopyDropsTheIndex)
{
    for (const bool indexed : {true, false}) {
        mapinfoTableFilesPull table;
        table.initByTABpath(input(indexed));
        for (const bool dropIndex : {true, false}) {
            const auto work = createTempMiTabCopy(table, dropIndex, &cap.log);
            ASSERT_TRUE(work) << cap.log.text();
            EXPECT_EQ(work->ParentFolder(), tempFolder());
            EXPECT_EQ(work->TabBaseName().size(), 31u);
            const bool dropped = indexed && dropIndex;
            EXPECT_EQ(work->INDfullpath().empty(), !indexed || dropIndex);
            EXPECT_EQ(fs::exists(work->ParentFolder() + work->TabBaseName() + ".IND"), indexed && !dropIndex);
            const std::string tab = test::readText(work->TABfullPath());
            const std::string original = test::readText(dir() / "in" / "roads.TAB");
            EXPECT_EQ(tab, dropped ? removeTabIndexes(original) : original);
            if (dropped) {
                EXPECT_EQ(tab.find("Index"), std::string::npos);
            }
            EXPECT_EQ(test::readBytes(work->DATfullpath()), m_input.at("roads.DAT"));
            expectInputUnchanged();
        }
    }
    EXPECT_TRUE(cap.log.text().empty()) << cap.log.text();

    test::writeText(dir() / "in" / "roads.TAB", "!table\r\n!version 300\r\nOpen Table \"a\"\r\n");
    test::writeText(dir() / "in" / "roads.IND", "index");
    mapinfoTableFilesPull view;
    view.initByTABpath(path("in/roads.TAB"));
    EXPECT_FALSE(createTempMiTabCopy(view, true, &cap.log));
    EXPECT_EQ(cap.lines(),
              (Strings{"+++ mapinfoRecoverTable::createTempMiTabCopy()+++ 5 The table definition in '" +
                       path("in/roads.TAB") + "' is not recognised"}));
}

} // namespace
} // namespace tabrescue
