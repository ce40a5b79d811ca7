#pragma once

#include <cstdint>
#include <exception>

#include <QStringList>

#include "choosers/dialog_backend.h"

class QFileDialog;
class QWidget;

namespace tabrescue {

// Qt's own file dialog behind CommonDlg. Qt's dialog rather than the desktop's: its name filters
// match without regard to letter case everywhere, so "*.TAB" finds roads.tab as well.
class QtFileOpenBackend : public FileOpenBackend
{
  public:
    bool getOpenFileName(OpenFileName& ofn) override;
    std::uint32_t extendedError() override { return m_error; }

  private:
    std::uint32_t m_error = kDlgCancelled;
};

// Qt's folder dialog behind ShellBrowse. The drives folder is the file-system root; the desktop is
// the user's desktop folder.
class QtFolderBrowserBackend : public FolderBrowserBackend
{
  public:
    std::optional<ShellItem> specialFolder(std::uintptr_t owner, std::int32_t folder) override;
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override;
    std::optional<std::string> pathFromItem(const ShellItem& item) override;
    void sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                     const BrowserParam& lParam) override;

  private:
    QFileDialog* m_open = nullptr; // the browser being shown
    std::uintptr_t m_openHandle = 0;
};

// The window behind a handle handed to a dialog as its owner; null when none.
QWidget* ownerWidget(std::uintptr_t handle);

// The Qt name filters of a NUL-separated filter list ("desc NUL *.a;*.b NUL ..."), one per pair.
QStringList nameFiltersOf(const std::string& filter);

} // namespace tabrescue
