#include "recovery/recover_driver.h"

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "io/file_system.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "table/working_copy.h"

namespace tabrescue {

void getDeletedCount(const mapinfoTableFilesPull& table, std::int32_t& deletedRows, std::int32_t& deletedObjects,
                     RunLog* log, CountFailures* failures)
{
    deletedRows = 0;
    deletedObjects = 0;
    CountFailures failed;
    guarded(log, "getDeletedCount", [&] {
        const std::string dat = table.DATfullpath();
        const std::string map = table.MAPfullpath();
        if (!dat.empty())
            deletedRows = getDelDATcount(dat, log, &failed.rows);
        if (!map.empty())
            deletedObjects = getDelMAPcount(map, log, &failed.objects);
    });
    if (failures != nullptr)
        *failures = failed;
}

RecoverRunResult mapinfoTabRecover(const std::string& tabPath, RunLog* log, bool restoreAll)
{
    RecoverRunResult result;
    guarded(log, "mapinfoTabRecover", [&] {
        const auto table = openMiTable(tabPath, log);
        if (!table)
            return;
        std::int32_t deletedRows = 0, deletedObjects = 0;
        CountFailures failed;
        getDeletedCount(*table, deletedRows, deletedObjects, log, &failed);
        // A count that failed is something to do: its recovery shows what is wrong with the file.
        const bool geometryToDo = deletedObjects > 0 || failed.objects;
        const bool attributesToDo = deletedRows > 0 || failed.rows;
        if (!restoreAll && !geometryToDo && !attributesToDo)
            return;

        fileSystem().startNewRun();
        const auto work = createTempMiTabCopy(*table, true, log);
        if (!work)
            return;

        bool produced = false;
        RecoverResult r;
        if (!work->MAPfullpath().empty() && (restoreAll || geometryToDo)) {
            r = doDelMAP_ID_recover(*work, log);
            result.results[kGeometryResult] = r;
            produced = produced || r.count >= 0;
        }
        if (!work->DATfullpath().empty() && (restoreAll || attributesToDo || r.count > 0)) {
            r = doDelDAT_recover(*work, log);
            result.results[kAttributeResult] = r;
            produced = produced || r.count >= 0;
        }
        // One failed recovery does not withhold the other's table.
        result.status = produced ? 0 : 1;
    });
    return result;
}

} // namespace tabrescue
