#include "io/memory_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/recover_error.h"
#include "base/text_case.h"
#include "io/paths.h"

namespace tabrescue {
namespace {

class MemoryFile final : public StoredFile {
public:
    MemoryFile(std::shared_ptr<std::string> bytes, std::string path, bool writable, std::uint64_t maxSize)
        : m_bytes(std::move(bytes)), m_path(std::move(path)), m_writable(writable), m_maxSize(maxSize)
    {
    }

    std::size_t readAt(std::uint64_t pos, std::span<std::byte> out) override
    {
        requireOpen();
        if (pos >= m_bytes->size())
            return 0;
        const std::size_t n = std::min<std::uint64_t>(out.size(), m_bytes->size() - pos);
        std::memcpy(out.data(), m_bytes->data() + pos, n);
        return n;
    }

    void writeAt(std::uint64_t pos, std::span<const std::byte> data) override
    {
        requireOpen();
        if (!m_writable)
            throw ioError(EBADF, m_path);
        if (data.empty())
            return;
        if (pos > m_maxSize || data.size() > m_maxSize - pos)
            throw ioError(ENOSPC, m_path);
        if (pos + data.size() > m_bytes->size())
            m_bytes->resize(static_cast<std::size_t>(pos + data.size()));
        std::memcpy(m_bytes->data() + pos, data.data(), data.size());
    }

