#pragma once

#include <optional>

#include <gtest/gtest.h>

#include "support/files.h"

namespace tabrescue::test {

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
