#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "base/recover_error.h"
#include "io/binary_file.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "io/platform.h"
#include "support/files.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using platform::Call;
using platform::Fault;

const bool kWindows = pathSeparator() == '\\';

using test::errorOf;

std::string pattern(std::size_t size)
{
    std::string s;
    while (s.size() < size)
        s += static_cast<char>(s.size() * 7 % 251);
    return s;
}

class FileSystemTest : public test::TempDirTest
{
  protected:
    FileSystem& fsys = fileSystem();
};

TEST_F(FileSystemTest, FindsNamesWithoutRegardToCaseAndReportsThemAsOnDisk)
{
    fs::create_directory(dir() / "Data");
    test::writeText(dir() / "Data" / "roads.dat", "a");
    fsys.writeAll(path("Data/Дороги района №2.map"), "c"); // names beyond ASCII reach the disk as given
    EXPECT_TRUE(fs::exists(dir() / "Data" / test::u8path("Дороги района №2.map")));
    EXPECT_EQ(fsys.readAll(path("DATA/ДОРОГИ РАЙОНА №2.MAP")), "c");
    EXPECT_EQ(fsys.fileSize(path("data/ROADS.dat")), 1u);
    EXPECT_EQ(fsys.resolve(path("DATA/ROADS.DAT")), path("Data/roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/./ROADS.dat")), path("Data/./roads.dat"));
    EXPECT_EQ(fsys.resolve(path("data/missing.dat")), path("data/missing.dat"));
    if (platform::caseSensitiveNames()) {
        test::writeText(dir() / "Data" / "ROADS.DAT", "b");
        EXPECT_EQ(fsys.resolve(path("Data/roads.dat")), path("Data/roads.dat")); // an exact match wins
        EXPECT_EQ(fsys.resolve(path("data/roads.DAT")), path("Data/ROADS.DAT")); // sorted: upper case first
    }
    // A trailing separator names a folder; a slash is a separator on both systems.
    const std::string sep(1, pathSeparator());
    for (const std::string& folder : {path("Data") + sep, path("DATA") + "/", path("DATA")})
        EXPECT_TRUE(fsys.folderExists(folder) && !fsys.fileExists(folder)) << folder;
    EXPECT_EQ(platform::entryKind(path("Data/roads.dat") + sep), platform::EntryKind::None);
    EXPECT_EQ(fsys.absolutePath(path("a/./b/../c.TAB")), test::utf8(dir()) + sep + "a" + sep + "c.TAB");
}

// Read-only files (Windows: the attribute) are copied, moved, replaced and deleted, also while open.
TEST_F(FileSystemTest, CopyMoveDeleteAlsoReadOnlyOrOpenFiles)
{
    test::writeText(dir() / "ro.TAB", "old");
    test::writeText(dir() / "new.TAB", "a much longer old content");
    fs::permissions(dir() / "ro.TAB", fs::perms::owner_read);
    auto reader = fsys.openRead(path("ro.TAB"));
    fsys.copyFile(path("RO.tab"), path("new.TAB")); // replaces a longer file, and is writable
    fsys.openReadWrite(path("new.TAB")).writeAt(3, test::toBytes("!"));
    fsys.moveFile(path("ro.TAB"), path("ro.TAB.bak")); // a backup stays read-only
    reader.close();
    EXPECT_EQ(fs::status(dir() / "ro.TAB.bak").permissions() & fs::perms::owner_write, fs::perms::none);
    fsys.moveFile(path("new.TAB"), path("ro.TAB.bak")); // and a move replaces it
    EXPECT_EQ(fsys.readAll(path("ro.TAB.bak")), "old!");
    fs::permissions(dir() / "ro.TAB.bak", fs::perms::owner_read);
    fsys.deleteFile(path("RO.TAB.bak"));
    EXPECT_TRUE(fs::is_empty(dir()));
}

TEST_F(FileSystemTest, FailuresAreNumbered)
{
    fs::create_directory(dir() / "folder");
    test::writeText(dir() / "taken", "x");
    std::array<std::byte, 4> buf{};
    const std::tuple<std::string, std::function<void()>, int> cases[] = {
        {"open missing", [&] { fsys.openRead(path("missing")); }, kErrFileNotFound},
        {"open a folder to write", [&] { fsys.openReadWrite(path("folder")); }, kErrPathAccess},
        {"delete a folder", [&] { fsys.deleteFile(path("folder")); }, kErrPathAccess},
        {"size of a folder", [&] { fsys.fileSize(path("folder")); }, kErrPathAccess},
        {"exclusive on a taken name", [&] { fsys.createExclusive(path("taken")); }, kErrPathAccess},
        {"read past the end", [&] { fsys.openRead(path("taken")).readExactAt(0, buf); }, kErrPastEnd},
    };
    for (const auto& [what, call, expected] : cases)
        EXPECT_EQ(errorOf(call), expected) << what;
}

