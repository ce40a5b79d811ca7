#include "support/files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/memory_store.h"
#include "io/platform.h"

namespace tabrescue::test {

namespace fs = std::filesystem;

MemoryStore* memoryStoreInUse()
{
    return dynamic_cast<MemoryStore*>(&fileSystem().store());
}

void writeBytes(const fs::path& p, const Bytes& bytes)
{
    if (MemoryStore* store = memoryStoreInUse()) {
        BinaryFile file(store->open(utf8(p), platform::OpenMode::CreateTruncate));
        file.writeAt(0, bytes);
        return;
    }
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + utf8(p));
}

std::string readText(const fs::path& p)
{
    if (MemoryStore* store = memoryStoreInUse()) {
        if (store->entryKind(utf8(p)) != platform::EntryKind::File)
            throw std::runtime_error("cannot read " + utf8(p));
        BinaryFile file(store->open(utf8(p), platform::OpenMode::Read));
        std::string text(static_cast<std::size_t>(file.size()), '\0');
        file.readAt(0, std::as_writable_bytes(std::span<char>(text.data(), text.size())));
        return text;
    }
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + utf8(p));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isFile(const fs::path& p)
{
    if (MemoryStore* store = memoryStoreInUse())
        return store->entryKind(utf8(p)) == platform::EntryKind::File;
    return fs::is_regular_file(p);
}

std::uint64_t fileSize(const fs::path& p)
{
    return readText(p).size();
}

void resizeFile(const fs::path& p, std::uint64_t size)
{
    if (memoryStoreInUse() == nullptr)
        return fs::resize_file(p, size);
    Bytes bytes = readBytes(p);
    bytes.resize(static_cast<std::size_t>(size));
    writeBytes(p, bytes);
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
    if (MemoryStore* store = memoryStoreInUse()) {
        for (const auto& [name, bytes] : store->filesBelow(utf8(dir)))
            s[name] = toBytes(bytes);
        return s;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            s[utf8(fs::relative(entry.path(), dir))] = readBytes(entry.path());
    return s;
}

int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RecoverError& e) {
        return e.number();
    }
    return 0;
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
    if (MemoryStore* store = memoryStoreInUse())
        return u8path(store->makePrivateFolder(store->tempFolder()));
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
    if (MemoryStore* store = memoryStoreInUse())
        return store->removeTree(utf8(dir));
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

void MemoryDirTest::SetUp()
{
    m_store = std::make_unique<MemoryStore>();
    fileSystem().useStore(m_store.get());
    TempDirTest::SetUp();
}

void MemoryDirTest::TearDown()
{
    TempDirTest::TearDown();
    fileSystem().useStore(nullptr);
    m_store.reset();
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
