#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "choosers/dialog_backend.h"

namespace tabrescue {

// The common file-open dialog behind CommonDlg: GetOpenFileNameW, texts UTF-8 on our side.
// Offsets come back in bytes of the UTF-8 path.
class Win32FileOpenBackend : public FileOpenBackend
{
  public:
    bool getOpenFileName(OpenFileName& ofn) override;
    std::uint32_t extendedError() override { return m_error; }

  private:
    std::uint32_t m_error = kDlgCancelled;
};

// The shell's folder browser behind ShellBrowse: SHBrowseForFolderW. Items handed out as ShellItem
// keep their identifier lists here until the backend goes, so that they can be handed back (the
// root, a selection). Needs COM on the calling thread.
class Win32FolderBrowserBackend : public FolderBrowserBackend
{
  public:
    Win32FolderBrowserBackend() = default;
    ~Win32FolderBrowserBackend() override;
    Win32FolderBrowserBackend(const Win32FolderBrowserBackend&) = delete;
    Win32FolderBrowserBackend& operator=(const Win32FolderBrowserBackend&) = delete;

    std::optional<ShellItem> specialFolder(std::uintptr_t owner, std::int32_t folder) override;
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override;
    std::optional<std::string> pathFromItem(const ShellItem& item) override;
    void sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                     const BrowserParam& lParam) override;

    // Called by the browser for its messages; public for the native callback only.
    int onBrowserMessage(void* browser, unsigned message, std::intptr_t param, BrowseCallbackProc callback);

  private:
    ShellItem remember(void* idList, std::string displayName); // takes ownership of idList
    void* idListOf(const ShellItem& item) const;

    std::vector<std::pair<ShellItem, void*>> m_items;
};

} // namespace tabrescue
