#include "choosers/win32_dialogs.h"

#include <algorithm>
#include <exception>

#include "io/win32_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// These need windows.h first.
#include <commdlg.h>
#include <shlobj.h>

namespace tabrescue {

using platform::narrow;
using platform::widen;

namespace {

constexpr std::size_t kShellPathSize = 2050; // SHGetPathFromIDListW needs MAX_PATH at least

std::string pathOf(PCIDLIST_ABSOLUTE list)
{
    std::wstring buffer(kShellPathSize, L'\0');
    if (!list || !SHGetPathFromIDListW(list, buffer.data()))
        return {};
    return narrow(buffer.c_str());
}

std::string displayNameOf(PCIDLIST_ABSOLUTE list)
{
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(reinterpret_cast<LPCWSTR>(list), 0, &info, sizeof info,
                        SHGFI_PIDL | SHGFI_DISPLAYNAME))
        return {};
    return narrow(info.szDisplayName);
}

// What the native callback needs; an error of ours must not unwind through the shell's frames.
struct BrowseContext
{
    Win32FolderBrowserBackend* backend;
    BrowseCallbackProc callback;
    std::exception_ptr error;
};

int CALLBACK nativeBrowseCallback(HWND browser, UINT message, LPARAM param, LPARAM data)
{
    auto* context = reinterpret_cast<BrowseContext*>(data);
    if (context->error)
        return 0;
    try {
        return context->backend->onBrowserMessage(browser, message, param, context->callback);
    } catch (...) {
        context->error = std::current_exception();
        return 0;
    }
}

} // namespace

bool Win32FileOpenBackend::getOpenFileName(OpenFileName& ofn)
{
    const std::wstring filter = widen(ofn.filter);
    const std::wstring initialDir = widen(ofn.initialDir), title = widen(ofn.title),
                       defaultExt = widen(ofn.defaultExt);
    std::wstring custom(std::max<std::size_t>(ofn.customFilter.size(), 40), L'\0');
    std::wstring file = widen(upToNul(ofn.file));
    file.resize(std::max(ofn.file.size(), file.size() + 1), L'\0');
    std::wstring fileTitle(std::max<std::size_t>(ofn.fileTitle.size(), 1), L'\0');

    OPENFILENAMEW w{};
    w.lStructSize = sizeof w;
    w.hwndOwner = reinterpret_cast<HWND>(ofn.owner);
    w.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    w.lpstrCustomFilter = custom.data();
    w.nMaxCustFilter = static_cast<DWORD>(custom.size());
    w.nFilterIndex = static_cast<DWORD>(ofn.filterIndex);
    w.lpstrFile = file.data();
    w.nMaxFile = static_cast<DWORD>(file.size());
    w.lpstrFileTitle = fileTitle.data();
    w.nMaxFileTitle = static_cast<DWORD>(fileTitle.size());
    w.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    w.lpstrTitle = title.empty() ? nullptr : title.c_str();
    w.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    // A hook is an address in the caller's program; none travels through this record.
    w.Flags = ofn.flags & ~static_cast<DWORD>(OFN_ENABLEHOOK);
    if (!GetOpenFileNameW(&w)) {
        m_error = CommDlgExtendedError();
        return false;
    }
    m_error = kDlgCancelled;
    // The dialog counts UTF-16 units; the caller counts bytes of UTF-8.
    auto bytesBefore = [&file](WORD at) {
        return static_cast<std::uint16_t>(narrow(std::wstring_view(file).substr(0, at)).size());
    };
    ofn.fileOffset = bytesBefore(w.nFileOffset);
    ofn.fileExtension = w.nFileExtension ? bytesBefore(w.nFileExtension) : 0;
    ofn.file = narrow(file);
    ofn.fileTitle = narrow(fileTitle);
    ofn.filterIndex = static_cast<std::int32_t>(w.nFilterIndex);
    ofn.flags = w.Flags;
    return true;
}

Win32FolderBrowserBackend::~Win32FolderBrowserBackend()
{
    for (auto& [item, list] : m_items)
        CoTaskMemFree(list);
}

ShellItem Win32FolderBrowserBackend::remember(void* idList, std::string displayName)
{
    ShellItem item{pathOf(static_cast<PCIDLIST_ABSOLUTE>(idList)), std::move(displayName)};
    m_items.emplace_back(item, idList);
    return item;
}

void* Win32FolderBrowserBackend::idListOf(const ShellItem& item) const
{
    const auto found =
        std::find_if(m_items.rbegin(), m_items.rend(), [&](const auto& e) { return e.first == item; });
    return found == m_items.rend() ? nullptr : found->second;
}

std::optional<ShellItem> Win32FolderBrowserBackend::specialFolder(std::uintptr_t owner, std::int32_t folder)
{
    PIDLIST_ABSOLUTE list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(reinterpret_cast<HWND>(owner), folder, &list)) || !list)
        return std::nullopt;
    return remember(list, displayNameOf(list));
}

std::optional<ShellItem> Win32FolderBrowserBackend::browseForFolder(BrowseInfo& info)
{
    std::wstring displayName(std::max<std::size_t>(info.displayName.size(), MAX_PATH), L'\0');
    const std::wstring title = widen(info.title);
    BrowseContext context{this, info.callback, nullptr};

    BROWSEINFOW bi{};
    bi.hwndOwner = reinterpret_cast<HWND>(info.owner);
    bi.pidlRoot = static_cast<PCIDLIST_ABSOLUTE>(idListOf(info.root));
    bi.pszDisplayName = displayName.data();
    bi.lpszTitle = title.c_str();
    bi.ulFlags = info.flags;
    bi.lpfn = info.callback ? nativeBrowseCallback : nullptr;
    bi.lParam = reinterpret_cast<LPARAM>(&context);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
    if (context.error) {
        CoTaskMemFree(chosen);
        std::rethrow_exception(context.error);
    }
    if (!chosen)
        return std::nullopt;
    const std::string name = narrow(displayName.c_str());
    info.displayName = name;
    return remember(chosen, name); // released with CoTaskMemFree when the backend goes
}

std::optional<std::string> Win32FolderBrowserBackend::pathFromItem(const ShellItem& item)
{
    return item.path.empty() ? std::nullopt : std::optional(item.path);
}

void Win32FolderBrowserBackend::sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t,
                                            const BrowserParam& lParam)
{
    const HWND window = reinterpret_cast<HWND>(browser);
    const auto* text = std::get_if<std::string>(&lParam);
    if (message == kBffmSetSelection) {
        if (text)
            SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(widen(*text).c_str()));
        else if (const auto* item = std::get_if<ShellItem>(&lParam); item && idListOf(*item))
            SendMessageW(window, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(idListOf(*item)));
    } else if (message == kBffmSetStatusText) {
        const std::wstring status = text ? widen(*text) : std::wstring();
        SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(status.c_str()));
    }
}

int Win32FolderBrowserBackend::onBrowserMessage(void* browser, unsigned message, std::intptr_t param,
                                                BrowseCallbackProc callback)
{
    const auto handle = reinterpret_cast<std::uintptr_t>(browser);
    if (message == BFFM_INITIALIZED)
        return callback(handle, kBffmInitialized, 0, std::monostate{});
    if (message == BFFM_SELCHANGED) {
        // The browser owns its list; ours is a copy that the backend keeps.
        PIDLIST_ABSOLUTE copy = ILClone(reinterpret_cast<PCIDLIST_ABSOLUTE>(param));
        return callback(handle, kBffmSelChanged, 0, remember(copy, displayNameOf(copy)));
    }
    return 0;
}

} // namespace tabrescue
