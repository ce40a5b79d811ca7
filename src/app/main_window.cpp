#include "app/main_window.h"

#include <exception>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QUrl>

#include "app/path_text.h"
#include "choosers/chooser_error.h"
#include "choosers/common_dlg.h"
#include "choosers/qt_dialogs.h"
#include "choosers/shell_browse.h"
#include "io/file_system.h"

namespace tabrescue {

namespace {

// The window was drawn in twips; at the usual 96 dots per inch a pixel is 15 of them.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidthTwips = 10260;
constexpr int kClientHeightTwips = 6630;

// How a control follows the window when it is resized.
enum class Anchor {
    Fixed,   // keeps place and size
    Stretch, // grows with the width
    Right,   // moves with the right edge
    Fill,    // grows with the width and the height
};

struct ControlPlace
{
    const char* name;
    int left, top, width, height; // twips, at the first size
    Anchor anchor;
};

constexpr ControlPlace kControlPlaces[] = {
    {"Label1", 0, 30, 10185, 345, Anchor::Stretch},
    {"Label2", 0, 750, 10185, 345, Anchor::Stretch},
    {"txtInFilePath", 30, 360, 10185, 345, Anchor::Stretch},
    {"cmdSelectInTab", 9780, 30, 435, 345, Anchor::Right},
    {"txtOutFolder", 30, 1080, 10185, 345, Anchor::Stretch},
    {"Command1", 9780, 750, 435, 345, Anchor::Right},
    {"chkRestoreAll", 90, 1500, 3735, 285, Anchor::Fixed},
    {"cmdRecover", 9150, 1440, 1065, 435, Anchor::Right},
    {"cmdUndelete", 8025, 1440, 1065, 435, Anchor::Right},
    {"txtLog", 30, 1890, 10185, 4695, Anchor::Fill},
};

constexpr QColor kLogBackground(255, 255, 240);
constexpr QSize kPictureSize(16, 15);

const char* const kInputFilter = "MapInfo TAB-file|*.TAB|All files|*.*";
constexpr std::uint32_t kInputOpenFlags = 528388; // explorer style, file must exist, no read-only box

// Tahoma 9 pt where installed, else the nearest sans font.
QFont labelFont()
{
    QFont font(QStringLiteral("Tahoma"), 9);
    font.setStyleHint(QFont::SansSerif);
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"),
                          QStringLiteral("Liberation Sans")});
    return font;
}

void setRole(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

} // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent), m_qtFiles(std::make_unique<QtFileOpenBackend>()),
      m_qtFolders(std::make_unique<QtFolderBrowserBackend>()), m_files(m_qtFiles.get()),
      m_folders(m_qtFolders.get()), m_programFolder(QCoreApplication::applicationDirPath())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("tabrescue \u2013 recover deleted rows and geometries of a MapInfo table"));
    createControls();
    resize(designSize());
    setMinimumSize(420, 240);

    m_log.setChangeHook([this](std::string_view added, bool replaced) { mirrorLog(added, replaced); });
    m_log.setEventPump([] { QCoreApplication::processEvents(); });
    m_log.setCaretHook([this] { moveLogCaretToEnd(); });
}

Form1::~Form1() = default;

