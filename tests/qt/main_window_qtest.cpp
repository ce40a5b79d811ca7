#include <filesystem>
#include <fstream>
#include <memory>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "qt_support.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"

using namespace tabrescue;
using namespace tabrescue::test;
namespace fs = std::filesystem;

namespace {

// Stands in for the desktop's handler of file URLs, so F1 opens nothing for real.
class UrlCatcher : public QObject
{
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { opened << url; }

  public:
    QList<QUrl> opened;
};

const QColor kLogColour(255, 255, 240);
const QColor kRunColour(0, 255, 240);
const char* const kRestoreAll = "Restore/Fix All Records and Objects";

// name, class, caption; place at the first size and after growing by 100 x 100 (twips / 15).
const std::tuple<const char*, const char*, const char*, QRect, QRect> kControls[] = {
    {"txtInFilePath", "QLineEdit", "", {2, 24, 679, 23}, {2, 24, 779, 23}},
    {"cmdSelectInTab", "QPushButton", "", {652, 2, 29, 23}, {752, 2, 29, 23}},
    {"txtOutFolder", "QLineEdit", "", {2, 72, 679, 23}, {2, 72, 779, 23}},
    {"Command1", "QPushButton", "", {652, 50, 29, 23}, {752, 50, 29, 23}},
    {"chkRestoreAll", "QCheckBox", kRestoreAll, {6, 100, 249, 19}, {6, 100, 249, 19}},
    {"cmdRecover", "QPushButton", "Recover...", {610, 96, 71, 29}, {710, 96, 71, 29}},
    {"txtLog", "QPlainTextEdit", "", {2, 126, 679, 313}, {2, 126, 779, 413}},
    {"Label1", "QLabel", "   Input Table to Recover", {0, 2, 679, 23}, {0, 2, 779, 23}},
    {"Label2", "QLabel", "   Output Folder for Recovered Tables...", {0, 50, 679, 23}, {0, 50, 779, 23}},
};

const char* const kOld = "/old/roads.TAB";
const char* const kTooSmall =
    "Filename buffer is too small for the selected files.\r\n(error 20476 in CommonDlg.ShowOpen)";
const char* const kNoInput = "Input TAB file was not selected.";
const ScriptedFileOpen::Answer kRivers{"/maps/rivers.TAB", "rivers.TAB", 6, 13};
// name, text in the box, the dialog's answer or failure; text in the box afterwards, message shown.
const std::tuple<const char*, const char*, std::optional<ScriptedFileOpen::Answer>, int, const char*,
                 const char*>
    kInputChoices[] = {
        {"cancel keeps the path", kOld, {}, 0, kOld, kNoInput},
        {"cancel on an empty box", "", {}, 0, "", kNoInput},
        {"choice replaces the path", kOld, kRivers, 0, "/maps/rivers.TAB", ""},
        {"buffer too small", kOld, {}, 0x3003, kOld, kTooSmall},
};

const char* const kNoFolder = "Output Folder for result TAB files was not selected.";
const char* const kWrongFolder = "Wrong Output Folder for result TAB files was selected.";
const char* const kSelectOld = "1126 1 text:/old/out\n";
const char* const kSelectDrives = "1126 0 item:|Computer\n";
// name, text in the box, the browser's answer ("@": this test's folder); text in the box afterwards,
// message shown, initial selection sent to the browser.
const std::tuple<const char*, const char*, std::optional<ShellItem>, const char*, const char*, const char*>
    kFolderChoices[] = {
        {"cancel keeps the folder", "/old/out", {}, "/old/out", kNoFolder, kSelectOld},
        {"existing folder", "", ShellItem{"@", "out"}, "@", "", kSelectDrives},
        {"virtual item", "/old/out", ShellItem{"", "Computer"}, "<Computer>", kWrongFolder, kSelectOld},
        {"missing folder", "", ShellItem{"@/gone", "gone"}, "@/gone", kWrongFolder, kSelectDrives},
};

// name, README.TXT present, control with the focus, keys held with F1.
const std::tuple<const char*, bool, const char*, Qt::KeyboardModifiers> kHelpKeys[] = {
    {"in the path box", true, "txtInFilePath", Qt::NoModifier},
    {"in the log with Shift", true, "txtLog", Qt::ShiftModifier},
    {"on Recover with Ctrl+Alt", true, "cmdRecover", Qt::ControlModifier | Qt::AltModifier},
    {"no help file", false, "txtInFilePath", Qt::NoModifier},
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    template <typename T = QWidget> T* control(const char* name) const
    {
        return m_form->findChild<T*>(QString::fromLatin1(name));
    }
    QString own(QString path) const { return path.replace(u'@', QString::fromStdString(m_dir.string())); }
    QStringList logLines() const { return control<QPlainTextEdit>("txtLog")->toPlainText().split(u'\n'); }
    void prepareRun(const char* statusBytes)
    {
        fs::create_directory(m_dir / "out");
        control<QLineEdit>("txtInFilePath")
            ->setText(QString::fromStdString(writeSimpleTable(m_dir, "roads", statusBytes).tabPath));
        control<QLineEdit>("txtOutFolder")->setText(own("@/out"));
    }

    fs::path m_tmp; // TMPDIR of the runs
    fs::path m_dir; // this test's files
    std::unique_ptr<Form1> m_form;
    ScriptedFileOpen m_files;
    ScriptedFolderBrowser m_folders;
    QStringList m_messages;

  private slots:
    void initTestCase()
    {
        m_tmp = makeTempDir(); // the runs' working copies stay in this test's folders
        qputenv("TMPDIR", QByteArray::fromStdString(m_tmp.string()));
    }
    void cleanupTestCase() { removeTree(m_tmp); }
    void init()
    {
        m_dir = makeTempDir();
        m_files = {};
        m_folders = {};
        m_messages.clear();
        m_form = std::make_unique<Form1>();
        m_form->setDialogBackends(m_files, m_folders);
        m_form->setMessageSink([this](const QString& text) { m_messages << text; });
        m_form->setProgramFolder(QString::fromStdString(m_dir.string()));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanup()
    {
        m_form.reset();
        removeTree(m_dir);
    }

    void controls_data() { tableRows(kControls); }
    void controls()
    {
        QFETCH(int, row);
        const auto& [name, kind, caption, first, resized] = kControls[row];
        QWidget* widget = control(name);
        QVERIFY(widget);
        QCOMPARE(widget->metaObject()->className(), kind);
        QCOMPARE(widget->property("text").toString() + widget->property("plainText").toString(),
                 QString(caption));
        QCOMPARE(m_form->size(), QSize(684, 442));
        QCOMPARE(widget->geometry(), first);
        m_form->resize(784, 542);
        QCOMPARE(widget->geometry(), resized);
    }

    void tabOrderAndLook()
    {
        QApplication::setActiveWindow(m_form.get());
        control("txtInFilePath")->setFocus();
        QStringList visited;
        for (int i = 0; i < 8; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(visited, (QStringList{"txtInFilePath", "cmdSelectInTab", "txtOutFolder", "Command1",
                                       "chkRestoreAll", "cmdRecover", "txtLog", "txtInFilePath"}));

        QCOMPARE(control("txtLog")->palette().color(QPalette::Base), kLogColour);
        for (const char* box : {"txtInFilePath", "txtOutFolder"})
            QCOMPARE(control(box)->palette().color(QPalette::Base),
                     qApp->palette().color(QPalette::ToolTipBase));
    }

    void inputChooser_data() { tableRows(kInputChoices); }
    void inputChooser()
    {
        QFETCH(int, row);
        const auto& [name, before, answer, failure, after, message] = kInputChoices[row];
        m_files.answer = answer;
        m_files.error = failure;
        control<QLineEdit>("txtInFilePath")->setText(before);
        QTest::mouseClick(control("cmdSelectInTab"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>("txtInFilePath")->text(), QString(after));
        QCOMPARE(m_messages.join(u'|'), QString(message));
        QCOMPARE(m_files.requests.size(), 1u);
        const OpenFileName& ofn = m_files.requests[0];
        QCOMPARE(ofn.file, before + std::string(4096 - std::strlen(before), '\0'));
        QCOMPARE(ofn.title + '|' + ofn.defaultExt, std::string("Select input TAB file|TAB"));
        QCOMPARE(ofn.filter, std::string("MapInfo TAB-file\0*.TAB\0All files\0*.*\0", 37));
        QCOMPARE(ofn.flags, 0x81004u);
        QCOMPARE(ofn.owner, static_cast<std::uintptr_t>(m_form->winId()));
    }

    void folderChooser_data() { tableRows(kFolderChoices); }
    void folderChooser()
    {
        QFETCH(int, row);
        const auto& [name, before, answer, after, message, selection] = kFolderChoices[row];
        m_folders.answer = answer;
        if (answer)
            m_folders.answer->path = own(QString::fromStdString(answer->path)).toStdString();
        control<QLineEdit>("txtOutFolder")->setText(before);
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>("txtOutFolder")->text(), own(after));
        QCOMPARE(m_messages.join(u'|'), QString(message));
        const BrowseInfo& info = m_folders.browsed.at(0);
        QCOMPARE(info.flags, 0x51u);
        QCOMPARE(info.title, std::string("Select Folder where result of recover will be saved..."));
        QCOMPARE(info.owner, static_cast<std::uintptr_t>(m_form->winId()));
        QCOMPARE(m_folders.sent, std::string(selection));
    }

    void helpKey_data() { tableRows(kHelpKeys); }
    void helpKey()
    {
        QFETCH(int, row);
        const auto& [name, helpFile, focus, modifiers] = kHelpKeys[row];
        const fs::path help = m_dir / "README.TXT";
        if (helpFile)
            std::ofstream(help) << "help";
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QTest::keyClick(control(focus), Qt::Key_F1, modifiers);
        QTest::keyClick(control(focus), Qt::Key_F2);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened, helpFile ? QList{QUrl::fromLocalFile(QString::fromStdString(help.string()))}
                                          : QList<QUrl>{});
    }

    void logPane()
    {
        auto* pane = control<QPlainTextEdit>("txtLog");
        m_form->ExportLog(std::string(32498, 'x'), 0); // 32500 characters with CR LF: the pane starts anew
        LogStr_to_TxtBox(&m_form->log(), "eighteen chars....", "");
        QCOMPARE(pane->toPlainText(), QStringLiteral("eighteen chars....\n"));
        QVERIFY(pane->textCursor().atEnd());

        QCOMPARE(Form1::withoutTimeZone("t h:mm:ss AP"), QStringLiteral("h:mm:ss AP"));
        QCOMPARE(Form1::withoutTimeZone("HH 'hrs at' mm t"), QStringLiteral("HH 'hrs at' mm"));
    }

    void wholeRun()
    {
        prepareRun(" * *");
        const QString input = control<QLineEdit>("txtInFilePath")->text();
        auto* pane = control<QPlainTextEdit>("txtLog");
        QPalette duringRun;
        QTimer::singleShot(0, [&] { duringRun = pane->palette(); });
        QTest::mouseClick(control("cmdRecover"), Qt::LeftButton);

        const QStringList lines = logLines();
        const QString date = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY(lines.first().startsWith(QStringLiteral("<<< ") + date + u' '));
        QVERIFY(lines.first().endsWith(input + QStringLiteral("*** ")));
        // The table's files carry upper-case extensions; the line names the .TAB as it lies on disk.
        QVERIFY2(lines.contains(QStringLiteral(" +!+ 2 deleteted Attributes were restored to file '") +
                                own("@/out/roads_DAT.TAB' +!+")),
                 qPrintable(lines.join(u'\n')));
        const QRegularExpression endsByOk("^\\*\\*\\* Ends by OK at " + QRegularExpression::escape(date) +
                                          " \\d+:\\d\\d:\\d\\d$");
        QCOMPARE(lines.filter(endsByOk).size(), 1);
        const qsizetype end = lines.indexOf(QRegularExpression(QStringLiteral(">>> .*")));
        QVERIFY(end > 0 && lines[end].endsWith(input + QStringLiteral("*** ")));
        QVERIFY(
            pane->toPlainText().endsWith(QStringLiteral("принудительной замены стиля оформления.\n\n\n\n")));

        QCOMPARE(duringRun.color(QPalette::Active, QPalette::Base), kRunColour);
        QCOMPARE(duringRun.color(QPalette::Inactive, QPalette::Base), kRunColour);
        QCOMPARE(pane->palette().color(QPalette::Base), kLogColour);
        QVERIFY(pane->textCursor().atEnd());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!m_form->isRunning());
    }

    void secondPressDuringRunIsIgnored()
    {
        prepareRun("*");
        bool pressedDuringRun = false;
        QTimer::singleShot(0, [&] {
            pressedDuringRun = m_form->isRunning();
            QTest::mouseClick(control("cmdRecover"), Qt::LeftButton);
        });
        QTest::mouseClick(control("cmdRecover"), Qt::LeftButton);
        QVERIFY(pressedDuringRun);
        QCOMPARE(logLines().filter(QRegularExpression(QStringLiteral("^(<<<|>>>) "))).size(), 2);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_qtest.moc"
