#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tabrescue::fuzz {

using Input = std::span<const std::uint8_t>;

// This process's scratch folder, made on first use and removed when the process ends.
const std::string& scratchFolder();
// A fresh empty folder `name` inside the scratch folder.
std::string freshFolder(const std::string& name);

void writeFile(const std::string& path, std::string_view bytes);
std::string asText(Input data);

// Every regular file directly inside a folder, name -> bytes.
using Contents = std::map<std::string, std::string>;
Contents folderContents(const std::string& folder);

// Fails the fuzz run: prints the reason and aborts, so that the fuzzer keeps the input.
[[noreturn]] void fail(const std::string& what);
// Fails when the files named in `before` no longer hold their bytes.
void expectUnchanged(const std::string& folder, const Contents& before);

// Splits an input at kPartSeparator into exactly `parts` pieces (missing ones empty; the last
// takes the rest).
inline constexpr std::string_view kPartSeparator = "\n#~~#\n";
std::vector<std::string> splitParts(Input data, std::size_t parts);

// Removes what the core wrote into its private temporary folder and lets the next run make a new
// one, so that a long fuzzing session does not fill the disk.
void endRun();

} // namespace tabrescue::fuzz
