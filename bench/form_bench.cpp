// Times a whole recovery through the window, as a user starts it: fill the two path boxes, tick
// the option, click Recover. Qt Test on the offscreen platform; bench/run.sh sets the environment:
//   TABRESCUE_BENCH_TABLE   the input .TAB
//   TABRESCUE_BENCH_OUT     the output folder (emptied before each run)
//   TMPDIR                  a folder of its own (emptied before each run)
//   TABRESCUE_BENCH_REPS    timed runs after one untimed warm-up (default 5)
//   TABRESCUE_BENCH_RESULT  file that receives "window_seconds <median>" and "repaints <count>"
// (Its own loop and median rather than QBENCHMARK: Qt Test would repeat a benchmark function, and
// one run of a large table takes seconds.)
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/main_window.h"

namespace {

void emptyFolder(const QString& folder)
{
    const std::filesystem::path p = folder.toStdString();
    std::filesystem::create_directories(p);
    for (const auto& entry : std::filesystem::directory_iterator(p))
        std::filesystem::remove_all(entry.path());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Counts the repaints of the log pane: the run lets the window paint each time it writes a line.
class PaintCounter : public QObject
{
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class FormBench : public QObject
{
    Q_OBJECT

  private slots:
    void recoverThroughTheWindow()
    {
        const QString table = qEnvironmentVariable("TABRESCUE_BENCH_TABLE");
        const QString out = qEnvironmentVariable("TABRESCUE_BENCH_OUT");
        const QString tmp = qEnvironmentVariable("TMPDIR");
        if (table.isEmpty() || out.isEmpty() || tmp.isEmpty())
            QSKIP("TABRESCUE_BENCH_TABLE, TABRESCUE_BENCH_OUT and TMPDIR name the table and two folders");
        const int reps = std::max(1, qEnvironmentVariableIntValue("TABRESCUE_BENCH_REPS"));

        tabrescue::Form1 form;
        QStringList messages;
        form.setMessageSink([&](const QString& text) { messages << text; });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* input = form.findChild<QLineEdit*>(QStringLiteral("txtInFilePath"));
        auto* output = form.findChild<QLineEdit*>(QStringLiteral("txtOutFolder"));
        auto* restoreAll = form.findChild<QCheckBox*>(QStringLiteral("chkRestoreAll"));
        auto* recover = form.findChild<QPushButton*>(QStringLiteral("cmdRecover"));
        auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("txtLog"));
        QVERIFY(input && output && restoreAll && recover && log);
        input->setText(table);
        output->setText(out);
        restoreAll->setChecked(true);
        PaintCounter paints;
        log->viewport()->installEventFilter(&paints);

        std::vector<double> times;
        for (int i = 0; i <= reps; ++i) {
            emptyFolder(out);
            emptyFolder(tmp);
            [[maybe_unused]] const int synced = std::system("sync");
            QCoreApplication::processEvents();
            paints.count = 0;
            const qsizetype before = log->toPlainText().size();

            QElapsedTimer timer;
            timer.start();
            QTest::mouseClick(recover, Qt::LeftButton);
            const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

            const QString text = log->toPlainText();
            const QString added = text.size() >= before ? text.mid(before) : text; // the run may empty it
            QVERIFY2(added.contains(QStringLiteral("*** Ends by OK at ")), qPrintable(added.left(2000)));
            QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
            if (i > 0) // the first run pays for memory the machine touches for the first time
                times.push_back(seconds);
        }

        const double result = median(times);
        qInfo("window: median %.3f s over %d runs; the log pane repainted %d times during the last", result,
              reps, paints.count);
        const QString resultFile = qEnvironmentVariable("TABRESCUE_BENCH_RESULT");
        if (!resultFile.isEmpty()) {
            std::ofstream f(resultFile.toStdString());
            f << "window_seconds " << result << "\nrepaints " << paints.count << "\n";
        }
    }
};

QTEST_MAIN(FormBench)
#include "form_bench.moc"
