#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "support/files.h"
#include "support/temp_dir.h"
#include "table/byte_order.h"
#include "table/file_system.h"
#include "table/platform.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

static_assert(readLE32(std::array{std::byte{0x78}, std::byte{0x56}, std::byte{0x34}, std::byte{0x12}}, 0) ==
              0x12345678u);
static_assert(readLE16s(std::array{std::byte{0xFF}, std::byte{0xFF}}, 0) == -1);
static_assert(readLE16(std::array{std::byte{0x00}, std::byte{0x80}}, 0) == 32768);

class FileSystemTest : public test::TempDirTest
{
  protected:
    FileSystem& fsys = fileSystem();
    void TearDown() override
    {
        fsys.setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }
    static int errorOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const RecoverError& e) {
            return e.number();
        }
        return 0;
    }
};

TEST_F(FileSystemTest, FindsNamesWithoutRegardToCase)
{
    fs::create_directory(dir() / "Data");
    test::writeText(dir() / "Data" / "roads.dat", "a");
    test::writeText(dir() / "Data" / test::u8path("Дороги.map"), "c");
    EXPECT_TRUE(fsys.fileExists(path("DATA/Roads.DAT")));
    EXPECT_TRUE(fsys.fileExists(path("data/дороги.MAP")));
    EXPECT_EQ(fsys.readAll(path("DATA/ДОРОГИ.MAP")), "c");
    EXPECT_EQ(fsys.fileSize(path("data/ROADS.dat")), 1u);
    EXPECT_FALSE(fsys.fileExists(path("Data")));
    EXPECT_TRUE(fsys.folderExists(path("DATA")));
    EXPECT_FALSE(fsys.fileExists(path("Data/missing.dat")));
    EXPECT_FALSE(fsys.fileExists(""));
    EXPECT_EQ(fsys.resolve(path("Data/missing.dat")), path("Data/missing.dat"));
}

TEST_F(FileSystemTest, ResolveNamesFilesAsOnDisk)
{
    fs::create_directory(dir() / "Data");
    test::writeText(dir() / "Data" / "roads.dat", "a");
    test::writeText(dir() / "Data" / test::u8path("Дороги.map"), "c");
    EXPECT_EQ(fsys.resolve(path("DATA/ROADS.DAT")), path("Data/roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/ДОРОГИ.MAP")), path("Data/Дороги.map"));
    EXPECT_EQ(fsys.resolve(path("Data/roads.dat")), path("Data/roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/missing.dat")), path("data/missing.dat"));
    EXPECT_EQ(fsys.resolve(path("data/./ROADS.dat")), path("Data/./roads.dat"));
    if (platform::caseSensitiveNames()) {
        test::writeText(dir() / "Data" / "ROADS.DAT", "b");
        EXPECT_EQ(fsys.resolve(path("Data/ROADS.DAT")), path("Data/ROADS.DAT")); // an exact match wins
        EXPECT_EQ(fsys.resolve(path("data/roads.DAT")), path("Data/ROADS.DAT")); // sorted: upper case first
    }
}

TEST_F(FileSystemTest, NamesBeyondAsciiReachTheDisk)
{
    const std::string name = "Дороги района №2.TAB";
    fsys.writeAll(path(name), "x");
    ASSERT_TRUE(fs::exists(dir() / test::u8path(name)));
    EXPECT_EQ(test::utf8(fs::directory_iterator(dir())->path().filename()), name);
    EXPECT_EQ(fileNameOf(fsys.absolutePath(path(name))), name);
}

TEST_F(FileSystemTest, TrailingSeparatorsNameFolders)
{
    fs::create_directory(dir() / "out");
    test::writeText(dir() / "file.TAB", "x");
    const std::string sep(1, pathSeparator());
    for (const std::string& folder : {path("out"), path("out") + sep, path("out") + "/", path("OUT") + sep})
        EXPECT_TRUE(fsys.folderExists(folder)) << folder;
    EXPECT_FALSE(fsys.fileExists(path("file.TAB") + sep));
    EXPECT_FALSE(fsys.folderExists(path("file.TAB") + sep));
    EXPECT_FALSE(fsys.folderExists(path("missing") + sep));
    EXPECT_FALSE(fsys.fileExists(path("out") + sep));
    const std::string root = test::utf8(dir().root_path());
    EXPECT_TRUE(fsys.folderExists(root)) << root;
    // A file written through a folder path that ends in a separator lands in that folder.
    fsys.writeAll(path("out") + sep + "r_DAT.TAB", "y");
    EXPECT_EQ(test::readText(dir() / "out" / "r_DAT.TAB"), "y");
}

