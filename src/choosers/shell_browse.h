#pragma once

#include <cstdint>
#include <string>

#include "choosers/dialog_backend.h"

namespace tabrescue {

// Result code of BrowseForFolder when the root cannot be resolved or the user cancelled.
inline constexpr std::int32_t kBrowseNoChoice = 1208;

// The output-folder chooser: set the properties, call BrowseForFolder, read Result.
class ShellBrowse
{
  public:
    explicit ShellBrowse(FolderBrowserBackend& backend);
    ~ShellBrowse();
    ShellBrowse(const ShellBrowse&) = delete;
    ShellBrowse& operator=(const ShellBrowse&) = delete;

    std::uintptr_t hWndOwner = 0;
    std::string Caption = "Select Folder";
    std::int32_t RootFolder = kCsidlDesktop;
    bool ShowStatusText = false;
    bool ComputersOnly = false;
    bool FileSystemDirsOnly = false;
    bool DontGoBelowDomain = false;
    bool FileSystemAncestorsOnly = false;
    bool PrintersOnly = false;
    bool IncludeFiles = false;
    std::string InitialPath;
    std::int32_t InitialFolder = kCsidlDesktop;

    // After a confirmed browse: the folder's path, or "<display name>" for an item without one.
    const std::string& Result() const { return m_result; }
    // The browser's option bits for the current properties.
    std::uint32_t optionBits() const;

    // Shows the modal browser. 0 when the user chose an item; kBrowseNoChoice when the root cannot
    // be resolved or the user cancelled (Result unchanged). Errors come back as ChooserError from
    // "ShellBrowse.BrowseForFolder".
    std::int32_t BrowseForFolder();
    // Answers the browser's messages: selects the initial folder on kBffmInitialized, shows the
    // selected path as status text on kBffmSelChanged. Always 0.
    std::int32_t Callback(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                          const BrowserParam& lParam);

  private:
    FolderBrowserBackend& m_backend;
    std::string m_result;
};

// The callback handed to the platform: forwards to the browser that is being shown, 0 when none is.
std::int32_t browseCallbackProc(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                                const BrowserParam& lParam);

} // namespace tabrescue
