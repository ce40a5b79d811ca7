#pragma once

#include "base/recover_result.h"
#include "table/table_files.h"

namespace tabrescue {

class RunLog;

// Writes the "#R_DAT" table beside `table`: every row live, with RowId_old and rec_status.
RecoverResult doDelDAT_recover(const mapinfoTableFilesPull& table, RunLog* log);

} // namespace tabrescue
