#pragma once

#include <cstdint>
#include <string>

#include "base/recover_result.h"
#include "table/table_files.h"

namespace tabrescue {

class RunLog;

// Which of the two counts caught an error: such a count says nothing about its file.
struct CountFailures {
    bool rows = false;
    bool objects = false;
};

// Counts deleted rows and geometries of `table` (0 where a component is missing).
void getDeletedCount(const mapinfoTableFilesPull& table, std::int32_t& deletedRows, std::int32_t& deletedObjects,
                     RunLog* log, CountFailures* failures = nullptr);
// The single entry point of a recovery: counts, makes the working copy, runs the recoveries.
RecoverRunResult mapinfoTabRecover(const std::string& tabPath, RunLog* log, bool restoreAll);

} // namespace tabrescue
