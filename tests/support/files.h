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
inline std::string utf8(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return {s.begin(), s.end()};
}

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
inline void appendLE32(Bytes& b, std::uint32_t v) { b.resize(b.size() + 4); putLE32(b, b.size() - 4, v); }
std::uint32_t getLE32(const Bytes& b, std::size_t at);

// Every regular file below a folder with its bytes, keyed by path relative to it.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::filesystem::path& dir);

// Describes the first difference of two byte strings, or "" when they are equal.
std::string firstDifference(const Bytes& actual, const Bytes& expected);

} // namespace tabrescue::test
