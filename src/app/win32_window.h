#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "form/main_form.h"

namespace tabrescue {

// Control identifiers, named as the controls are.
enum ControlId : int {
    txtInFilePath = 101,
    cmdSelectInTab,
    txtOutFolder,
    Command1,
    chkRestoreAll,
    cmdRecover,
    txtLog,
    Label1,
    Label2,
    cmdUndelete,
};

// The program's one window on Windows: the same nine controls as on Linux, as native controls.
// A thin view: what the controls do is in MainForm.
class Win32Window : public FormView
{
  public:
    using MessageSink = std::function<void(const std::string& text)>;

    // Creates the window and its controls, not yet shown.
    explicit Win32Window(HINSTANCE instance);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    HWND handle() const { return m_window; }
    HWND control(ControlId id) const { return GetDlgItem(m_window, id); }
    MainForm& form() { return m_form; }
    // Where message boxes go; the default shows a modal box with one OK button.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // Runs the message loop until the window is closed; returns the program's exit code.
    int run();
    // Takes F1 and the dialog keys (Tab, Enter) out of the message stream; true when handled.
    bool preTranslate(MSG& msg);

    std::string inFilePath() override;
    void setInFilePath(const std::string& path) override;
    std::string outFolder() override;
    void setOutFolder(const std::string& path) override;
    CheckState restoreAll() override;
    void showLog(std::string_view text, bool replaced) override;
    void moveLogCaretToEnd() override;
    void setLogColour(std::uint32_t colour) override;
    void processEvents() override;
    void showMessage(const std::string& text) override;
    void beep() override;
    std::string now() override;
    std::uintptr_t ownerHandle() override;
    bool openDocument(const std::string& path) override;

  private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void makeFonts();
    void placeControls();
    void onCommand(int id);

    HWND m_window = nullptr;
    HWND m_tooltip = nullptr;
    unsigned m_dpi = 96;
    HFONT m_tahoma = nullptr;  // labels, path boxes, option
    HFONT m_message = nullptr; // Recover and the log pane
    HBRUSH m_logBrush = nullptr;
    HICON m_folderIcon = nullptr;
    std::uint32_t m_logColour = kLogBackground;
    bool m_closeAfterRun = false;
    bool m_inLoop = false;
    MessageSink m_messageSink;
    std::unique_ptr<FileOpenBackend> m_files;
    std::unique_ptr<FolderBrowserBackend> m_folders;
    MainForm m_form;
};

} // namespace tabrescue
