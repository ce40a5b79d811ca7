#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tabrescue::test {

using Bytes = std::vector<std::byte>;

// Paths to and from the UTF-8 strings the core takes. A path made from a plain char string is in
// the ANSI code page on Windows, so names beyond ASCII must come through here.
inline std::filesystem::path u8path(std::string_view s) { return std::u8string(s.begin(), s.end()); }
std::string utf8(const std::filesystem::path& p);

// Makes a symbolic link; false where this system or user cannot (Windows without the privilege,
// Wine), so that tests of links can step aside there.
bool makeSymlink(const std::filesystem::path& target, const std::filesystem::path& link);

inline Bytes toBytes(std::string_view s)
{
    const auto* b = reinterpret_cast<const std::byte*>(s.data());
    return Bytes(b, b + s.size());
}
std::string readText(const std::filesystem::path& p);
void writeBytes(const std::filesystem::path& p, const Bytes& bytes);
inline Bytes readBytes(const std::filesystem::path& p) { return toBytes(readText(p)); }
inline void writeText(const std::filesystem::path& p, std::string_view t) { writeBytes(p, toBytes(t)); }

void putLE32(Bytes& b, std::size_t at, std::uint32_t v);
void putLE16(Bytes& b, std::size_t at, std::uint16_t v);
inline void appendLE32(Bytes& b, std::uint32_t v) { b.resize(b.size() + 4); putLE32(b, b.size() - 4, v); }
inline void appendLE16(Bytes& b, std::uint16_t v) { b.resize(b.size() + 2); putLE16(b, b.size() - 2, v); }
std::uint16_t getLE16(const Bytes& b, std::size_t at);
inline std::uint32_t getLE32(const Bytes& b, std::size_t at)
{
    return getLE16(b, at) | std::uint32_t{getLE16(b, at + 2)} << 16;
}

// Every regular file below a folder with its bytes, keyed by path relative to it.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::filesystem::path& dir);

// Describes the first difference of two byte strings, or "" when they are equal.
std::string firstDifference(const Bytes& actual, const Bytes& expected);

} // namespace tabrescue::test
