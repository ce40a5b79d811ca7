#include <QDesktopServices>
#include <QtTest>
#include <QtWidgets>

#include "app/main_window.h"
#include "base/recover_error.h"
#include "support/table_builders.h"

using namespace tabrescue;
using namespace std::literals;

// The platform's dialogs, scripted: they answer with `answer` (a file's path and title, or a folder)
// or fail with `error`; the folder browser writes down what it was asked, and whether the window owned it.
struct ScriptedDialogs : FileOpenBackend, FolderBrowserBackend
{
    bool getOpenFileName(OpenFileName& ofn) override
    {
        if (answer)
            std::tie(ofn.file, ofn.fileTitle) = std::pair(answer->path, answer->displayName);
        return answer.has_value();
    }
    std::uint32_t extendedError() override { return error; }
    std::optional<ShellItem> specialFolder(std::uintptr_t, std::int32_t folder) override
    {
        return ShellItem{"", folder == kCsidlDrives ? "PC" : "Desktop"};
    }
    std::optional<ShellItem> browseForFolder(BrowseInfo& info) override
    {
        if (error)
            throw RecoverError(static_cast<int>(error), "Denied");
        asked = info.title + '|' + std::to_string(info.flags) + (info.owner == owner ? "|window" : "|other");
        info.callback(1, kBffmInitialized, 0, {});
        info.displayName = answer ? answer->displayName : "";
        return answer;
    }
    std::optional<std::string> pathFromItem(const ShellItem& item) override
    {
        return item.path.empty() ? std::nullopt : std::optional(item.path);
    }
    void sendMessage(std::uintptr_t, std::uint32_t message, std::intptr_t wParam,
                     const BrowserParam& p) override
    {
        const auto* item = std::get_if<ShellItem>(&p);
        asked += '|' + std::to_string(message) + ' ' + std::to_string(wParam) + ' ' +
                 (item ? '<' + item->displayName + '>' : std::get<std::string>(p));
    }

    std::optional<ShellItem> answer;
    std::uint32_t error = 0;
    std::uintptr_t owner = 0;
    std::string asked;
};

// One data row "row" per entry of a table whose entries start with the row's name.
template <typename Row, std::size_t N> void tableRows(const Row (&table)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(std::get<0>(table[i])) << static_cast<int>(i);
}

// clang-format off
// In tab order: name, class, caption.
const char* const kControls[][3] = {
    {"txtInFilePath", "QLineEdit", ""}, {"cmdSelectInTab", "QPushButton", ""}, {"txtOutFolder", "QLineEdit", ""},
    {"Command1", "QPushButton", ""}, {"chkRestoreAll", "QCheckBox", "Restore/Fix All Records and Objects"},
    {"cmdRecover", "QPushButton", "Recover..."}, {"txtLog", "QPlainTextEdit", ""},
    {"Label1", "QLabel", "   Input Table to Recover"}, {"Label2", "QLabel", "   Output Folder for Recovered Tables..."}};

const char* const kOk = "*** Ends by OK at T";
const char* const kError = "*** ends by ERROR at T";
const char* const kWrongFolder = "Wrong Output Folder for result TAB files was selected.";
// name, status bytes, option, output folder ("@": this test's folder); rows the pane reports restored
// (-1: no such line), verdict (none: the output folder is wrong).
const std::tuple<const char*, const char*, Qt::CheckState, const char*, int, const char*> kRuns[] = {
    {"deleted rows", " * *", Qt::Unchecked, "@/out", 2, kOk},
    {"trailing separator", "*", Qt::Unchecked, "@/out/", 1, kOk},
    {"nothing deleted", "  ", Qt::Unchecked, "@/out", -1, kError},
    {"greyed option counts as off", "  ", Qt::PartiallyChecked, "@/out", -1, kError},
    {"option on", "  ", Qt::Checked, "@/out", 0, kOk},
    {"missing output folder", "*", Qt::Unchecked, "@/gone", -1, nullptr}};

