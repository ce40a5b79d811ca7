#include "io/file_system.h"

#include <algorithm>
#include <vector>

#include "base/recover_error.h"
#include "base/text_case.h"
#include "io/paths.h"

namespace tabrescue {

bool FileSystem::fileExists(const std::string& path)
{
    if (path.empty())
        return false;
    return m_store->entryKind(resolve(path)) == platform::EntryKind::File;
}

bool FileSystem::folderExists(const std::string& path)
{
    if (path.empty())
        return false;
    return m_store->entryKind(resolve(path)) == platform::EntryKind::Folder;
}

std::string FileSystem::resolve(const std::string& path)
{
    if (path.empty())
        return path;
    if (!m_store->caseSensitiveNames()) // the system finds any spelling; ask it for its own
        return m_store->namesAsOnDisk(path);
    if (m_store->nameExists(path))
        return path;

    // Walk the names from the root, replacing each one that does not exist as spelled by the
    // case-insensitive match in its folder (sorted, so the choice is stable).
    std::size_t start = 0;
    std::string resolved;
    while (start < path.size() && isPathSeparator(path[start]))
        resolved += path[start++];
    bool changed = false;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isPathSeparator(path[end]))
            ++end;
        const std::string name = path.substr(start, end - start);
        std::string candidate = resolved + name;
        if (!name.empty() && name != "." && name != ".." && !m_store->nameExists(candidate)) {
            const std::string match = m_store->findIgnoringCase(resolved.empty() ? "." : resolved, name);
            if (match.empty())
                return path;
            candidate = resolved + match;
            changed = true;
        }
        resolved = candidate;
        while (end < path.size() && isPathSeparator(path[end]))
            resolved += path[end++];
        start = end;
    }
    return changed ? resolved : path;
}

std::string FileSystem::absolutePath(const std::string& path)
{
    if (path.empty())
        return path;
    return m_store->absolutePath(path);
}

std::uint64_t FileSystem::fileSize(const std::string& path)
{
    std::error_code ec;
    const std::uint64_t size = m_store->fileSize(resolve(path), ec);
    if (ec)
        throw ioError(platform::errnoOf(ec), path);
    return size;
}

void FileSystem::copyFile(const std::string& src, const std::string& dst)
{
    m_store->copyFileContents(resolve(src), resolve(dst));
}

void FileSystem::moveFile(const std::string& src, const std::string& dst)
{
    const std::string from = resolve(src);
    const std::string to = resolve(dst);
    try {
        m_store->renameFile(from, to);
    } catch (const RecoverError&) {
        // Across file systems a rename cannot work: copy, then remove the original.
        if (m_store->entryKind(from) != platform::EntryKind::File)
            throw;
        m_store->copyFileContents(from, to);
        m_store->forceDelete(from);
    }
}

bool FileSystem::linkFile(const std::string& src, const std::string& dst)
{
    return m_store->linkFile(resolve(src), dst);
}

void FileSystem::deleteFile(const std::string& path)
{
    m_store->forceDelete(resolve(path));
}

std::string FileSystem::readAll(const std::string& path)
{
    BinaryFile file = openRead(path);
    const std::uint64_t size = file.size();
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::size_t n = file.readAt(0, std::as_writable_bytes(std::span<char>(text.data(), text.size())));
    text.resize(n);
    return text;
}

void FileSystem::writeAll(const std::string& path, std::string_view bytes)
{
    BinaryFile file = create(path);
    file.writeAt(0, std::as_bytes(std::span<const char>(bytes.data(), bytes.size())));
    file.close();
}

BinaryFile FileSystem::openRead(const std::string& path)
{
    return BinaryFile(m_store->open(resolve(path), platform::OpenMode::Read));
}

BinaryFile FileSystem::openReadWrite(const std::string& path)
{
    return BinaryFile(m_store->open(resolve(path), platform::OpenMode::ReadWrite));
}

BinaryFile FileSystem::create(const std::string& path)
{
    return BinaryFile(m_store->open(resolve(path), platform::OpenMode::CreateTruncate));
}

BinaryFile FileSystem::createExclusive(const std::string& path)
{
    return BinaryFile(m_store->open(path, platform::OpenMode::CreateExclusive));
}

std::string FileSystem::systemTempFolder()
{
    return m_store->tempFolder();
}

std::string FileSystem::tempFolder()
{
    if (m_runFolder.empty() || !folderExists(m_runFolder)) {
        const std::string parent = systemTempFolder();
        if (parent.empty())
            return {};
        m_runFolder = m_store->makePrivateFolder(parent);
    }
    return m_runFolder;
}

void FileSystem::startNewRun()
{
    m_runFolder.clear();
}

void FileSystem::useStore(FileStore* store)
{
    m_store = store != nullptr ? store : &systemStore();
    m_runFolder.clear();
}

FileSystem& fileSystem()
{
    static FileSystem instance;
    return instance;
}

BinaryFile createFreshFile(const std::string& path)
{
    FileSystem& fs = fileSystem();
    if (fs.fileExists(path))
        fs.deleteFile(path);
    return fs.createExclusive(path);
}

} // namespace tabrescue
