// The window program.
#include <QApplication>

#include "app/main_window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tabrescue"));
    QApplication::setApplicationVersion(QStringLiteral(TABRESCUE_VERSION));
    tabrescue::Form1 window;
    window.show();
    return QApplication::exec();
}