const char* const kNoFile = "Input TAB file was not selected.";
// name, file chooser (or folder chooser), text in its box, the dialog's answer ("@": this test's
// folder) or error; text in the box afterwards, message shown.
const std::tuple<const char*, bool, const char*, std::optional<ShellItem>, int, const char*, const char*> kChoices[] = {
    {"file cancelled", true, "/old.TAB", {}, 0, "/old.TAB", kNoFile},
    {"file cancelled, empty box", true, "", {}, 0, "", kNoFile},
    {"file chosen", true, "/old.TAB", ShellItem{"/maps/a.TAB", "a.TAB"}, 0, "/maps/a.TAB", ""},
    {"file name too long", true, "/old.TAB", {}, 0x3003, "/old.TAB",
     "Filename buffer is too small for the selected files.\r\n(error 20476 in CommonDlg.ShowOpen)"},
    {"file dialog fails", true, "", {}, 0xFFFF, "", "Unexpected error.\r\n(error 65535 in CommonDlg.ShowOpen)"},
    {"folder cancelled", false, "/old", {}, 0, "/old", "Output Folder for result TAB files was not selected."},
    {"folder chosen", false, "", ShellItem{"@/out", "out"}, 0, "@/out", ""},
    {"virtual folder", false, "/old", ShellItem{"", "Net"}, 0, "<Net>", kWrongFolder},
    {"missing folder", false, "", ShellItem{"@/gone", "gone"}, 0, "@/gone", kWrongFolder},
    {"browser fails", false, "/old", {}, 70, "/old", "Denied\r\n(error 70 in ShellBrowse.BrowseForFolder)"}};

// name, README.TXT present, control with the focus, keys held with F1.
const std::tuple<const char*, bool, const char*, Qt::KeyboardModifiers> kHelpKeys[] = {
    {"in the path box", true, "txtInFilePath", Qt::NoModifier},
    {"on Recover with Ctrl+Alt", true, "cmdRecover", Qt::ControlModifier | Qt::AltModifier},
    {"no help file", false, "txtLog", Qt::ShiftModifier}};
// clang-format on

class MainWindowTest : public QObject
{
    Q_OBJECT

    template <typename T = QLineEdit> T* control(const char* name) const
    {
        return m_form->findChild<T*>(QString::fromLatin1(name));
    }
    QString own(QString path) const { return path.replace(u'@', QString::fromStdString(m_dir.string())); }
    QColor paneColour() const { return control<QWidget>("txtLog")->palette().color(QPalette::Base); }
    void click(const char* name) { QTest::mouseClick(control<QWidget>(name), Qt::LeftButton); }

    std::filesystem::path m_tmp, m_dir; // TMPDIR of the runs (their working copies), this test's files
    std::unique_ptr<Form1> m_form;
    ScriptedDialogs m_dialogs;
    QStringList m_messages;

