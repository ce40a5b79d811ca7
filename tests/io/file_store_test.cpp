// The contract both stores keep: the memory store stands in for the disk in the fuzz targets and in
// tests, so wherever it differs from the system a test or a finding would mislead.
#include <gtest/gtest.h>

#include <functional>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/memory_store.h"
#include "io/paths.h"
#include "support/files.h"

namespace tabrescue {
namespace {

using platform::EntryKind;
using platform::OpenMode;

using test::errorOf;

std::span<const std::byte> bytesOf(std::string_view s)
{
    return std::as_bytes(std::span<const char>(s.data(), s.size()));
}

// Each test runs once on the system's files (in a fresh folder) and once in memory.
class FileStoreTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        m_folder = GetParam() ? (memory.makeFolder("case"), memory.absolutePath("case"))
                              : test::utf8(m_disk = test::makeTempDir());
        store = GetParam() ? static_cast<FileStore*>(&memory) : &systemStore();
    }
    void TearDown() override
    {
        if (!GetParam())
            test::removeTree(m_disk);
    }
    std::string at(const std::string& name) const { return joinPath(m_folder, name); }
    void write(const std::string& name, std::string_view bytes)
    {
        BinaryFile f(store->open(at(name), OpenMode::CreateTruncate));
        f.writeAt(0, bytesOf(bytes));
        f.close();
    }
    std::string read(const std::string& name)
    {
        BinaryFile f(store->open(at(name), OpenMode::Read));
        std::string s(static_cast<std::size_t>(f.size()), '\0');
        f.readAt(0, std::as_writable_bytes(std::span<char>(s.data(), s.size())));
        return s;
    }

    MemoryStore memory;
    FileStore* store = nullptr;
    std::string m_folder;

private:
    std::filesystem::path m_disk;
};

TEST_P(FileStoreTest, ReadsAndWritesAtPositions)
{
    BinaryFile f(store->open(at("a.bin"), OpenMode::CreateExclusive));
    f.writeAt(4, bytesOf("xyz")); // the gap before reads as zeros
    f.writeAt(1, bytesOf("B"));
    EXPECT_EQ(f.size(), 7u);
    std::array<std::byte, 10> out{};
    EXPECT_EQ(f.readAt(0, out), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), 7), std::string("\0B\0\0xyz", 7));
    EXPECT_EQ(f.readAt(7, out), 0u);
    EXPECT_EQ(f.readAt(100, out), 0u);
    f.close();
    EXPECT_EQ(store->entryKind(at("a.bin")), EntryKind::File);
    std::error_code ec;
    EXPECT_EQ(store->fileSize(at("a.bin"), ec), 7u);
    EXPECT_FALSE(ec);
}

TEST_P(FileStoreTest, CopiesBetweenOpenFiles)
{
    write("src", "0123456789");
    BinaryFile from(store->open(at("src"), OpenMode::Read));
    BinaryFile to(store->open(at("dst"), OpenMode::CreateTruncate));
    EXPECT_EQ(from.copyTo(to, 4), 4u);
    EXPECT_EQ(from.copyTo(to, 20), 10u); // the source ends first
    to.close();
    EXPECT_EQ(read("dst"), "0123456789");
}

TEST_P(FileStoreTest, RefusesWhatTheSystemRefuses)
{
    write("t.DAT", "rows");
    struct Case {
        const char* what;
        std::function<void()> call;
        int error;
    };
    const std::vector<Case> cases{
        {"read a missing file", [&] { store->open(at("none.DAT"), OpenMode::Read); }, kErrFileNotFound},
        {"update a missing file", [&] { store->open(at("none.DAT"), OpenMode::ReadWrite); }, kErrFileNotFound},
        {"create in a missing folder", [&] { store->open(at("no/t.DAT"), OpenMode::CreateTruncate); }, kErrFileNotFound},
        {"create below a file", [&] { store->open(at("t.DAT/x"), OpenMode::CreateTruncate); }, kErrPathNotFound},
        {"take a taken name", [&] { store->open(at("t.DAT"), OpenMode::CreateExclusive); }, kErrPathAccess},
        {"open a folder", [&] { store->open(m_folder, OpenMode::Read); }, kErrPathAccess},
        {"write a file opened to read",
         [&] { BinaryFile(store->open(at("t.DAT"), OpenMode::Read)).writeAt(0, bytesOf("x")); }, kErrPathAccess},
        {"rename a missing file", [&] { store->renameFile(at("none"), at("t2")); }, kErrFileNotFound},
        {"rename onto a folder", [&] { store->renameFile(at("t.DAT"), m_folder); }, kErrPathAccess},
        {"delete a missing file", [&] { store->forceDelete(at("none")); }, kErrFileNotFound},
        {"delete a folder", [&] { store->forceDelete(m_folder); }, kErrPathAccess},
        {"copy a missing file", [&] { store->copyFileContents(at("none"), at("t2")); }, kErrFileNotFound},
    };
    // The Windows system numbers some of these otherwise (access denied); refused they are all the same.
    const bool numbersDiffer = pathSeparator() == '\\' && !GetParam();
    for (const Case& c : cases)
        EXPECT_EQ(numbersDiffer ? errorOf(c.call) != 0 : errorOf(c.call) == c.error, true) << c.what;
    EXPECT_EQ(read("t.DAT"), "rows"); // nothing refused touched it
}

