#include <filesystem>
#include <fstream>
#include <memory>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "app/main_window.h"
#include "scripted_dialogs.h"
#include "support/table_builders.h"
#include "support/temp_dir.h"

using namespace tabrescue;
using namespace tabrescue::test;
namespace fs = std::filesystem;

// Stands in for the desktop's handler of file URLs, so F1 opens nothing for real.
class UrlCatcher : public QObject
{
    Q_OBJECT

  public slots:
    void open(const QUrl& url) { opened << url; }

  public:
    QList<QUrl> opened;
};

class MainWindowTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void controlsAtFirstSize_data();
    void controlsAtFirstSize();
    void resizingGivesRoomToBoxesAndLog();
    void tabOrder();
    void look();

    void inputChooser_data();
    void inputChooser();
    void inputChooserRequest();
    void inputChooserError();
    void folderChooser_data();
    void folderChooser();
    void folderChooserRequest_data();
    void folderChooserRequest();

    void helpKey_data();
    void helpKey();

    void exportLogAppendsOrOnlyMovesCaret();
    void longLogIsReplacedInThePane();
    void colourFlipIsItsOwnInverse();
    void timeFormatWithoutZone_data();
    void timeFormatWithoutZone();
    void nowHasDateAndTime();

    void wholeRun();
    void secondPressDuringRunIsIgnored();
    void runWithMissingOutputFolder();
    void runWithMissingInput();

  private:
    template <typename T> T* control(const char* name) const
    {
        auto* widget = m_form->findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QStringList logLines() const;
    void clickRecover();

    fs::path m_tmp; // TMPDIR of the runs
    fs::path m_dir; // this test's files
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<ScriptedFileOpen> m_files;
    std::unique_ptr<ScriptedFolderBrowser> m_folders;
    QStringList m_messages;
};

void MainWindowTest::initTestCase()
{
    // Working copies of the runs go to a folder of this test, not the machine's temporary folder.
    m_tmp = makeTempDir();
    qputenv("TMPDIR", QByteArray::fromStdString(m_tmp.string()));
}

void MainWindowTest::cleanupTestCase()
{
    removeTree(m_tmp);
}

void MainWindowTest::init()
{
    m_dir = makeTempDir();
    m_files = std::make_unique<ScriptedFileOpen>();
    m_folders = std::make_unique<ScriptedFolderBrowser>();
    m_messages.clear();
    m_form = std::make_unique<Form1>();
    m_form->setDialogBackends(*m_files, *m_folders);
    m_form->setMessageSink([this](const QString& text) { m_messages << text; });
    m_form->setProgramFolder(QString::fromStdString(m_dir.string()));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void MainWindowTest::cleanup()
{
    m_form.reset();
    removeTree(m_dir);
}

QStringList MainWindowTest::logLines() const
{
    QStringList lines = control<QPlainTextEdit>("txtLog")->toPlainText().split(u'\n');
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

void MainWindowTest::clickRecover()
{
    QTest::mouseClick(control<QPushButton>("cmdRecover"), Qt::LeftButton);
}

void MainWindowTest::controlsAtFirstSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("place");
    // Twips of the drawn window at 15 per pixel.
    QTest::newRow("txtInFilePath") << "txtInFilePath"
                                   << "QLineEdit"
                                   << "" << QRect(2, 24, 679, 23);
    QTest::newRow("cmdSelectInTab") << "cmdSelectInTab"
                                    << "QPushButton"
                                    << "" << QRect(652, 2, 29, 23);
    QTest::newRow("txtOutFolder") << "txtOutFolder"
                                  << "QLineEdit"
                                  << "" << QRect(2, 72, 679, 23);
    QTest::newRow("Command1") << "Command1"
                              << "QPushButton"
                              << "" << QRect(652, 50, 29, 23);
    QTest::newRow("chkRestoreAll") << "chkRestoreAll"
                                   << "QCheckBox"
                                   << "Restore/Fix All Records and Objects" << QRect(6, 100, 249, 19);
    QTest::newRow("cmdRecover") << "cmdRecover"
                                << "QPushButton"
                                << "Recover..." << QRect(610, 96, 71, 29);
    QTest::newRow("txtLog") << "txtLog"
                            << "QPlainTextEdit"
                            << "" << QRect(2, 126, 679, 313);
    QTest::newRow("Label1") << "Label1"
                            << "QLabel"
                            << "   Input Table to Recover" << QRect(0, 2, 679, 23);
    QTest::newRow("Label2") << "Label2"
                            << "QLabel"
                            << "   Output Folder for Recovered Tables..." << QRect(0, 50, 679, 23);
}

void MainWindowTest::controlsAtFirstSize()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QCOMPARE(m_form->size(), QSize(684, 442));
    auto* widget = m_form->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QTEST(widget->geometry(), "place");
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), caption);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), caption);
    else
        QVERIFY(widget->property("plainText").toString().isEmpty() &&
                widget->property("text").toString().isEmpty());
}

