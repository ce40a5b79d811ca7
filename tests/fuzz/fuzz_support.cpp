#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "io/file_system.h"
#include "support/temp_dir.h"

namespace tabrescue::fuzz {

namespace fs = std::filesystem;

namespace {

struct Scratch {
    std::string path;
    Scratch() : path(test::makeTempDir().string()) {}
    ~Scratch() { test::removeTree(path); }
};

} // namespace

const std::string& scratchFolder()
{
    static const Scratch scratch;
    return scratch.path;
}

std::string freshFolder(const std::string& name)
{
    const fs::path p = fs::path(scratchFolder()) / name;
    test::removeTree(p);
    fs::create_directories(p);
    return p.string();
}

void writeFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fail("cannot write " + path);
}

std::string asText(Input data)
{
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

Contents folderContents(const std::string& folder)
{
    Contents c;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        c[e.path().filename().string()] =
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return c;
}

void fail(const std::string& what)
{
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void expectUnchanged(const std::string& folder, const Contents& before)
{
    const Contents after = folderContents(folder);
    for (const auto& [name, bytes] : before) {
        const auto it = after.find(name);
        if (it == after.end())
            fail("input file vanished: " + name);
        if (it->second != bytes)
            fail("input file changed: " + name);
    }
}

std::vector<std::string> splitParts(Input data, std::size_t parts)
{
    const std::string all = asText(data);
    std::vector<std::string> out;
    std::size_t start = 0;
    while (out.size() + 1 < parts) {
        const std::size_t at = all.find(kPartSeparator, start);
        if (at == std::string::npos)
            break;
        out.push_back(all.substr(start, at - start));
        start = at + kPartSeparator.size();
    }
    out.push_back(all.substr(std::min(start, all.size())));
    out.resize(parts);
    return out;
}

void endRun()
{
    FileSystem& fsys = fileSystem();
    test::removeTree(fsys.tempFolder());
    fsys.startNewRun();
}

} // namespace tabrescue::fuzz
