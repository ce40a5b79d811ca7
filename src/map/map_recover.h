#pragma once

#include "base/recover_result.h"
#include "table/table_files.h"

namespace tabrescue {

class RunLog;

// Writes the "#R_MAP" table beside the working copy `table`.
RecoverResult doDelMAP_ID_recover(const mapinfoTableFilesPull& table, RunLog* log);

} // namespace tabrescue
