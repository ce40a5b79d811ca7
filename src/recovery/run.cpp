#include "recovery/run.h"

#include "base/recover_error.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "recovery/recover_driver.h"
#include "table/table_files.h"
#include "table/working_copy.h"

namespace tabrescue {

namespace {

// Three CR LF at its end; ExportLog adds a fourth, so two empty lines follow it in the pane.
constexpr std::string_view kWarningBlock =
    "!!! Важная информация:\r\n"
    "  При восстановление часто теряется оформление объектов. Из-за этого объекты будут не видны на карте.\r\n"
    "  Единый стиль оформления или выделение НЕ помогут увидеть эти объекты.\r\n"
    "  Они станут видны только после принудительной замены стиля оформления.\r\n"
    "\r\n\r\n";

bool folderExists(const std::string& folder)
{
    try {
        return fileSystem().folderExists(folder);
    } catch (const RecoverError&) {
        return false;
    }
}

// Moves one result table when it is to be moved; a failed move turns its count to -1.
void moveResult(RunFrontend& frontend, RecoverResult& r, bool restoreAll, const std::string& destination,
                std::string_view what)
{
    if (!(r.count > 0 || restoreAll) || r.tabPath.empty())
        return;
    RunLog& log = frontend.log();
    const std::string moved = mapinfoTabMove(r.tabPath, destination, &log);
    if (moved.empty()) {
        r.count = -1;
        return;
    }
    ExportLog(&log, " +!+ " + std::to_string(r.count) + std::string(what) + moved + "' +!+", 0);
}

// The head of every run: an overlong pane emptied, the pane's colour turned, the start line.
void startRun(RunFrontend& frontend, const RunInput& input)
{
    RunLog& log = frontend.log();
    if (log.length() > kRunClearLimit)
        log.setText({});
    frontend.flipLogColour();
    ExportLog(&log, "<<< " + frontend.now() + input.inputPath + "*** ", 0);
}

// The tail of every run: the colour back, the end line, `closing` (may be empty), the caret, two beeps.
void endRun(RunFrontend& frontend, const RunInput& input, std::string_view closing)
{
    RunLog& log = frontend.log();
    frontend.flipLogColour();
    ExportLog(&log, ">>> " + frontend.now() + input.inputPath + "*** ", 0);
    if (!closing.empty())
        ExportLog(&log, closing, 0);
    log.moveCaretToEnd();
    frontend.beep();
    frontend.beep();
}

} // namespace

RunOutcome runRecovery(RunFrontend& frontend, const RunInput& input)
{
    RunLog& log = frontend.log();
    RunOutcome outcome;
    startRun(frontend, input);

    outcome.result = mapinfoTabRecover(input.inputPath, &log, input.restoreAll);
    auto& attributes = outcome.result.results[kAttributeResult];
    auto& geometry = outcome.result.results[kGeometryResult];

    if (outcome.result.status > 0) {
        ExportLog(&log, "*** ends by ERROR at " + frontend.now(), 0);
        outcome.verdict = RunVerdict::DriverError;
    } else {
        mapinfoTableFilesPull table;
        table.initByTABpath(input.inputPath);
        if (!folderExists(input.outputFolder)) {
            // The results stay in the temporary folder; the message says so.
            frontend.showMessage(std::string(kWrongOutputFolderMessage));
            outcome.verdict = RunVerdict::OutputFolderMissing;
        } else {
            const std::string out = withTrailingSeparator(input.outputFolder);
            const std::string base = table.TabBaseName();
            moveResult(frontend, geometry, input.restoreAll, out + base + "_MAP.tab",
                       " deleteted Geometries were restored to file '");
            moveResult(frontend, attributes, input.restoreAll, out + base + "_DAT.tab",
                       " deleteted Attributes were restored to file '");

            if (attributes.count == 0 && geometry.count == 0 && !input.restoreAll) {
                ExportLog(&log, "*** Nothing to restore. Check you TAB was not packed. ", 0);
                outcome.verdict = RunVerdict::NothingToRestore;
            } else if (attributes.count < 0 || geometry.count < 0) {
                ExportLog(&log, "*** Ends by ERROR at " + frontend.now(), 0);
                outcome.verdict = RunVerdict::EndsByError;
            } else {
                ExportLog(&log, "*** Ends by OK at " + frontend.now(), 0);
                outcome.verdict = RunVerdict::EndsByOk;
            }
        }
    }

    endRun(frontend, input, kWarningBlock);
    return outcome;
}

UndeleteResult runUndelete(RunFrontend& frontend, const RunInput& input)
{
    RunLog& log = frontend.log();
    startRun(frontend, input);

    UndeleteResult r = mapinfoTabUndelete(input.inputPath, &log);
    if (r.status > 0) {
        ExportLog(&log, "*** ends by ERROR at " + frontend.now(), 0);
    } else if (!folderExists(input.outputFolder)) {
        frontend.showMessage(std::string(kWrongOutputFolderMessage));
        r.status = 1;
    } else {
        mapinfoTableFilesPull table;
        table.initByTABpath(input.inputPath);
        const std::string destination =
            withTrailingSeparator(input.outputFolder) + table.TabBaseName() + "_undeleted.tab";
        const std::string moved = mapinfoTabMove(r.tabPath, destination, &log);
        if (moved.empty()) {
            ExportLog(&log, "*** Ends by ERROR at " + frontend.now(), 0);
            r.status = 1;
        } else {
            r.tabPath = moved;
            ExportLog(&log,
                      " +!+ " + std::to_string(r.rows) + " deleted rows and " + std::to_string(r.geometries) +
                          " deleted geometries came back, " + std::to_string(r.rowsWithoutGeometry) +
                          " of these rows without a geometry, in file '" + moved + "' +!+",
                      0);
        }
    }

    endRun(frontend, input, {});
    return r;
}

} // namespace tabrescue
