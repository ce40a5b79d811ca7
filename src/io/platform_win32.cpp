#include "io/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/recover_error.h"
#include "io/platform_fault.h"
#include "io/win32_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// These need windows.h first.
#include <bcrypt.h>
#include <sddl.h>
#include <shellapi.h>

namespace tabrescue::platform {


namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Win32 error codes as the errno values ioError() numbers.
int errnoFromWin32(DWORD err)
{
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
        return ENOENT;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    default:
        return EIO;
    }
}

[[noreturn]] void throwWin32(DWORD err, const std::string& path)
{
    throw ioError(errnoFromWin32(err), path);
}

// The Win32 error that errnoFromWin32() maps back to the same errno, as far as ioError() tells.
DWORD win32FromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// True, with the last error set, when a test fails the call about to be made.
bool injected(Call call, const std::string& path, std::size_t* bytes = nullptr)
{
    const int error = injectedError(call, path, bytes);
    if (error != 0)
        SetLastError(win32FromErrno(error));
    return error != 0;
}

HANDLE handleOf(std::intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}

// Symbolic links and junctions; other reparse points (cloud placeholders, deduplicated files) are
// ordinary files to us.
bool isLink(HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

// A security descriptor that lets only the current user in, or nullptr when it cannot be made
// (the folder then inherits the temporary folder's own, per-user, permissions).
PSECURITY_DESCRIPTOR ownerOnlyDescriptor()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::byte> buf(size);
    PSECURITY_DESCRIPTOR sd = nullptr;
    LPWSTR sid = nullptr;
    if (size != 0 && GetTokenInformation(token, TokenUser, buf.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) {
        // Protected DACL: full access for this user, inherited by everything inside.
        const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                                  nullptr))
            sd = nullptr;
        LocalFree(sid);
    }
    CloseHandle(token);
    return sd;
}

} // namespace

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string narrow(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                        nullptr);
    return utf8;
}

char separator()
{
    return '\\';
}
bool caseSensitiveNames()
{
    return false;
}

std::filesystem::path toNative(const std::string& utf8)
{
    return std::filesystem::path(widen(utf8));
}
std::string fromNative(const std::filesystem::path& path)
{
    return narrow(path.native());
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i)
        args.push_back(narrow(wide[i]));
    LocalFree(wide);
    return args;
}

void useUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

std::tm localTime(std::time_t t)
{
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

std::optional<std::string> environmentVariable(const std::string& name)
{
    const std::wstring wname = widen(name);
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n =
            GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            return narrow(value);
        }
        value.resize(n);
    }
}

void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value)
{
    const std::wstring wvalue = value ? widen(*value) : std::wstring();
    SetEnvironmentVariableW(widen(name).c_str(), value ? wvalue.c_str() : nullptr);
}

const char* tempFolderVariable()
{
    return "TMP";
}

std::string tempFolder()
{
    std::wstring buf(MAX_PATH + 1, L'\0');
    DWORD n = GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
    if (n > buf.size()) {
        buf.resize(n);
        n = GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
    }
    if (n == 0 || n > buf.size())
        return {};
    buf.resize(n);
    // TMP may hold an 8.3 short name; paths we report should read as the user knows them.
    const DWORD longSize = GetLongPathNameW(buf.c_str(), nullptr, 0);
    if (longSize != 0) {
        std::wstring longName(longSize, L'\0');
        const DWORD m = GetLongPathNameW(buf.c_str(), longName.data(), longSize);
        if (m != 0 && m < longSize) {
            longName.resize(m);
            buf = longName;
        }
    }
    return narrow(buf);
}

std::string makePrivateFolder(const std::string& parent)
{
    std::string base = parent;
    if (base.empty() || (base.back() != '\\' && base.back() != '/'))
        base += '\\';
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = ownerOnlyDescriptor();
    SECURITY_ATTRIBUTES* security = attributes.lpSecurityDescriptor ? &attributes : nullptr;
    DWORD err = ERROR_ALREADY_EXISTS;
    std::string made;
    // The name is unguessable and the folder created exclusively, so no one can plant it first.
    for (int attempt = 0; attempt < 100 && err == ERROR_ALREADY_EXISTS; ++attempt) {
        std::array<std::byte, 8> bits{};
        randomBytes(bits);
        std::string name = base + "tabrescue-";
        for (const std::byte b : bits) {
            name += kHexDigits[std::to_integer<unsigned>(b) >> 4];
            name += kHexDigits[std::to_integer<unsigned>(b) & 15];
        }
        if (!injected(Call::MakeFolder, parent) && CreateDirectoryW(widen(name).c_str(), security)) {
            made = name;
            break;
        }
        err = GetLastError();
    }
    if (attributes.lpSecurityDescriptor != nullptr)
        LocalFree(attributes.lpSecurityDescriptor);
    if (made.empty())
        throwWin32(err, parent);
    return made;
}