void Form1::createControls()
{
    const QFont font = labelFont();
    const QColor pathBackground = palette().color(QPalette::ToolTipBase);
    const QIcon folderPicture = style()->standardIcon(QStyle::SP_DirOpenIcon);

    auto heading = [&](const char* name, const QString& caption) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(font);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setAutoFillBackground(true);
        setRole(label, QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
        setRole(label, QPalette::WindowText, palette().color(QPalette::WindowText));
        return label;
    };
    auto pathBox = [&](const char* name, QLabel* buddy) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setFont(font);
        setRole(box, QPalette::Base, pathBackground);
        buddy->setBuddy(box);
        return box;
    };
    auto pictureButton = [&](const char* name, const QString& tip) {
        auto* button = new QPushButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setIcon(folderPicture);
        button->setIconSize(kPictureSize);
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        return button;
    };

    m_label1 = heading("Label1", QStringLiteral("   Input Table to Recover"));
    m_label2 = heading("Label2", QStringLiteral("   Output Folder for Recovered Tables..."));
    m_txtInFilePath = pathBox("txtInFilePath", m_label1);
    m_cmdSelectInTab = pictureButton("cmdSelectInTab", QStringLiteral("Choose the input table"));
    m_txtOutFolder = pathBox("txtOutFolder", m_label2);
    m_cmdSelectOutFolder = pictureButton("Command1", QStringLiteral("Choose the output folder"));

    m_chkRestoreAll = new QCheckBox(QStringLiteral("Restore/Fix All Records and Objects"), this);
    m_chkRestoreAll->setObjectName(QStringLiteral("chkRestoreAll"));
    m_chkRestoreAll->setFont(font);
    m_chkRestoreAll->setToolTip(
        QStringLiteral("При установленном флаге, восстанавливаются все записи, не зависимо "
                       "от того есть ли удаленные записи или нет."));

    m_cmdRecover = new QPushButton(QStringLiteral("Recover..."), this);
    m_cmdRecover->setObjectName(QStringLiteral("cmdRecover"));
    m_cmdRecover->setDefault(true);

    m_cmdUndelete = new QPushButton(QStringLiteral("Undelete..."), this);
    m_cmdUndelete->setObjectName(QStringLiteral("cmdUndelete"));
    m_cmdUndelete->setToolTip(QStringLiteral("Write the table with every deleted row live again"));
    // Kept out of the Tab chain, so that the other controls keep the Tab order they always had.
    m_cmdUndelete->setFocusPolicy(Qt::ClickFocus);

    m_txtLog = new QPlainTextEdit(this);
    m_txtLog->setObjectName(QStringLiteral("txtLog"));
    m_txtLog->setReadOnly(true); // the run log owns the text; the user may select and copy it
    m_txtLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_txtLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_txtLog->setTabChangesFocus(true);
    setRole(m_txtLog, QPalette::Base, kLogBackground);

    // The chooser buttons sit over the right end of their heading bars.
    m_cmdSelectInTab->raise();
    m_cmdSelectOutFolder->raise();

    QWidget* const tabOrder[] = {m_txtInFilePath, m_cmdSelectInTab, m_txtOutFolder, m_cmdSelectOutFolder,
                                 m_chkRestoreAll, m_cmdRecover,     m_txtLog};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    for (QWidget* control : findChildren<QWidget*>())
        control->installEventFilter(this);

    connect(m_cmdSelectInTab, &QPushButton::clicked, this, &Form1::chooseInputTable);
    connect(m_cmdSelectOutFolder, &QPushButton::clicked, this, &Form1::chooseOutputFolder);
    connect(m_cmdRecover, &QPushButton::clicked, this, &Form1::recover);
    connect(m_cmdUndelete, &QPushButton::clicked, this, &Form1::undelete);
}

QSize Form1::designSize()
{
    return {kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel};
}

QString Form1::shortTitle()
{
    return QStringLiteral("tabrescue");
}

void Form1::placeControls()
{
    const QSize design = designSize();
    const int dx = width() - design.width();
    const int dy = height() - design.height();
    for (const ControlPlace& place : kControlPlaces) {
        auto* control = findChild<QWidget*>(QString::fromLatin1(place.name), Qt::FindDirectChildrenOnly);
        if (!control)
            continue;
        QRect r(place.left / kTwipsPerPixel, place.top / kTwipsPerPixel, place.width / kTwipsPerPixel,
                place.height / kTwipsPerPixel);
        switch (place.anchor) {
        case Anchor::Fixed:
            break;
        case Anchor::Stretch:
            r.setWidth(r.width() + dx);
            break;
        case Anchor::Right:
            r.translate(dx, 0);
            break;
        case Anchor::Fill:
            r.setSize(r.size() + QSize(dx, dy));
            break;
        }
        control->setGeometry(r);
    }
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeControls();
}

void Form1::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        showHelp();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // F1 whatever other keys are held, in whichever control has the focus.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        showHelp();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::ExportLog(std::string_view txtS, std::int16_t saveLog)
{
    tabrescue::ExportLog(&m_log, txtS, saveLog);
}

void Form1::mirrorLog(std::string_view added, bool replaced)
{
    if (replaced) {
        m_txtLog->setPlainText(toShownLog(added));
        return;
    }
    QTextCursor end(m_txtLog->document());
    end.movePosition(QTextCursor::End);
    end.insertText(toShownLog(added));
}

void Form1::moveLogCaretToEnd()
{
    QTextCursor cursor = m_txtLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_txtLog->setTextCursor(cursor);
    m_txtLog->ensureCursorVisible();
}

void Form1::showMessage(const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    if (m_messageSink) {
        m_messageSink(shown);
        return;
    }
    QString plain = shown;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox::warning(this, shortTitle(), plain, QMessageBox::Ok);
}

void Form1::flipLogColour()
{
    QPalette palette = m_txtLog->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        QColor colour = palette.color(group, QPalette::Base);
        colour.setRed(colour.red() ^ 255);
        palette.setColor(group, QPalette::Base, colour);
    }
    m_txtLog->setPalette(palette);
}

