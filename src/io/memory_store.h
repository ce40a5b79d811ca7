#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "io/file_store.h"

namespace tabrescue {

// Files and folders held in memory, with the system's semantics where the service relies on them:
// names differ by letter case (so the service's own case-insensitive lookup runs), an open file
// outlives its name, a link is a second name of the same bytes, exclusive creation fails on a
// taken name, and a file cannot grow beyond a set size (error 61, as a full disk). Paths are
// absolute or relative to a current folder; '/' and the platform's separator both separate.
class MemoryStore final : public FileStore {
public:
    explicit MemoryStore(std::uint64_t maxFileSize = std::uint64_t{256} << 20);

    // Back to the root, its temporary folder and the current folder, all empty.
    void clear();
    // Creates the folder and the folders above it.
    void makeFolder(const std::string& path);
    // Every file below `folder` with its bytes, keyed by its path relative to it.
    std::map<std::string, std::string> filesBelow(const std::string& folder) const;
    // Removes a folder and everything below it; nothing when it does not exist.
    void removeTree(const std::string& folder);

    std::unique_ptr<StoredFile> open(const std::string& path, platform::OpenMode mode) override;
    platform::EntryKind entryKind(const std::string& path) override;
    bool nameExists(const std::string& path) override;
    std::vector<std::string> listFolder(const std::string& folder) override;
    std::string findIgnoringCase(const std::string& folder, const std::string& name) override;
    std::uint64_t fileSize(const std::string& path, std::error_code& ec) override;
    void copyFileContents(const std::string& src, const std::string& dst) override;
    bool linkFile(const std::string& src, const std::string& dst) override;
    void renameFile(const std::string& src, const std::string& dst) override;
    void forceDelete(const std::string& path) override;
    std::string absolutePath(const std::string& path) override;
    bool caseSensitiveNames() override { return true; }
    std::string namesAsOnDisk(const std::string& path) override { return path; }
    std::string tempFolder() override;
    std::string makePrivateFolder(const std::string& parent) override;

private:
    struct Entry {
        std::shared_ptr<std::string> bytes; // null for a folder
    };
    std::string key(const std::string& path) const;
    bool isKey(const std::string& path) const;
    const Entry* find(const std::string& key) const;
    // The entry's parent must be a folder: ENOENT when it is missing, ENOTDIR when a file.
    void requireParentFolder(const std::string& key, const std::string& path) const;

    std::uint64_t m_maxFileSize;
    std::string m_root;
    std::map<std::string, Entry> m_entries;
    std::uint64_t m_folderCounter = 0;
};

} // namespace tabrescue