int errnoOf(const std::error_code& ec)
{
    // The library reports Win32 calls in the system category, CRT calls as errno values.
    if (ec.category() == std::system_category())
        return errnoFromWin32(static_cast<DWORD>(ec.value()));
    return ec.value();
}

std::string namesAsOnDisk(const std::string& path)
{
    const auto isSep = [](char c) { return c == '\\' || c == '/'; };
    const std::size_t n = path.size();
    // The root stays as given: "C:", a "\\server\share" prefix, leading separators.
    std::size_t i = 0;
    if (n >= 2 && isSep(path[0]) && isSep(path[1])) {
        i = 2;
        for (int part = 0; part < 2; ++part) {
            while (i < n && !isSep(path[i]))
                ++i;
            if (part == 0)
                while (i < n && isSep(path[i]))
                    ++i;
        }
    } else if (n >= 2 && path[1] == ':') {
        i = 2;
    }
    while (i < n && isSep(path[i]))
        ++i;
    std::string resolved = path.substr(0, i);
    while (i < n) {
        std::size_t end = i;
        while (end < n && !isSep(path[end]))
            ++end;
        const std::string name = path.substr(i, end - i);
        if (name == "." || name == ".." || name.find_first_of("*?") != std::string::npos) {
            resolved += name;
        } else {
            WIN32_FIND_DATAW found{};
            const HANDLE h = injected(Call::List, resolved + name)
                                 ? INVALID_HANDLE_VALUE
                                 : FindFirstFileW(widen(resolved + name).c_str(), &found);
            if (h == INVALID_HANDLE_VALUE)
                return path;
            FindClose(h);
            resolved += narrow(found.cFileName);
        }
        while (end < n && isSep(path[end]))
            resolved += path[end++];
        i = end;
    }
    return resolved;
}

