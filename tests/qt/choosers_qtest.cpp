#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include <QFileDialog>
#include <QLineEdit>
#include <QListView>

#include "choosers/chooser_error.h"
#include "choosers/common_dlg.h"
#include "choosers/qt_dialogs.h"
#include "choosers/shell_browse.h"
#include "qt_support.h"
#include "support/temp_dir.h"

using namespace tabrescue;
using namespace tabrescue::test;
using namespace std::literals;

namespace {

// Once Qt's file dialog is shown modally: runs `look` on it, then types `name` into its name box and
// presses Enter as a user would; no name cancels.
void whenDialogShows(std::optional<QString> name, std::function<void(QFileDialog&)> look = {})
{
    QTimer::singleShot(0, [=] {
        QFileDialog* dlg = nullptr;
        (void)QTest::qWaitFor([&] { return (dlg = qobject_cast<QFileDialog*>(qApp->activeModalWidget())); });
        if (look)
            look(*dlg);
        if (!name)
            return dlg->reject();
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, *name);
        QTest::keyClick(edit, Qt::Key_Return);
        if (dlg->isVisible())
            dlg->reject(); // the test must not wait on a dialog the step left open
    });
}

// "number description / source" of what fn raised; "0" when it raised nothing.
template <typename Fn> std::string raisedBy(Fn fn)
{
    try {
        fn();
    } catch (const ChooserError& e) {
        return std::to_string(e.number()) + ' ' + e.description() + " / " + e.source();
    }
    return "0";
}

// A browser whose platform side fails.
struct FailingBrowser : ScriptedFolderBrowser
{
    std::optional<ShellItem> browseForFolder(BrowseInfo&) override { throw RecoverError(70, "Denied"); }
};

// name, FileNameBufferSize (FileName "/old/roads.TAB"), the dialog's failure code, CancelError; raised.
const char* const kTooSmall =
    "20476 Filename buffer is too small for the selected files. / CommonDlg.ShowOpen";
const char* const kInvalid = "5 Invalid procedure call or argument / CommonDlg.ShowOpen";
const std::tuple<const char*, int, std::uint32_t, bool, const char*> kFailures[] = {
    {"cancel, quiet", 15, 0, false, "0"},
    {"cancel, raising", 15, 0, true, "32755 Cancel was selected. / CommonDlg.ShowOpen"},
    {"buffer too small", 15, 0x3003, false, kTooSmall},
    {"buffer too small, raising", 15, 0x3003, true, kTooSmall},
    {"other failure", 15, 0xFFFF, false, "65535 Unexpected error. / CommonDlg.ShowOpen"},
    {"no buffer", 0, 0, false, kInvalid},
    {"negative buffer", -5, 0, false, kInvalid},
    {"no room for the name's NUL", 14, 0, false, kInvalid},
};

// name, RootFolder, the user's choice; code and Result after an earlier browse chose "/first".
const std::tuple<const char*, int, std::optional<ShellItem>, int, const char*> kBrowses[] = {
    {"folder", 0, ShellItem{"/data/out", "out"}, 0, "/data/out"},
    {"virtual item", 17, ShellItem{"", "Network"}, 0, "<Network>"},
    {"cancelled", 0, std::nullopt, 1208, "/first"},
    {"root unknown", 99, ShellItem{"/data/out", "out"}, 1208, "/first"},
};

// name, InitialPath, InitialFolder; the initial selection sent, before the status texts of the
// user's walk over "/data" and a virtual item.
const std::tuple<const char*, const char*, int, const char*> kSelections[] = {
    {"path", "/data/out", 0, "1126 1 text:/data/out\n"},
    {"digits are still a path", "12345", 17, "1126 1 text:12345\n"},
    {"drives", "", 17, "1126 0 item:|Computer\n"},
    {"desktop", "", 0, "1126 0 item:/home/user/Desktop|Desktop\n"},
    {"unknown special folder", "", 99, ""},
};

} // namespace

class ChoosersTest : public QObject
{
    Q_OBJECT