void MainWindowTest::resizingGivesRoomToBoxesAndLog()
{
    m_form->resize(784, 542);
    QCOMPARE(control<QLineEdit>("txtInFilePath")->geometry(), QRect(2, 24, 779, 23));
    QCOMPARE(control<QLineEdit>("txtOutFolder")->geometry(), QRect(2, 72, 779, 23));
    QCOMPARE(control<QLabel>("Label1")->geometry(), QRect(0, 2, 779, 23));
    QCOMPARE(control<QPushButton>("cmdSelectInTab")->geometry(), QRect(752, 2, 29, 23));
    QCOMPARE(control<QPushButton>("Command1")->geometry(), QRect(752, 50, 29, 23));
    QCOMPARE(control<QPushButton>("cmdRecover")->geometry(), QRect(710, 96, 71, 29));
    QCOMPARE(control<QCheckBox>("chkRestoreAll")->geometry(), QRect(6, 100, 249, 19));
    QCOMPARE(control<QPlainTextEdit>("txtLog")->geometry(), QRect(2, 126, 779, 413));
}

void MainWindowTest::tabOrder()
{
    QApplication::setActiveWindow(m_form.get());
    control<QLineEdit>("txtInFilePath")->setFocus();
    QStringList visited;
    for (int i = 0; i < 8; ++i) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        visited << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(visited, (QStringList{"txtInFilePath", "cmdSelectInTab", "txtOutFolder", "Command1",
                                   "chkRestoreAll", "cmdRecover", "txtLog", "txtInFilePath"}));
}

void MainWindowTest::look()
{
    QCOMPARE(control<QPlainTextEdit>("txtLog")->palette().color(QPalette::Base), QColor(255, 255, 240));
    for (const char* box : {"txtInFilePath", "txtOutFolder"})
        QCOMPARE(control<QLineEdit>(box)->palette().color(QPalette::Base),
                 QApplication::palette().color(QPalette::ToolTipBase));
    QCOMPARE(
        control<QCheckBox>("chkRestoreAll")->toolTip(),
        QStringLiteral("При установленном флаге, восстанавливаются все записи, не зависимо от того есть ли "
                       "удаленные записи или нет."));
    for (const char* name : {"txtInFilePath", "txtOutFolder", "chkRestoreAll", "Label1", "Label2"}) {
        const QFont font = control<QWidget>(name)->font();
        QCOMPARE(font.pointSize(), 9);
        QVERIFY2(font.families().contains(QStringLiteral("Tahoma")), name);
    }
    QVERIFY(control<QLabel>("Label1")->autoFillBackground());
    QVERIFY(!control<QPushButton>("cmdSelectInTab")->icon().isNull());
    QVERIFY(!control<QPushButton>("Command1")->icon().isNull());
    QCOMPARE(Form1::shortTitle(), QStringLiteral("tabrescue"));
}

void MainWindowTest::inputChooser_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("userChooses");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("cancel keeps the path")
        << "/old/roads.TAB" << false << "/old/roads.TAB" << QStringList{"Input TAB file was not selected."};
    QTest::newRow("cancel on an empty box")
        << "" << false << "" << QStringList{"Input TAB file was not selected."};
    QTest::newRow("choice replaces the path")
        << "/old/roads.TAB" << true << "/data/maps/rivers.TAB" << QStringList{};
}

void MainWindowTest::inputChooser()
{
    QFETCH(QString, before);
    QFETCH(bool, userChooses);
    if (userChooses)
        m_files->choose("/data/maps", {"rivers.TAB"});
    auto* box = control<QLineEdit>("txtInFilePath");
    box->setText(before);
    QTest::mouseClick(control<QPushButton>("cmdSelectInTab"), Qt::LeftButton);
    QTEST(box->text(), "after");
    QTEST(m_messages, "messages");
    QCOMPARE(m_files->requests.size(), 1u);
    QCOMPARE(QString::fromStdString(upToNul(m_files->requests[0].file)), before);
}

