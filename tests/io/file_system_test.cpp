#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "base/byte_order.h"
#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

static_assert(readLE32(std::array{std::byte{0x78}, std::byte{0x56}, std::byte{0x34}, std::byte{0x12}}, 0) ==
              0x12345678u);
static_assert(readLE16s(std::array{std::byte{0xFF}, std::byte{0xFF}}, 0) == -1);
static_assert(readLE16(std::array{std::byte{0x00}, std::byte{0x80}}, 0) == 32768);

int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RecoverError& e) {
        return e.number();
    }
    return 0;
}

std::string pattern(std::size_t size, unsigned step)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(i * step % 251);
    return s;
}

class FileSystemTest : public test::TempDirTest
{
  protected:
    FileSystem& fsys = fileSystem();
    void TearDown() override
    {
        fsys.setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }
};

TEST_F(FileSystemTest, FindsNamesWithoutRegardToCaseAndReportsThemAsOnDisk)
{
    fs::create_directory(dir() / "Data");
    test::writeText(dir() / "Data" / "roads.dat", "a");
    fsys.writeAll(path("Data/Дороги района №2.map"), "c"); // names beyond ASCII reach the disk as given
    EXPECT_TRUE(fs::exists(dir() / "Data" / test::u8path("Дороги района №2.map")));
    EXPECT_EQ(fsys.readAll(path("DATA/ДОРОГИ РАЙОНА №2.MAP")), "c");
    EXPECT_EQ(fsys.fileSize(path("data/ROADS.dat")), 1u);
    EXPECT_TRUE(fsys.folderExists(path("DATA")));
    EXPECT_FALSE(fsys.fileExists(path("Data")));
    EXPECT_FALSE(fsys.fileExists(""));
    EXPECT_EQ(fsys.resolve(path("DATA/ROADS.DAT")), path("Data/roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/дороги района №2.MAP")), path("Data/Дороги района №2.map"));
    EXPECT_EQ(fsys.resolve(path("data/./ROADS.dat")), path("Data/./roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/missing.dat")), path("data/missing.dat"));
    if (platform::caseSensitiveNames()) {
        test::writeText(dir() / "Data" / "ROADS.DAT", "b");
        EXPECT_EQ(fsys.resolve(path("Data/roads.dat")), path("Data/roads.dat")); // an exact match wins
        EXPECT_EQ(fsys.resolve(path("Data/ROADS.DAT")), path("Data/ROADS.DAT"));
        EXPECT_EQ(fsys.resolve(path("data/roads.DAT")), path("Data/ROADS.DAT")); // sorted: upper case first
    }
}

// Read-only files (Windows: the read-only attribute) behave alike on both systems.
TEST_F(FileSystemTest, CopyMoveDeleteAlsoReadOnlyFiles)
{
    test::writeText(dir() / "ro.TAB", "old");
    test::writeText(dir() / "copy.TAB", "a much longer old content");
    fs::permissions(dir() / "ro.TAB", fs::perms::owner_read);

    fsys.copyFile(path("RO.tab"), path("copy.TAB")); // replaces a longer file, and is writable
    auto copy = fsys.openReadWrite(path("copy.TAB"));
    copy.writeAt(0, test::toBytes("new"));
    copy.close();
    EXPECT_EQ(test::readText(dir() / "copy.TAB"), "new");

    fsys.moveFile(path("ro.TAB"), path("ro.TAB.bak")); // a backup stays read-only
    EXPECT_FALSE(fs::exists(dir() / "ro.TAB"));
    EXPECT_EQ(fs::status(dir() / "ro.TAB.bak").permissions() & fs::perms::owner_write, fs::perms::none);

    fsys.moveFile(path("copy.TAB"), path("ro.TAB.bak")); // and a move replaces it
    EXPECT_EQ(test::readText(dir() / "ro.TAB.bak"), "new");
    EXPECT_FALSE(fs::exists(dir() / "copy.TAB"));

    fs::permissions(dir() / "ro.TAB.bak", fs::perms::owner_read);
    fsys.deleteFile(path("RO.TAB.bak"));
    EXPECT_FALSE(fs::exists(dir() / "ro.TAB.bak"));
}

TEST_F(FileSystemTest, OpenFilesShareAsNeeded)
{
    test::writeText(dir() / "in.MAP", "geometry");
    auto reader = fsys.openRead(path("in.MAP"));
    auto again = fsys.openRead(path("in.MAP"));
    auto writer = fsys.create(path("out.MAP"));
    writer.writeAt(0, test::toBytes("partial"));
    EXPECT_EQ(fsys.readAll(path("out.MAP")), "partial"); // readable while being written
    writer.close();
    fsys.moveFile(path("in.MAP"), path("moved.MAP")); // movable while open for reading
    EXPECT_TRUE(fs::exists(dir() / "moved.MAP"));
}

