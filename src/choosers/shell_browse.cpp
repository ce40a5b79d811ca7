#include "choosers/shell_browse.h"

#include <new>

#include "choosers/chooser_error.h"

namespace tabrescue {

namespace {

constexpr std::size_t kNameBufferSize = 2050;

// The browser whose callback the platform reaches. Set by every new object and by every browse,
// cleared when that object goes, so the callback never reaches a released object.
ShellBrowse* currentBrowser = nullptr;

// Runs fn; any error leaves with the same number and description and the given source.
template <typename Fn> auto raisedFrom(const char* source, Fn&& fn)
{
    try {
        return fn();
    } catch (const RecoverError& e) {
        throw ChooserError(e.number(), e.description(), source);
    } catch (const std::bad_alloc&) {
        throw ChooserError(kErrOutOfMemory, "Out of memory", source);
    } catch (const std::exception& e) {
        throw ChooserError(kErrInvalidCall, e.what(), source);
    }
}

} // namespace

ShellBrowse::ShellBrowse(FolderBrowserBackend& backend) : m_backend(backend)
{
    currentBrowser = this;
}

ShellBrowse::~ShellBrowse()
{
    if (currentBrowser == this)
        currentBrowser = nullptr;
}

std::uint32_t ShellBrowse::optionBits() const
{
    std::uint32_t bits = 0;
    if (ShowStatusText)
        bits |= kBifStatusText;
    if (ComputersOnly)
        bits |= kBifBrowseForComputer;
    if (FileSystemDirsOnly)
        bits |= kBifReturnOnlyFsDirs;
    if (DontGoBelowDomain)
        bits |= kBifDontGoBelowDomain;
    if (IncludeFiles)
        bits |= kBifBrowseIncludeFiles;
    if (FileSystemAncestorsOnly)
        bits |= kBifReturnFsAncestors;
    if (PrintersOnly)
        bits |= kBifBrowseForPrinter;
    return bits | kBifEditBox | kBifNewDialogStyle;
}

std::int32_t ShellBrowse::BrowseForFolder()
{
    return raisedFrom("ShellBrowse.BrowseForFolder", [&]() -> std::int32_t {
        const std::optional<ShellItem> root = m_backend.specialFolder(hWndOwner, RootFolder);
        if (!root)
            return kBrowseNoChoice;
        BrowseInfo info;
        info.owner = hWndOwner;
        info.root = *root;
        info.displayName.assign(kNameBufferSize, '\0');
        info.title = Caption;
        info.flags = optionBits();
        info.callback = browseCallbackProc;
        info.data = 0;

        currentBrowser = this;
        const std::optional<ShellItem> chosen = m_backend.browseForFolder(info);
        if (!chosen)
            return kBrowseNoChoice;
        if (const auto path = m_backend.pathFromItem(*chosen))
            m_result = upToNul(*path);
        else
            m_result = "<" + upToNul(info.displayName) + ">";
        return 0;
    });
}

std::int32_t ShellBrowse::Callback(std::uintptr_t browser, std::uint32_t message, std::intptr_t,
                                   const BrowserParam& lParam)
{
    return raisedFrom("ShellBrowse.Callback", [&]() -> std::int32_t {
        if (message == kBffmInitialized) {
            // A path made of digits alone is still a path: the kind of selection follows the
            // property it came from, never the text.
            if (!InitialPath.empty())
                m_backend.sendMessage(browser, kBffmSetSelection, 1, InitialPath);
            else if (const auto item = m_backend.specialFolder(hWndOwner, InitialFolder))
                m_backend.sendMessage(browser, kBffmSetSelection, 0, *item);
        } else if (message == kBffmSelChanged) {
            std::string status;
            if (const auto* item = std::get_if<ShellItem>(&lParam))
                status = upToNul(m_backend.pathFromItem(*item).value_or(std::string()));
            m_backend.sendMessage(browser, kBffmSetStatusText, 0, status);
        }
        return 0;
    });
}

std::int32_t browseCallbackProc(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                                const BrowserParam& lParam)
{
    return currentBrowser ? currentBrowser->Callback(browser, message, wParam, lParam) : 0;
}

} // namespace tabrescue
