#include "table/file_system.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "table/recover_error.h"
#include "table/text_case.h"

namespace tabrescue {

namespace fs = std::filesystem;

namespace {

FileSystem& service()
{
    return fileSystem();
}

bool isSep(char c)
{
    return c == '/' || c == platform::separator();
}

// Length of the folder part of a path: through its last separator, or the drive of a Windows
// path relative to that drive's current folder ("C:roads.tab").
std::size_t folderPartLength(const std::string& path)
{
    std::size_t i = path.size();
    while (i > 0 && !isSep(path[i - 1]))
        --i;
    const bool drive =
        path.size() >= 2 && path[1] == ':' && asciiLower(path[0]) >= 'a' && asciiLower(path[0]) <= 'z';
    if (i == 0 && drive && platform::separator() == '\\')
        return 2;
    return i;
}

RecoverError fsError(const std::error_code& ec, const std::string& path)
{
    return ioError(ec, path);
}

} // namespace

std::size_t BinaryFile::readAt(std::uint64_t pos, std::span<std::byte> out)
{
    service().fault("read", m_file.path());
    return m_file.readAt(pos, out);
}

void BinaryFile::readExactAt(std::uint64_t pos, std::span<std::byte> out)
{
    if (readAt(pos, out) != out.size())
        throwPastEnd();
}

void BinaryFile::writeAt(std::uint64_t pos, std::span<const std::byte> data)
{
    service().fault("write", m_file.path());
    m_file.writeAt(pos, data);
}

std::uint64_t BinaryFile::copyTo(BinaryFile& to, std::uint64_t length)
{
    constexpr std::uint64_t kPiece = std::uint64_t{64} << 20;
    std::uint64_t done = 0;
    while (done < length) {
        service().fault("read", m_file.path());
        service().fault("write", to.m_file.path());
        const auto want = static_cast<std::size_t>(std::min(kPiece, length - done));
        const std::size_t n = platform::copyRange(m_file, to.m_file, done, want);
        done += n;
        if (n < want)
            break;
    }
    return done;
}

std::uint64_t BinaryFile::size() const
{
    return m_file.size();
}

void BinaryFile::close()
{
    m_file.close();
}

namespace {

struct PooledBuffer {
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
};

// Buffers given back; a handful covers the streams that are open at one time.
constexpr std::size_t kPooledBuffers = 8;
thread_local std::vector<PooledBuffer> t_bufferPool;

} // namespace

ScratchBuffer::ScratchBuffer(std::size_t size)
{
    ensure(size);
}

ScratchBuffer::~ScratchBuffer()
{
    giveBack();
}

void ScratchBuffer::giveBack() noexcept
{
    if (m_data && t_bufferPool.size() < kPooledBuffers) {
        try {
            t_bufferPool.push_back({std::move(m_data), m_size});
        } catch (...) { // then it is simply freed
        }
    }
    m_data.reset();
    m_size = 0;
}

void ScratchBuffer::ensure(std::size_t size)
{
    if (size <= m_size)
        return;
    giveBack();
    // The smallest pooled buffer that is large enough, else a new one.
    auto best = t_bufferPool.end();
    for (auto it = t_bufferPool.begin(); it != t_bufferPool.end(); ++it)
        if (it->size >= size && (best == t_bufferPool.end() || it->size < best->size))
            best = it;
    if (best != t_bufferPool.end()) {
        m_data = std::move(best->data);
        m_size = best->size;
        t_bufferPool.erase(best);
        return;
    }
    m_data = std::make_unique_for_overwrite<std::byte[]>(size);
    m_size = size;
}

// A small file asks for a buffer of its own size only.
ChunkReader::ChunkReader(BinaryFile& file, std::size_t chunk)
    : m_file(file), m_size(file.size()), m_buf(static_cast<std::size_t>(std::min<std::uint64_t>(chunk, m_size)))
{
}

std::span<const std::byte> ChunkReader::load(std::uint64_t pos, std::size_t n)
{
    if (pos >= m_size)
        return {};
    const std::uint64_t avail = m_size - pos;
    if (n > avail)
        n = static_cast<std::size_t>(avail);
    if (n > m_buf.size()) {
        m_buf.ensure(n);
        m_bufLen = 0;
    }
    if (pos < m_bufPos || pos + n > m_bufPos + m_bufLen) {
        m_bufPos = pos;
        const std::uint64_t want = std::min<std::uint64_t>(m_buf.size(), m_size - pos);
        m_bufLen = m_file.readAt(pos, std::span<std::byte>(m_buf.data(), static_cast<std::size_t>(want)));
        if (m_bufLen < n) // the file shrank under us
            n = m_bufLen;
    }
    return {m_buf.data() + (pos - m_bufPos), n};
}

AppendWriter::AppendWriter(BinaryFile& file, std::uint64_t startPos, std::size_t capacity)
    : m_file(file), m_pos(startPos), m_capacity(std::max<std::size_t>(capacity, 1))
{
}

void AppendWriter::appendSlow(std::span<const std::byte> data)
{
    if (data.size() >= m_capacity) { // too large to be worth buffering
        flush();
        m_file.writeAt(m_pos, data);
        m_pos += data.size();
        return;
    }
    std::memcpy(appendInPlace(data.size()).data(), data.data(), data.size());
}

void AppendWriter::makeRoom(std::size_t n)
{
    if (n > m_capacity - m_used)
        flush();
    m_capacity = std::max(m_capacity, n);
    m_buf.ensure(m_capacity);
}

void AppendWriter::flush()
{
    if (m_used == 0)
        return;
    m_file.writeAt(m_pos, std::span<const std::byte>(m_buf.data(), m_used));
    m_pos += m_used;
    m_used = 0;
}

bool FileSystem::fileExists(const std::string& path)
{
    fault("exists", path);
    if (path.empty())
        return false;
    return platform::entryKind(resolve(path)) == platform::EntryKind::File;
}

bool FileSystem::folderExists(const std::string& path)
{
    fault("exists", path);
    if (path.empty())
        return false;
    return platform::entryKind(resolve(path)) == platform::EntryKind::Folder;
}

std::string FileSystem::resolve(const std::string& path)
{
    if (path.empty())
        return path;
    if (!platform::caseSensitiveNames()) // the system finds any spelling; ask it for its own
        return platform::namesAsOnDisk(path);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(platform::toNative(path), ec)))
        return path;

    // Walk the names from the root, replacing each one that does not exist as spelled by the
    // case-insensitive match in its folder (sorted, so the choice is stable).
    std::size_t start = 0;
    std::string resolved;
    while (start < path.size() && isSep(path[start]))
        resolved += path[start++];
    bool changed = false;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSep(path[end]))
            ++end;
        const std::string name = path.substr(start, end - start);
        std::string candidate = resolved + name;
        if (!name.empty() && name != "." && name != ".." &&
            !fs::exists(fs::symlink_status(platform::toNative(candidate), ec))) {
            const std::string folder = resolved.empty() ? std::string(".") : resolved;
            std::vector<std::string> matches;
            for (fs::directory_iterator it(platform::toNative(folder), ec), last; !ec && it != last;
                 it.increment(ec)) {
                const std::string entry = platform::fromNative(it->path().filename());
                if (equalsIgnoreCase(entry, name))
                    matches.push_back(entry);
            }
            if (matches.empty())
                return path;
            std::sort(matches.begin(), matches.end());
            candidate = resolved + matches.front();
            changed = true;
        }
        resolved = candidate;
        while (end < path.size() && isSep(path[end]))
            resolved += path[end++];
        start = end;
    }
    return changed ? resolved : path;
}

