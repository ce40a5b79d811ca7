#include "app/path_text.h"

#include <QDir>

namespace tabrescue {

std::string toCorePath(const QString& text)
{
    return text.toStdString();
}

QString toShownPath(const std::string& path)
{
    return QDir::toNativeSeparators(QString::fromStdString(path));
}

QString toShownLog(std::string_view text)
{
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

} // namespace tabrescue