// Interrupted (every other call) and short calls are repeated, a refused kernel copy falls back to our
// buffer: copyTo puts [0, length) in the same place and the target's bytes beyond it stay.
TEST_F(FileSystemTest, InterruptedShortAndRefusedCallsChangeNoByte)
{
    const std::pair<Call, Fault> faults[] = {
        {Call::Open, {}},       {Call::Open, {EINTR}}, {Call::Create, {EINTR}}, {Call::Read, {EINTR}},
        {Call::Write, {EINTR}}, {Call::Copy, {EINTR}}, {Call::Read, {0, 999}},  {Call::Write, {0, 999}},
        {Call::Copy, {0, 999}}, {Call::Copy, {EXDEV}}, {Call::Copy, {ENOSYS}}};
    const std::size_t ranges[][3] = {
        {300000, 300000, 0}, {300000, 1000, 5000}, {1000, 300000, 0}, {0, 100, 3}};
    for (const auto& [faulty, fault] : faults) {
        for (const auto& [sourceSize, length, oldSize] : ranges) {
            if (kWindows && fault.error == EINTR)
                continue; // no Win32 call is interrupted
            SCOPED_TRACE(testing::Message() << int(faulty) << '/' << fault.error << '/' << sourceSize);
            const std::string source = pattern(sourceSize), old(oldSize, '#');
            test::writeText(dir() / "in", source);
            test::writeText(dir() / "out", old);
            int hits = 0;
            platform::setFaultHook([&](Call call, const std::string&) {
                const bool pass = call != faulty || (++hits % 2 == 0 && fault.error == EINTR);
                return pass ? Fault{} : fault;
            });
            BinaryFile in = fsys.openRead(path("in")), out = fsys.openReadWrite(path("out"));
            const std::size_t count = std::min(length, sourceSize);
            EXPECT_EQ(in.copyTo(out, length), count);
            out.close();
            fsys.writeAll(path("again"), fsys.readAll(path("out")));
            platform::setFaultHook(nullptr);
            EXPECT_EQ(test::readText(dir() / "again"),
                      source.substr(0, count) + old.substr(std::min(count, old.size())));
            EXPECT_TRUE(hits > 0 || (kWindows && faulty == Call::Copy)) << "the fault never came";
        }
    }
}

// Pieces below, at and above the buffers' sizes cross every boundary; every other one built in place.
TEST_F(FileSystemTest, ChunkReaderAndAppendWriterStreamAcrossBufferBoundaries)
{
    const std::string data = pattern(100000);
    test::writeText(dir() / "in", data);
    test::writeText(dir() / "out", "kept");
    BinaryFile in = fsys.openRead(path("in")), out = fsys.openReadWrite(path("out"));
    ChunkReader reader(in, 4096);
    AppendWriter writer(out, 4, 1000);
    const std::size_t sizes[] = {777, 1000, 1, 4096, 1500, 0, 999};
    for (std::uint64_t pos = 0, i = 0; pos < reader.size(); ++i) {
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
    EXPECT_EQ(reader.view(reader.size() - 3, 10).size(), 3u);
    // A file that shrinks while it is read: a view holds the bytes still there, never stale ones.
    fs::resize_file(dir() / "in", 7000);
    const auto tail = reader.view(6000, 3000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tail.data()), tail.size()), data.substr(6000, 1000));
}

// A pool filled by small buffers still keeps a stream buffer given back to it, so that a run of
// small files does not make a fresh one per file. A thread of its own starts with an empty pool.
TEST(ScratchBufferTest, FullPoolKeepsTheLargerBuffers)
{
    std::thread([] {
        std::vector<std::unique_ptr<ScratchBuffer>> small;
        for (std::size_t i = 1; i <= 9; ++i)
            small.push_back(std::make_unique<ScratchBuffer>(100 * i));
        small.clear();
        const std::byte* kept = nullptr;
        {
            ScratchBuffer stream(kStreamBufferSize);
            kept = stream.data();
        }
        // Were the buffer freed, this one would most likely get its memory.
        const auto other = std::make_unique_for_overwrite<std::byte[]>(kStreamBufferSize);
        ScratchBuffer again(kStreamBufferSize);
        EXPECT_EQ(again.data(), kept);
        EXPECT_NE(other.get(), kept);
    }).join();
}

} // namespace
} // namespace tabrescue
