#include "support/files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tabrescue::test {

namespace fs = std::filesystem;

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

void writeBytes(const fs::path& p, const Bytes& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + utf8(p));
}

std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + utf8(p));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void putLE32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<std::byte>(v >> (8 * i));
}

void putLE16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b.at(at) = static_cast<std::byte>(v);
    b.at(at + 1) = static_cast<std::byte>(v >> 8);
}

std::uint16_t getLE16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(b.at(at)) |
                                      std::to_integer<unsigned>(b.at(at + 1)) << 8);
}

Snapshot snapshot(const fs::path& dir)
{
    Snapshot s;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            s[utf8(fs::relative(entry.path(), dir))] = readBytes(entry.path());
    return s;
}

std::string firstDifference(const Bytes& actual, const Bytes& expected)
{
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    std::ostringstream out;
    if (a != actual.end() && e != expected.end())
        out << "byte " << (a - actual.begin()) << ": got 0x" << std::hex << std::to_integer<int>(*a)
            << ", expected 0x" << std::to_integer<int>(*e);
    else if (actual.size() != expected.size())
        out << "size " << actual.size() << ", expected " << expected.size();
    return out.str();
}

} // namespace tabrescue::test
