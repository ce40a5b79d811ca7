#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/run_log.h"
#include "choosers/dialog_backend.h"
#include "recovery/run.h"

namespace tabrescue {

class ChooserError;
class CommonDlg;

// Background of txtLog, RGB(255, 255, 240) as 0x00BBGGRR.
inline constexpr std::uint32_t kLogBackground = 0xF0FFFF;

// The option's states as the check box reports them.
enum class CheckState { Unticked = 0, Ticked = 1, Greyed = 2 };

// What the form needs of a window: one thin implementation per toolkit. Texts and paths are UTF-8
// as the core spells them; the view converts at its own edge.
class FormView
{
  public:
    virtual ~FormView() = default;
    virtual std::string inFilePath() = 0;
    virtual void setInFilePath(const std::string& path) = 0;
    virtual std::string outFolder() = 0;
    virtual void setOutFolder(const std::string& path) = 0;
    virtual CheckState restoreAll() = 0;
    // Mirrors the run log into txtLog: `text` appended, or the whole text when replaced.
    virtual void showLog(std::string_view text, bool replaced) = 0;
    virtual void moveLogCaretToEnd() = 0;
    virtual void setLogColour(std::uint32_t colour) = 0;
    // Handles the window's pending events once, so that it repaints during a run.
    virtual void processEvents() = 0;
    // A modal box with the exclamation icon, one OK button and the program's short title.
    virtual void showMessage(const std::string& text) = 0;
    virtual void beep() = 0;
    // Local date and time: the locale's short date, a blank, its long time.
    virtual std::string now() = 0;
    // The window handed to the dialogs as their owner.
    virtual std::uintptr_t ownerHandle() = 0;
    // Opens a file in its associated program without waiting; false when that failed.
    virtual bool openDocument(const std::string& path) = 0;
};

// What the window does when a control is used, written once for every toolkit. The view calls one
// handler per control; the form reads and writes the controls through the view.
class MainForm : public RunFrontend
{
  public:
    // A run started by a button: it takes the front end and the values of the controls.
    using RunProc = std::function<void(RunFrontend&, const RunInput&)>;

    MainForm(FormView& view, FileOpenBackend& files, FolderBrowserBackend& folders,
             std::string programFolder);
    ~MainForm() override;

    void setDialogBackends(FileOpenBackend& files, FolderBrowserBackend& folders);
    void setProgramFolder(std::string folder) { m_programFolder = std::move(folder); }

    // cmdSelectInTab: the input-file chooser fills txtInFilePath.
    void chooseInputTable();
    // Command1: the output-folder chooser fills txtOutFolder.
    void chooseOutputFolder();
    // cmdRecover.
    void recover();
    // cmdUndelete: the input table with its deleted rows live again, in the output folder.
    void undelete();
    // A button's run on the controls' values. A press while a run yields to the window is ignored.
    void runFromControls(const RunProc& run);
    // F1: README.TXT from the program's folder in its associated program.
    void showHelp();

    // Appends txtS as one line of txtLog and lets the window repaint (saveLog 0); any other saveLog
    // appends nothing. The caret moves to the end in every case.
    void ExportLog(std::string_view txtS, std::int16_t saveLog);
    bool isRunning() const { return m_running; }
    std::uint32_t logColour() const { return m_logColour; }

    RunLog& log() override { return m_log; }
    void showMessage(const std::string& text) override { m_view.showMessage(text); }
    void flipLogColour() override;
    void beep() override { m_view.beep(); }
    std::string now() override { return m_view.now(); }

  private:
    void reportChooserError(const ChooserError& error);

    FormView& m_view;
    FileOpenBackend* m_files;
    FolderBrowserBackend* m_folders;
    std::string m_programFolder;
    RunLog m_log;
    std::uint32_t m_logColour = kLogBackground;
    bool m_running = false;
    std::unique_ptr<CommonDlg> m_commonDlg; // made when first needed, released after each use
};

} // namespace tabrescue
