#include <filesystem>

#include <QtTest>

#include "choosers/chooser_error.h"
#include "choosers/qt_dialogs.h"
#include "choosers/shell_browse.h"
#include "dialog_driver.h"
#include "scripted_dialogs.h"
#include "support/temp_dir.h"

using namespace tabrescue;
using namespace tabrescue::test;

namespace {

// A browser whose platform side fails.
class FailingBrowser : public ScriptedFolderBrowser
{
  public:
    std::optional<ShellItem> browseForFolder(BrowseInfo&) override
    {
        throw RecoverError(kErrPermission, "Permission denied");
    }
    void sendMessage(std::uintptr_t, std::uint32_t, std::intptr_t, const BrowserParam&) override
    {
        throw RecoverError(kErrIndexRange, "Subscript out of range");
    }
};

QString describe(const BrowserParam& param)
{
    if (const auto* text = std::get_if<std::string>(&param))
        return QStringLiteral("text:") + QString::fromStdString(*text);
    if (const auto* item = std::get_if<ShellItem>(&param))
        return QStringLiteral("item:") + QString::fromStdString(item->path) + u'|' +
               QString::fromStdString(item->displayName);
    return QStringLiteral("none");
}

} // namespace

class ShellBrowseTest : public QObject
{
    Q_OBJECT

  private slots:
    void optionBits_data();
    void optionBits();
    void browseOutcome_data();
    void browseOutcome();
    void failedBrowseKeepsEarlierResult();
    void browserGetsTheRecord();
    void initialSelection_data();
    void initialSelection();
    void selectionChangeShowsPath();
    void errorsNameTheirSource();
    void callbackReachesTheBrowsingObject();
    void callbackWithoutBrowserDoesNothing();
    void qtSpecialFolders();
    void qtBrowserOpensAtInitialPath();
    void qtBrowserCancelled();
};

void ShellBrowseTest::optionBits_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<uint>("expected");
    QTest::newRow("new object: edit box and new style") << "none" << 0x50u;
    QTest::newRow("FileSystemDirsOnly (the window's choice)") << "FileSystemDirsOnly" << 0x51u;
    QTest::newRow("ShowStatusText") << "ShowStatusText" << 0x54u;
    QTest::newRow("ComputersOnly") << "ComputersOnly" << 0x1050u;
    QTest::newRow("DontGoBelowDomain") << "DontGoBelowDomain" << 0x52u;
    QTest::newRow("FileSystemAncestorsOnly") << "FileSystemAncestorsOnly" << 0x58u;
    QTest::newRow("PrintersOnly") << "PrintersOnly" << 0x2050u;
    QTest::newRow("IncludeFiles") << "IncludeFiles" << 0x4050u;
    QTest::newRow("all") << "all" << 0x705Fu;
}

void ShellBrowseTest::optionBits()
{
    QFETCH(QString, property);
    QFETCH(uint, expected);
    ScriptedFolderBrowser backend;
    ShellBrowse browser(backend);
    const bool all = property == u"all";
    browser.FileSystemDirsOnly = all || property == u"FileSystemDirsOnly";
    browser.ShowStatusText = all || property == u"ShowStatusText";
    browser.ComputersOnly = all || property == u"ComputersOnly";
    browser.DontGoBelowDomain = all || property == u"DontGoBelowDomain";
    browser.FileSystemAncestorsOnly = all || property == u"FileSystemAncestorsOnly";
    browser.PrintersOnly = all || property == u"PrintersOnly";
    browser.IncludeFiles = all || property == u"IncludeFiles";
    QCOMPARE(browser.optionBits(), expected);
    backend.answer = ShellItem{"/x", "x"};
    browser.BrowseForFolder();
    QCOMPARE(backend.browsed.at(0).flags, expected);
}

void ShellBrowseTest::browseOutcome_data()
{
    QTest::addColumn<int>("rootFolder");
    QTest::addColumn<bool>("userChooses");
    QTest::addColumn<QString>("chosenPath");
    QTest::addColumn<QString>("chosenName");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result");
    QTest::newRow("folder") << 0 << true << "/data/out"
                            << "out" << 0 << "/data/out";
    QTest::newRow("virtual item") << 17 << true << ""
                                  << "Network" << 0 << "<Network>";
    QTest::newRow("digits only") << 0 << true << "12345"
                                 << "12345" << 0 << "12345";
    QTest::newRow("cancelled") << 0 << false << ""
                               << "" << 1208 << "";
    QTest::newRow("root unknown") << 99 << true << "/data/out"
                                  << "out" << 1208 << "";
}