  private slots:
    void commonDlgTakesChoice()
    {
        ScriptedFileOpen backend;
        CommonDlg dlg(backend);
        dlg.OpenFlags = 528388;
        dlg.Filter = "  A b| *.x  "; // only the outer blanks go
        dlg.CallBack = 7;            // without its bit in the flags
        backend.answer = {"C:\\maps\\roads.TAB", "roads.TAB", 8, 14};
        dlg.ShowOpen();
        QCOMPARE(std::pair(backend.requests[0].filter, backend.requests[0].hook),
                 std::pair("A b\0 *.x\0"s, 0u));
        QCOMPARE(dlg.FileName + '|' + dlg.FileTitle, "C:\\maps\\roads.TAB|roads.TAB"s);
        QCOMPARE(std::pair(dlg.FileOffset(), dlg.FileExtOffset()), std::pair(8, 14));
        QCOMPARE(dlg.FileList(), (std::vector<std::string>{"C:\\maps", "roads.TAB"}));
        QCOMPARE(std::tuple(dlg.FilterIndex, dlg.Flags, dlg.OpenFlags), std::tuple(1, 0x81004u, 0x81004u));

        backend.answer = {"/data/maps\0roads.TAB\0rivers.TAB\0"s, "", 11, 0};
        dlg.ShowOpen();
        QCOMPARE(dlg.FileOffset(), 11);
        QCOMPARE(dlg.FileList(), (std::vector<std::string>{"/data/maps", "roads.TAB", "rivers.TAB"}));
        QCOMPARE(dlg.FileName, "/data/maps\0roads.TAB\0rivers.TAB"s); // the padding is cut off
    }

    void commonDlgFails_data() { tableRows(kFailures); }
    void commonDlgFails()
    {
        QFETCH(int, row);
        const auto& [name, bufferSize, code, cancelError, raised] = kFailures[row];
        ScriptedFileOpen backend;
        backend.error = code;
        CommonDlg dlg(backend);
        dlg.FileNameBufferSize = bufferSize;
        dlg.CancelError = cancelError;
        dlg.FileName = "/old/roads.TAB";
        dlg.FileTitle = "kept";
        dlg.FilterIndex = 2;
        dlg.OpenFlags = kOfnEnableHook; // joins Flags and the explorer bit, and hands over CallBack
        dlg.Flags = kOfnFileMustExist;
        dlg.CallBack = 7;
        QCOMPARE(raisedBy([&] { dlg.ShowOpen(); }), std::string(raised));
        QCOMPARE(backend.requests.size(), raised == kInvalid ? 0u : 1u);
        for (const OpenFileName& ofn : backend.requests)
            QCOMPARE(std::pair(ofn.flags, ofn.hook), std::pair(0x81020u, 7u));
        QCOMPARE(dlg.FileName + '|' + dlg.FileTitle, "/old/roads.TAB|kept"s);
        QCOMPARE(dlg.FilterIndex, 2);
    }