void Form1::beep()
{
    QApplication::beep();
}

QString Form1::withoutTimeZone(const QString& timeFormat)
{
    QString out;
    bool quoted = false;
    for (const QChar c : timeFormat) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't')
            out += c;
    }
    return out.simplified();
}

std::string Form1::now()
{
    const QDateTime time = QDateTime::currentDateTime();
    const QLocale locale;
    const QString text =
        locale.toString(time.date(), QLocale::ShortFormat) + u' ' +
        locale.toString(time.time(), withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
    return text.toStdString();
}

void Form1::setDialogBackends(FileOpenBackend& files, FolderBrowserBackend& folders)
{
    m_files = &files;
    m_folders = &folders;
}

void Form1::setMessageSink(MessageSink sink)
{
    m_messageSink = std::move(sink);
}

void Form1::setProgramFolder(const QString& folder)
{
    m_programFolder = folder;
}

std::uintptr_t Form1::ownerHandle()
{
    return static_cast<std::uintptr_t>(winId());
}

void Form1::reportChooserError(const ChooserError& error)
{
    showMessage(error.description() + "\r\n(error " + std::to_string(error.number()) + " in " +
                error.source() + ")");
}

void Form1::chooseInputTable()
{
    if (!m_commonDlg)
        m_commonDlg = std::make_unique<CommonDlg>(*m_files);
    CommonDlg& dlg = *m_commonDlg;
    dlg.CancelError = false;
    dlg.DefaultExt = "TAB";
    dlg.DialogTitle = "Select input TAB file";
    if (!m_txtInFilePath->text().isEmpty())
        dlg.FileName = toCorePath(m_txtInFilePath->text());
    dlg.FileTitle.clear();
    dlg.FileNameBufferSize = 4096;
    dlg.Filter = kInputFilter;
    dlg.hWndOwner = ownerHandle();
    dlg.OpenFlags = kInputOpenFlags;
    try {
        dlg.ShowOpen();
        if (dlg.FileTitle.empty())
            showMessage("Input TAB file was not selected.");
        else
            m_txtInFilePath->setText(toShownPath(dlg.FileName));
    } catch (const ChooserError& e) {
        reportChooserError(e);
    }
    m_commonDlg.reset();
}

void Form1::chooseOutputFolder()
{
    std::string chosen;
    try {
        ShellBrowse browser(*m_folders);
        browser.hWndOwner = ownerHandle();
        browser.Caption = "Select Folder where result of recover will be saved...";
        browser.FileSystemDirsOnly = true;
        if (!m_txtOutFolder->text().isEmpty())
            browser.InitialPath = toCorePath(m_txtOutFolder->text());
        else
            browser.InitialFolder = kCsidlDrives;
        browser.BrowseForFolder();
        chosen = browser.Result();
    } catch (const ChooserError& e) {
        reportChooserError(e);
        return;
    }
    if (chosen.empty()) {
        showMessage("Output Folder for result TAB files was not selected.");
        return;
    }
    m_txtOutFolder->setText(toShownPath(chosen));
    if (!fileSystem().folderExists(chosen))
        showMessage("Wrong Output Folder for result TAB files was selected.");
}

void Form1::recover()
{
    runGuarded([this](const RunInput& input) { runRecovery(*this, input); });
}

void Form1::undelete()
{
    runGuarded([this](const RunInput& input) { runUndelete(*this, input); });
}

void Form1::runGuarded(const std::function<void(const RunInput&)>& run)
{
    // The run lets the window handle events while it writes; a second press then is ignored.
    if (m_running)
        return;
    m_running = true;
    const QPalette logPalette = m_txtLog->palette();
    const RunInput input{toCorePath(m_txtInFilePath->text()), toCorePath(m_txtOutFolder->text()),
                         m_chkRestoreAll->checkState() == Qt::Checked};
    try {
        run(input);
    } catch (const std::exception& e) {
        // Nothing may leave through Qt's event loop; say what happened and give the pane its colour back.
        m_txtLog->setPalette(logPalette);
        showMessage(std::string("The recovery stopped on an unexpected error: ") + e.what());
    }
    m_running = false;
}

void Form1::showHelp()
{
    const QString help = QDir::fromNativeSeparators(m_programFolder) + QStringLiteral("/README.TXT");
    if (!QFileInfo(help).isFile())
        return;
    // The desktop's associated program, started on its own: nothing waits and no shell is involved.
    QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

} // namespace tabrescue
