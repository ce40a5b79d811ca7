#include "support/files.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tabrescue::test {

namespace fs = std::filesystem;

fs::path u8path(std::string_view utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8(const fs::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool makeSymlink(const fs::path& target, const fs::path& link)
{
    std::error_code ec;
    fs::create_symlink(target, link, ec);
    return !ec && fs::is_symlink(fs::symlink_status(link, ec));
}

Bytes readBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + utf8(p));
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return toBytes(s);
}

void writeBytes(const fs::path& p, const Bytes& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + utf8(p));
}

std::string readText(const fs::path& p)
{
    const Bytes b = readBytes(p);
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void writeText(const fs::path& p, const std::string& text)
{
    writeBytes(p, toBytes(text));
}

Bytes toBytes(const std::string& s)
{
    Bytes b(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        b[i] = static_cast<std::byte>(s[i]);
    return b;
}

void putLE32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}

void putLE16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b.at(at) = static_cast<std::byte>(v & 0xFF);
    b.at(at + 1) = static_cast<std::byte>(v >> 8);
}

void appendLE32(Bytes& b, std::uint32_t v)
{
    b.resize(b.size() + 4);
    putLE32(b, b.size() - 4, v);
}

void appendLE16(Bytes& b, std::uint16_t v)
{
    b.resize(b.size() + 2);
    putLE16(b, b.size() - 2, v);
}

std::uint32_t getLE32(const Bytes& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | std::to_integer<std::uint32_t>(b.at(at + i));
    return v;
}

std::uint16_t getLE16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(b.at(at)) |
                                      (std::to_integer<unsigned>(b.at(at + 1)) << 8));
}

Snapshot snapshot(const fs::path& dir)
{
    Snapshot s;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file())
            s[utf8(fs::relative(entry.path(), dir))] = readBytes(entry.path());
    }
    return s;
}

std::string firstDifference(const Bytes& actual, const Bytes& expected)
{
    const std::size_t n = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (actual[i] != expected[i]) {
            std::ostringstream out;
            out << "byte " << i << ": got 0x" << std::hex << std::to_integer<int>(actual[i]) << ", expected 0x"
                << std::to_integer<int>(expected[i]);
            return out.str();
        }
    }
    if (actual.size() != expected.size())
        return "size " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size());
    return {};
}

} // namespace tabrescue::test
