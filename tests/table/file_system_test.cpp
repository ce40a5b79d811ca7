#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/files.h"
#include "support/temp_dir.h"
#include "table/byte_order.h"
#include "table/file_system.h"
#include "table/recover_error.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;

static_assert(readLE32(std::array{std::byte{0x78}, std::byte{0x56}, std::byte{0x34}, std::byte{0x12}}, 0) ==
              0x12345678u);
static_assert(readLE16s(std::array{std::byte{0xFF}, std::byte{0xFF}}, 0) == -1);
static_assert(readLE16(std::array{std::byte{0x00}, std::byte{0x80}}, 0) == 32768);

class FileSystemTest : public test::TempDirTest {
protected:
    FileSystem& fsys = fileSystem();
    void TearDown() override
    {
        fsys.setFaultHook(nullptr);
        test::TempDirTest::TearDown();
    }
    int errorOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const RecoverError& e) {
            return e.number();
        }
        return 0;
    }
};

TEST_F(FileSystemTest, ResolveFindsNamesWithoutRegardToCase)
{
    fs::create_directory(dir() / "Data");
    test::writeText(dir() / "Data" / "roads.dat", "a");
    test::writeText(dir() / "Data" / "ROADS.DAT", "b"); // an exact match wins
    test::writeText(dir() / "Data" / "Дороги.map", "c");
    EXPECT_EQ(fsys.resolve(path("Data/ROADS.DAT")), path("Data/ROADS.DAT"));
    EXPECT_EQ(fsys.resolve(path("data/roads.DAT")), path("Data/ROADS.DAT")); // sorted: upper case first
    EXPECT_EQ(fsys.resolve(path("DATA/ДОРОГИ.MAP")), path("Data/Дороги.map"));
    EXPECT_EQ(fsys.resolve(path("Data/missing.dat")), path("Data/missing.dat"));
    EXPECT_TRUE(fsys.fileExists(path("data/дороги.MAP")));
    EXPECT_FALSE(fsys.fileExists(path("Data")));
    EXPECT_TRUE(fsys.folderExists(path("DATA")));
    EXPECT_FALSE(fsys.fileExists(""));
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

TEST_F(FileSystemTest, FailuresAreNumbered)
{
    fs::create_directory(dir() / "folder");
    EXPECT_EQ(errorOf([&] { fsys.openRead(path("missing")); }), kErrFileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.openRead(path("nofolder/x")); }), kErrFileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.openRead(path("folder")); }), kErrPathAccess);
    EXPECT_EQ(errorOf([&] { fsys.deleteFile(path("missing")); }), kErrFileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.deleteFile(path("folder")); }), kErrPathAccess);
    EXPECT_EQ(errorOf([&] { fsys.readAll(path("folder")); }), kErrPathAccess);
    test::writeText(dir() / "short", "abc");
    auto f = fsys.openRead(path("short"));
    std::array<std::byte, 4> buf{};
    EXPECT_EQ(errorOf([&] { f.readExactAt(0, buf); }), kErrPastEnd);
}

TEST_F(FileSystemTest, NeverWritesThroughALink)
{
    test::writeText(dir() / "victim", "keep");
    fs::create_symlink(dir() / "victim", dir() / "link");
    EXPECT_EQ(errorOf([&] { fsys.create(path("link")); }), kErrPermission);
    EXPECT_EQ(errorOf([&] { fsys.createExclusive(path("link")); }), kErrPathAccess);
    EXPECT_EQ(errorOf([&] { fsys.copyFile(path("victim"), path("link")); }), kErrPermission);
    fsys.deleteFile(path("link"));
    EXPECT_EQ(test::readText(dir() / "victim"), "keep");
}

TEST_F(FileSystemTest, PrivateTempFolderInsideTmpdir)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", dir().c_str(), 1);
    fsys.startNewRun();
    const std::string run = fsys.tempFolder();
    EXPECT_EQ(fs::path(run).parent_path(), dir());
    EXPECT_EQ(fs::status(run).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fsys.tempFolder(), run);
    fsys.startNewRun();
    EXPECT_NE(fsys.tempFolder(), run);
    fsys.startNewRun();
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
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