TEST_F(FileSystemTest, FailuresAreNumbered)
{
    fs::create_directory(dir() / "folder");
    test::writeText(dir() / "taken", "x");
    test::writeText(dir() / "short", "abc");
    // Windows tells a missing folder on the way from a missing file; POSIX does not.
    const int missingFolder = pathSeparator() == '\\' ? kErrPathNotFound : kErrFileNotFound;
    auto shortFile = fsys.openRead(path("short"));
    std::array<std::byte, 4> buf{};
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
        {"read past the end", [&] { shortFile.readExactAt(0, buf); }, kErrPastEnd},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c.call), c.expected) << c.what;
    EXPECT_EQ(test::readText(dir() / "taken"), "x");
    EXPECT_EQ(shortFile.readAt(100, buf), 0u);
}

TEST_F(FileSystemTest, NeverWritesThroughALink)
{
    test::writeText(dir() / "victim", "keep");
    if (!test::makeSymlink(dir() / "victim", dir() / "link"))
        GTEST_SKIP() << "this system makes no symbolic links here";
    EXPECT_EQ(errorOf([&] { fsys.create(path("link")); }), kErrPermission);
    EXPECT_EQ(errorOf([&] { fsys.openReadWrite(path("link")); }), kErrPermission);
    EXPECT_EQ(errorOf([&] { fsys.createExclusive(path("link")); }), kErrPathAccess);
    EXPECT_EQ(errorOf([&] { fsys.copyFile(path("victim"), path("link")); }), kErrPermission);
    fsys.deleteFile(path("link"));
    EXPECT_EQ(test::readText(dir() / "victim"), "keep");
}

TEST_F(FileSystemTest, EachRunHasAPrivateFolderInsideTheSystemOne)
{
    std::string run, second, systemFolder;
    {
        test::ScopedTempFolder tmp(dir());
        fsys.startNewRun();
        run = fsys.tempFolder();
        systemFolder = fsys.systemTempFolder();
        fsys.startNewRun();
        second = fsys.tempFolder();
    }
    fsys.startNewRun();
    EXPECT_TRUE(fsys.folderExists(fsys.systemTempFolder())); // the system's own, without TMPDIR
    EXPECT_TRUE(fs::equivalent(test::u8path(run).parent_path(), dir())) << run;
    EXPECT_EQ(withTrailingSeparator(parentOf(run)), withTrailingSeparator(systemFolder));
    EXPECT_EQ(fileNameOf(run).rfind("tabrescue-", 0), 0u) << run;
    EXPECT_NE(second, run);
    if (pathSeparator() == '/') { // Windows: the folder's ACL, which std::filesystem does not show
        EXPECT_EQ(fs::status(test::u8path(run)).permissions() & fs::perms::all, fs::perms::owner_all);
    }
}

// A backslash separates names on Windows only; elsewhere it is part of a name.
TEST(PathParts, SplitAtTheSystemsSeparators)
{
    const bool windows = pathSeparator() == '\\';
    const struct
    {
        std::string path, posixName, posixParent, windowsName, windowsParent;
    } cases[] = {
        {"/data/roads.TAB", "roads.TAB", "/data/", "roads.TAB", "/data/"},
        {"C:\\data/sub\\roads.TAB", "sub\\roads.TAB", "C:\\data/", "roads.TAB", "C:\\data/sub\\"},
        {"C:roads.TAB", "C:roads.TAB", "", "roads.TAB", "C:"},
        {"\\\\srv\\maps\\t.TAB", "\\\\srv\\maps\\t.TAB", "", "t.TAB", "\\\\srv\\maps\\"},
        {"/data/", "", "/data/", "", "/data/"},
        {"roads.TAB", "roads.TAB", "", "roads.TAB", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileNameOf(c.path), windows ? c.windowsName : c.posixName) << c.path;
        EXPECT_EQ(parentOf(c.path), windows ? c.windowsParent : c.posixParent) << c.path;
    }
}

TEST_F(FileSystemTest, SeparatorsInJoinsAbsolutePathsAndFolderNames)
{
    const std::string sep(1, pathSeparator());
    EXPECT_EQ(joinPath("out", "r_DAT.tab"), "out" + sep + "r_DAT.tab");
    EXPECT_EQ(joinPath("out/", "r_DAT.tab"), "out/r_DAT.tab"); // a slash ends a folder on both systems
    EXPECT_EQ(withTrailingSeparator("D:\\out\\"), sep == "\\" ? "D:\\out\\" : "D:\\out\\/");
    const std::string absolute = fsys.absolutePath(path("a/./b/../c.TAB"));
    EXPECT_EQ(absolute, test::utf8(dir()) + sep + "a" + sep + "c.TAB");
    EXPECT_EQ(fsys.absolutePath(absolute), absolute);

    // A trailing separator names a folder.
    fs::create_directory(dir() / "out");
    test::writeText(dir() / "file.TAB", "x");
    for (const std::string& folder : {path("out") + sep, path("out") + "/", path("OUT") + sep})
        EXPECT_TRUE(fsys.folderExists(folder)) << folder;
    EXPECT_TRUE(fsys.folderExists(test::utf8(dir().root_path())));
    EXPECT_FALSE(fsys.fileExists(path("file.TAB") + sep));
    EXPECT_FALSE(fsys.folderExists(path("file.TAB") + sep));
    EXPECT_FALSE(fsys.fileExists(path("out") + sep));
    fsys.writeAll(path("out") + sep + "r_DAT.TAB", "y");
    EXPECT_EQ(test::readText(dir() / "out" / "r_DAT.TAB"), "y");
}

