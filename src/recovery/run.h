#pragma once

#include <string>
#include <string_view>

#include "base/recover_result.h"
#include "base/run_log.h"
#include "recovery/recover_driver.h"

namespace tabrescue {

// What a run needs of its front end (the window or the command line).
class RunFrontend {
public:
    virtual ~RunFrontend() = default;
    // The log pane; every line of the run goes through ExportLog on it.
    virtual RunLog& log() = 0;
    // A modal message box with the exclamation icon and one OK button.
    virtual void showMessage(const std::string& text) = 0;
    // Inverts the red component of the log pane's background (XOR 255).
    virtual void flipLogColour() = 0;
    virtual void beep() = 0;
    // Current local date and time: short date, a blank, long time.
    virtual std::string now() = 0;
};

// The values a run takes at its start and uses throughout.
struct RunInput {
    std::string inputPath;
    std::string outputFolder;
    bool restoreAll = false;
};

// How a run ended, as its verdict line says.
enum class RunVerdict {
    DriverError,         // "*** ends by ERROR at "
    OutputFolderMissing, // message box, no verdict line
    NothingToRestore,    // "*** Nothing to restore. ..."
    EndsByOk,            // "*** Ends by OK at "
    EndsByError,         // "*** Ends by ERROR at "
};

struct RunOutcome {
    RecoverRunResult result; // counts as the run left them (a failed move turns a count to -1)
    RunVerdict verdict = RunVerdict::DriverError;
};

inline constexpr std::string_view kWrongOutputFolderMessage =
    "Wrong Output Folder for result TAB files was selected.\r\n"
    "Recoverd files were in %TMP% folder, but can't copy result to defined output Folder.";

// One press of Recover: the driver, the moves to the output folder, the verdict, the warning block.
RunOutcome runRecovery(RunFrontend& frontend, const RunInput& input);

// One undelete: the undeleted table moved to the output folder as <base>_undeleted.tab, with a
// start line, a line of what came back or the error lines, and an end line. Status 0 when the
// table arrived; tabPath is then its path there. `input.restoreAll` is not used.
UndeleteResult runUndelete(RunFrontend& frontend, const RunInput& input);

} // namespace tabrescue
