#include <gtest/gtest.h>

#include "io/file_system.h"
#include "io/platform.h"
#include "io/paths.h"
#include "support/log_capture.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"
#include "table/working_copy.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

class WorkingCopyTest : public test::TempDirTest
{
  protected:
    void TearDown() override
    {
        setGuidRandomSource(nullptr);
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }
    test::LogCapture cap;
};

// Temporary names: "~" + 30 hex digits + ".tab" in the run's folder; a name is taken when any of its
// five files exists, in any letter case; after 100 taken names there is none.
TEST_F(WorkingCopyTest, TemporaryNames)
{
    const test::ScopedTempFolder tmp(dir());
    const std::string a = newGuidHex();
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos) << a;
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, newGuidHex());
    const std::string run = withTrailingSeparator(fileSystem().tempFolder());
    int calls = 0;
    setGuidRandomSource([&](std::span<std::byte> o) {
        std::fill(o.begin(), o.end(), std::byte(++calls == 1 ? 0x11 : 0x22));
    });
    EXPECT_EQ(newGuidString(), "{11111111-1111-1111-1111-111111111111}");
    calls = 0;
    test::writeText(run + "~" + std::string(30, '1') + ".id", "");
    EXPECT_EQ(makeTempTabPath(&cap.log), run + "~" + std::string(30, '2') + ".tab");
    test::writeText(run + "~" + std::string(30, '2') + ".IND", "");
    calls = 0;
    EXPECT_EQ(makeTempTabPath(&cap.log), "");
    EXPECT_EQ(calls, 100);
    EXPECT_TRUE(
        cap.log.text().starts_with("+++ mapinfoRecoverTable::mapinfoTabRecover()+++ 75 No free temporary"));
}

TEST_F(WorkingCopyTest, RefusedCopies)
{
    const test::ScopedTempFolder tmp(dir());
    const std::string src = test::writeSimpleTable(dir(), "roads", "*").tabPath;
    EXPECT_EQ(mapinfoTabCopy(src, path("ROADS.tab"), &cap.log), "");
    EXPECT_EQ(mapinfoTabCopy(src, path("x.dat"), &cap.log), "");
    EXPECT_FALSE(fs::exists(dir() / "roads.TAB.bak"));
    // An index to drop in a definition that is not recognised: no working copy.
    test::writeText(dir() / "roads.TAB", "!table\r\n!version 300\r\nOpen Table \"a\"\r\n");
    test::writeText(dir() / "roads.IND", "index");
    mapinfoTableFilesPull view;
    view.initByTABpath(src);
    EXPECT_FALSE(createTempMiTabCopy(view, true, &cap.log));
    const std::vector<std::string> lines = cap.lines();
    ASSERT_EQ(lines.size(), 3u) << cap.log.text();
    for (const std::string& line : {lines[0], lines[1]})
        EXPECT_TRUE(line.starts_with("+++ mapinfoRecoverTable::mapinfoTabCopy()+++ 5 ")) << line;
    EXPECT_EQ(lines[2], "+++ mapinfoRecoverTable::createTempMiTabCopy()+++ 5 The table definition in '" +
                            src + "' is not recognised");
}

// A component that arrives short (the source changed under the copy) fails the copy: one line, the
// cut file gone, its predecessor kept under the backup name.
TEST_F(WorkingCopyTest, ShortCopyIsNoCopy)
{
    const std::string src = test::writeSimpleTable(dir(), "roads", "*").tabPath;
    test::writeText(dir() / "out.DAT", "older");
    platform::setFaultHook([](platform::Call call, const std::string& path) {
        // The kernel's copy where there is one, else the reads of the copy through a buffer.
        const bool copying = call == platform::Call::Copy || call == platform::Call::Read;
        return platform::Fault{0, copying && path.ends_with(".DAT") ? 0u : SIZE_MAX};
    });
    const std::string copied = mapinfoTabCopy(src, path("out.tab"), &cap.log);
    platform::setFaultHook(nullptr);
    EXPECT_EQ(copied, "");
    const std::vector<std::string> lines{
        "File '" + path("out.DAT") + "' was backuped as '" + path("out.DAT.bak") + "'.",
        "Error in coping file '" + path("roads.DAT") + "' to file '" + path("out.DAT") + "'."};
    EXPECT_EQ(cap.lines(), lines);
    EXPECT_FALSE(fs::exists(dir() / "out.DAT"));
}

} // namespace
} // namespace tabrescue