void MainWindowTest::inputChooserRequest()
{
    QTest::mouseClick(control<QPushButton>("cmdSelectInTab"), Qt::LeftButton);
    const OpenFileName& ofn = m_files->requests.at(0);
    QCOMPARE(ofn.title, std::string("Select input TAB file"));
    QCOMPARE(ofn.defaultExt, std::string("TAB"));
    QCOMPARE(ofn.file.size(), 4096u);
    QCOMPARE(ofn.filter, std::string("MapInfo TAB-file\0*.TAB\0All files\0*.*\0", 37));
    QCOMPARE(ofn.flags, 0x81004u);
    QCOMPARE(ofn.owner, static_cast<std::uintptr_t>(m_form->winId()));
}

void MainWindowTest::inputChooserError()
{
    m_files->fail(kDlgBufferTooSmall);
    control<QLineEdit>("txtInFilePath")->setText("/old/roads.TAB");
    QTest::mouseClick(control<QPushButton>("cmdSelectInTab"), Qt::LeftButton);
    QCOMPARE(control<QLineEdit>("txtInFilePath")->text(), QStringLiteral("/old/roads.TAB"));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages[0].startsWith(QStringLiteral("Filename buffer is too small for the selected files.")));
    QVERIFY(m_messages[0].contains(QStringLiteral("20476")));
}

void MainWindowTest::folderChooser_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("answerPath"); // "-": the user cancels
    QTest::addColumn<QString>("answerName");
    QTest::addColumn<QString>("after"); // "@": the test's own folder
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("cancel keeps the folder")
        << "/old/out"
        << "-"
        << ""
        << "/old/out" << QStringList{"Output Folder for result TAB files was not selected."};
    QTest::newRow("existing folder") << ""
                                     << "@"
                                     << "out"
                                     << "@" << QStringList{};
    QTest::newRow("virtual item") << "/old/out"
                                  << ""
                                  << "Computer"
                                  << "<Computer>"
                                  << QStringList{"Wrong Output Folder for result TAB files was selected."};
    QTest::newRow("missing folder") << ""
                                    << "@/gone"
                                    << "gone"
                                    << "@/gone"
                                    << QStringList{"Wrong Output Folder for result TAB files was selected."};
}

void MainWindowTest::folderChooser()
{
    QFETCH(QString, before);
    QFETCH(QString, answerPath);
    QFETCH(QString, answerName);
    QFETCH(QString, after);
    const QString own = QString::fromStdString(m_dir.string());
    answerPath.replace(u'@', own);
    after.replace(u'@', own);
    if (answerPath != u"-")
        m_folders->answer = ShellItem{answerPath.toStdString(), answerName.toStdString()};
    auto* box = control<QLineEdit>("txtOutFolder");
    box->setText(before);
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE(box->text(), after);
    QTEST(m_messages, "messages");
}

void MainWindowTest::folderChooserRequest_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("wParam");
    QTest::addColumn<QString>("selection");
    QTest::newRow("empty box opens at the drives") << "" << 0 << "item:Computer";
    QTest::newRow("path in the box is selected") << "/data/out" << 1 << "text:/data/out";
}

void MainWindowTest::folderChooserRequest()
{
    QFETCH(QString, before);
    control<QLineEdit>("txtOutFolder")->setText(before);
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    const BrowseInfo& info = m_folders->browsed.at(0);
    QCOMPARE(info.flags, 0x51u);
    QCOMPARE(info.title, std::string("Select Folder where result of recover will be saved..."));
    QCOMPARE(info.owner, static_cast<std::uintptr_t>(m_form->winId()));
    QCOMPARE(m_folders->sent.size(), 1u);
    const auto& sent = m_folders->sent[0];
    QCOMPARE(sent.message, kBffmSetSelection);
    QTEST(int(sent.wParam), "wParam");
    QString selection;
    if (const auto* text = std::get_if<std::string>(&sent.lParam))
        selection = QStringLiteral("text:") + QString::fromStdString(*text);
    else if (const auto* item = std::get_if<ShellItem>(&sent.lParam))
        selection = QStringLiteral("item:") + QString::fromStdString(item->displayName);
    QTEST(selection, "selection");
}

void MainWindowTest::helpKey_data()
{
    QTest::addColumn<bool>("helpFile");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("opened");
    QTest::newRow("in the path box") << true << "txtInFilePath" << int(Qt::NoModifier) << 1;
    QTest::newRow("in the log with Shift") << true << "txtLog" << int(Qt::ShiftModifier) << 1;
    QTest::newRow("on Recover with Ctrl+Alt")
        << true << "cmdRecover" << int(Qt::ControlModifier | Qt::AltModifier) << 1;
    QTest::newRow("no help file") << false << "txtInFilePath" << int(Qt::NoModifier) << 0;
}

