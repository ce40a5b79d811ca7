#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QWidget>

#include "choosers/dialog_backend.h"
#include "recovery/run.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tabrescue {

class ChooserError;
class CommonDlg;

// The program's one window: the input table and output folder with their choosers, the option,
// Recover, Undelete and the log pane txtLog. It is the runs' front end; the runs live in the core.
class Form1 : public QWidget, public RunFrontend
{
    Q_OBJECT

  public:
    using MessageSink = std::function<void(const QString& text)>;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Appends txtS as one line of txtLog and lets the window repaint (saveLog 0); any other
    // saveLog appends nothing. The caret moves to the end in every case.
    void ExportLog(std::string_view txtS, std::int16_t saveLog);

    RunLog& log() override { return m_log; }
    void showMessage(const std::string& text) override;
    void flipLogColour() override;
    void beep() override;
    std::string now() override;

    // The dialogs behind the choosers; the window keeps using them until told otherwise.
    void setDialogBackends(FileOpenBackend& files, FolderBrowserBackend& folders);
    // Where message boxes go; the default shows a modal box with one OK button.
    void setMessageSink(MessageSink sink);
    // The folder that holds README.TXT; the program's own folder unless told otherwise.
    void setProgramFolder(const QString& folder);
    bool isRunning() const { return m_running; }

    // Caption of every message box.
    static QString shortTitle();
    // Client size at first show, in pixels.
    static QSize designSize();
    // A time format without its time-zone part, as the log's times show.
    static QString withoutTimeZone(const QString& timeFormat);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    void placeControls();
    void chooseInputTable();
    void chooseOutputFolder();
    void recover();
    void undelete();
    // Runs one press of Recover or Undelete; a press while a run is under way is ignored.
    void runGuarded(const std::function<void(const RunInput&)>& run);
    void showHelp();
    void reportChooserError(const ChooserError& error);
    void mirrorLog(std::string_view added, bool replaced);
    void moveLogCaretToEnd();
    std::uintptr_t ownerHandle();

    QLineEdit* m_txtInFilePath = nullptr;
    QPushButton* m_cmdSelectInTab = nullptr;
    QLineEdit* m_txtOutFolder = nullptr;
    QPushButton* m_cmdSelectOutFolder = nullptr; // object name Command1
    QCheckBox* m_chkRestoreAll = nullptr;
    QPushButton* m_cmdRecover = nullptr;
    QPushButton* m_cmdUndelete = nullptr;
    QPlainTextEdit* m_txtLog = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;

    RunLog m_log;
    bool m_running = false;
    std::unique_ptr<CommonDlg> m_commonDlg; // made when first needed, released after each use
    std::unique_ptr<FileOpenBackend> m_qtFiles;
    std::unique_ptr<FolderBrowserBackend> m_qtFolders;
    FileOpenBackend* m_files = nullptr;
    FolderBrowserBackend* m_folders = nullptr;
    MessageSink m_messageSink;
    QString m_programFolder;
};

} // namespace tabrescue
