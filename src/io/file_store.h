#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>


#include "io/platform.h"

namespace tabrescue {

// An open file of a store, with positioned reads and writes. Errors become RecoverError.
class StoredFile {
public:
    virtual ~StoredFile() = default;
    // Reads up to out.size() bytes; returns fewer only at the end of the file.
    virtual std::size_t readAt(std::uint64_t pos, std::span<std::byte> out) = 0;
    virtual void writeAt(std::uint64_t pos, std::span<const std::byte> data) = 0;
    virtual std::uint64_t size() const = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual const std::string& path() const = 0;
    // Copies the bytes [pos, pos + length) to the same place in `to`; returns the bytes copied,
    // fewer only when this file ends first.
    virtual std::size_t copyRangeTo(StoredFile& to, std::uint64_t pos, std::size_t length) = 0;
};

// Where the file-system service keeps its files: the system's (the program's) or memory (tests
// and fuzz targets, which must not pay for a disk). Paths are the service's UTF-8 strings.
class FileStore {
public:
    virtual ~FileStore() = default;
    virtual std::unique_ptr<StoredFile> open(const std::string& path, platform::OpenMode mode) = 0;
    virtual platform::EntryKind entryKind(const std::string& path) = 0;
    // Whether anything has this name, a dangling link included.
    virtual bool nameExists(const std::string& path) = 0;
    // The names in a folder; empty when it cannot be read.
    virtual std::vector<std::string> listFolder(const std::string& folder) = 0;
    // The first name in `folder`, in byte order, that equals `name` without regard to letter case;
    // empty when there is none.
    virtual std::string findIgnoringCase(const std::string& folder, const std::string& name);
    virtual std::uint64_t fileSize(const std::string& path, std::error_code& ec) = 0;
    virtual void copyFileContents(const std::string& src, const std::string& dst) = 0;
    virtual bool linkFile(const std::string& src, const std::string& dst) = 0;
    virtual void renameFile(const std::string& src, const std::string& dst) = 0;
    virtual void forceDelete(const std::string& path) = 0;
    virtual std::string absolutePath(const std::string& path) = 0;
    // Whether names differ by letter case; where they do not, namesAsOnDisk() spells them.
    virtual bool caseSensitiveNames() = 0;
    virtual std::string namesAsOnDisk(const std::string& path) = 0;
    virtual std::string tempFolder() = 0;
    virtual std::string makePrivateFolder(const std::string& parent) = 0;
};

// The system's files, through the platform layer.
FileStore& systemStore();

} // namespace tabrescue
