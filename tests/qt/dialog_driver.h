#pragma once

// Drives Qt's real file dialogs from inside their modal loop, as a user would.

#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTimer>
#include <QtTest>

namespace tabrescue::test {

// Runs `step` on the file dialog once it is shown modally; closes it if the step did not.
inline void whenDialogShows(std::function<void(QFileDialog&)> step)
{
    QTimer::singleShot(0, [step = std::move(step)]() {
        QFileDialog* dlg = nullptr;
        (void)QTest::qWaitFor([&] {
            dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            return dlg != nullptr;
        });
        if (!dlg)
            return;
        step(*dlg);
        if (dlg->isVisible())
            dlg->reject(); // a failed step must not leave the test waiting
    });
}

// The names the dialog lists in its current folder, once its model has read them.
inline QStringList listedNames(QFileDialog& dlg, int expected)
{
    auto* view = dlg.findChild<QListView*>(QStringLiteral("listView"));
    QStringList names;
    (void)QTest::qWaitFor([&] {
        names.clear();
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
            names << view->model()->index(row, 0, view->rootIndex()).data().toString();
        return names.size() >= expected;
    });
    names.sort();
    return names;
}

// Types a name into the dialog's name box and presses Enter, as a user would.
inline void typeNameAndConfirm(QFileDialog& dlg, const QString& name)
{
    auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setFocus();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace tabrescue::test
