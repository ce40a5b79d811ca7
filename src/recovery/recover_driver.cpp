#include "recovery/recover_driver.h"

#include <optional>
#include <span>

#include "base/op_boundary.h"
#include "base/run_log.h"
#include "dat/dat_count.h"
#include "dat/dat_recover.h"
#include "dat/dat_undelete.h"
#include "io/file_system.h"
#include "map/map_count.h"
#include "map/map_recover.h"
#include "map/map_undelete.h"
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

UndeleteResult mapinfoTabUndelete(const std::string& tabPath, RunLog* log)
{
    UndeleteResult result;
    guarded(log, "mapinfoTabUndelete", [&] {
        const auto table = openMiTable(tabPath, log);
        if (!table)
            return;
        FileSystem& fs = fileSystem();
        fs.startNewRun();
        const auto work = createTempMiTabCopy(*table, true, log);
        if (!work)
            return;

        const std::string prefix = work->ParentFolder() + work->TabBaseName() + "#R_UND";
        std::optional<DatUndelete> rows;
        if (!work->DATfullpath().empty()) {
            rows = undeleteDatRows(work->DATfullpath(), prefix + ".DAT", log);
            if (!rows)
                return;
            result.rows = rows->revivedRows.size();
            result.rowsWithoutGeometry = result.rows;
        }
        if (!work->MAPfullpath().empty()) {
            const MapUndeleteFiles files{work->MAPfullpath(), work->IDfullpath(), prefix + ".MAP",
                                         prefix + ".ID"};
            // Without a .DAT the .ID says how many rows there are.
            std::optional<std::uint64_t> rowCount;
            std::span<const std::uint32_t> revived;
            if (rows) {
                rowCount = rows->rows;
                revived = rows->revivedRows;
            }
            const auto objects = undeleteMapObjects(files, rowCount, revived, log);
            if (!objects)
                return;
            result.geometries = objects->geometries;
            result.rowsWithoutGeometry = objects->rowsWithoutGeometry;
        }
        // The .TAB last: a table that stops halfway has none and is never moved.
        const std::string tabOut = prefix + ".TAB";
        fs.copyFile(work->TABfullPath(), tabOut);
        result.tabPath = fs.resolve(tabOut);
        result.status = 0;
    });
    return result;
}

} // namespace tabrescue