void ShellBrowseTest::browseOutcome()
{
    QFETCH(int, rootFolder);
    QFETCH(bool, userChooses);
    QFETCH(QString, chosenPath);
    QFETCH(QString, chosenName);
    ScriptedFolderBrowser backend;
    if (userChooses)
        backend.answer = ShellItem{chosenPath.toStdString(), chosenName.toStdString()};
    ShellBrowse browser(backend);
    browser.RootFolder = rootFolder;
    QTEST(browser.BrowseForFolder(), "code");
    QTEST(QString::fromStdString(browser.Result()), "result");
}

void ShellBrowseTest::failedBrowseKeepsEarlierResult()
{
    ScriptedFolderBrowser backend;
    ShellBrowse browser(backend);
    backend.answer = ShellItem{"/first", "first"};
    QCOMPARE(browser.BrowseForFolder(), 0);
    backend.answer.reset();
    QCOMPARE(browser.BrowseForFolder(), kBrowseNoChoice);
    QCOMPARE(browser.Result(), std::string("/first"));
}

void ShellBrowseTest::browserGetsTheRecord()
{
    ScriptedFolderBrowser backend;
    ShellBrowse browser(backend);
    browser.hWndOwner = 42;
    browser.Caption = "Select Folder where result of recover will be saved...";
    browser.RootFolder = kCsidlDrives;
    QCOMPARE(ShellBrowse(backend).Caption, std::string("Select Folder"));
    browser.BrowseForFolder();
    QCOMPARE(backend.specialRequests.at(0), kCsidlDrives);
    const BrowseInfo& info = backend.browsed.at(0);
    QCOMPARE(info.owner, std::uintptr_t(42));
    QCOMPARE(info.title, browser.Caption);
    QCOMPARE(info.root, (ShellItem{"", "Computer"}));
    QCOMPARE(info.displayName, std::string(2050, '\0'));
    QVERIFY(info.callback == &browseCallbackProc);
    QCOMPARE(info.data, std::intptr_t(0));
}

void ShellBrowseTest::initialSelection_data()
{
    QTest::addColumn<QString>("initialPath");
    QTest::addColumn<int>("initialFolder");
    QTest::addColumn<int>("sentCount");
    QTest::addColumn<int>("wParam");
    QTest::addColumn<QString>("selection");
    QTest::newRow("path") << "/data/out" << 0 << 1 << 1 << "text:/data/out";
    QTest::newRow("digits are still a path") << "12345" << 17 << 1 << 1 << "text:12345";
    QTest::newRow("drives") << "" << 17 << 1 << 0 << "item:|Computer";
    QTest::newRow("desktop") << "" << 0 << 1 << 0 << "item:/home/user/Desktop|Desktop";
    QTest::newRow("unknown special folder") << "" << 99 << 0 << 0 << "";
}

void ShellBrowseTest::initialSelection()
{
    QFETCH(QString, initialPath);
    QFETCH(int, initialFolder);
    QFETCH(int, sentCount);
    ScriptedFolderBrowser backend;
    ShellBrowse browser(backend);
    browser.InitialPath = initialPath.toStdString();
    browser.InitialFolder = initialFolder;
    browser.BrowseForFolder();
    QCOMPARE(int(backend.sent.size()), sentCount);
    if (sentCount == 0)
        return;
    QCOMPARE(backend.sent[0].message, kBffmSetSelection);
    QTEST(int(backend.sent[0].wParam), "wParam");
    QTEST(describe(backend.sent[0].lParam), "selection");
}