    void qtFileDialog()
    {
        const auto dir = makeTempDir();
        for (const char* name : {"a.TAB", "b.tab", "c.Tab", "d.DAT", "a_rather_long_name.TAB"})
            std::ofstream(dir / name) << "x";
        const QString folder = QDir::toNativeSeparators(QString::fromStdString(dir.string()));
        QtFileOpenBackend backend;
        CommonDlg dlg(backend);
        dlg.Filter = "MapInfo TAB-file|*.TAB|All files|*.*";
        dlg.FileNameBufferSize = folder.size() + 7; // room for "/b.tab" and its NUL
        dlg.InitDir = dir.string();
        dlg.DialogTitle = "Select input TAB file";
        dlg.OpenFlags = 528388;
        QStringList listed;
        whenDialogShows(QStringLiteral("b.tab"), [&](QFileDialog& shown) {
            auto* view = shown.findChild<QListView*>(QStringLiteral("listView"));
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 4; });
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            listed << shown.windowTitle();
        });
        dlg.ShowOpen();
        listed.sort();
        QCOMPARE(listed,
                 (QStringList{"Select input TAB file", "a.TAB", "a_rather_long_name.TAB", "b.tab", "c.Tab"}));
        QCOMPARE(QString::fromStdString(dlg.FileName), folder + QDir::separator() + QStringLiteral("b.tab"));
        QCOMPARE(dlg.FileList(), (std::vector<std::string>{folder.toStdString(), "b.tab"}));
        QCOMPARE(dlg.FileTitle, "b.tab"s);
        QCOMPARE(dlg.FileExtOffset(), dlg.FileOffset() + 2);
        QCOMPARE(dlg.FilterIndex, 1);

        CommonDlg small(backend);
        small.FileNameBufferSize = dlg.FileNameBufferSize;
        small.InitDir = dlg.InitDir;
        whenDialogShows(QStringLiteral("a_rather_long_name.TAB"));
        QCOMPARE(raisedBy([&] { small.ShowOpen(); }).substr(0, 6), "20476 "s);
        QVERIFY(small.FileTitle.empty());
        removeTree(dir);
    }

    void shellBrowseOptionBits()
    {
        const std::pair<bool ShellBrowse::*, std::uint32_t> options[] = {
            {&ShellBrowse::FileSystemDirsOnly, 0x51}, {&ShellBrowse::DontGoBelowDomain, 0x52},
            {&ShellBrowse::ShowStatusText, 0x54},     {&ShellBrowse::FileSystemAncestorsOnly, 0x58},
            {&ShellBrowse::ComputersOnly, 0x1050},    {&ShellBrowse::PrintersOnly, 0x2050},
            {&ShellBrowse::IncludeFiles, 0x4050}};
        ScriptedFolderBrowser backend;
        ShellBrowse all(backend);
        QCOMPARE(all.optionBits(), 0x50u); // a new object: edit box and new style
        for (const auto& [option, bits] : options) {
            ShellBrowse one(backend);
            one.*option = true;
            all.*option = true;
            QCOMPARE(one.optionBits(), bits);
        }
        all.BrowseForFolder();
        QCOMPARE(backend.browsed.at(0).flags, 0x705Fu);
    }

    void shellBrowseOutcome_data() { tableRows(kBrowses); }
    void shellBrowseOutcome()
    {
        QFETCH(int, row);
        const auto& [name, rootFolder, answer, code, result] = kBrowses[row];
        ScriptedFolderBrowser backend;
        ShellBrowse browser(backend);
        backend.answer = ShellItem{"/first", "first"};
        QCOMPARE(browser.BrowseForFolder(), 0);
        backend.answer = answer;
        browser.RootFolder = rootFolder;
        QCOMPARE(browser.BrowseForFolder(), code);
        QCOMPARE(browser.Result(), std::string(result));
    }

    void shellBrowseInitialSelection_data() { tableRows(kSelections); }
    void shellBrowseInitialSelection()
    {
        QFETCH(int, row);
        const auto& [name, initialPath, initialFolder, selection] = kSelections[row];
        ScriptedFolderBrowser backend;
        backend.walk = {ShellItem{"/data", "data"}, ShellItem{"", "Network"}};
        ShellBrowse browser(backend);
        browser.InitialPath = initialPath;
        browser.InitialFolder = initialFolder;
        browser.BrowseForFolder();
        QCOMPARE(backend.sent, selection + "1124 0 text:/data\n1124 0 text:\n"s);
        QCOMPARE(backend.browsed.at(0).root, (ShellItem{"/home/user/Desktop", "Desktop"}));
    }

    void shellBrowseErrorsNameTheirSource()
    {
        FailingBrowser backend;
        ShellBrowse browser(backend);
        QCOMPARE(raisedBy([&] { browser.BrowseForFolder(); }), "70 Denied / ShellBrowse.BrowseForFolder"s);
    }

    // The platform's callback reaches the browser being shown, never one that is gone.
    void shellBrowseCallbackReachesOnlyTheLiveBrowser()
    {
        ScriptedFolderBrowser backend;
        {
            ShellBrowse older(backend);
            older.InitialPath = "/older";
            ShellBrowse(backend).InitialPath = "/newer";
            older.BrowseForFolder();
            QCOMPARE(backend.sent, "1126 1 text:/older\n"s);
        }
        QCOMPARE(browseCallbackProc(ScriptedFolderBrowser::kBrowserHandle, kBffmInitialized, 0, {}), 0);
        QCOMPARE(backend.sent, "1126 1 text:/older\n"s);
    }

    void qtFolderBrowser()
    {
        QtFolderBrowserBackend backend;
        const auto drives = backend.specialFolder(0, kCsidlDrives);
        QCOMPARE(QString::fromStdString(drives.value().path), QDir::toNativeSeparators(QDir::rootPath()));
        const auto desktop = backend.specialFolder(0, kCsidlDesktop);
        QVERIFY(QFileInfo(QString::fromStdString(desktop.value().path)).isDir());
        QVERIFY(!backend.specialFolder(0, 5));

        const auto dir = makeTempDir();
        std::filesystem::create_directory(dir / "out");
        const QString out = QString::fromStdString((dir / "out").string());
        ShellBrowse browser(backend);
        browser.Caption = "Select Folder where result of recover will be saved...";
        browser.FileSystemDirsOnly = true;
        browser.InitialPath = out.toStdString();
        QString seen;
        whenDialogShows(QString(), [&](QFileDialog& shown) {
            seen = shown.windowTitle() + u'|' + shown.directory().absolutePath();
        });
        QCOMPARE(browser.BrowseForFolder(), 0);
        removeTree(dir);
        QCOMPARE(seen, QString::fromStdString(browser.Caption) + u'|' + out);
        QCOMPARE(QString::fromStdString(browser.Result()), QDir::toNativeSeparators(out));
        whenDialogShows(std::nullopt);
        QCOMPARE(browser.BrowseForFolder(), kBrowseNoChoice);
        QCOMPARE(QString::fromStdString(browser.Result()), QDir::toNativeSeparators(out));
    }
};

QTEST_MAIN(ChoosersTest)
#include "choosers_qtest.moc"
