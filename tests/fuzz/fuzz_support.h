#pragma once

// What the fuzz targets share: a private scratch folder, files, and the checks that hold for any input.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "io/file_system.h"
#include "support/temp_dir.h"

namespace tabrescue::fuzz {

inline constexpr std::string_view kPartSeparator = "\n#~~#\n";
using Contents = std::map<std::string, std::string>; // file name -> bytes

// Fails the fuzz run: prints the reason and aborts, so that the fuzzer keeps the input.
[[noreturn]] inline void fail(const std::string& what)
{
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::abort();
}

// A fresh empty folder in this process's scratch folder, which goes when the process ends.
inline std::string freshFolder(const std::string& name)
{
    static const struct Scratch
    {
        std::filesystem::path path = test::makeTempDir();
        ~Scratch() { test::removeTree(path); }
    } scratch;
    test::removeTree(scratch.path / name);
    std::filesystem::create_directories(scratch.path / name);
    return (scratch.path / name).string();
}

inline void writeFile(const std::string& path, std::string_view bytes)
{
    if (!std::ofstream(path, std::ios::binary)
             .write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        fail("cannot write " + path);
}

inline Contents folderContents(const std::string& folder)
{
    Contents c;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(e.path(), std::ios::binary);
        c[e.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
    }
    return c;
}

// The files of `before` must keep their bytes, under their own name or, moved aside, as name.bak.
inline void expectKept(const std::string& folder, const Contents& before, bool backupsAllowed = false)
{
    const Contents after = folderContents(folder);
    for (const auto& [name, bytes] : before)
        if (!(after.contains(name) && after.at(name) == bytes) &&
            !(backupsAllowed && after.contains(name + ".bak") && after.at(name + ".bak") == bytes))
            fail("lost its bytes: " + folder + "/" + name);
}

// Exactly `parts` pieces of `all` cut at kPartSeparator; missing ones empty, the last takes the rest.
inline std::vector<std::string> splitParts(std::string_view all, std::size_t parts)
{
    std::vector<std::string> out;
    for (std::size_t at; out.size() + 1 < parts && (at = all.find(kPartSeparator)) != all.npos;) {
        out.emplace_back(all.substr(0, at));
        all.remove_prefix(at + kPartSeparator.size());
    }
    out.emplace_back(all);
    out.resize(parts);
    return out;
}

// Removes what the core wrote into its private temporary folder, so a long session does not fill
// the disk; the next run makes a new one.
inline void endRun()
{
    test::removeTree(fileSystem().tempFolder());
    fileSystem().startNewRun();
}

} // namespace tabrescue::fuzz