TEST_P(FileStoreTest, RenamesLinksCopiesAndDeletes)
{
    write("a", "first");
    write("b", "second");
    store->renameFile(at("a"), at("b")); // replaces
    EXPECT_FALSE(store->nameExists(at("a")));
    EXPECT_EQ(read("b"), "first");

    store->copyFileContents(at("b"), at("c"));
    write("b", "changed");
    EXPECT_EQ(read("c"), "first"); // a copy has bytes of its own

    // The system may have no links where the test runs (Wine's drives); memory always has them.
    if (store->linkFile(at("c"), at("d"))) {
        EXPECT_FALSE(store->linkFile(at("c"), at("b"))); // the name is taken
        BinaryFile(store->open(at("d"), OpenMode::ReadWrite)).writeAt(0, bytesOf("F"));
        EXPECT_EQ(read("c"), "First"); // a link is the same file
    } else {
        EXPECT_FALSE(GetParam());
        write("d", "First");
    }

    std::vector<std::string> expected{"b", "d"};
    {
        BinaryFile open = BinaryFile(store->open(at("c"), OpenMode::Read));
        if (pathSeparator() == '\\' && !GetParam()) { // Windows keeps the name of an open file
            expected.insert(expected.begin() + 1, "c");
        } else { // an open file outlives its name
            store->forceDelete(at("c"));
            std::array<std::byte, 5> out{};
            EXPECT_EQ(open.readAt(0, out), 5u);
        }
    }
    auto names = store->listFolder(joinPath(at(""), "."));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(store->entryKind(at("b") + pathSeparator()), EntryKind::None); // a file is no folder
    EXPECT_EQ(store->entryKind(m_folder + pathSeparator()), EntryKind::Folder);
}

TEST_P(FileStoreTest, TheServiceFindsNamesWithoutRegardToCase)
{
    FileSystem fs;
    fs.useStore(store);
    fs.writeAll(at("Roads.TAB"), "tab");
    EXPECT_EQ(fs.resolve(at("ROADS.tab")), at("Roads.TAB"));
    EXPECT_EQ(fs.readAll(at("roads.tab")), "tab");
    if (store->caseSensitiveNames()) { // an exact match wins over another spelling
        fs.writeAll(at("roads.tab"), "other");
        EXPECT_EQ(fs.readAll(at("roads.tab")), "other");
        EXPECT_EQ(fs.resolve(at("ROADS.TAB")), at("Roads.TAB")); // the first in order
    }
    const std::string run = fs.tempFolder();
    EXPECT_TRUE(fs.folderExists(run));
    fs.startNewRun();
    EXPECT_NE(fs.tempFolder(), run);
}

INSTANTIATE_TEST_SUITE_P(Stores, FileStoreTest, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Memory" : "System"; });

TEST(MemoryStoreTest, PathsAreNormalisedAndFilesCapped)
{
    MemoryStore store(16);
    store.makeFolder("a/b");
    BinaryFile(store.open("a/./b/../b/f", OpenMode::CreateTruncate)).writeAt(0, bytesOf("x"));
    const std::string sep(1, pathSeparator());
    EXPECT_EQ(store.entryKind(store.absolutePath("a") + sep + "b" + sep + "f"), EntryKind::File);
    EXPECT_EQ(store.entryKind(store.absolutePath("a") + sep + "." + sep + "b" + sep + "f"), EntryKind::File);
    EXPECT_EQ(store.entryKind(store.absolutePath("a") + sep + "b" + sep + sep + "f"), EntryKind::File);
    EXPECT_EQ(store.entryKind(store.absolutePath("a") + sep + "b" + sep + ".." + sep + "f"), EntryKind::None);
    EXPECT_EQ(store.filesBelow("a"), (std::map<std::string, std::string>{{"b/f", "x"}}));

    BinaryFile f(store.open("a/g", OpenMode::CreateTruncate));
    EXPECT_EQ(errorOf([&] { f.writeAt(10, bytesOf("1234567")); }), kErrDiskFull);
    EXPECT_EQ(f.size(), 0u); // nothing half-written
    f.writeAt(10, bytesOf("123456"));

    store.removeTree("a");
    EXPECT_FALSE(store.nameExists("a/b/f"));
    EXPECT_EQ(store.entryKind(store.tempFolder()), EntryKind::Folder);
}

} // namespace
} // namespace tabrescue
