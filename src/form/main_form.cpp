#include "form/main_form.h"

#include <exception>

#include "choosers/chooser_error.h"
#include "choosers/common_dlg.h"
#include "choosers/shell_browse.h"
#include "io/file_system.h"
#include "io/paths.h"

namespace tabrescue {

namespace {

const char* const kInputFilter = "MapInfo TAB-file|*.TAB|All files|*.*";
constexpr std::uint32_t kInputOpenFlags = 528388; // explorer style, file must exist, no read-only box

bool folderExists(const std::string& path)
{
    try {
        return fileSystem().folderExists(path);
    } catch (const RecoverError&) {
        return false; // a path the system cannot even look at is no folder either
    }
}

} // namespace

MainForm::MainForm(FormView& view, FileOpenBackend& files, FolderBrowserBackend& folders,
                   std::string programFolder)
    : m_view(view), m_files(&files), m_folders(&folders), m_programFolder(std::move(programFolder))
{
    m_log.setChangeHook([this](std::string_view text, bool replaced) { m_view.showLog(text, replaced); });
    m_log.setEventPump([this] { m_view.processEvents(); });
    m_log.setCaretHook([this] { m_view.moveLogCaretToEnd(); });
}

MainForm::~MainForm() = default;

void MainForm::setDialogBackends(FileOpenBackend& files, FolderBrowserBackend& folders)
{
    m_files = &files;
    m_folders = &folders;
}

void MainForm::reportChooserError(const ChooserError& error)
{
    showMessage(error.description() + "\r\n(error " + std::to_string(error.number()) + " in " +
                error.source() + ")");
}

void MainForm::chooseInputTable()
{
    if (!m_commonDlg)
        m_commonDlg = std::make_unique<CommonDlg>(*m_files);
    CommonDlg& dlg = *m_commonDlg;
    dlg.CancelError = false;
    dlg.DefaultExt = "TAB";
    dlg.DialogTitle = "Select input TAB file";
    if (const std::string shown = m_view.inFilePath(); !shown.empty())
        dlg.FileName = shown;
    dlg.FileTitle.clear();
    dlg.FileNameBufferSize = 4096;
    dlg.Filter = kInputFilter;
    dlg.hWndOwner = m_view.ownerHandle();
    dlg.OpenFlags = kInputOpenFlags;
    try {
        dlg.ShowOpen();
        if (dlg.FileTitle.empty())
            showMessage("Input TAB file was not selected.");
        else
            m_view.setInFilePath(dlg.FileName);
    } catch (const ChooserError& e) {
        reportChooserError(e);
    }
    m_commonDlg.reset();
}

void MainForm::chooseOutputFolder()
{
    std::string chosen;
    try {
        ShellBrowse browser(*m_folders);
        browser.hWndOwner = m_view.ownerHandle();
        browser.Caption = "Select Folder where result of recover will be saved...";
        browser.FileSystemDirsOnly = true;
        if (const std::string shown = m_view.outFolder(); !shown.empty())
            browser.InitialPath = shown;
        else
            browser.InitialFolder = kCsidlDrives;
        browser.BrowseForFolder();
        chosen = browser.Result();
    } catch (const ChooserError& e) {
        reportChooserError(e);
        return;
    }
    if (chosen.empty()) {
        showMessage("Output Folder for result TAB files was not selected.");
        return;
    }
    m_view.setOutFolder(chosen);
    if (!folderExists(chosen))
        showMessage("Wrong Output Folder for result TAB files was selected.");
}

void MainForm::recover()
{
    runFromControls([](RunFrontend& frontend, const RunInput& input) { runRecovery(frontend, input); });
}

void MainForm::undelete()
{
    runFromControls([](RunFrontend& frontend, const RunInput& input) { runUndelete(frontend, input); });
}

void MainForm::runFromControls(const RunProc& run)
{
    // The run lets the window handle events while it writes; a second press then is ignored.
    if (m_running)
        return;
    m_running = true;
    const std::uint32_t colour = m_logColour;
    const RunInput input{m_view.inFilePath(), m_view.outFolder(), m_view.restoreAll() == CheckState::Ticked};
    try {
        run(*this, input);
    } catch (const std::exception& e) {
        // Nothing may leave through the window's event loop; say what happened, give the pane its colour
        // back.
        m_logColour = colour;
        m_view.setLogColour(colour);
        showMessage(std::string("The recovery stopped on an unexpected error: ") + e.what());
    }
    m_running = false;
}

void MainForm::showHelp()
{
    const std::string help = joinPath(m_programFolder, "README.TXT");
    bool found = false;
    try {
        found = fileSystem().fileExists(help);
    } catch (const RecoverError&) {
    }
    if (!found)
        showMessage("The help file '" + help + "' was not found.");
    else if (!m_view.openDocument(help))
        showMessage("The help file '" + help + "' could not be opened.");
}

void MainForm::ExportLog(std::string_view txtS, std::int16_t saveLog)
{
    tabrescue::ExportLog(&m_log, txtS, saveLog);
}

void MainForm::flipLogColour()
{
    m_logColour ^= 0xFF; // red is the lowest byte of 0x00BBGGRR
    m_view.setLogColour(m_logColour);
}

} // namespace tabrescue
