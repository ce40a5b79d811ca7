#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "form/main_form.h"
#include "io/file_system.h"
#include "io/platform.h"
#include "support/scripted_dialogs.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"

namespace tabrescue {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// A window without a toolkit: the controls are plain values.
class FakeView : public FormView {
public:
    std::string inFilePath() override { return in; }
    void setInFilePath(const std::string& path) override { in = path; }
    std::string outFolder() override { return out; }
    void setOutFolder(const std::string& path) override { out = path; }
    CheckState restoreAll() override { return option; }
    void showLog(std::string_view text, bool replaced) override { replaced ? log.assign(text) : log.append(text); }
    void moveLogCaretToEnd() override { caret = log.size(); }
    void setLogColour(std::uint32_t colour) override { colours.push_back(colour); }
    void processEvents() override { if (onEvents) onEvents(); }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void beep() override { ++beeps; }
    std::string now() override { return "06.12.2026 10:00:00"; }
    std::uintptr_t ownerHandle() override { return 0x1234; }
    bool openDocument(const std::string& path) override { opened.push_back(path); return openWorks; }

    std::string in, out, log;
    CheckState option = CheckState::Unticked;
    std::size_t caret = 0;
    std::vector<std::uint32_t> colours;
    Texts messages, opened;
    int beeps = 0;
    bool openWorks = true;
    std::function<void()> onEvents;
};

class FormTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        test::TempDirTest::SetUp();
        fs::create_directories(dir() / "tmp");
        m_tmp.emplace(dir() / "tmp");
        fileSystem().startNewRun();
        form.setProgramFolder(path(""));
    }
    void TearDown() override
    {
        m_tmp.reset();
        fileSystem().startNewRun();
        test::TempDirTest::TearDown();
    }
    // A table in a folder whose name needs more than ASCII.
    std::string table(const char* statusBytes)
    {
        const fs::path folder = platform::toNative(path("Мои карты 2015"));
        fs::create_directories(folder);
        return test::writeSimpleTable(folder, "Улицы", statusBytes).tabPath;
    }

    FakeView view;
    test::FileOpenScript files;
    test::FolderBrowserScript folders;
    MainForm form{view, files, folders, ""};

private:
    std::optional<test::ScopedTempFolder> m_tmp;
};

struct RunCase {
    const char* name;
    const char* statusBytes;
    CheckState option;
    bool outputExists;
    const char* verdict; // a line of the log, or nothing
    Texts messages;
};
class FormRunTest : public FormTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(FormRunTest, RecoverRunsOnTheControlsValues)
{
    const RunCase& c = GetParam();
    view.in = table(c.statusBytes);
    view.out = path(c.outputExists ? "" : "missing");
    view.option = c.option;
    form.recover();
    EXPECT_EQ(view.log.rfind("<<< 06.12.2026 10:00:00" + view.in + "*** \r\n", 0), 0u) << view.log;
    if (*c.verdict) {
        EXPECT_NE(view.log.find(std::string("\r\n") + c.verdict), std::string::npos) << view.log;
    }
    EXPECT_EQ(view.messages, c.messages);
    // The pane is in another colour while the run works, then back; the caret ends at the end.
    EXPECT_EQ(view.colours, (std::vector<std::uint32_t>{0xF0FF00, kLogBackground}));
    EXPECT_EQ(view.caret, view.log.size());
    EXPECT_EQ(view.beeps, 2);
}

INSTANTIATE_TEST_SUITE_P(Runs, FormRunTest, ::testing::Values(
    RunCase{"DeletedRows", " * *", CheckState::Unticked, true, "*** Ends by OK at ", {}},
    RunCase{"GreyedIsNotTicked", "  ", CheckState::Greyed, true, "*** ends by ERROR at ", {}},
    RunCase{"TickedRepairs", "  ", CheckState::Ticked, true, "*** Ends by OK at ", {}},
    RunCase{"OutputMissing", " *", CheckState::Unticked, false, "", {std::string(kWrongOutputFolderMessage)}}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(FormTest, PressDuringRunIsIgnoredAndFailureRestoresThePane)
{
    view.in = table("*");
    view.out = path("");
    view.onEvents = [this] { form.recover(); };
    form.recover();
    EXPECT_EQ(view.log.find("<<< ", 1), std::string::npos) << "a second run started";

    form.runFromControls([](RunFrontend& frontend, const RunInput&) {
        frontend.flipLogColour();
        throw std::runtime_error("drive gone");
    });
    EXPECT_EQ(view.colours.back(), kLogBackground);
    EXPECT_EQ(view.messages, Texts{"The recovery stopped on an unexpected error: drive gone"});
    EXPECT_FALSE(form.isRunning());
}

TEST_F(FormTest, InputChooser)
{
    view.in = "old.TAB";
    form.chooseInputTable();
    EXPECT_EQ(files.offered, "old.TAB");
    EXPECT_EQ(view.in, "old.TAB");
    files.chosen = path("Улицы.TAB");
    form.chooseInputTable();
    EXPECT_EQ(view.in, path("Улицы.TAB"));
    files.chosen.clear();
    files.error = kDlgBufferTooSmall;
    form.chooseInputTable();
    EXPECT_EQ(view.messages, (Texts{"Input TAB file was not selected.",
                                    "Filename buffer is too small for the selected files.\r\n"
                                    "(error 20476 in CommonDlg.ShowOpen)"}));
}

struct FolderCase {
    const char* name;
    const char* before;
    std::optional<ShellItem> answer; // a path starting "@" lies in the test's folder
    const char* after;
    const char* selected; // where the browser opened
    Texts messages;
};
class FolderChooserTest : public FormTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FolderChooserTest, FillsTheOutputBox)
{
    const FolderCase& c = GetParam();
    auto own = [this](std::string text) { return text.rfind('@', 0) == 0 ? path(text.substr(1)) : text; };
    fs::create_directories(platform::toNative(path("Выход")));
    view.out = own(c.before);
    folders.answer = c.answer;
    if (folders.answer)
        folders.answer->path = own(folders.answer->path);
    form.chooseOutputFolder();
    EXPECT_EQ(view.out, own(c.after));
    EXPECT_EQ(folders.selected, own(c.selected));
    EXPECT_EQ(view.messages, c.messages);
}

const Texts kWrongFolder{"Wrong Output Folder for result TAB files was selected."};
INSTANTIATE_TEST_SUITE_P(Choices, FolderChooserTest, ::testing::Values(
    FolderCase{"Chosen", "", ShellItem{"@Выход", "Выход"}, "@Выход", "<Computer>", {}},
    FolderCase{"Cancelled", "@old", std::nullopt, "@old", "@old", {"Output Folder for result TAB files was not selected."}},
    FolderCase{"Missing", "", ShellItem{"@gone", "gone"}, "@gone", "<Computer>", kWrongFolder},
    FolderCase{"Virtual", "", ShellItem{"", "Network"}, "<Network>", "<Computer>", kWrongFolder}),
    [](const auto& l_info) { return std::string(l_info.param.name); });

TEST_F(FormTest, HelpKey)
{
    const std::string help = path("README.TXT");
    form.showHelp();
    std::ofstream(platform::toNative(help)) << "help";
    form.showHelp();
    view.openWorks = false;
    form.showHelp();
    EXPECT_EQ(view.opened, (Texts{help, help}));
    EXPECT_EQ(view.messages, (Texts{"The help file '" + help + "' was not found.",
                                    "The help file '" + help + "' could not be opened."}));
}

} // namespace
} // namespace tabrescue
