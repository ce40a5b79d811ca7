#include "support/files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "io/platform.h"

namespace tabrescue::test {

namespace fs = std::filesystem;

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

std::uint32_t getLE32(const Bytes& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;)
        v = v << 8 | std::to_integer<std::uint32_t>(b.at(at + i));
    return v;
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

fs::path makeTempDir()
{
    std::random_device rd;
    for (;;) {
        const fs::path p =
            fs::temp_directory_path() / ("tabrescue-test-" + std::to_string(rd()) + std::to_string(rd()));
        if (fs::create_directory(p))
            return p;
    }
}

void removeTree(const fs::path& dir)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec)))
        return;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

ScopedTempFolder::ScopedTempFolder(const fs::path& folder)
    : m_old(platform::environmentVariable(platform::tempFolderVariable()))
{
    platform::setEnvironmentVariable(platform::tempFolderVariable(), utf8(folder));
}

ScopedTempFolder::~ScopedTempFolder()
{
    platform::setEnvironmentVariable(platform::tempFolderVariable(), m_old);
}

} // namespace tabrescue::test
