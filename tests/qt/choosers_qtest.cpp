#include <QFileDialog>
#include <QLineEdit>
#include <QtTest>

#include "choosers/chooser_error.h"
#include "choosers/common_dlg.h"
#include "choosers/qt_dialogs.h"
#include "choosers/shell_browse.h"
#include "support/files.h"

using namespace tabrescue;
using namespace std::literals;

// Once Qt's dialog is shown: runs `look` on it, then enters `name` as a user would; no name cancels.
static void whenDialogShows(const char* name, std::function<void(QFileDialog&)> look = {})
{
    QTimer::singleShot(0, [=] {
        QFileDialog* dlg = nullptr;
        (void)QTest::qWaitFor([&] { return (dlg = qobject_cast<QFileDialog*>(qApp->activeModalWidget())); });
        if (look)
            look(*dlg);
        if (!name)
            return dlg->reject();
        auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit");
        edit->clear();
        QTest::keyClicks(edit, name);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

// "number description / source" of what dlg.ShowOpen() raised; "0" when it raised nothing.
static std::string raisedBy(CommonDlg& dlg)
{
    try {
        dlg.ShowOpen();
    } catch (const ChooserError& e) {
        return std::to_string(e.number()) + ' ' + e.description() + " / " + e.source();
    }
    return "0";
}

class ChoosersTest : public QObject
{
    Q_OBJECT

    std::filesystem::path m_dir;

  private slots:
    void init() { m_dir = test::makeTempDir(); }
    void cleanup() { test::removeTree(m_dir); }

    // A typed name comes back as the choice; then the failures, the dialog's and the chooser's own.
    void choosers()
    {
        for (const char* name : {"b.tab", "ab.TAB"})
            test::writeText(m_dir / name, "x");
        QtFileOpenBackend backend;
        CommonDlg dlg(backend);
        dlg.Filter = "  MapInfo TAB-file|*.TAB|All files|*.*  ";
        const int size = static_cast<int>(m_dir.string().size());
        dlg.FileNameBufferSize = size + 7; // "/b.tab" and its NUL
        dlg.InitDir = m_dir.string();
        whenDialogShows("b.tab");
        dlg.ShowOpen();
        QCOMPARE(dlg.FileName + '|' + dlg.FileTitle, m_dir.string() + "/b.tab|b.tab");
        QCOMPARE(dlg.FileList(), (std::vector<std::string>{m_dir.string(), "b.tab"}));
        QCOMPARE(std::pair(dlg.FileOffset(), dlg.FileExtOffset()), std::pair(size + 1, size + 3));

        CommonDlg small(backend); // a fresh chooser: "/ab.TAB" leaves no room for the NUL
        small.FileNameBufferSize = dlg.FileNameBufferSize;
        small.InitDir = dlg.InitDir;
        small.FileTitle = "kept";
        whenDialogShows("ab.TAB");
        QCOMPARE(raisedBy(small),
                 "20476 Filename buffer is too small for the selected files. / CommonDlg.ShowOpen"s);
        small.CancelError = true;
        whenDialogShows(nullptr);
        QCOMPARE(raisedBy(small), "32755 Cancel was selected. / CommonDlg.ShowOpen"s);
        small.FileName = std::string(static_cast<std::size_t>(small.FileNameBufferSize), 'x');
        QCOMPARE(raisedBy(small), "5 Invalid procedure call or argument / CommonDlg.ShowOpen"s);
        QCOMPARE(small.FileTitle, "kept"s);

        // The browser opens where the browser being shown says, never where a released one did.
        std::filesystem::create_directory(m_dir / "out");
        QtFolderBrowserBackend folders;
        QString seen;
        {
            ShellBrowse browser(folders);
            browser.Caption = "Choose";
            browser.InitialPath = (m_dir / "out").string();
            ShellBrowse(folders).InitialPath = m_dir.string();
            whenDialogShows(nullptr, [&](QFileDialog& shown) { seen = shown.windowTitle() + u'|' + shown.directory().path(); });
            QCOMPARE(std::pair(browser.BrowseForFolder(), browser.Result()), std::pair(kBrowseNoChoice, ""s));
            whenDialogShows("");
            QCOMPARE(std::pair(browser.BrowseForFolder(), browser.Result()), std::pair(0, (m_dir / "out").string()));
        }
        QCOMPARE(seen, "Choose|" + QString::fromStdString((m_dir / "out").string()));
        QCOMPARE(browseCallbackProc(1, kBffmInitialized, 0, {}), 0); // no browser left to answer
    }
};

QTEST_MAIN(ChoosersTest)
#include "choosers_qtest.moc"