void ShellBrowseTest::selectionChangeShowsPath()
{
    ScriptedFolderBrowser backend;
    backend.walk = {ShellItem{"/data", "data"}, ShellItem{"", "Network"}};
    ShellBrowse browser(backend);
    browser.InitialFolder = 99; // no initial selection: only the status texts are sent
    browser.BrowseForFolder();
    QCOMPARE(backend.sent.size(), 2u);
    for (const auto& sent : backend.sent)
        QCOMPARE(sent.message, kBffmSetStatusText);
    QCOMPARE(describe(backend.sent[0].lParam), QStringLiteral("text:/data"));
    QCOMPARE(describe(backend.sent[1].lParam), QStringLiteral("text:"));
}

void ShellBrowseTest::errorsNameTheirSource()
{
    FailingBrowser backend;
    ShellBrowse browser(backend);
    try {
        browser.BrowseForFolder();
        QFAIL("no error raised");
    } catch (const ChooserError& e) {
        QCOMPARE(e.number(), kErrPermission);
        QCOMPARE(e.description(), std::string("Permission denied"));
        QCOMPARE(e.source(), std::string("ShellBrowse.BrowseForFolder"));
    }
    browser.InitialPath = "/data";
    try {
        browser.Callback(1, kBffmInitialized, 0, std::monostate{});
        QFAIL("no error raised");
    } catch (const ChooserError& e) {
        QCOMPARE(e.number(), kErrIndexRange);
        QCOMPARE(e.source(), std::string("ShellBrowse.Callback"));
    }
}

void ShellBrowseTest::callbackReachesTheBrowsingObject()
{
    ScriptedFolderBrowser backend;
    ShellBrowse older(backend);
    older.InitialPath = "/older";
    {
        ShellBrowse newer(backend);
        newer.InitialPath = "/newer";
    }
    older.BrowseForFolder();
    QCOMPARE(backend.sent.size(), 1u);
    QCOMPARE(describe(backend.sent[0].lParam), QStringLiteral("text:/older"));
}

void ShellBrowseTest::callbackWithoutBrowserDoesNothing()
{
    ScriptedFolderBrowser backend;
    {
        ShellBrowse gone(backend);
        gone.InitialPath = "/gone";
    }
    QCOMPARE(browseCallbackProc(ScriptedFolderBrowser::kBrowserHandle, kBffmInitialized, 0, std::monostate{}),
             0);
    QVERIFY(backend.sent.empty());
}

void ShellBrowseTest::qtSpecialFolders()
{
    QtFolderBrowserBackend backend;
    const auto drives = backend.specialFolder(0, kCsidlDrives);
    QVERIFY(drives);
    QCOMPARE(QString::fromStdString(drives->path), QDir::toNativeSeparators(QDir::rootPath()));
    const auto desktop = backend.specialFolder(0, kCsidlDesktop);
    QVERIFY(desktop && QFileInfo(QString::fromStdString(desktop->path)).isDir());
    QVERIFY(!backend.specialFolder(0, 5));
    QVERIFY(!backend.pathFromItem(ShellItem{"", "Computer"}));
}

void ShellBrowseTest::qtBrowserOpensAtInitialPath()
{
    const auto dir = makeTempDir();
    std::filesystem::create_directory(dir / "out");
    const QString out = QString::fromStdString((dir / "out").string());
    QtFolderBrowserBackend backend;
    ShellBrowse browser(backend);
    browser.Caption = "Select Folder where result of recover will be saved...";
    browser.FileSystemDirsOnly = true;
    browser.InitialPath = out.toStdString();
    QString title;
    QString openedAt;
    whenDialogShows([&](QFileDialog& shown) {
        title = shown.windowTitle();
        openedAt = shown.directory().absolutePath();
        typeNameAndConfirm(shown, QString());
    });
    const int code = browser.BrowseForFolder();
    removeTree(dir);
    QCOMPARE(title, QString::fromStdString(browser.Caption));
    QCOMPARE(openedAt, out);
    QCOMPARE(code, 0);
    QCOMPARE(QString::fromStdString(browser.Result()), QDir::toNativeSeparators(out));
}

void ShellBrowseTest::qtBrowserCancelled()
{
    QtFolderBrowserBackend backend;
    ShellBrowse browser(backend);
    whenDialogShows([](QFileDialog& shown) { shown.reject(); });
    QCOMPARE(browser.BrowseForFolder(), kBrowseNoChoice);
    QVERIFY(browser.Result().empty());
}

QTEST_MAIN(ShellBrowseTest)
#include "shell_browse_qtest.moc"