TEST_F(FileSystemTest, CopyMoveDelete)
{
    test::writeText(dir() / "a.bin", "hello");
    test::writeText(dir() / "b.bin", "a much longer old content");
    fsys.copyFile(path("A.BIN"), path("b.bin"));
    EXPECT_EQ(test::readText(dir() / "b.bin"), "hello");

    fsys.moveFile(path("b.bin"), path("c.bin"));
    EXPECT_FALSE(fs::exists(dir() / "b.bin"));
    EXPECT_EQ(test::readText(dir() / "c.bin"), "hello");

    fs::permissions(dir() / "c.bin", fs::perms::owner_read);
    fsys.deleteFile(path("C.bin"));
    EXPECT_FALSE(fs::exists(dir() / "c.bin"));
}

// Read-only files (Windows: the read-only attribute) behave alike on both systems.
TEST_F(FileSystemTest, ReadOnlyFiles)
{
    test::writeText(dir() / "ro.TAB", "old");
    fs::permissions(dir() / "ro.TAB", fs::perms::owner_read);

    // A copy of a read-only file can be written and deleted like any other.
    fsys.copyFile(path("ro.TAB"), path("copy.TAB"));
    auto copy = fsys.openReadWrite(path("copy.TAB"));
    copy.writeAt(0, test::toBytes("new"));
    copy.close();
    EXPECT_EQ(test::readText(dir() / "copy.TAB"), "new");

    // A backup move of a read-only file keeps it read-only under its new name.
    fsys.moveFile(path("ro.TAB"), path("ro.TAB.bak"));
    EXPECT_FALSE(fs::exists(dir() / "ro.TAB"));
    EXPECT_EQ(fs::status(dir() / "ro.TAB.bak").permissions() & fs::perms::owner_write, fs::perms::none);

    // A move replaces a read-only target.
    fsys.moveFile(path("copy.TAB"), path("ro.TAB.bak"));
    EXPECT_EQ(test::readText(dir() / "ro.TAB.bak"), "new");
    EXPECT_FALSE(fs::exists(dir() / "copy.TAB"));

    fs::permissions(dir() / "ro.TAB.bak", fs::perms::owner_read);
    fsys.deleteFile(path("ro.TAB.bak"));
    EXPECT_FALSE(fs::exists(dir() / "ro.TAB.bak"));
}

TEST_F(FileSystemTest, OpenFilesShareAsNeeded)
{
    test::writeText(dir() / "in.MAP", "geometry");
    auto reader = fsys.openRead(path("in.MAP"));
    // A second reader, and a writer elsewhere, while the first reader is open.
    auto again = fsys.openRead(path("in.MAP"));
    EXPECT_EQ(fsys.readAll(path("in.MAP")), "geometry");
    auto writer = fsys.create(path("out.MAP"));
    writer.writeAt(0, test::toBytes("partial"));
    // Another reader sees a file while it is being written.
    EXPECT_EQ(fsys.readAll(path("out.MAP")), "partial");
    writer.close();
    // A file open for reading can still be moved away.
    fsys.moveFile(path("in.MAP"), path("moved.MAP"));
    EXPECT_TRUE(fs::exists(dir() / "moved.MAP"));
}