    std::uint64_t size() const override
    {
        requireOpen();
        return m_bytes->size();
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    const std::string& path() const override { return m_path; }

    std::size_t copyRangeTo(StoredFile& to, std::uint64_t pos, std::size_t length) override
    {
        requireOpen();
        if (pos >= m_bytes->size())
            return 0;
        const std::size_t n = std::min<std::uint64_t>(length, m_bytes->size() - pos);
        to.writeAt(pos, std::as_bytes(std::span<const char>(m_bytes->data() + pos, n)));
        return n;
    }

private:
    void requireOpen() const
    {
        if (!m_open)
            throw ioError(EBADF, m_path);
    }

    std::shared_ptr<std::string> m_bytes;
    std::string m_path;
    bool m_writable;
    std::uint64_t m_maxSize;
    bool m_open = true;
};

bool endsInSeparator(const std::string& path)
{
    return !path.empty() && isPathSeparator(path.back());
}

} // namespace

MemoryStore::MemoryStore(std::uint64_t maxFileSize) : m_maxFileSize(maxFileSize)
{
    m_root = pathSeparator() == '\\' ? std::string("M:\\") : std::string("/");
    clear();
}

void MemoryStore::clear()
{
    m_entries.clear();
    m_entries[m_root] = Entry{};
    makeFolder(tempFolder());
    makeFolder(m_root + "work");
}

bool MemoryStore::isKey(const std::string& path) const
{
    if (!path.starts_with(m_root))
        return false;
    const char sep = pathSeparator();
    for (std::size_t at = m_root.size(); at < path.size();) {
        std::size_t end = at;
        while (end < path.size() && path[end] != sep && path[end] != '/')
            ++end;
        const std::size_t n = end - at;
        if (n == 0 || (end < path.size() && path[end] != sep) || (n == 1 && path[at] == '.') ||
            (n == 2 && path[at] == '.' && path[at + 1] == '.') || end + 1 == path.size())
            return false;
        at = end + 1;
    }
    return true;
}

std::string MemoryStore::key(const std::string& path) const
{
    if (isKey(path)) // the common case: a path the service already built from keys
        return path;
    // The root the path starts from: its drive, the store's root, or the current folder.
    std::size_t at = 0;
    std::string root = m_root;
    std::vector<std::string> names;
    const bool drive = pathSeparator() == '\\' && path.size() >= 2 && path[1] == ':' &&
                       asciiLower(path[0]) >= 'a' && asciiLower(path[0]) <= 'z';
    if (drive) {
        root = std::string(1, path[0]) + ":" + pathSeparator();
        at = 2;
    }
    if (at < path.size() && isPathSeparator(path[at])) {
        while (at < path.size() && isPathSeparator(path[at]))
            ++at;
    } else if (!drive) {
        names.push_back("work");
    }
    while (at < path.size()) {
        std::size_t end = at;
        while (end < path.size() && !isPathSeparator(path[end]))
            ++end;
        const std::string name = path.substr(at, end - at);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        at = end + 1;
    }
    std::string k = root;
    for (std::size_t i = 0; i < names.size(); ++i)
        k += (i ? std::string(1, pathSeparator()) : std::string()) + names[i];
    return k;
}

const MemoryStore::Entry* MemoryStore::find(const std::string& k) const
{
    const auto it = m_entries.find(k);
    return it == m_entries.end() ? nullptr : &it->second;
}

void MemoryStore::requireParentFolder(const std::string& k, const std::string& path) const
{
    const std::string parent = k.size() > m_root.size() ? parentOf(k) : k;
    const Entry* e = find(parent.size() > m_root.size() ? parent.substr(0, parent.size() - 1) : parent);
    if (e == nullptr)
        throw ioError(ENOENT, path);
    if (e->bytes)
        throw ioError(ENOTDIR, path);
}

void MemoryStore::makeFolder(const std::string& path)
{
    const std::string k = key(path);
    std::string at;
    for (std::size_t i = 0; i <= k.size(); ++i) {
        if (i < k.size() && (k[i] != pathSeparator() || i < m_root.size()))
            continue;
        at = k.substr(0, std::max(i, m_root.size()));
        Entry& e = m_entries[at];
        if (e.bytes)
            throw ioError(ENOTDIR, path);
    }
}

std::map<std::string, std::string> MemoryStore::filesBelow(const std::string& folder) const
{
    const std::string prefix = withTrailingSeparator(key(folder));
    std::map<std::string, std::string> files;
    for (auto it = m_entries.lower_bound(prefix); it != m_entries.end() && it->first.starts_with(prefix); ++it)
        if (it->second.bytes) {
            std::string relative = it->first.substr(prefix.size());
            std::replace(relative.begin(), relative.end(), pathSeparator(), '/');
            files.emplace(std::move(relative), *it->second.bytes);
        }
    return files;
}

void MemoryStore::removeTree(const std::string& folder)
{
    const std::string k = key(folder);
    if (k == m_root)
        return clear();
    const std::string prefix = withTrailingSeparator(k);
    auto it = m_entries.lower_bound(prefix);
    while (it != m_entries.end() && it->first.starts_with(prefix))
        it = m_entries.erase(it);
    m_entries.erase(k);
}

std::unique_ptr<StoredFile> MemoryStore::open(const std::string& path, platform::OpenMode mode)
{
    const std::string k = key(path);
    const auto it = m_entries.find(k);
    using platform::OpenMode;
    if (it != m_entries.end() && !it->second.bytes)
        throw ioError(EISDIR, path);
    if (it != m_entries.end() && endsInSeparator(path))
        throw ioError(ENOTDIR, path);
    if (mode == OpenMode::Read || mode == OpenMode::ReadWrite) {
        if (it == m_entries.end())
            throw ioError(ENOENT, path);
        return std::make_unique<MemoryFile>(it->second.bytes, path, mode == OpenMode::ReadWrite, m_maxFileSize);
    }
    if (it != m_entries.end()) {
        if (mode == OpenMode::CreateExclusive)
            throw ioError(EEXIST, path);
        it->second.bytes->clear();
        return std::make_unique<MemoryFile>(it->second.bytes, path, true, m_maxFileSize);
    }
    requireParentFolder(k, path);
    auto bytes = std::make_shared<std::string>();
    m_entries[k] = Entry{bytes};
    return std::make_unique<MemoryFile>(std::move(bytes), path, true, m_maxFileSize);
}

platform::EntryKind MemoryStore::entryKind(const std::string& path)
{
    const Entry* e = find(key(path));
    if (e == nullptr || (e->bytes && endsInSeparator(path)))
        return platform::EntryKind::None;
    return e->bytes ? platform::EntryKind::File : platform::EntryKind::Folder;
}

bool MemoryStore::nameExists(const std::string& path)
{
    return find(key(path)) != nullptr;
}

std::vector<std::string> MemoryStore::listFolder(const std::string& folder)
{
    const std::string k = key(folder);
    const Entry* e = find(k);
    if (e == nullptr || e->bytes)
        return {};
    const std::string prefix = withTrailingSeparator(k);
    std::vector<std::string> names;
    for (auto it = m_entries.lower_bound(prefix); it != m_entries.end() && it->first.starts_with(prefix); ++it)
        if (it->first.size() > prefix.size() && it->first.find(pathSeparator(), prefix.size()) == std::string::npos)
            names.push_back(it->first.substr(prefix.size()));
    return names;
}

std::string MemoryStore::findIgnoringCase(const std::string& folder, const std::string& name)
{
    const std::string prefix = withTrailingSeparator(key(folder));
    for (auto it = m_entries.lower_bound(prefix); it != m_entries.end() && it->first.starts_with(prefix); ++it) {
        const std::string_view entry = std::string_view(it->first).substr(prefix.size());
        if (entry.find(pathSeparator()) == std::string_view::npos && equalsIgnoreCase(entry, name))
            return std::string(entry); // the map keeps byte order
    }
    return {};
}

std::uint64_t MemoryStore::fileSize(const std::string& path, std::error_code& ec)
{
    const Entry* e = find(key(path));
    if (e == nullptr || !e->bytes) {
        ec.assign(e == nullptr ? ENOENT : EISDIR, std::generic_category());
        return 0;
    }
    ec.clear();
    return e->bytes->size();
}

void MemoryStore::copyFileContents(const std::string& src, const std::string& dst)
{
    const std::unique_ptr<StoredFile> in = open(src, platform::OpenMode::Read);
    const std::string bytes(static_cast<std::size_t>(in->size()), '\0');
    in->readAt(0, std::as_writable_bytes(std::span<char>(const_cast<char*>(bytes.data()), bytes.size())));
    const std::unique_ptr<StoredFile> out = open(dst, platform::OpenMode::CreateTruncate);
    out->writeAt(0, std::as_bytes(std::span<const char>(bytes.data(), bytes.size())));
}

bool MemoryStore::linkFile(const std::string& src, const std::string& dst)
{
    const Entry* from = find(key(src));
    const std::string to = key(dst);
    if (from == nullptr || !from->bytes || find(to) != nullptr)
        return false;
    requireParentFolder(to, dst);
    m_entries[to] = *from;
    return true;
}

void MemoryStore::renameFile(const std::string& src, const std::string& dst)
{
    const std::string from = key(src), to = key(dst);
    const Entry* e = find(from);
    if (e == nullptr)
        throw ioError(ENOENT, src);
    if (!e->bytes)
        throw ioError(EPERM, src); // the service moves files only
    const Entry* target = find(to);
    if (target != nullptr && !target->bytes)
        throw ioError(EISDIR, dst);
    requireParentFolder(to, dst);
    if (from == to)
        return;
    Entry moved = *e;
    m_entries.erase(from);
    m_entries[to] = std::move(moved);
}

void MemoryStore::forceDelete(const std::string& path)
{
    const auto it = m_entries.find(key(path));
    if (it == m_entries.end())
        throw ioError(ENOENT, path);
    if (!it->second.bytes)
        throw ioError(EISDIR, path);
    m_entries.erase(it);
}

std::string MemoryStore::absolutePath(const std::string& path)
{
    return key(path);
}

std::string MemoryStore::tempFolder()
{
    return m_root + "tmp";
}

std::string MemoryStore::makePrivateFolder(const std::string& parent)
{
    const Entry* e = find(key(parent));
    if (e == nullptr)
        throw ioError(ENOENT, parent);
    if (e->bytes)
        throw ioError(ENOTDIR, parent);
    std::string folder;
    do
        folder = joinPath(key(parent), "tabrescue-" + std::to_string(++m_folderCounter));
    while (find(folder) != nullptr);
    m_entries[folder] = Entry{};
    return folder;
}

} // namespace tabrescue
