#pragma once

// Dialog backends that answer as a user would, for the window tests.

#include <cstdint>
#include <optional>
#include <string>

#include "choosers/dialog_backend.h"

namespace tabrescue::test {

// Confirms `chosen` (a full path), or cancels when it is empty.
class FileOpenScript : public FileOpenBackend
{
  public:
    bool getOpenFileName(OpenFileName& ofn) override
    {
        if (chosen.empty())
            return false;
        const std::size_t name = chosen.find_last_of("/\\") + 1;
        ofn.file.replace(0, chosen.size() + 1, chosen + '\0');
        ofn.fileTitle.replace(0, chosen.size() - name + 1, chosen.substr(name) + '\0');
        ofn.fileOffset = static_cast<std::uint16_t>(name);
        return true;
    }
    std::uint32_t extendedError() override { return kDlgCancelled; }
    std::string chosen;
};

// Confirms `answer`, or cancels when there is none; records where the chooser asked it to open.
// Its drives folder is a virtual item.
class FolderBrowserScript : public FolderBrowserBackend
{
  public:
    std::optional<ShellItem> specialFolder(std::uintptr_t, std::int32_t) override
    {
        return ShellItem{"", "Computer"};
    }
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override
    {
        info.callback(0, kBffmInitialized, 0, std::monostate{});
        if (answer)
            info.displayName = answer->displayName;
        return answer;
    }
    std::optional<std::string> pathFromItem(const ShellItem& item) override
    {
        return item.path.empty() ? std::nullopt : std::optional(item.path);
    }
    void sendMessage(std::uintptr_t, std::uint32_t message, std::intptr_t,
                     const BrowserParam& lParam) override
    {
        if (const auto* path = std::get_if<std::string>(&lParam); path && message == kBffmSetSelection)
            selected = *path;
        else if (const auto* item = std::get_if<ShellItem>(&lParam); item && message == kBffmSetSelection)
            selected = "<" + item->displayName + ">";
    }
    std::optional<ShellItem> answer;
    std::string selected; // a path, or "<display name>" of an item
};

} // namespace tabrescue::test