namespace {

// Attributes and size of what a path names, following links as the POSIX branch's stat() does.
bool statFollowing(const std::string& path, DWORD& attributes, std::uint64_t& size)
{
    const std::wstring wpath = widen(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (injected(Call::Stat, path) || !GetFileAttributesExW(wpath.c_str(), GetFileExInfoStandard, &data))
        return false;
    attributes = data.dwFileAttributes;
    size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return true;
    HANDLE h = CreateFileW(wpath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    const DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err);
    attributes = info.dwFileAttributes;
    size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return known;
}

} // namespace

bool nameExists(const std::string& path)
{
    return !injected(Call::Stat, path) && GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> listFolder(const std::string& folder)
{
    std::vector<std::string> names;
    std::string pattern = folder;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/'))
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW found{};
    const HANDLE h =
        injected(Call::List, folder) ? INVALID_HANDLE_VALUE : FindFirstFileW(widen(pattern).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = narrow(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

std::uint64_t fileSize(const std::string& path, std::error_code& ec)
{
    DWORD attributes = 0;
    std::uint64_t size = 0;
    ec.clear();
    if (!statFollowing(path, attributes, size))
        ec.assign(static_cast<int>(GetLastError()), std::system_category());
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        ec.assign(EISDIR, std::generic_category());
    return ec ? 0 : size;
}

EntryKind entryKind(const std::string& path)
{
    DWORD attributes = 0;
    std::uint64_t size = 0;
    if (path.empty() || !statFollowing(path, attributes, size))
        return EntryKind::None;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return EntryKind::Folder;
    if (path.back() == '\\' || path.back() == '/')
        return EntryKind::None;
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::Other : EntryKind::File;
}

void randomBytes(std::span<std::byte> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(out.size() - done, 1u << 20));
        if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(out.data() + done), n,
                            BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
            throw RecoverError(kErrPathAccess, "No random source");
        done += n;
    }
}

NativeFile NativeFile::open(const std::string& path, OpenMode mode)
{
    const std::wstring wpath = widen(path);
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    // Writers open a link itself, never its target, and then refuse it.
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    switch (mode) {
    case OpenMode::Read:
        access = GENERIC_READ;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        flags = FILE_ATTRIBUTE_NORMAL;
        break;
    case OpenMode::ReadWrite:
        break;
    case OpenMode::CreateTruncate:
        disposition = OPEN_ALWAYS; // CREATE_ALWAYS would also drop the attributes of a hidden file
        break;
    case OpenMode::CreateExclusive:
        disposition = CREATE_NEW; // fails on any existing name, a dangling link included
        break;
    }
    const Call call = mode == OpenMode::Read || mode == OpenMode::ReadWrite ? Call::Open : Call::Create;
    NativeFile f;
    f.m_path = path;
    for (;;) {
        HANDLE h = injected(call, path)
                       ? INVALID_HANDLE_VALUE
                       : CreateFileW(wpath.c_str(), access, share, nullptr, disposition, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            const DWORD attributes = GetFileAttributesW(wpath.c_str());
            if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                throw ioError(EISDIR, path);
            throwWin32(err, path);
        }
        f.m_handle = reinterpret_cast<std::intptr_t>(h);
        if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0)
            break;
        if (isLink(h))
            throw ioError(EACCES, path);
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            break;
        // Another kind of reparse point: open it again as the file it stands for.
        f.close();
        flags &= ~static_cast<DWORD>(FILE_FLAG_OPEN_REPARSE_POINT);
    }
    if (mode == OpenMode::CreateTruncate) {
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(handleOf(f.m_handle), zero, nullptr, FILE_BEGIN) ||
            !SetEndOfFile(handleOf(f.m_handle)))
            throwWin32(GetLastError(), path);
    }
    return f;
}

std::size_t NativeFile::readAt(std::uint64_t pos, std::span<std::byte> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        std::size_t want = std::min<std::size_t>(out.size() - done, 1u << 30);
        const std::uint64_t at = pos + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (injected(Call::Read, m_path, &want) ||
            !ReadFile(handleOf(m_handle), out.data() + done, static_cast<DWORD>(want), &got, &where)) {
            const DWORD err = GetLastError();
            if (err == ERROR_HANDLE_EOF)
                break;
            throwWin32(err, m_path);
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void NativeFile::writeAt(std::uint64_t pos, std::span<const std::byte> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        std::size_t want = std::min<std::size_t>(data.size() - done, 1u << 30);
        const std::uint64_t at = pos + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD put = 0;
        if (injected(Call::Write, m_path, &want) ||
            !WriteFile(handleOf(m_handle), data.data() + done, static_cast<DWORD>(want), &put, &where))
            throwWin32(GetLastError(), m_path);
        if (put == 0)
            throw ioError(ENOSPC, m_path);
        done += put;
    }
}

std::uint64_t NativeFile::size() const
{
    LARGE_INTEGER size{};
    if (injected(Call::Size, m_path) || !GetFileSizeEx(handleOf(m_handle), &size))
        throwWin32(GetLastError(), m_path);
    return static_cast<std::uint64_t>(size.QuadPart);
}

void NativeFile::close()
{
    if (m_handle == kInvalid)
        return;
    const HANDLE h = handleOf(m_handle);
    m_handle = kInvalid;
    const int failure = injectedError(Call::Close, m_path); // the handle goes all the same
    if (!CloseHandle(h))
        throwWin32(GetLastError(), m_path);
    if (failure != 0)
        throwWin32(win32FromErrno(failure), m_path);
}

void renameFile(const std::string& src, const std::string& dst)
{
    const std::wstring from = widen(src);
    const std::wstring to = widen(dst);
    constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
    if (!injected(Call::Rename, dst) && MoveFileExW(from.c_str(), to.c_str(), kMoveFlags))
        return;
    DWORD err = GetLastError();
    // A rename replaces a read-only target on POSIX; Windows refuses until the attribute is off.
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (err == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        SetFileAttributesW(to.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        if (MoveFileExW(from.c_str(), to.c_str(), kMoveFlags))
            return;
        err = GetLastError();
        SetFileAttributesW(to.c_str(), attributes);
    }
    const bool sourceMissing = GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES;
    throwWin32(err, sourceMissing ? src : dst);
}

bool linkFile(const std::string&, const std::string&)
{
    return false; // NTFS could, but FAT and the network drives that tables often live on cannot
}

void forceDelete(const std::string& path)
{
    const std::wstring wpath = widen(path);
    const DWORD attributes =
        injected(Call::Stat, path) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wpath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throwWin32(GetLastError(), path);
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (!link)
            throw ioError(EISDIR, path);
        if (!RemoveDirectoryW(wpath.c_str())) // a link to a folder: the link goes, the folder stays
            throwWin32(GetLastError(), path);
        return;
    }
    if (!injected(Call::Delete, path) && DeleteFileW(wpath.c_str()))
        return;
    DWORD err = GetLastError();
    // The attribute of a link would be the link's own, but leave links as they are.
    if (err == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0 && !link &&
        SetFileAttributesW(wpath.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        if (DeleteFileW(wpath.c_str()))
            return;
        err = GetLastError();
        SetFileAttributesW(wpath.c_str(), attributes);
    }
    throwWin32(err, path);
}
std::size_t copyRange(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length)
{
    return copyByBuffer(in, out, pos, length);
}

} // namespace tabrescue::platform