void MainWindowTest::helpKey()
{
    QFETCH(bool, helpFile);
    QFETCH(QString, focus);
    QFETCH(int, modifiers);
    const fs::path help = m_dir / "README.TXT";
    if (helpFile)
        std::ofstream(help) << "help";
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    QTest::keyClick(m_form->findChild<QWidget*>(focus), Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    QTest::keyClick(m_form->findChild<QWidget*>(focus), Qt::Key_F2);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QTEST(int(catcher.opened.size()), "opened");
    if (helpFile)
        QCOMPARE(catcher.opened[0], QUrl::fromLocalFile(QString::fromStdString(help.string())));
}

void MainWindowTest::exportLogAppendsOrOnlyMovesCaret()
{
    auto* pane = control<QPlainTextEdit>("txtLog");
    m_form->ExportLog("first", 0);
    m_form->ExportLog("второй", 0);
    QCOMPARE(pane->toPlainText(), QStringLiteral("first\nвторой\n"));
    QCOMPARE(m_form->log().text(), std::string("first\r\nвторой\r\n"));
    QVERIFY(pane->textCursor().atEnd());

    QTextCursor start = pane->textCursor();
    start.movePosition(QTextCursor::Start);
    pane->setTextCursor(start);
    m_form->ExportLog("never shown", 1);
    QCOMPARE(pane->toPlainText(), QStringLiteral("first\nвторой\n"));
    QVERIFY(pane->textCursor().atEnd());
}

void MainWindowTest::longLogIsReplacedInThePane()
{
    auto* pane = control<QPlainTextEdit>("txtLog");
    m_form->ExportLog(std::string(32498, 'x'), 0); // 32500 characters with its CR LF
    LogStr_to_TxtBox(&m_form->log(), "eighteen chars....", "");
    QCOMPARE(pane->toPlainText(), QStringLiteral("eighteen chars....\n"));
    QVERIFY(pane->textCursor().atEnd());
}

void MainWindowTest::colourFlipIsItsOwnInverse()
{
    auto* pane = control<QPlainTextEdit>("txtLog");
    m_form->flipLogColour();
    QCOMPARE(pane->palette().color(QPalette::Base), QColor(0, 255, 240));
    QCOMPARE(pane->palette().color(QPalette::Inactive, QPalette::Base), QColor(0, 255, 240));
    m_form->flipLogColour();
    QCOMPARE(pane->palette().color(QPalette::Base), QColor(255, 255, 240));
}

void MainWindowTest::timeFormatWithoutZone_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zone at the end") << "HH:mm:ss t"
                                     << "HH:mm:ss";
    QTest::newRow("12-hour clock") << "h:mm:ss AP t"
                                   << "h:mm:ss AP";
    QTest::newRow("zone in front") << "t HH:mm:ss"
                                   << "HH:mm:ss";
    QTest::newRow("quoted t kept") << "HH 'hrs at' mm t"
                                   << "HH 'hrs at' mm";
    QTest::newRow("no zone") << "HH:mm:ss"
                             << "HH:mm:ss";
}

void MainWindowTest::timeFormatWithoutZone()
{
    QFETCH(QString, format);
    QTEST(Form1::withoutTimeZone(format), "expected");
}

void MainWindowTest::nowHasDateAndTime()
{
    const QString now = QString::fromStdString(m_form->now());
    const QLocale locale;
    const QString date = locale.toString(QDate::currentDate(), QLocale::ShortFormat);
    QVERIFY2(now.startsWith(date + u' '), qPrintable(now));
    QVERIFY2(QRegularExpression(QStringLiteral("\\d:\\d\\d:\\d\\d")).match(now).hasMatch(), qPrintable(now));
}

