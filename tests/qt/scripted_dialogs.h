#pragma once

// Dialog backends whose answers a test scripts in advance and whose requests it reads afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "choosers/dialog_backend.h"

namespace tabrescue::test {

// Answers the file-open dialog with one scripted choice, or with a failure code.
class ScriptedFileOpen : public FileOpenBackend
{
  public:
    // The user picks this path (a multiple choice when more than one name follows the folder).
    void choose(std::string folder, std::vector<std::string> names, char separator = '/')
    {
        m_folder = std::move(folder);
        m_separator = separator;
        m_names = std::move(names);
        m_failure.reset();
    }
    void fail(std::uint32_t code)
    {
        m_failure = code;
        m_names.clear();
    }

    bool getOpenFileName(OpenFileName& ofn) override
    {
        requests.push_back(ofn);
        if (m_failure || m_names.empty()) {
            m_error = m_failure.value_or(kDlgCancelled);
            return false;
        }
        std::string answer = m_folder;
        std::uint16_t nameOffset = 0;
        std::uint16_t extOffset = 0;
        std::string title;
        if (m_names.size() == 1) {
            answer += m_separator;
            nameOffset = static_cast<std::uint16_t>(answer.size());
            answer += m_names.front();
            title = m_names.front();
            const auto dot = title.rfind('.');
            extOffset =
                static_cast<std::uint16_t>(dot == std::string::npos ? answer.size() : nameOffset + dot + 1);
        } else {
            nameOffset = static_cast<std::uint16_t>(answer.size() + 1);
            for (const auto& name : m_names)
                answer += '\0' + name;
            answer += '\0';
        }
        if (answer.size() + 1 > ofn.file.size()) {
            m_error = kDlgBufferTooSmall;
            return false;
        }
        answer.resize(ofn.file.size(), '\0');
        ofn.file = answer;
        title.resize(ofn.fileTitle.size(), '\0');
        ofn.fileTitle = title;
        ofn.filterIndex = 1;
        ofn.fileOffset = nameOffset;
        ofn.fileExtension = extOffset;
        return true;
    }
    std::uint32_t extendedError() override { return m_error; }

    std::vector<OpenFileName> requests;

  private:
    std::string m_folder;
    char m_separator = '/';
    std::vector<std::string> m_names;
    std::optional<std::uint32_t> m_failure;
    std::uint32_t m_error = kDlgCancelled;
};

// A folder browser that plays the platform's part: calls the callback on opening and on a selection
// change, records what the callback sends back, and answers with a scripted item.
class ScriptedFolderBrowser : public FolderBrowserBackend
{
  public:
    struct Sent
    {
        std::uint32_t message;
        std::intptr_t wParam;
        BrowserParam lParam;
    };
    static constexpr std::uintptr_t kBrowserHandle = 0xB0;

    std::optional<ShellItem> specialFolder(std::uintptr_t, std::int32_t folder) override
    {
        specialRequests.push_back(folder);
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
        if (!answer)
            return std::nullopt;
        std::string name = answer->displayName;
        name.resize(info.displayName.size(), '\0');
        info.displayName = name;
        return answer;
    }
    std::optional<std::string> pathFromItem(const ShellItem& item) override
    {
        if (item.path.empty())
            return std::nullopt;
        return item.path;
    }
    void sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t wParam,
                     const BrowserParam& lParam) override
    {
        if (browser == kBrowserHandle)
            sent.push_back({message, wParam, lParam});
    }

    std::optional<ShellItem> answer; // none: the user cancels
    std::vector<ShellItem> walk;     // items the user passes before answering
    std::vector<std::int32_t> specialRequests;
    std::vector<BrowseInfo> browsed;
    std::vector<Sent> sent;
};

} // namespace tabrescue::test
