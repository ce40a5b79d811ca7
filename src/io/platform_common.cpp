#include "io/platform.h"

#include <algorithm>
#include <vector>

#include "base/recover_error.h"
#include "io/platform_fault.h"

namespace tabrescue::platform {

void setFaultHook(FaultHook hook)
{
    g_faultHook = std::move(hook);
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec(injectedError(Call::CurrentFolder, path), std::generic_category());
    std::filesystem::path absolute;
    if (!ec)
        absolute = std::filesystem::absolute(toNative(path), ec);
    if (ec)
        throw ioError(errnoOf(ec), path);
    return fromNative(absolute.lexically_normal());
}

NativeFile::NativeFile(NativeFile&& other) noexcept
    : m_handle(other.m_handle), m_path(std::move(other.m_path))
{
    other.m_handle = kInvalid;
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept
{
    if (this != &other) {
        try {
            close();
        } catch (...) {
        }
        m_handle = other.m_handle;
        m_path = std::move(other.m_path);
        other.m_handle = kInvalid;
    }
    return *this;
}

NativeFile::~NativeFile()
{
    try {
        close();
    } catch (...) {
    }
}

std::size_t copyByBuffer(NativeFile& in, NativeFile& out, std::uint64_t pos, std::size_t length)
{
    constexpr std::size_t kCopyChunk = std::size_t{1} << 20;
    std::vector<std::byte> buf(std::min(kCopyChunk, length));
    std::size_t done = 0;
    while (done < length) {
        const std::size_t want = std::min(buf.size(), length - done);
        const std::size_t n = in.readAt(pos + done, std::span<std::byte>(buf.data(), want));
        if (n == 0)
            break;
        out.writeAt(pos + done, std::span<const std::byte>(buf.data(), n));
        done += n;
    }
    return done;
}

void copyFileContents(const std::string& src, const std::string& dst)
{
    NativeFile in = NativeFile::open(src, OpenMode::Read);
    NativeFile out = NativeFile::open(dst, OpenMode::CreateTruncate);
    constexpr std::size_t kPiece = std::size_t{64} << 20;
    for (std::uint64_t pos = 0;; pos += kPiece) {
        if (copyRange(in, out, pos, kPiece) < kPiece)
            break;
    }
    out.close();
}

} // namespace tabrescue::platform
