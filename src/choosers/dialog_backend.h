#pragma once

// The platform dialogs behind the two choosers. The choosers fill and read these records exactly as
// they would the platform's ANSI records; the program's backend shows Qt's dialogs, tests script
// the answers. Texts are UTF-8; buffer sizes and offsets count bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tabrescue {

// The file-open dialog's record. Buffers are fixed-size texts padded with NUL characters.
struct OpenFileName
{
    std::uintptr_t owner = 0;
    std::string filter;       // description NUL patterns NUL ... NUL, one extra NUL at the end
    std::string customFilter; // 40 NULs
    std::int32_t filterIndex = 0;
    std::string file;      // in: the first name, NUL-padded to the buffer size; out: the choice
    std::string fileTitle; // out: the chosen file's name; 1024 NULs on the way in
    std::string initialDir;
    std::string title;
    std::string defaultExt;
    std::uint32_t flags = 0;
    std::uint32_t hook = 0; // only when flags hold kOfnEnableHook
    std::uint16_t fileOffset = 0;
    std::uint16_t fileExtension = 0;
};

inline constexpr std::uint32_t kOfnHideReadOnly = 0x4;
inline constexpr std::uint32_t kOfnEnableHook = 0x20;
inline constexpr std::uint32_t kOfnAllowMultiSelect = 0x200;
inline constexpr std::uint32_t kOfnFileMustExist = 0x1000;
inline constexpr std::uint32_t kOfnExplorer = 0x80000;

// Extended error codes of a dialog that returned without a file.
inline constexpr std::uint32_t kDlgCancelled = 0;
inline constexpr std::uint32_t kDlgBufferTooSmall = 0x3003;

class FileOpenBackend
{
  public:
    virtual ~FileOpenBackend() = default;
    // Shows the modal dialog. True when the user confirmed a file; then file, fileTitle,
    // filterIndex, flags and the two offsets hold the choice.
    virtual bool getOpenFileName(OpenFileName& ofn) = 0;
    // After a false return: kDlgCancelled, kDlgBufferTooSmall or another failure code.
    virtual std::uint32_t extendedError() = 0;
};

// One entry of the shell's namespace: a folder with a file-system path, or a virtual item
// (path empty) known only by its display name.
struct ShellItem
{
    std::string path;
    std::string displayName;
    bool operator==(const ShellItem&) const = default;
};

// The last argument of a browser message: nothing, a path text, or an item.
using BrowserParam = std::variant<std::monostate, std::string, ShellItem>;

using BrowseCallbackProc = std::int32_t (*)(std::uintptr_t browser, std::uint32_t message,
                                            std::intptr_t wParam, const BrowserParam& lParam);

// Messages between the folder browser and its callback.
inline constexpr std::uint32_t kBffmInitialized = 1;
inline constexpr std::uint32_t kBffmSelChanged = 2;
inline constexpr std::uint32_t kBffmSetStatusText = 1124;
inline constexpr std::uint32_t kBffmSetSelection = 1126;

// Option bits of the folder browser.
inline constexpr std::uint32_t kBifReturnOnlyFsDirs = 0x1;
inline constexpr std::uint32_t kBifDontGoBelowDomain = 0x2;
inline constexpr std::uint32_t kBifStatusText = 0x4;
inline constexpr std::uint32_t kBifReturnFsAncestors = 0x8;
inline constexpr std::uint32_t kBifEditBox = 0x10;
inline constexpr std::uint32_t kBifNewDialogStyle = 0x40;
inline constexpr std::uint32_t kBifBrowseForComputer = 0x1000;
inline constexpr std::uint32_t kBifBrowseForPrinter = 0x2000;
inline constexpr std::uint32_t kBifBrowseIncludeFiles = 0x4000;

// Special folders.
inline constexpr std::int32_t kCsidlDesktop = 0;
inline constexpr std::int32_t kCsidlDrives = 17;

// The folder browser's record.
struct BrowseInfo
{
    std::uintptr_t owner = 0;
    ShellItem root;
    std::string displayName; // out: the chosen item's display name; 2050 NULs on the way in
    std::string title;
    std::uint32_t flags = 0;
    BrowseCallbackProc callback = nullptr;
    std::intptr_t data = 0;
};

class FolderBrowserBackend
{
  public:
    virtual ~FolderBrowserBackend() = default;
    // The item of a special folder, or none when this system has no such folder.
    virtual std::optional<ShellItem> specialFolder(std::uintptr_t owner, std::int32_t folder) = 0;
    // Shows the modal browser, calling info.callback while it is open. Returns the chosen item, or
    // none when the user cancelled; writes the item's display name into info.displayName.
    virtual std::optional<ShellItem> browseForFolder(BrowseInfo& info) = 0;
    // The item's file-system path, or none for a virtual item.
    virtual std::optional<std::string> pathFromItem(const ShellItem& item) = 0;
    // A message from the callback to the open browser: set the selection (wParam 1 with a path
    // text, 0 with an item) or the status text.
    virtual void sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                             const BrowserParam& lParam) = 0;
};

// A text taken up to its first NUL: the whole text when it holds none.
inline std::string upToNul(const std::string& text)
{
    return text.substr(0, text.find('\0'));
}

} // namespace tabrescue