void MainWindowTest::wholeRun()
{
    const SimpleTable table = writeSimpleTable(m_dir, "roads", " * *");
    fs::create_directory(m_dir / "out");
    const QString input = QString::fromStdString(table.tabPath);
    control<QLineEdit>("txtInFilePath")->setText(input);
    control<QLineEdit>("txtOutFolder")->setText(QString::fromStdString((m_dir / "out").string()));
    auto* pane = control<QPlainTextEdit>("txtLog");
    QColor colourDuringRun;
    QTimer::singleShot(0, [&] { colourDuringRun = pane->palette().color(QPalette::Base); });

    clickRecover();

    const QStringList lines = logLines();
    QVERIFY2(lines.size() >= 5, qPrintable(lines.join(u'\n')));
    QVERIFY(lines.first().startsWith(QStringLiteral("<<< ")));
    QVERIFY(lines.first().endsWith(input + QStringLiteral("*** ")));
    const QString restored = QStringLiteral(" +!+ 2 deleteted Attributes were restored to file '");
    const auto restoredLine =
        std::find_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(restored); });
    QVERIFY2(restoredLine != lines.end(), qPrintable(lines.join(u'\n')));
    // The table's files carry upper-case extensions; the line names the .TAB as it lies on disk.
    const QString moved = QString::fromStdString((m_dir / "out" / "roads_DAT.TAB").string());
    QCOMPARE(*restoredLine, restored + moved + QStringLiteral("' +!+"));
    QVERIFY(std::any_of(lines.begin(), lines.end(),
                        [](const QString& l) { return l.startsWith(QStringLiteral("*** Ends by OK at ")); }));
    const qsizetype end = lines.indexOf(QRegularExpression(QStringLiteral(">>> .*"))); // whole-line match
    QVERIFY(end > 0);
    QVERIFY(lines[end].endsWith(input + QStringLiteral("*** ")));
    QCOMPARE(lines.value(end + 1), QStringLiteral("!!! Важная информация:"));
    QVERIFY(pane->toPlainText().endsWith(QStringLiteral("принудительной замены стиля оформления.\n\n\n\n")));
    QVERIFY(fs::exists(m_dir / "out" / "roads_DAT.TAB") && fs::exists(m_dir / "out" / "roads_DAT.DAT"));

    QCOMPARE(colourDuringRun, QColor(0, 255, 240));
    QCOMPARE(pane->palette().color(QPalette::Base), QColor(255, 255, 240));
    QVERIFY(pane->textCursor().atEnd());
    QVERIFY(m_messages.isEmpty());
    QVERIFY(!m_form->isRunning());
}

void MainWindowTest::secondPressDuringRunIsIgnored()
{
    const SimpleTable table = writeSimpleTable(m_dir, "roads", "*");
    fs::create_directory(m_dir / "out");
    control<QLineEdit>("txtInFilePath")->setText(QString::fromStdString(table.tabPath));
    control<QLineEdit>("txtOutFolder")->setText(QString::fromStdString((m_dir / "out").string()));
    bool pressedDuringRun = false;
    QTimer::singleShot(0, [&] {
        pressedDuringRun = m_form->isRunning();
        clickRecover();
    });
    clickRecover();
    QVERIFY(pressedDuringRun);
    QCOMPARE(logLines().filter(QRegularExpression(QStringLiteral("^<<< "))).size(), 1);
    QCOMPARE(logLines().filter(QRegularExpression(QStringLiteral("^>>> "))).size(), 1);
}

void MainWindowTest::runWithMissingOutputFolder()
{
    const SimpleTable table = writeSimpleTable(m_dir, "roads", "*");
    control<QLineEdit>("txtInFilePath")->setText(QString::fromStdString(table.tabPath));
    control<QLineEdit>("txtOutFolder")->setText(QString::fromStdString((m_dir / "missing").string()));
    clickRecover();
    QCOMPARE(m_messages, QStringList{QStringLiteral(
                             "Wrong Output Folder for result TAB files was selected.\r\nRecoverd files were "
                             "in %TMP% folder, but can't copy result to defined output Folder.")});
    const QStringList lines = logLines();
    QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^(\\*\\*\\* | \\+!\\+ )"))).isEmpty());
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^>>> "))).size(), 1);
    QCOMPARE(control<QPlainTextEdit>("txtLog")->palette().color(QPalette::Base), QColor(255, 255, 240));
}

void MainWindowTest::runWithMissingInput()
{
    fs::create_directory(m_dir / "out");
    control<QLineEdit>("txtInFilePath")->setText(QString::fromStdString((m_dir / "nothing.TAB").string()));
    control<QLineEdit>("txtOutFolder")->setText(QString::fromStdString((m_dir / "out").string()));
    clickRecover();
    const QStringList lines = logLines();
    QVERIFY(lines.first().startsWith(QStringLiteral("<<< ")));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^\\*\\*\\* ends by ERROR at "))).size(), 1);
    QVERIFY(m_messages.isEmpty());
    QVERIFY(fs::is_empty(m_dir / "out"));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_qtest.moc"
