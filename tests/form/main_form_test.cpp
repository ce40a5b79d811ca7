// The form without a window: what neither window test reaches.
#include <gtest/gtest.h>

#include <stdexcept>

#include "form/main_form.h"
#include "io/file_system.h"
#include "support/scripted_dialogs.h"
#include "support/table_builders.h"

namespace tabrescue {
namespace {

class FakeView : public FormView
{
  public:
    std::string inFilePath() override { return in; }
    void setInFilePath(const std::string& path) override { in = path; }
    std::string outFolder() override { return out; }
    void setOutFolder(const std::string& path) override { out = path; }
    CheckState restoreAll() override { return option; }
    void showLog(std::string_view t, bool replaced) override { replaced ? log.assign(t) : log.append(t); }
    void moveLogCaretToEnd() override { caret = log.size(); }
    void setLogColour(std::uint32_t colour) override { colours.push_back(colour); }
    void processEvents() override {}
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void beep() override {}
    std::string now() override { return "06.12.2026 10:00:00"; }
    std::uintptr_t ownerHandle() override { return 0; }
    bool openDocument(const std::string&) override { return false; }

    std::string in, out, log;
    CheckState option = CheckState::Unticked;
    std::size_t caret = 0;
    std::vector<std::uint32_t> colours;
    std::vector<std::string> messages;
};

class FormTest : public test::TempDirTest
{
  protected:
    void SetUp() override { TempDirTest::SetUp(), m_tmp.emplace(dir()), fileSystem().startNewRun(); }
    void TearDown() override { m_tmp.reset(), TempDirTest::TearDown(); }
    std::optional<test::ScopedTempFolder> m_tmp;
    FakeView view;
    test::FileOpenScript files;
    test::FolderBrowserScript folders;
    MainForm form{view, files, folders, ""};
};

TEST_F(FormTest, ThePaneTurnsDuringARunAndBackEvenWhenTheRunFails)
{
    view.in = test::writeSimpleTable(dir(), "roads", "  ").tabPath;
    view.out = path("");
    view.option = CheckState::Greyed; // not ticked: with nothing deleted the driver has nothing to do
    form.recover();
    EXPECT_NE(view.log.find("\r\n*** ends by ERROR at "), std::string::npos) << view.log;
    EXPECT_EQ(view.colours, (std::vector<std::uint32_t>{0xF0FF00, kLogBackground}));
    EXPECT_EQ(view.caret, view.log.size());
    form.runFromControls([](RunFrontend& frontend, const RunInput&) {
        frontend.flipLogColour();
        throw std::runtime_error("drive gone");
    });
    EXPECT_EQ(view.colours.back(), kLogBackground);
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"The recovery stopped on an unexpected error: drive gone"});
    EXPECT_FALSE(form.isRunning());
}

TEST_F(FormTest, UndeleteWritesTheTableIntoTheOutputFolder)
{
    view.in = test::writeSimpleTable(dir(), "roads", " *").tabPath;
    view.out = path("");
    form.undelete();
    EXPECT_TRUE(fileSystem().fileExists(path("roads_undeleted.DAT"))) << view.log;
    EXPECT_NE(view.log.find("1 deleted rows"), std::string::npos) << view.log;
}

} // namespace
} // namespace tabrescue
