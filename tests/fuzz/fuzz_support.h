#pragma once
// What the fuzz targets share: files in memory and the checks that hold for any input.
#include <cstdio>
#include <cstdlib>

#include "base/run_log.h"
#include "io/file_system.h"
#include "io/memory_store.h"
#include "support/files.h"
#include "table/table_files.h"

namespace tabrescue::fuzz {

inline constexpr std::string_view kPartSeparator = "\n#~~#\n";

[[noreturn]] inline void fail(const std::string& what) // aborts, so that the fuzzer keeps the input
{
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::abort();
}

// The memory store the core's service uses in every target: an execution never touches the disk,
// and a file cannot grow past what the targets' memory limit allows.
inline MemoryStore& store()
{
    static MemoryStore memory(std::uint64_t{16} << 20);
    [[maybe_unused]] static const bool installed = (fileSystem().useStore(&memory), true);
    return memory;
}

// Empties the store when an execution ends, so that one leaves behind as many allocations as it
// found: otherwise libFuzzer suspects a leak after each input and checks for one, at a cost.
struct Execution {
    Execution() = default;
    Execution(const Execution&) = delete;
    Execution& operator=(const Execution&) = delete;
    ~Execution()
    {
        store().clear();
        fileSystem().startNewRun();
    }
};

// A fresh empty folder in the store.
inline std::string freshFolder(const std::string& name)
{
    MemoryStore& s = store();
    s.removeTree(name);
    s.makeFolder(name);
    return s.absolutePath(name);
}

// Every file below a folder of the store with its bytes, keyed by its path relative to it.
using Snapshot = std::map<std::string, std::string>;
inline Snapshot snapshot(const std::string& folder)
{
    return store().filesBelow(folder);
}

// The files of `before` keep their bytes, under their own name or, moved aside, as name.bak.
inline void expectKept(const std::string& folder, const Snapshot& before, bool backupsAllowed = false)
{
    const Snapshot after = snapshot(folder);
    for (const auto& [name, bytes] : before)
        if (!(after.contains(name) && after.at(name) == bytes) &&
            !(backupsAllowed && after.contains(name + ".bak") && after.at(name + ".bak") == bytes))
            fail("lost its bytes: " + folder + "/" + name);
}

// Counts the deleted records of `file` and recovers the table t.TAB beside it: the folder keeps its
// bytes, and the count and the recovery agree unless the count gave up. False if the recovery failed.
template <class Count, class Recover>
bool countAndRecover(const std::string& file, RunLog& log, Count count, Recover recover)
{
    const std::string folder = std::filesystem::path(file).parent_path().string();
    const Snapshot before = snapshot(folder);
    bool countFailed = false;
    const std::int32_t counted = count(file, &log, &countFailed);
    mapinfoTableFilesPull table;
    table.initByTABpath(folder + "/t.TAB");
    const std::int32_t restored = recover(table, &log).count;
    expectKept(folder, before);
    if (counted < 0 || (restored >= 0 && !countFailed && restored != counted))
        fail("count " + std::to_string(counted) + ", recovery restored " + std::to_string(restored));
    return restored >= 0;
}

} // namespace tabrescue::fuzz
