#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/recover_error.h"

namespace tabrescue {

// Numbers are built from bytes, so host byte order never matters; every read checks its buffer.
constexpr std::uint32_t readLE(std::span<const std::byte> buf, std::size_t at, std::size_t width)
{
    if (buf.size() < width || at > buf.size() - width)
        throwPastEnd();
    std::uint32_t v = 0;
    for (std::size_t i = width; i-- > 0;)
        v = (v << 8) | std::to_integer<std::uint32_t>(buf[at + i]);
    return v;
}
// The fixed widths spell their bytes out, so that the compiler turns them into one load or store.
constexpr std::uint32_t readLE32(std::span<const std::byte> buf, std::size_t at)
{
    if (buf.size() < 4 || at > buf.size() - 4)
        throwPastEnd();
    const std::byte* p = buf.data() + at; // indexing through a pointer lets the compiler merge the loads
    return std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
           std::to_integer<std::uint32_t>(p[2]) << 16 | std::to_integer<std::uint32_t>(p[3]) << 24;
}
constexpr std::uint16_t readLE16(std::span<const std::byte> buf, std::size_t at)
{
    if (buf.size() < 2 || at > buf.size() - 2)
        throwPastEnd();
    const std::byte* p = buf.data() + at;
    return static_cast<std::uint16_t>(std::to_integer<std::uint32_t>(p[0]) |
                                      std::to_integer<std::uint32_t>(p[1]) << 8);
}
constexpr std::int32_t readLE32s(std::span<const std::byte> buf, std::size_t at)
{
    return static_cast<std::int32_t>(readLE32(buf, at));
}
constexpr std::int16_t readLE16s(std::span<const std::byte> buf, std::size_t at)
{
    return static_cast<std::int16_t>(readLE16(buf, at));
}

constexpr void writeLE(std::span<std::byte> buf, std::size_t at, std::uint32_t v, std::size_t width)
{
    if (buf.size() < width || at > buf.size() - width)
        throwPastEnd();
    for (std::size_t i = 0; i < width; ++i, v >>= 8)
        buf[at + i] = static_cast<std::byte>(v & 0xFFu);
}
constexpr void writeLE32(std::span<std::byte> buf, std::size_t at, std::uint32_t v)
{
    if (buf.size() < 4 || at > buf.size() - 4)
        throwPastEnd();
    buf[at] = static_cast<std::byte>(v & 0xFFu);
    buf[at + 1] = static_cast<std::byte>((v >> 8) & 0xFFu);
    buf[at + 2] = static_cast<std::byte>((v >> 16) & 0xFFu);
    buf[at + 3] = static_cast<std::byte>(v >> 24);
}
constexpr void writeLE16(std::span<std::byte> buf, std::size_t at, std::uint16_t v)
{
    if (buf.size() < 2 || at > buf.size() - 2)
        throwPastEnd();
    buf[at] = static_cast<std::byte>(v & 0xFFu);
    buf[at + 1] = static_cast<std::byte>(v >> 8);
}

} // namespace tabrescue