std::string FileSystem::absolutePath(const std::string& path)
{
    if (path.empty())
        return path;
    std::error_code ec;
    fs::path p = fs::absolute(platform::toNative(path), ec);
    if (ec)
        throw fsError(ec, path);
    return platform::fromNative(p.lexically_normal());
}

std::uint64_t FileSystem::fileSize(const std::string& path)
{
    fault("size", path);
    std::error_code ec;
    const auto size = fs::file_size(platform::toNative(resolve(path)), ec);
    if (ec)
        throw fsError(ec, path);
    return size;
}

void FileSystem::copyFile(const std::string& src, const std::string& dst)
{
    fault("copy", dst);
    platform::copyFileContents(resolve(src), resolve(dst));
}

void FileSystem::moveFile(const std::string& src, const std::string& dst)
{
    fault("move", dst);
    const std::string from = resolve(src);
    const std::string to = resolve(dst);
    try {
        platform::renameFile(from, to);
    } catch (const RecoverError&) {
        // Across file systems a rename cannot work: copy, then remove the original.
        if (platform::entryKind(from) != platform::EntryKind::File)
            throw;
        platform::copyFileContents(from, to);
        platform::forceDelete(from);
    }
}

bool FileSystem::linkFile(const std::string& src, const std::string& dst)
{
    fault("link", dst);
    return platform::linkFile(resolve(src), dst);
}

void FileSystem::deleteFile(const std::string& path)
{
    fault("delete", path);
    platform::forceDelete(resolve(path));
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
    fault("open", path);
    return BinaryFile(platform::NativeFile::open(resolve(path), platform::OpenMode::Read));
}

BinaryFile FileSystem::openReadWrite(const std::string& path)
{
    fault("open", path);
    return BinaryFile(platform::NativeFile::open(resolve(path), platform::OpenMode::ReadWrite));
}

BinaryFile FileSystem::create(const std::string& path)
{
    fault("create", path);
    return BinaryFile(platform::NativeFile::open(resolve(path), platform::OpenMode::CreateTruncate));
}

BinaryFile FileSystem::createExclusive(const std::string& path)
{
    fault("create", path);
    return BinaryFile(platform::NativeFile::open(path, platform::OpenMode::CreateExclusive));
}

std::string FileSystem::systemTempFolder()
{
    return platform::tempFolder();
}

std::string FileSystem::tempFolder()
{
    if (m_runFolder.empty() || !folderExists(m_runFolder)) {
        const std::string parent = systemTempFolder();
        if (parent.empty())
            return {};
        fault("mkdir", parent);
        m_runFolder = platform::makePrivateFolder(parent);
    }
    return m_runFolder;
}

void FileSystem::startNewRun()
{
    m_runFolder.clear();
}

FileSystem& fileSystem()
{
    static FileSystem instance;
    return instance;
}

char pathSeparator()
{
    return platform::separator();
}

std::string withTrailingSeparator(std::string folder)
{
    if (folder.empty() || !isSep(folder.back()))
        folder += pathSeparator();
    return folder;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return withTrailingSeparator(folder) + name;
}

std::string fileNameOf(const std::string& path)
{
    return path.substr(folderPartLength(path));
}

std::string parentOf(const std::string& path)
{
    return path.substr(0, folderPartLength(path));
}

} // namespace tabrescue
