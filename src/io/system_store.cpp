#include "io/file_store.h"

#include "base/text_case.h"

namespace tabrescue {

std::string FileStore::findIgnoringCase(const std::string& folder, const std::string& name)
{
    std::string found;
    for (std::string& entry : listFolder(folder))
        if (equalsIgnoreCase(entry, name) && (found.empty() || entry < found))
            found = std::move(entry);
    return found;
}

namespace {

class SystemFile final : public StoredFile {
public:
    explicit SystemFile(platform::NativeFile file) : m_file(std::move(file)) {}
    std::size_t readAt(std::uint64_t pos, std::span<std::byte> out) override { return m_file.readAt(pos, out); }
    void writeAt(std::uint64_t pos, std::span<const std::byte> data) override { m_file.writeAt(pos, data); }
    std::uint64_t size() const override { return m_file.size(); }
    void close() override { m_file.close(); }
    bool isOpen() const override { return m_file.isOpen(); }
    const std::string& path() const override { return m_file.path(); }
    std::size_t copyRangeTo(StoredFile& to, std::uint64_t pos, std::size_t length) override
    {
        // Both on the system: the kernel's copy. A file of another store never meets one of these.
        return platform::copyRange(m_file, static_cast<SystemFile&>(to).m_file, pos, length);
    }

private:
    platform::NativeFile m_file;
};

class SystemStore final : public FileStore {
public:
    std::unique_ptr<StoredFile> open(const std::string& path, platform::OpenMode mode) override
    {
        return std::make_unique<SystemFile>(platform::NativeFile::open(path, mode));
    }
    platform::EntryKind entryKind(const std::string& path) override { return platform::entryKind(path); }
    bool nameExists(const std::string& path) override { return platform::nameExists(path); }
    std::vector<std::string> listFolder(const std::string& folder) override { return platform::listFolder(folder); }
    std::uint64_t fileSize(const std::string& path, std::error_code& ec) override
    {
        return platform::fileSize(path, ec);
    }
    void copyFileContents(const std::string& src, const std::string& dst) override
    {
        platform::copyFileContents(src, dst);
    }
    bool linkFile(const std::string& src, const std::string& dst) override { return platform::linkFile(src, dst); }
    void renameFile(const std::string& src, const std::string& dst) override { platform::renameFile(src, dst); }
    void forceDelete(const std::string& path) override { platform::forceDelete(path); }
    std::string absolutePath(const std::string& path) override { return platform::absolutePath(path); }
    bool caseSensitiveNames() override { return platform::caseSensitiveNames(); }
    std::string namesAsOnDisk(const std::string& path) override { return platform::namesAsOnDisk(path); }
    std::string tempFolder() override { return platform::tempFolder(); }
    std::string makePrivateFolder(const std::string& parent) override { return platform::makePrivateFolder(parent); }
};

} // namespace

FileStore& systemStore()
{
    static SystemStore store;
    return store;
}

} // namespace tabrescue
