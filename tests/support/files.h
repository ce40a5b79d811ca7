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
std::filesystem::path u8path(std::string_view utf8);
std::string utf8(const std::filesystem::path& p);

// Makes a symbolic link; false where this system or user cannot (Windows without the privilege,
// Wine), so that tests of links can step aside there.
bool makeSymlink(const std::filesystem::path& target, const std::filesystem::path& link);

Bytes readBytes(const std::filesystem::path& p);
void writeBytes(const std::filesystem::path& p, const Bytes& bytes);
std::string readText(const std::filesystem::path& p);
void writeText(const std::filesystem::path& p, const std::string& text);
Bytes toBytes(const std::string& s);

void putLE32(Bytes& b, std::size_t at, std::uint32_t v);
void putLE16(Bytes& b, std::size_t at, std::uint16_t v);
void appendLE32(Bytes& b, std::uint32_t v);
void appendLE16(Bytes& b, std::uint16_t v);
std::uint32_t getLE32(const Bytes& b, std::size_t at);
std::uint16_t getLE16(const Bytes& b, std::size_t at);

// Every regular file below a folder with its bytes, keyed by path relative to it.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::filesystem::path& dir);

// Describes the first difference of two byte strings, or "" when they are equal.
std::string firstDifference(const Bytes& actual, const Bytes& expected);

} // namespace tabrescue::test
