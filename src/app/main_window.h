#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QWidget>

#include "choosers/dialog_backend.h"
#include "form/main_form.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tabrescue {

// The program's one window on Linux: the input table and output folder with their choosers, the
// option, Recover, Undelete and the log pane txtLog. A thin view: what the controls do is in MainForm.
class Form1 : public QWidget, public FormView
{
    Q_OBJECT

  public:
    using MessageSink = std::function<void(const QString& text)>;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Appends txtS as one line of txtLog and lets the window repaint (saveLog 0); any other
    // saveLog appends nothing. The caret moves to the end in every case.
    void ExportLog(std::string_view txtS, std::int16_t saveLog) { m_form.ExportLog(txtS, saveLog); }
    RunLog& log() { return m_form.log(); }

    // The dialogs behind the choosers; the window keeps using them until told otherwise.
    void setDialogBackends(FileOpenBackend& files, FolderBrowserBackend& folders);
    // Where message boxes go; the default shows a modal box with one OK button.
    void setMessageSink(MessageSink sink);
    // The folder that holds README.TXT; the program's own folder unless told otherwise.
    void setProgramFolder(const QString& folder);
    bool isRunning() const { return m_form.isRunning(); }

    std::string inFilePath() override;
    void setInFilePath(const std::string& path) override;
    std::string outFolder() override;
    void setOutFolder(const std::string& path) override;
    CheckState restoreAll() override;
    void showLog(std::string_view text, bool replaced) override;
    void moveLogCaretToEnd() override;
    void setLogColour(std::uint32_t colour) override;
    void processEvents() override;
    void showMessage(const std::string& text) override;
    void beep() override;
    std::string now() override;
    std::uintptr_t ownerHandle() override;
    bool openDocument(const std::string& path) override;

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

    std::unique_ptr<FileOpenBackend> m_qtFiles;
    std::unique_ptr<FolderBrowserBackend> m_qtFolders;
    MainForm m_form;
    MessageSink m_messageSink;
};

} // namespace tabrescue
