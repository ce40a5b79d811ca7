#include "app/main_window.h"

#include <exception>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
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
#include "choosers/qt_dialogs.h"

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

constexpr QSize kPictureSize(16, 15);

QColor fromColourRef(std::uint32_t colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

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
      m_qtFolders(std::make_unique<QtFolderBrowserBackend>()),
      m_form(*this, *m_qtFiles, *m_qtFolders, toCorePath(QCoreApplication::applicationDirPath()))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("tabrescue \u2013 recover deleted rows and geometries of a MapInfo table"));
    createControls();
    resize(designSize());
    setMinimumSize(420, 240);
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
    setRole(m_txtLog, QPalette::Base, fromColourRef(kLogBackground));

    // The chooser buttons sit over the right end of their heading bars.
    m_cmdSelectInTab->raise();
    m_cmdSelectOutFolder->raise();

    QWidget* const tabOrder[] = {m_txtInFilePath, m_cmdSelectInTab, m_txtOutFolder, m_cmdSelectOutFolder,
                                 m_chkRestoreAll, m_cmdRecover,     m_txtLog};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    for (QWidget* control : findChildren<QWidget*>())
        control->installEventFilter(this);

    connect(m_cmdSelectInTab, &QPushButton::clicked, this, [this] { m_form.chooseInputTable(); });
    connect(m_cmdSelectOutFolder, &QPushButton::clicked, this, [this] { m_form.chooseOutputFolder(); });
    connect(m_cmdRecover, &QPushButton::clicked, this, [this] { m_form.recover(); });
    connect(m_cmdUndelete, &QPushButton::clicked, this, [this] { m_form.undelete(); });
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
        m_form.showHelp();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    // F1 whatever other keys are held, in whichever control has the focus.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        m_form.showHelp();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

std::string Form1::inFilePath()
{
    return toCorePath(m_txtInFilePath->text());
}

void Form1::setInFilePath(const std::string& path)
{
    m_txtInFilePath->setText(toShownPath(path));
}

std::string Form1::outFolder()
{
    return toCorePath(m_txtOutFolder->text());
}

void Form1::setOutFolder(const std::string& path)
{
    m_txtOutFolder->setText(toShownPath(path));
}

CheckState Form1::restoreAll()
{
    switch (m_chkRestoreAll->checkState()) {
    case Qt::Checked:
        return CheckState::Ticked;
    case Qt::PartiallyChecked:
        return CheckState::Greyed;
    default:
        return CheckState::Unticked;
    }
}

void Form1::processEvents()
{
    QCoreApplication::processEvents();
}

void Form1::showLog(std::string_view added, bool replaced)
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

void Form1::setLogColour(std::uint32_t colour)
{
    QPalette palette = m_txtLog->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, fromColourRef(colour));
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
    m_form.setDialogBackends(files, folders);
}

void Form1::setMessageSink(MessageSink sink)
{
    m_messageSink = std::move(sink);
}

void Form1::setProgramFolder(const QString& folder)
{
    m_form.setProgramFolder(toCorePath(folder));
}

std::uintptr_t Form1::ownerHandle()
{
    return static_cast<std::uintptr_t>(winId());
}

bool Form1::openDocument(const std::string& path)
{
    // The desktop's associated program, started on its own: nothing waits and no shell is involved.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

} // namespace tabrescue
