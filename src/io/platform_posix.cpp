#include "io/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/recover_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

namespace tabrescue::platform {

char separator()
{
    return '/';
}
bool caseSensitiveNames()
{
    return true;
}

std::filesystem::path toNative(const std::string& utf8)
{
    return std::filesystem::path(utf8);
}
std::string fromNative(const std::filesystem::path& path)
{
    return path.string();
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void useUtf8Console() {}

std::tm localTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::optional<std::string> environmentVariable(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

const char* tempFolderVariable()
{
    return "TMPDIR";
}

std::string tempFolder()
{
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0')
        return dir;
    return "/tmp";
}

std::string makePrivateFolder(const std::string& parent)
{
    std::string pattern = parent;
    if (pattern.empty() || pattern.back() != '/')
        pattern += '/';
    pattern += "tabrescue-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr)
        throw ioError(errno, parent);
    return std::string(buf.data());
}

int errnoOf(const std::error_code& ec)
{
    return ec.value();
}

std::string namesAsOnDisk(const std::string& path)
{
    return path;
}

EntryKind entryKind(const std::string& path)
{
    struct stat st = {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return EntryKind::None;
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

void randomBytes(std::span<std::byte> out)
{
    std::size_t done = 0;
#if defined(__linux__)
    while (done < out.size()) {
        const ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
#endif
    if (done < out.size()) {
        const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw RecoverError(kErrPathAccess, "No random source");
        while (done < out.size()) {
            const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
            if (n <= 0) {
                ::close(fd);
                throw RecoverError(kErrPathAccess, "No random source");
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
}

NativeFile NativeFile::open(const std::string& path, OpenMode mode)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::Read:
        flags |= O_RDONLY;
        break;
    case OpenMode::ReadWrite:
        flags |= O_RDWR | O_NOFOLLOW;
        break;
    case OpenMode::CreateTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
        break;
    case OpenMode::CreateExclusive:
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw ioError(errno == ELOOP ? EACCES : errno, path);
    struct stat st = {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw ioError(EISDIR, path);
    }
    NativeFile f;
    f.m_handle = fd;
    f.m_path = path;
    return f;
}

std::size_t NativeFile::readAt(std::uint64_t pos, std::span<std::byte> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(static_cast<int>(m_handle), out.data() + done, out.size() - done,
                                  static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ioError(errno, m_path);
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void NativeFile::writeAt(std::uint64_t pos, std::span<const std::byte> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(static_cast<int>(m_handle), data.data() + done, data.size() - done,
                                   static_cast<off_t>(pos + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ioError(errno, m_path);
        }
        if (n == 0)
            throw ioError(ENOSPC, m_path);
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t NativeFile::size() const
{
    struct stat st = {};
    if (::fstat(static_cast<int>(m_handle), &st) != 0)
        throw ioError(errno, m_path);
    return static_cast<std::uint64_t>(st.st_size);
}

void NativeFile::close()
{
    if (m_handle == kInvalid)
        return;
    const int fd = static_cast<int>(m_handle);
    m_handle = kInvalid;
    if (::close(fd) != 0 && errno != EINTR)
        throw ioError(errno, m_path);
}

void renameFile(const std::string& src, const std::string& dst)
{
    if (::rename(src.c_str(), dst.c_str()) != 0)
        throw ioError(errno, errno == ENOENT ? src : dst);
}

bool linkFile(const std::string& src, const std::string& dst)
{
    struct stat st = {};
    if (::lstat(src.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::link(src.c_str(), dst.c_str()) == 0;
}

void forceDelete(const std::string& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw ioError(EISDIR, path);
    if (::unlink(path.c_str()) != 0)
        throw ioError(errno, path);
}

std::size_t copyRange(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length)
{
    std::size_t done = 0;
#if defined(__linux__)
    while (done < length) {
        loff_t inPos = static_cast<loff_t>(pos + done);
        loff_t outPos = inPos;
        const ssize_t n = ::copy_file_range(static_cast<int>(in.m_handle), &inPos, static_cast<int>(out.m_handle),
                                            &outPos, length - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
                break; // the plain loop below takes over
            throw ioError(errno, out.path());
        }
        if (n == 0)
            return done;
        done += static_cast<std::size_t>(n);
    }
#endif
    return done + copyByBuffer(in, out, pos + done, length - done);
}

} // namespace tabrescue::platform