  private slots:
    void initTestCase() { qputenv("TMPDIR", (m_tmp = test::makeTempDir()).c_str()); }
    void cleanupTestCase() { test::removeTree(m_tmp); }
    void init()
    {
        m_dir = test::makeTempDir();
        std::filesystem::create_directory(m_dir / "out");
        m_dialogs = {};
        m_messages.clear();
        m_form = std::make_unique<Form1>();
        m_form->setDialogBackends(m_dialogs, m_dialogs);
        m_form->setMessageSink([this](const QString& text) { m_messages << text; });
        m_form->setProgramFolder(QString::fromStdString(m_dir.string()));
        m_form->show();
        m_dialogs.owner = static_cast<std::uintptr_t>(m_form->winId());
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanup() { m_form.reset(), test::removeTree(m_dir); }

    void controlsInTabOrder()
    {
        QApplication::setActiveWindow(m_form.get());
        control("txtInFilePath")->setFocus();
        for (const auto& [name, kind, caption] : kControls) {
            QWidget* widget = control<QWidget>(name);
            QCOMPARE(widget->metaObject()->className(), kind);
            QCOMPARE(widget->property("text").toString() + widget->property("plainText").toString(), caption);
            if (widget->focusPolicy() & Qt::TabFocus) {
                QCOMPARE(QApplication::focusWidget(), widget);
                QTest::keyClick(widget, Qt::Key_Tab);
            }
        }
        QCOMPARE(QApplication::focusWidget(), control("txtInFilePath"));
    }

    void run_data() { tableRows(kRuns); }
    void run()
    {
        QFETCH(int, row);
        const auto& [name, statusBytes, option, out, restored, verdict] = kRuns[row];
        control("txtInFilePath")
            ->setText(QString::fromStdString(test::writeSimpleTable(m_dir, "roads", statusBytes).tabPath));
        control("txtOutFolder")->setText(own(out));
        control<QCheckBox>("chkRestoreAll")->setTristate(option == Qt::PartiallyChecked);
        control<QCheckBox>("chkRestoreAll")->setCheckState(option);
        m_form->ExportLog(std::string(32300, 'x'), 0); // an earlier run's text, long enough to go
        QColor duringRun;
        QTimer::singleShot(0, [&] { duringRun = paneColour(); });
        click("cmdRecover");

        // The pane's text with this test's folder as "@", without the date, its main lines' times as "T".
        const QString text =
            control<QPlainTextEdit>("txtLog")
                ->toPlainText()
                .replace(own("@"), "@")
                .replace(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat) + u' ', "");
        QStringList lines = text.split(u'\n').filter(QRegularExpression("^(<<<|>>>|\\*\\*\\*| \\+!\\+) "));
        const QString restoredLine =
            QString(" +!+ %1 deleteted Attributes were restored to file '@/out/roads_DAT.TAB' +!+|")
                .arg(restored);
        QCOMPARE(lines.replaceInStrings(QRegularExpression("\\d+:\\d\\d:\\d\\d"), "T").join(u'|'),
                 "<<< T@/roads.TAB*** |" + (restored >= 0 ? restoredLine : "") +
                     (verdict ? QString(verdict) + u'|' : "") + ">>> T@/roads.TAB*** ");
        QVERIFY(text.startsWith("<<< "));
        QVERIFY(text.endsWith(
            "\n  Они станут видны только после принудительной замены стиля оформления.\n\n\n\n"));
        QVERIFY(control<QPlainTextEdit>("txtLog")->textCursor().atEnd());
        QCOMPARE(m_messages, verdict ? QStringList()
                                     : QStringList{QString(kWrongFolder) +
                                                   "\r\nRecoverd files were in %TMP% folder, but "
                                                   "can't copy result to defined output Folder."});
        QCOMPARE(duringRun, QColor(0, 255, 240));
        QCOMPARE(paneColour(), QColor(255, 255, 240));
    }

    void chooser_data() { tableRows(kChoices); }
    void chooser()
    {
        QFETCH(int, row);
        const auto& [name, file, before, answer, error, after, message] = kChoices[row];
        const char* box = file ? "txtInFilePath" : "txtOutFolder";
        if ((m_dialogs.answer = answer))
            m_dialogs.answer->path = own(QString::fromStdString(answer->path)).toStdString();
        m_dialogs.error = error;
        control(box)->setText(before);
        click(file ? "cmdSelectInTab" : "Command1");
        QCOMPARE(control(box)->text(), own(after));
        QCOMPARE(m_messages.join(u'|'), message);
        if (!file && !error)
            QCOMPARE(m_dialogs.asked, "Select Folder where result of recover will be saved...|81|window|"s +
                                          (*before ? "1126 1 "s + before : "1126 0 <PC>"));
    }

    void helpKey_data() { tableRows(kHelpKeys); }
    void helpKey()
    {
        QFETCH(int, row);
        const auto& [name, helpFile, focus, modifiers] = kHelpKeys[row];
        const QString help = QString::fromStdString((m_dir / "README.TXT").string());
        if (helpFile)
            test::writeText(help.toStdString(), "help");
        QTextBrowser desktop; // stands in for the desktop's handler of files, so nothing opens for real
        QDesktopServices::setUrlHandler("file", &desktop, "setSource");
        QTest::keyClick(control<QWidget>(focus), Qt::Key_F1, modifiers);
        QTest::keyClick(control<QWidget>(focus), Qt::Key_F2);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(desktop.source(), helpFile ? QUrl::fromLocalFile(help) : QUrl());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_qtest.moc"
