#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "io/memory_store.h"

namespace tabrescue::test {

// The memory store the core's file-system service uses now, or nullptr for the system's files.
// While one is in use, the helpers below read and write it instead of the disk.
MemoryStore* memoryStoreInUse();

using Bytes = std::vector<std::byte>;

// Paths to and from the UTF-8 strings the core takes. A path made from a plain char string is in
// the ANSI code page on Windows, so names beyond ASCII must come through here.
inline std::filesystem::path u8path(std::string_view s) { return std::u8string(s.begin(), s.end()); }
inline std::string utf8(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return {s.begin(), s.end()};
}

inline Bytes toBytes(std::string_view s)
{
    const auto* b = reinterpret_cast<const std::byte*>(s.data());
    return Bytes(b, b + s.size());
}
std::string readText(const std::filesystem::path& p);
void writeBytes(const std::filesystem::path& p, const Bytes& bytes);
inline Bytes readBytes(const std::filesystem::path& p) { return toBytes(readText(p)); }
inline void writeText(const std::filesystem::path& p, std::string_view t) { writeBytes(p, toBytes(t)); }

// Whether a regular file is there, its size, a new size (cut or zero-filled): on the disk or in the
// memory store in use.
bool isFile(const std::filesystem::path& p);
std::uint64_t fileSize(const std::filesystem::path& p);
void resizeFile(const std::filesystem::path& p, std::uint64_t size);

void putLE32(Bytes& b, std::size_t at, std::uint32_t v);
inline void appendLE32(Bytes& b, std::uint32_t v) { b.resize(b.size() + 4); putLE32(b, b.size() - 4, v); }
std::uint32_t getLE32(const Bytes& b, std::size_t at);

// Every regular file below a folder with its bytes, keyed by path relative to it.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::filesystem::path& dir);

// The number of the error `f` throws, 0 when it throws none.
int errorOf(const std::function<void()>& f);

// Describes the first difference of two byte strings, or "" when they are equal.
std::string firstDifference(const Bytes& actual, const Bytes& expected);

// A fresh folder for tests that do not derive from TempDirTest.
std::filesystem::path makeTempDir();
// Removes a folder tree, making read-only parts writable first.
void removeTree(const std::filesystem::path& dir);

// A fresh folder per test, removed in TearDown even when an assertion failed.
class TempDirTest : public ::testing::Test
{
  protected:
    void SetUp() override { m_dir = makeTempDir(); }
    void TearDown() override { removeTree(m_dir); }
    const std::filesystem::path& dir() const { return m_dir; }
    // dir() / name as a UTF-8 string, the form the core takes; name is UTF-8 too.
    std::string path(const std::string& name) const { return utf8(m_dir / u8path(name)); }

  private:
    std::filesystem::path m_dir;
};

// A fresh folder per test in a memory store the core's service uses while the test runs: for
// tests that need no real disk (the fault walk and the platform's own tests do).
class MemoryDirTest : public TempDirTest
{
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    std::unique_ptr<MemoryStore> m_store;
};

// Points the system's temporary folder (TMPDIR; on Windows TMP) at `folder` while it lives, so
// that a run's private folder lands inside a test's own.
class ScopedTempFolder
{
  public:
    explicit ScopedTempFolder(const std::filesystem::path& folder);
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

  private:
    std::optional<std::string> m_old;
};

} // namespace tabrescue::test