TEST_F(FileSystemTest, FailuresAreNumbered)
{
    fs::create_directory(dir() / "folder");
    test::writeText(dir() / "taken", "x");
    // Windows tells a missing folder on the way from a missing file; POSIX does not.
    const int missingFolder = pathSeparator() == '\\' ? kErrPathNotFound : kErrFileNotFound;
    const struct
    {
        const char* what;
        std::function<void()> call;
        int expected;
    } cases[] = {
        {"open missing", [&] { fsys.openRead(path("missing")); }, kErrFileNotFound},
        {"open in missing folder", [&] { fsys.openRead(path("nofolder/x")); }, missingFolder},
        {"create in missing folder", [&] { fsys.create(path("nofolder/x")); }, missingFolder},
        {"open a folder", [&] { fsys.openRead(path("folder")); }, kErrPathAccess},
        {"open a folder to write", [&] { fsys.openReadWrite(path("folder")); }, kErrPathAccess},
        {"delete missing", [&] { fsys.deleteFile(path("missing")); }, kErrFileNotFound},
        {"delete a folder", [&] { fsys.deleteFile(path("folder")); }, kErrPathAccess},
        {"read a folder", [&] { fsys.readAll(path("folder")); }, kErrPathAccess},
        {"move missing", [&] { fsys.moveFile(path("missing"), path("other")); }, kErrFileNotFound},
        {"size of missing", [&] { fsys.fileSize(path("missing")); }, kErrFileNotFound},
        {"exclusive on a taken name", [&] { fsys.createExclusive(path("taken")); }, kErrPathAccess},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c.call), c.expected) << c.what;
    EXPECT_EQ(test::readText(dir() / "taken"), "x");

    test::writeText(dir() / "short", "abc");
    auto f = fsys.openRead(path("short"));
    std::array<std::byte, 4> buf{};
    EXPECT_EQ(errorOf([&] { f.readExactAt(0, buf); }), kErrPastEnd);
    EXPECT_EQ(f.readAt(100, buf), 0u);
}

TEST_F(FileSystemTest, NeverWritesThroughALink)
{
    test::writeText(dir() / "victim", "keep");
    std::error_code ec;
    fs::create_symlink(dir() / "victim", dir() / "link", ec);
    if (ec || !fs::is_symlink(dir() / "link"))
        GTEST_SKIP() << "this system makes no symbolic links here";
    EXPECT_EQ(errorOf([&] { fsys.create(path("link")); }), kErrPermission);
    EXPECT_EQ(errorOf([&] { fsys.openReadWrite(path("link")); }), kErrPermission);
    EXPECT_EQ(errorOf([&] { fsys.createExclusive(path("link")); }), kErrPathAccess);
    EXPECT_EQ(errorOf([&] { fsys.copyFile(path("victim"), path("link")); }), kErrPermission);
    fsys.deleteFile(path("link"));
    EXPECT_EQ(test::readText(dir() / "victim"), "keep");
}

