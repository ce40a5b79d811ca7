#include "io/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/recover_error.h"
#include "io/platform_fault.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

namespace tabrescue::platform {

namespace {

// True, with errno set, when a test fails the call about to be made.
bool injected(Call call, const std::string& path, std::size_t* bytes = nullptr)
{
    const int error = injectedError(call, path, bytes);
    if (error != 0)
        errno = error;
    return error != 0;
}

} // namespace

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
    if (injected(Call::MakeFolder, parent) || ::mkdtemp(buf.data()) == nullptr)
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

bool nameExists(const std::string& path)
{
    struct stat st = {};
    return !injected(Call::Stat, path) && ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listFolder(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = injected(Call::List, folder) ? nullptr : ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::uint64_t fileSize(const std::string& path, std::error_code& ec)
{
    struct stat st = {};
    int error = 0;
    if (injected(Call::Stat, path) || ::stat(path.c_str(), &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    ec.assign(error, std::generic_category());
    return error != 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
}

EntryKind entryKind(const std::string& path)
{
    struct stat st = {};
    if (path.empty() || injected(Call::Stat, path) || ::stat(path.c_str(), &st) != 0)
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
    const Call call = mode == OpenMode::Read || mode == OpenMode::ReadWrite ? Call::Open : Call::Create;
    int fd;
    do {
        fd = injected(call, path) ? -1 : ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw ioError(errno == ELOOP ? EACCES : errno, path);
    struct stat st = {};
    if (!injected(Call::Stat, path) && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
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
        std::size_t want = out.size() - done;
        const ssize_t n = injected(Call::Read, m_path, &want)
                              ? -1
                              : ::pread(static_cast<int>(m_handle), out.data() + done, want,
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
        std::size_t want = data.size() - done;
        const ssize_t n = injected(Call::Write, m_path, &want)
                              ? -1
                              : ::pwrite(static_cast<int>(m_handle), data.data() + done, want,
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
    if (injected(Call::Size, m_path) || ::fstat(static_cast<int>(m_handle), &st) != 0)
        throw ioError(errno, m_path);
    return static_cast<std::uint64_t>(st.st_size);
}

void NativeFile::close()
{
    if (m_handle == kInvalid)
        return;
    const int fd = static_cast<int>(m_handle);
    m_handle = kInvalid;
    const int failure = injectedError(Call::Close, m_path); // the descriptor goes all the same
    if (::close(fd) != 0 || failure != 0) {
        const int error = failure != 0 ? failure : errno;
        if (error != EINTR)
            throw ioError(error, m_path);
    }
}

void renameFile(const std::string& src, const std::string& dst)
{
    if (injected(Call::Rename, dst) || ::rename(src.c_str(), dst.c_str()) != 0)
        throw ioError(errno, errno == ENOENT ? src : dst);
}

bool linkFile(const std::string& src, const std::string& dst)
{
    struct stat st = {};
    if (injected(Call::Stat, src) || ::lstat(src.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return !injected(Call::Link, dst) && ::link(src.c_str(), dst.c_str()) == 0;
}

void forceDelete(const std::string& path)
{
    struct stat st = {};
    if (!injected(Call::Stat, path) && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw ioError(EISDIR, path);
    if (injected(Call::Delete, path) || ::unlink(path.c_str()) != 0)
        throw ioError(errno, path);
}

std::size_t copyRange(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length)
{
    std::size_t done = 0;
#if defined(__linux__)
    while (done < length) {
        loff_t inPos = static_cast<loff_t>(pos + done);
        loff_t outPos = inPos;
        std::size_t want = length - done;
        const ssize_t n = injected(Call::Copy, out.path(), &want)
                              ? -1
                              : ::copy_file_range(static_cast<int>(in.m_handle), &inPos,
                                                  static_cast<int>(out.m_handle), &outPos, want, 0);
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
