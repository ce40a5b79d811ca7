#pragma once

// Scripted dialog backends for the window tests, and a helper for table-driven Qt tests.

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <QtTest>

#include "choosers/dialog_backend.h"

// Failed comparisons of std::string show the texts, NULs escaped.
template <> inline char* QTest::toString(const std::string& text)
{
    return QTest::toPrettyCString(text.data(), static_cast<qsizetype>(text.size()));
}

namespace tabrescue::test {

// Declares one data row per entry of `table` (a tuple whose first element is the row's name); the test
// fetches the row's index as "row".
template <typename Row, std::size_t N> void tableRows(const Row (&table)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(std::get<0>(table[i])) << static_cast<int>(i);
}

// Answers the file-open dialog with `answer` as the dialog would write it, or fails with `error`
// (cancelled by default) when there is none.
class ScriptedFileOpen : public FileOpenBackend
{
  public:
    struct Answer
    {
        std::string file; // folder and name, or folder NUL name NUL name ... NUL
        std::string title;
        std::uint16_t offset = 0;
        std::uint16_t extOffset = 0;
    };

    bool getOpenFileName(OpenFileName& ofn) override
    {
        requests.push_back(ofn);
        if (!answer)
            return false;
        ofn.file = answer->file;
        ofn.file.resize(requests.back().file.size(), '\0');
        ofn.fileTitle = answer->title;
        ofn.fileTitle.resize(requests.back().fileTitle.size(), '\0');
        ofn.filterIndex = 1;
        ofn.fileOffset = answer->offset;
        ofn.fileExtension = answer->extOffset;
        return true;
    }
    std::uint32_t extendedError() override { return error; }

    std::optional<Answer> answer;
    std::uint32_t error = kDlgCancelled;
    std::vector<OpenFileName> requests;
};

// A folder browser that plays the platform's part: calls the callback on opening and for each item
// of `walk`, records what the callback sends back in `sent`, and answers with `answer` (none: cancel).
class ScriptedFolderBrowser : public FolderBrowserBackend
{
  public:
    static constexpr std::uintptr_t kBrowserHandle = 0xB0;

    std::optional<ShellItem> specialFolder(std::uintptr_t, std::int32_t folder) override
    {
        if (folder == kCsidlDrives)
            return ShellItem{"", "Computer"};
        if (folder == kCsidlDesktop)
            return ShellItem{"/home/user/Desktop", "Desktop"};
        return std::nullopt;
    }
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override
    {
        browsed.push_back(info);
        if (info.callback) {
            info.callback(kBrowserHandle, kBffmInitialized, 0, std::monostate{});
            for (const ShellItem& item : walk)
                info.callback(kBrowserHandle, kBffmSelChanged, 0, item);
        }
        if (answer) {
            info.displayName = answer->displayName;
            info.displayName.resize(browsed.back().displayName.size(), '\0');
        }
        return answer;
    }
    std::optional<std::string> pathFromItem(const ShellItem& item) override
    {
        return item.path.empty() ? std::nullopt : std::optional(item.path);
    }
    void sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                     const BrowserParam& lParam) override
    {
        if (browser != kBrowserHandle)
            return;
        sent += std::to_string(message) + ' ' + std::to_string(wParam) + ' ';
        if (const auto* path = std::get_if<std::string>(&lParam))
            sent += "text:" + *path;
        else if (const auto* item = std::get_if<ShellItem>(&lParam))
            sent += "item:" + item->path + '|' + item->displayName;
        sent += '\n';
    }

    std::optional<ShellItem> answer;
    std::vector<ShellItem> walk;
    std::vector<BrowseInfo> browsed;
    std::string sent; // "message wParam text:<path>" or "message wParam item:<path>|<name>" lines
};

} // namespace tabrescue::test
