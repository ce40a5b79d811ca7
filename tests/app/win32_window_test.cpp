// The Windows window as a user drives it: texts typed into the boxes, buttons pressed, the log pane
// read back. Runs under Wine without a display (the null graphics driver).
#include "app/win32_window.h"
// These need windows.h first.
#include <dlgs.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "choosers/win32_dialogs.h"
#include "io/file_system.h"
#include "io/platform.h"
#include "io/win32_text.h"
#include "support/scripted_dialogs.h"
#include "support/table_builders.h"

namespace tabrescue {
namespace {

using Texts = std::vector<std::string>;

class WindowTest : public test::TempDirTest
{
  protected:
    static void SetUpTestSuite() { OleInitialize(nullptr); }
    static void TearDownTestSuite() { OleUninitialize(); }
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        m_tmp.emplace(dir());
        fileSystem().startNewRun();
        window = std::make_unique<Win32Window>(GetModuleHandleW(nullptr));
        window->form().setDialogBackends(files, folders);
        window->form().setProgramFolder(path(""));
        window->setMessageSink([this](const std::string& text) {
            messages.push_back(text);
            logAtMessage = shown(txtLog);
        });
        // A folder whose name needs more than ASCII, as the output folder too.
        const auto folder = platform::toNative(path("Мои карты 2015"));
        std::filesystem::create_directories(folder);
        table = test::writeSimpleTable(folder, "Улицы", " * *").tabPath;
        type(txtOutFolder, path("Мои карты 2015"));
    }
    void TearDown() override
    {
        window.reset();
        m_tmp.reset();
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }

    void type(ControlId id, const std::string& text)
    {
        SetWindowTextW(window->control(id), platform::widen(text).c_str());
    }
    void press(ControlId id) { SendMessageW(window->control(id), BM_CLICK, 0, 0); }
    std::string shown(ControlId id)
    {
        std::wstring buffer(static_cast<std::size_t>(GetWindowTextLengthW(window->control(id))) + 1, L'\0');
        buffer.resize(static_cast<std::size_t>(SendMessageW(window->control(id), WM_GETTEXT, buffer.size(),
                                                            reinterpret_cast<LPARAM>(buffer.data()))));
        return platform::narrow(buffer);
    }
    // The log lines that the last press of Recover added, from its start line on.
    std::string lastRun()
    {
        const std::string log = shown(txtLog);
        return log.substr(log.rfind("<<< "));
    }

    std::unique_ptr<Win32Window> window;
    test::FileOpenScript files;
    test::FolderBrowserScript folders;
    Texts messages;
    std::string logAtMessage, table;

  private:
    std::optional<test::ScopedTempFolder> m_tmp;
};

TEST_F(WindowTest, WholeRunsAndBadInput)
{
    struct Case
    {
        std::string input;
        bool tick;
        std::string expected;
    };
    const std::string longPath = path(std::string(150, 'a') + "\\" + std::string(150, 'b') + "\\t.TAB");
    const Case cases[] = {
        {table, false,
         " +!+ 2 deleteted Attributes were restored to file '" + path("Мои карты 2015\\Улицы_DAT.TAB") +
             "' +!+\r\n*** Ends by OK at "},
        {table, true, "*** Ends by OK at "},
        {"", true, "File '' not exists or can't be opened.\r\n*** ends by ERROR at "},
        {longPath, true, "File '" + longPath + "' not exists or can't be opened.\r\n*** ends by ERROR at "},
    };
    for (const Case& c : cases) {
        type(txtInFilePath, c.input);
        if (c.tick != (SendMessageW(window->control(chkRestoreAll), BM_GETCHECK, 0, 0) == BST_CHECKED))
            press(chkRestoreAll);
        press(cmdRecover);
        const std::string run = lastRun();
        EXPECT_EQ(run.rfind("<<< ", 0), 0u);
        EXPECT_NE(run.find(c.input + "*** \r\n"), std::string::npos) << run;
        EXPECT_NE(run.find(c.expected), std::string::npos) << run;
        EXPECT_NE(run.find("замены стиля оформления.\r\n\r\n\r\n\r\n"), std::string::npos) << run;
    }
    type(txtInFilePath, table);
    type(txtOutFolder, path("missing"));
    press(cmdRecover);
    EXPECT_EQ(messages, Texts{std::string(kWrongOutputFolderMessage)});
}

TEST_F(WindowTest, KeysWorkDuringARun)
{
    type(txtInFilePath, table);
    PostMessageW(window->control(txtLog), WM_KEYDOWN, VK_F1, 0); // answered at the run's next log line
    press(cmdRecover);
    ASSERT_EQ(messages, Texts{"The help file '" + path("README.TXT") + "' was not found."});
    EXPECT_TRUE(logAtMessage.find("<<< ") != std::string::npos &&
                logAtMessage.find(">>> ") == std::string::npos);
}

TEST_F(WindowTest, ScriptedChoosers)
{
    files.chosen = table;
    press(cmdSelectInTab);
    EXPECT_EQ(shown(txtInFilePath), table);
    folders.answer = ShellItem{"", "Network"};
    press(Command1);
    EXPECT_EQ(folders.selected, path("Мои карты 2015"));
    EXPECT_EQ(shown(txtOutFolder), "<Network>");
    type(txtOutFolder, "");
    press(Command1);
    EXPECT_EQ(folders.selected, "<Computer>");
    EXPECT_EQ(messages, Texts(2, "Wrong Output Folder for result TAB files was selected."));
}

// The real dialogs, answered from a timer that runs inside their modal loops.
std::wstring g_typed; // typed into the file dialog's name box; empty: OK only

void CALLBACK answerDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND dialog = FindWindowW(L"#32770", nullptr); // the class of dialog boxes
    if (!dialog)
        return;
    KillTimer(nullptr, timer);
    if (!g_typed.empty())
        SetDlgItemTextW(dialog, cmb13, g_typed.c_str());
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

TEST_F(WindowTest, RealDialogs)
{
    Win32FileOpenBackend realFiles;
    Win32FolderBrowserBackend realFolders;
    window->form().setDialogBackends(realFiles, realFolders);
    g_typed = platform::widen(table);
    SetTimer(nullptr, 0, 50, answerDialog);
    press(cmdSelectInTab);
    EXPECT_EQ(shown(txtInFilePath), table);
    // The browser opens at the folder in the box; OK takes it.
    g_typed.clear();
    SetTimer(nullptr, 0, 50, answerDialog);
    press(Command1);
    EXPECT_EQ(shown(txtOutFolder), path("Мои карты 2015"));
    EXPECT_EQ(messages, Texts{});
}

} // namespace
} // namespace tabrescue
