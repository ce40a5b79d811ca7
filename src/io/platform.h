#pragma once

// The only place that knows which system the program runs on: platform_posix.cpp or
// platform_win32.cpp, chosen by the build. Everything else is standard C++.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace tabrescue::platform {

// The system calls a test can make fail, one kind per call of the system.
enum class Call {
    Open,   // an existing file
    Create, // a file that may be new
    Read,
    Write,
    Size, // of an open file
    Close,
    Copy, // the kernel's copy between two open files
    Rename,
    Link,
    Delete,
    Stat, // what a path names, or its size
    List, // the names in a folder
    MakeFolder,
    CurrentFolder,
};
// What a test makes of one call: `error` != 0 fails it with that errno, as the system would; a
// read, write or copy moves at most `limit` bytes, as a short transfer would.
struct Fault
{
    int error = 0;
    std::size_t limit = SIZE_MAX;
};
using FaultHook = std::function<Fault(Call, const std::string& path)>;
// Consulted right before each call of the system, so that its failures take the paths real ones
// take (retries, fallbacks, error numbers). Empty by default; tests only.
void setFaultHook(FaultHook hook);

char separator();
// Whether file names differ by letter case on this system.
bool caseSensitiveNames();

// Paths travel through the program as UTF-8 strings; these convert at the system's edge.
std::filesystem::path toNative(const std::string& utf8);
std::string fromNative(const std::filesystem::path& path);

// The program's arguments as UTF-8, argv[0] included (Windows hands main() the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);
// Lets the console show the UTF-8 text the program writes.
void useUtf8Console();

// The local time of `t` (localtime_r / localtime_s).
std::tm localTime(std::time_t t);

// An environment variable of this process (std::nullopt: not set; setting it removes the
// variable). UTF-8 names and values.
std::optional<std::string> environmentVariable(const std::string& name);
void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value);
// The variable that names the temporary folder (TMPDIR on POSIX, TMP on Windows).
const char* tempFolderVariable();

// The system's temporary folder (TMPDIR, TMP, ...); empty when it has none.
std::string tempFolder();
// Creates a folder only this user can enter, with a unique name inside `parent`; returns its path.
std::string makePrivateFolder(const std::string& parent);

// The errno value of a failed std::filesystem call, whatever category the library used.
int errnoOf(const std::error_code& ec);

// On a system that ignores letter case: the path with every name spelt as on disk, separators
// as given; the path unchanged when some name does not exist. Elsewhere the path unchanged.
std::string namesAsOnDisk(const std::string& path);

// The path made absolute from the current folder, "." and ".." taken out.
std::string absolutePath(const std::string& path);
// Whether anything has this name, a dangling link included.
bool nameExists(const std::string& path);
// The names in a folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> listFolder(const std::string& folder);
// The size of the file at path, following links; sets ec on failure, as std::filesystem does.
std::uint64_t fileSize(const std::string& path, std::error_code& ec);

enum class EntryKind { None, File, Folder, Other };
// What a path names, following links. A path that ends in a separator names a folder or nothing
// (the Windows C runtime's stat() fails on such paths, so this does not use it).
EntryKind entryKind(const std::string& path);

// Fills `out` with random bits from the operating system.
void randomBytes(std::span<std::byte> out);

enum class OpenMode {
    Read,            // shared read
    ReadWrite,       // existing file, never through a link
    CreateTruncate,  // create or empty, never through a link
    CreateExclusive, // fails when the name exists, never through a link
};

// An open file with positioned reads and writes. Errors become RecoverError.
class NativeFile
{
  public:
    NativeFile() = default;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    ~NativeFile();

    static NativeFile open(const std::string& path, OpenMode mode);

    bool isOpen() const { return m_handle != kInvalid; }
    // Reads up to out.size() bytes; returns fewer only at the end of the file.
    std::size_t readAt(std::uint64_t pos, std::span<std::byte> out);
    void writeAt(std::uint64_t pos, std::span<const std::byte> data);
    std::uint64_t size() const;
    void close();
    const std::string& path() const { return m_path; }

  private:
    friend std::size_t copyRange(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length);
    static constexpr std::intptr_t kInvalid = -1;
    std::intptr_t m_handle = kInvalid;
    std::string m_path;
};

// Copies the bytes [pos, pos + length) of `in` to the same place in `out`, with the kernel's copy
// where there is one (no trip through a buffer of ours). Returns the bytes copied: fewer than
// `length` only when `in` ends first.
std::size_t copyRange(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length);
// The same through a buffer of ours: where the system has no kernel copy, or refuses it here.
std::size_t copyByBuffer(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length);
// Copies the bytes of `src` into `dst` (created or emptied, never through a link), with the
// kernel's copy where there is one.
void copyFileContents(const std::string& src, const std::string& dst);
// Gives the regular file `src` the second name `dst`, which must not exist. False when that cannot
// be done here (another file system, no links on it, a system without them, `src` a link or no
// regular file): the caller then copies, and a real fault shows there.
bool linkFile(const std::string& src, const std::string& dst);
// Renames a file; replaces an existing target.
void renameFile(const std::string& src, const std::string& dst);
// Removes a file even when it is read-only; never changes permissions through a link.
void forceDelete(const std::string& path);

} // namespace tabrescue::platform