TEST_F(FileSystemTest, FaultHookFailsTheChosenCall)
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

    // copyTo passes the hook as reads and writes.
    test::writeText(dir() / "in", std::string(5000, 'x'));
    std::vector<std::string> ops;
    fsys.setFaultHook([&](std::string_view op, const std::string& p) {
        ops.push_back(std::string(op) + " " + fileNameOf(p));
        if (op == "write")
            throw RecoverError(kErrDiskFull, "Disk full");
    });
    auto in = fsys.openRead(path("in"));
    auto out = fsys.create(path("out"));
    EXPECT_EQ(errorOf([&] { in.copyTo(out, 5000); }), kErrDiskFull);
    EXPECT_EQ(ops, (std::vector<std::string>{"open in", "create out", "read in", "write out"}));
    EXPECT_EQ(test::readText(dir() / "out"), "");
}

// Pieces smaller than, equal to and larger than the buffers, so that reads and appends cross every
// kind of boundary; every other piece is built in place.
TEST_F(FileSystemTest, ChunkReaderAndAppendWriterStreamAcrossBufferBoundaries)
{
    const std::string data = pattern(100000, 1);
    test::writeText(dir() / "in", data);
    auto in = fsys.openRead(path("in"));
    ChunkReader reader(in, 4096);
    test::writeText(dir() / "out", "kept");
    auto out = fsys.openReadWrite(path("out"));
    AppendWriter writer(out, 4, 1000);
    const std::size_t sizes[] = {777, 1000, 1, 4096, 1500, 0, 999};
    std::uint64_t pos = 0;
    for (int i = 0; pos < reader.size(); ++i) {
        const auto piece = reader.view(pos, sizes[i % std::size(sizes)]);
        if (i % 2)
            writer.append(piece);
        else if (!piece.empty())
            std::memcpy(writer.appendInPlace(piece.size()).data(), piece.data(), piece.size());
        pos += piece.size();
        ASSERT_EQ(writer.position(), 4 + pos);
    }
    writer.flush();
    out.close();
    EXPECT_EQ(test::readText(dir() / "out"), "kept" + data);
    EXPECT_TRUE(reader.view(reader.size(), 1).empty());
    EXPECT_EQ(reader.view(reader.size() - 3, 10).size(), 3u);
}

TEST(ScratchBufferTest, MemoryIsLentAgainRatherThanAllocated)
{
    // Sizes no other user of the pool asks for, so that what this test gives back is what it gets.
    constexpr std::size_t kSize = (5u << 20) + 17, kLarger = 6u << 20;
    const std::byte* first = nullptr;
    {
        ScratchBuffer a(kSize);
        first = a.data();
        ASSERT_GE(a.size(), kSize);
        a.data()[kSize - 1] = std::byte{7};
    }
    ScratchBuffer b(kSize); // the buffer just given back is the smallest that fits
    EXPECT_EQ(b.data(), first);
    ScratchBuffer c(kSize + 1); // while b holds it, another one
    EXPECT_NE(c.data(), first);
    c.ensure(kLarger);
    EXPECT_GE(c.size(), kLarger);
    c.data()[kLarger - 1] = std::byte{1};
    EXPECT_EQ(ScratchBuffer(0).size(), 0u);
}

// copyTo copies [0, length) to the same place; the target's bytes beyond it stay.
TEST_F(FileSystemTest, CopyToCopiesTheRangeToTheSamePlace)
{
    const struct
    {
        std::size_t sourceSize;
        std::uint64_t length;
        std::size_t oldTargetSize;
    } cases[] = {{300000, 300000, 0}, {300000, 1000, 5000}, {1000, 300000, 0}, {1000, 0, 10}, {0, 100, 3}};
    for (const auto& c : cases) {
        const std::string source = pattern(c.sourceSize, 7), old(c.oldTargetSize, '#');
        test::writeText(dir() / "in", source);
        test::writeText(dir() / "out", old);
        auto in = fsys.openRead(path("in"));
        auto out = fsys.openReadWrite(path("out"));
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(c.length, c.sourceSize));
        EXPECT_EQ(in.copyTo(out, c.length), count) << c.sourceSize << " " << c.length;
        out.close();
        const std::string expected = source.substr(0, count) + (old.size() > count ? old.substr(count) : "");
        EXPECT_EQ(test::readText(dir() / "out"), expected) << c.sourceSize << " " << c.length;
    }
}

} // namespace
} // namespace tabrescue
