#pragma once

// Dialog backends that answer as a user would, for the form and window tests.

#include <cstdint>
#include <optional>
#include <string>

#include "choosers/dialog_backend.h"

namespace tabrescue::test {

// Confirms `chosen` (a full path), or fails with `error` (cancelled) when it is empty.
class FileOpenScript : public FileOpenBackend {
public:
    bool getOpenFileName(OpenFileName& ofn) override
    {
        offered = upToNul(ofn.file);
        if (chosen.empty())
            return false;
        const std::size_t name = chosen.find_last_of("/\\") + 1;
        const std::size_t size = ofn.file.size(), titleSize = ofn.fileTitle.size();
        ofn.file = chosen;
        ofn.file.resize(size, '\0');
        ofn.fileTitle = chosen.substr(name);
        ofn.fileTitle.resize(titleSize, '\0');
        ofn.fileOffset = static_cast<std::uint16_t>(name);
        ofn.fileExtension = static_cast<std::uint16_t>(chosen.rfind('.') + 1);
        return true;
    }
    std::uint32_t extendedError() override { return error; }

    std::string chosen;
    std::uint32_t error = kDlgCancelled;
    std::string offered; // the first name the dialog showed
};

// Opens at the selection the chooser asks for and confirms `answer` (none: cancel). Its drives
// folder is a virtual item without a path.
class FolderBrowserScript : public FolderBrowserBackend {
public:
    std::optional<ShellItem> specialFolder(std::uintptr_t, std::int32_t folder) override
    {
        return ShellItem{folder == kCsidlDrives ? "" : "desktop", folder == kCsidlDrives ? "Computer" : "Desktop"};
    }
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override
    {
        if (info.callback)
            info.callback(kHandle, kBffmInitialized, 0, std::monostate{});
        if (answer) {
            const std::size_t size = info.displayName.size();
            info.displayName = answer->displayName;
            info.displayName.resize(size, '\0');
        }
        return answer;
    }
    std::optional<std::string> pathFromItem(const ShellItem& item) override
    {
        return item.path.empty() ? std::nullopt : std::optional(item.path);
    }
    void sendMessage(std::uintptr_t, std::uint32_t message, std::intptr_t, const BrowserParam& lParam) override
    {
        if (message != kBffmSetSelection)
            return;
        if (const auto* path = std::get_if<std::string>(&lParam))
            selected = *path;
        else if (const auto* item = std::get_if<ShellItem>(&lParam))
            selected = "<" + item->displayName + ">";
    }

    static constexpr std::uintptr_t kHandle = 0xB0;
    std::optional<ShellItem> answer;
    std::string selected; // the initial selection: a path, or "<display name>" of an item
};

} // namespace tabrescue::test
