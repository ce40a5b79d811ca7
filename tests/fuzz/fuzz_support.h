#pragma once
// What the fuzz targets share: a private scratch folder and the checks that hold for any input.
#include <cstdio>
#include <cstdlib>

#include "base/run_log.h"
#include "io/file_system.h"
#include "support/files.h"
#include "table/table_files.h"

namespace tabrescue::fuzz {

inline constexpr std::string_view kPartSeparator = "\n#~~#\n";

[[noreturn]] inline void fail(const std::string& what) // aborts, so that the fuzzer keeps the input
{
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::abort();
}

// A fresh empty folder in this process's scratch folder, which goes when the process ends.
inline std::string freshFolder(const std::string& name)
{
    static const std::filesystem::path scratch = test::makeTempDir();
    [[maybe_unused]] static const int removed = std::atexit([] { test::removeTree(scratch); });
    test::removeTree(scratch / name);
    std::filesystem::create_directories(scratch / name);
    return (scratch / name).string();
}

// The files of `before` keep their bytes, under their own name or, moved aside, as name.bak.
inline void expectKept(const std::string& folder, const test::Snapshot& before, bool backupsAllowed = false)
{
    const test::Snapshot after = test::snapshot(folder);
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
    const test::Snapshot before = test::snapshot(folder);
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
