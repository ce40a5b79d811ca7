#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/binary_file.h"
#include "io/file_store.h"

namespace tabrescue {

// The module's single file-system service. Every file operation of the core goes through it, so
// that names are found without regard to letter case and failures become numbered errors.
class FileSystem {
public:
    // A regular file exists at path (letter case ignored).
    bool fileExists(const std::string& path);
    bool folderExists(const std::string& path);
    // The path as it exists on disk: an exact match wins, else each name is matched in its folder
    // without regard to letter case. Returns path unchanged when nothing matches.
    std::string resolve(const std::string& path);
    std::string absolutePath(const std::string& path);
    std::uint64_t fileSize(const std::string& path);

    void copyFile(const std::string& src, const std::string& dst); // overwrites dst
    void moveFile(const std::string& src, const std::string& dst); // replaces dst
    // Makes dst, which must not exist, a second name of the file src where the system can;
    // false where it cannot.
    bool linkFile(const std::string& src, const std::string& dst);
    void deleteFile(const std::string& path);                      // read-only files too
    std::string readAll(const std::string& path);
    void writeAll(const std::string& path, std::string_view bytes); // creates or replaces

    BinaryFile openRead(const std::string& path);
    BinaryFile openReadWrite(const std::string& path);
    BinaryFile create(const std::string& path);          // creates or empties, never through a link
    BinaryFile createExclusive(const std::string& path); // fails when the name is taken

    // The system's temporary folder.
    std::string systemTempFolder();
    // This run's private folder inside the system's temporary folder, made on first use.
    std::string tempFolder();
    // The next tempFolder() call makes a fresh private folder.
    void startNewRun();

    // Where the files are kept: the system's unless a test or fuzz target lends another store
    // (nullptr: the system's again). A new store starts a new run.
    void useStore(FileStore* store);
    FileStore& store() { return *m_store; }

private:
    FileStore* m_store = &systemStore();
    std::string m_runFolder;
};

// The module's service, created on first use and kept for the life of the program.
FileSystem& fileSystem();

// Removes the file that stands at path (letter case ignored; a link itself, never its target) and
// creates it anew, exclusively: fails when anything else takes the name in between.
BinaryFile createFreshFile(const std::string& path);

} // namespace tabrescue
