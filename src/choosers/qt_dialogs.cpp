#include "choosers/qt_dialogs.h"

#include <algorithm>
#include <vector>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace tabrescue {

namespace {

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string nativeUtf8(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

std::vector<std::string> splitAtNul(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        if (end == start)
            break; // the closing NUL pair
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

} // namespace

QWidget* ownerWidget(std::uintptr_t handle)
{
    return handle ? QWidget::find(static_cast<WId>(handle)) : nullptr;
}

QStringList nameFiltersOf(const std::string& filter)
{
    const std::vector<std::string> parts = splitAtNul(filter);
    QStringList filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = fromUtf8(parts[i + 1]).split(u';', Qt::SkipEmptyParts);
        filters << fromUtf8(parts[i]).trimmed() + QStringLiteral(" (") + patterns.join(u' ').trimmed() + u')';
    }
    return filters;
}

bool QtFileOpenBackend::getOpenFileName(OpenFileName& ofn)
{
    m_error = kDlgCancelled;
    QFileDialog dlg(ownerWidget(ofn.owner), fromUtf8(ofn.title));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    if (ofn.flags & kOfnAllowMultiSelect)
        dlg.setFileMode(QFileDialog::ExistingFiles);
    else if (ofn.flags & kOfnFileMustExist)
        dlg.setFileMode(QFileDialog::ExistingFile);
    else
        dlg.setFileMode(QFileDialog::AnyFile);

    const QStringList filters = nameFiltersOf(ofn.filter);
    if (!filters.isEmpty()) {
        dlg.setNameFilters(filters);
        if (ofn.filterIndex >= 1 && ofn.filterIndex <= filters.size())
            dlg.selectNameFilter(filters[ofn.filterIndex - 1]);
    }
    dlg.setDefaultSuffix(fromUtf8(ofn.defaultExt));
    if (!ofn.initialDir.empty())
        dlg.setDirectory(fromUtf8(ofn.initialDir));
    const QString first = fromUtf8(upToNul(ofn.file));
    if (!first.isEmpty()) {
        const QFileInfo info(first);
        if (info.isAbsolute() && info.dir().exists()) {
            dlg.setDirectory(info.absolutePath());
            dlg.selectFile(info.fileName());
        } else {
            dlg.selectFile(first);
        }
    }
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;

    const QStringList chosen = dlg.selectedFiles();
    std::string buffer;
    std::string title;
    std::size_t nameOffset = 0;
    std::size_t extOffset = 0;
    if (chosen.size() == 1) {
        const QFileInfo info(chosen.front());
        buffer = nativeUtf8(info.absoluteFilePath());
        title = info.fileName().toStdString();
        nameOffset = buffer.size() - title.size();
        const std::size_t dot = title.rfind('.');
        extOffset = dot == std::string::npos ? buffer.size() : nameOffset + dot + 1;
    } else {
        buffer = nativeUtf8(QFileInfo(chosen.front()).absolutePath());
        nameOffset = buffer.size() + 1;
        for (const QString& file : chosen) {
            buffer.push_back('\0');
            buffer += QFileInfo(file).fileName().toStdString();
        }
        buffer.push_back('\0');
    }
    // The answer and its closing NUL must fit the caller's buffer.
    if (buffer.size() + 1 > ofn.file.size()) {
        m_error = kDlgBufferTooSmall;
        return false;
    }
    buffer.resize(ofn.file.size(), '\0');
    ofn.file = std::move(buffer);
    title.resize(std::min(title.size(), ofn.fileTitle.empty() ? 0 : ofn.fileTitle.size() - 1));
    title.resize(ofn.fileTitle.size(), '\0');
    ofn.fileTitle = std::move(title);
    ofn.filterIndex =
        filters.isEmpty() ? 0 : static_cast<std::int32_t>(filters.indexOf(dlg.selectedNameFilter()) + 1);
    ofn.fileOffset = static_cast<std::uint16_t>(nameOffset);
    ofn.fileExtension = static_cast<std::uint16_t>(extOffset);
    return true;
}

std::optional<ShellItem> QtFolderBrowserBackend::specialFolder(std::uintptr_t, std::int32_t folder)
{
    if (folder == kCsidlDrives) {
        // One root holds every drive here; where drives have roots of their own, the list of them.
        if (QDir::drives().size() == 1)
            return ShellItem{nativeUtf8(QDir::rootPath()), nativeUtf8(QDir::rootPath())};
        return ShellItem{std::string(), "Computer"};
    }
    if (folder == kCsidlDesktop) {
        QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        if (desktop.isEmpty() || !QFileInfo(desktop).isDir())
            desktop = QDir::homePath();
        return ShellItem{nativeUtf8(desktop), QFileInfo(desktop).fileName().toStdString()};
    }
    return std::nullopt;
}

std::optional<ShellItem> QtFolderBrowserBackend::browseForFolder(BrowseInfo& info)
{
    QFileDialog dlg(ownerWidget(info.owner), fromUtf8(info.title));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly, !(info.flags & kBifBrowseIncludeFiles));
    dlg.setDirectory(fromUtf8(info.root.path));

    // The callback may raise; errors must not cross Qt's event loop, so the browser closes and the
    // error leaves after exec().
    std::exception_ptr failure;
    const auto handle = reinterpret_cast<std::uintptr_t>(&dlg);
    auto notify = [&](std::uint32_t message, const BrowserParam& param) {
        if (!info.callback || failure)
            return;
        try {
            info.callback(handle, message, 0, param);
        } catch (...) {
            failure = std::current_exception();
            dlg.reject();
        }
    };
    QFileDialog* const previous = m_open;
    const std::uintptr_t previousHandle = m_openHandle;
    m_open = &dlg;
    m_openHandle = handle;
    QObject::connect(&dlg, &QFileDialog::currentChanged, &dlg, [&](const QString& path) {
        notify(kBffmSelChanged, ShellItem{nativeUtf8(path), QFileInfo(path).fileName().toStdString()});
    });
    notify(kBffmInitialized, std::monostate{});
    const bool accepted = !failure && dlg.exec() == QDialog::Accepted;
    m_open = previous;
    m_openHandle = previousHandle;
    if (failure)
        std::rethrow_exception(failure);
    if (!accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;

    const QString chosen = dlg.selectedFiles().front();
    ShellItem item;
    if (chosen.isEmpty()) {
        item.displayName = "Computer";
    } else {
        item.path = nativeUtf8(chosen);
        item.displayName = QFileInfo(chosen).fileName().toStdString();
        if (item.displayName.empty())
            item.displayName = item.path;
    }
    std::string name = item.displayName.substr(0, info.displayName.empty() ? 0 : info.displayName.size() - 1);
    name.resize(info.displayName.size(), '\0');
    info.displayName = std::move(name);
    return item;
}

std::optional<std::string> QtFolderBrowserBackend::pathFromItem(const ShellItem& item)
{
    if (item.path.empty())
        return std::nullopt;
    return item.path;
}

void QtFolderBrowserBackend::sendMessage(std::uintptr_t browser, std::uint32_t message, std::intptr_t,
                                         const BrowserParam& lParam)
{
    if (!m_open || browser != m_openHandle || message != kBffmSetSelection)
        return; // Qt's folder dialog has no status text line
    std::string path;
    if (const auto* text = std::get_if<std::string>(&lParam))
        path = *text;
    else if (const auto* item = std::get_if<ShellItem>(&lParam))
        path = item->path;
    // An empty path shows the drives where the system has several.
    m_open->setDirectory(fromUtf8(path));
}

} // namespace tabrescue
