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

// What the undelete leaves in the temporary folder.
struct UndeleteResult {
    std::int32_t status = 1; // 0: the table was written
    std::string tabPath;     // its .TAB
    std::uint64_t rows = 0;  // deleted rows made live
    std::uint64_t geometries = 0;
    std::uint64_t rowsWithoutGeometry = 0; // of those rows
};

// Writes, beside a fresh working copy, the table as it was before its rows were deleted: every
// deleted row live again with its last geometry. Errors are logged by the operation that met them.
UndeleteResult mapinfoTabUndelete(const std::string& tabPath, RunLog* log);

} // namespace tabrescue