TEST_F(FileSystemTest, PrivateTempFolderInsideTheSystemOne)
{
    const char* variable = platform::tempFolderVariable();
    const auto saved = platform::environmentVariable(variable);
    platform::setEnvironmentVariable(variable, test::utf8(dir()));
    fsys.startNewRun();
    const std::string run = fsys.tempFolder();
    fsys.startNewRun();
    const std::string second = fsys.tempFolder();
    fsys.startNewRun();
    platform::setEnvironmentVariable(variable, saved);

    EXPECT_TRUE(fs::equivalent(test::u8path(run).parent_path(), dir())) << run;
    EXPECT_TRUE(fs::is_directory(test::u8path(run)));
    EXPECT_NE(second, run);
    if (pathSeparator() == '/') { // Windows: the folder's ACL, which std::filesystem does not show
        EXPECT_EQ(fs::status(test::u8path(run)).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    // Files inside it are ours to write and remove.
    fsys.writeAll(joinPath(run, "probe"), "x");
    fsys.deleteFile(joinPath(run, "probe"));
}

TEST_F(FileSystemTest, TempFolderAnswerIsTheSystemOne)
{
    fsys.startNewRun();
    const std::string run = fsys.tempFolder();
    fsys.startNewRun();
    ASSERT_FALSE(run.empty());
    EXPECT_TRUE(fsys.folderExists(fsys.systemTempFolder()));
    EXPECT_EQ(withTrailingSeparator(parentOf(run)), withTrailingSeparator(fsys.systemTempFolder()));
    EXPECT_EQ(fileNameOf(run).rfind("tabrescue-", 0), 0u) << run;
    std::error_code ec;
    fs::remove(test::u8path(run), ec);
}

// Path helpers: a backslash separates names on Windows only; elsewhere it is part of a name.
struct PathCase
{
    const char* name;
    std::string path;
    std::string posixName, posixParent;
    std::string windowsName, windowsParent;
};

class PathPartsTest : public ::testing::TestWithParam<PathCase>
{
};

TEST_P(PathPartsTest, SplitsAtTheSystemsSeparators)
{
    const PathCase& c = GetParam();
    const bool windows = pathSeparator() == '\\';
    EXPECT_EQ(fileNameOf(c.path), windows ? c.windowsName : c.posixName);
    EXPECT_EQ(parentOf(c.path), windows ? c.windowsParent : c.posixParent);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathPartsTest,
    ::testing::Values(
        PathCase{"Slashes", "/data/roads.TAB", "roads.TAB", "/data/", "roads.TAB", "/data/"},
        PathCase{"Backslashes", "C:\\data\\roads.TAB", "C:\\data\\roads.TAB", "", "roads.TAB", "C:\\data\\"},
        PathCase{"Mixed", "C:\\data/sub\\roads.TAB", "sub\\roads.TAB", "C:\\data/", "roads.TAB",
                 "C:\\data/sub\\"},
        PathCase{"DriveRelative", "C:roads.TAB", "C:roads.TAB", "", "roads.TAB", "C:"},
        PathCase{"Unc", "\\\\srv\\maps\\t.TAB", "\\\\srv\\maps\\t.TAB", "", "t.TAB", "\\\\srv\\maps\\"},
        PathCase{"FolderOnly", "/data/", "", "/data/", "", "/data/"},
        PathCase{"NameOnly", "roads.TAB", "roads.TAB", "", "roads.TAB", ""}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST(PathJoin, AddsTheSeparatorOnlyWhenMissing)
{
    const std::string sep(1, pathSeparator());
    EXPECT_EQ(withTrailingSeparator("out"), "out" + sep);
    EXPECT_EQ(withTrailingSeparator("out/"), "out/"); // a slash ends a folder on both systems
    EXPECT_EQ(joinPath("out", "r_DAT.tab"), "out" + sep + "r_DAT.tab");
    EXPECT_EQ(joinPath("out/", "r_DAT.tab"), "out/r_DAT.tab");
    EXPECT_EQ(withTrailingSeparator("D:\\out\\"), sep == "\\" ? "D:\\out\\" : "D:\\out\\/");
    EXPECT_EQ(joinPath("D:\\out", "r.tab"), "D:\\out" + sep + "r.tab");
}

TEST_F(FileSystemTest, AbsolutePathUsesTheSystemsSeparator)
{
    const std::string sep(1, pathSeparator());
    const std::string absolute = fsys.absolutePath(path("a/./b/../c.TAB"));
    EXPECT_EQ(absolute, test::utf8(dir()) + sep + "a" + sep + "c.TAB");
    EXPECT_EQ(fsys.absolutePath(absolute), absolute);
}

TEST_F(FileSystemTest, FaultHookFailsTheNthCall)
{
    test::writeText(dir() / "a", "x");
    int calls = 0;
    fsys.setFaultHook([&](std::string_view, const std::string&) {
        if (++calls == 2)
            throw RecoverError(kErrDiskFull, "Disk full");
    });
    EXPECT_NO_THROW(fsys.fileExists(path("a")));
    EXPECT_EQ(errorOf([&] { fsys.copyFile(path("a"), path("b")); }), kErrDiskFull);
    EXPECT_FALSE(fs::exists(dir() / "b"));
}

TEST_F(FileSystemTest, ChunkReaderAndAppendWriterStream)
{
    std::string data;
    for (int i = 0; i < 100000; ++i)
        data += static_cast<char>(i % 251);
    test::writeText(dir() / "in", data);
    auto in = fsys.openRead(path("in"));
    ChunkReader reader(in, 4096);
    auto out = fsys.create(path("out"));
    AppendWriter writer(out, 0, 1000);
    for (std::uint64_t pos = 0; pos < reader.size(); pos += 777)
        writer.append(reader.view(pos, 777));
    writer.flush();
    out.close();
    EXPECT_EQ(test::readText(dir() / "out"), data);
    EXPECT_TRUE(reader.view(reader.size(), 1).empty());
}

TEST(ScratchBufferTest, MemoryIsLentAgainRatherThanAllocated)
{
    // Sizes no other user of the pool asks for, so that what this test gives back is what it gets.
    constexpr std::size_t kSize = (5u << 20) + 17, kOther = kSize + 1, kLarger = 6u << 20;
    const std::byte* first = nullptr;
    {
        ScratchBuffer a(kSize);
        first = a.data();
        ASSERT_NE(first, nullptr);
        EXPECT_GE(a.size(), kSize);
        a.data()[kSize - 1] = std::byte{7}; // the whole size is usable
    }
    {
        ScratchBuffer b(kSize); // the buffer just given back is the smallest that fits
        EXPECT_EQ(b.data(), first);
        ScratchBuffer c(kOther); // while b holds it, another one
        EXPECT_NE(c.data(), first);
        c.ensure(kLarger); // growing keeps nothing, but gives room
        EXPECT_GE(c.size(), kLarger);
        c.data()[kLarger - 1] = std::byte{1};
    }
    ScratchBuffer none(0);
    EXPECT_EQ(none.size(), 0u);
}

struct CopyToCase {
    const char* name;
    std::size_t sourceSize;
    std::uint64_t length;
    std::size_t oldTargetSize; // the target's bytes beyond the copied range stay
};

class BinaryFileCopyTest : public FileSystemTest, public ::testing::WithParamInterface<CopyToCase> {};

TEST_P(BinaryFileCopyTest, CopiesTheRangeToTheSamePlace)
{
    const CopyToCase& c = GetParam();
    std::string source, old(c.oldTargetSize, '#');
    for (std::size_t i = 0; i < c.sourceSize; ++i)
        source += static_cast<char>(i * 7 % 253);
    test::writeText(dir() / "in", source);
    test::writeText(dir() / "out", old);
    auto in = fsys.openRead(path("in"));
    auto out = fsys.openReadWrite(path("out"));
    const std::uint64_t expectedCount = std::min<std::uint64_t>(c.length, c.sourceSize);
    EXPECT_EQ(in.copyTo(out, c.length), expectedCount);
    out.close();

    std::string expected = source.substr(0, static_cast<std::size_t>(expectedCount));
    if (old.size() > expected.size())
        expected += old.substr(expected.size());
    EXPECT_EQ(test::readText(dir() / "out"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BinaryFileCopyTest,
    ::testing::Values(CopyToCase{"WholeFile", 300000, 300000, 0}, CopyToCase{"Prefix", 300000, 1000, 5000},
                      CopyToCase{"SourceEndsFirst", 1000, 300000, 0}, CopyToCase{"Nothing", 1000, 0, 10},
                      CopyToCase{"EmptySource", 0, 100, 3}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(FileSystemTest, CopyToPassesTheFaultHookAsReadsAndWrites)
{
    test::writeText(dir() / "in", std::string(5000, 'x'));
    std::vector<std::string> ops;
    fsys.setFaultHook([&](std::string_view op, const std::string& p) {
        ops.push_back(std::string(op) + " " + fs::path(p).filename().string());
        if (op == "write")
            throw RecoverError(kErrDiskFull, "Disk full");
    });
    auto in = fsys.openRead(path("in"));
    auto out = fsys.create(path("out"));
    EXPECT_EQ(errorOf([&] { in.copyTo(out, 5000); }), kErrDiskFull);
    EXPECT_EQ(ops, (std::vector<std::string>{"open in", "create out", "read in", "write out"}));
    EXPECT_EQ(test::readText(dir() / "out"), "");
}

} // namespace
} // namespace tabrescue
