#include <fstream>

#include <QtTest>

#include "choosers/chooser_error.h"
#include "choosers/common_dlg.h"
#include "choosers/qt_dialogs.h"
#include "dialog_driver.h"
#include "scripted_dialogs.h"
#include "support/temp_dir.h"

using namespace tabrescue;
using namespace tabrescue::test;

namespace {

// A literal with its embedded NULs, without the terminating one.
template <std::size_t N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

} // namespace

class CommonDlgTest : public QObject
{
    Q_OBJECT

  private slots:
    void filterBecomesNulSeparated_data();
    void filterBecomesNulSeparated();
    void flagsAndHook_data();
    void flagsAndHook();
    void pathBufferHoldsFirstName();
    void unusableBufferIsRefused_data();
    void unusableBufferIsRefused();
    void singleChoiceFillsProperties();
    void multipleChoiceListsEveryName();
    void failedDialog_data();
    void failedDialog();
    void qtFiltersFromPairs_data();
    void qtFiltersFromPairs();
    void qtDialogMatchesAnyLetterCase();
    void qtDialogReportsTooSmallBuffer();
};

void CommonDlgTest::filterBecomesNulSeparated_data()
{
    QTest::addColumn<QByteArray>("filter");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("window's two pairs") << QByteArray("MapInfo TAB-file|*.TAB|All files|*.*")
                                        << raw("MapInfo TAB-file\0*.TAB\0All files\0*.*\0");
    QTest::newRow("blanks trimmed first") << QByteArray("  Tables|*.TAB  ") << raw("Tables\0*.TAB\0");
    QTest::newRow("inner blanks kept") << QByteArray("A b| *.x") << raw("A b\0 *.x\0");
    QTest::newRow("empty") << QByteArray() << raw("\0");
}

void CommonDlgTest::filterBecomesNulSeparated()
{
    QFETCH(QByteArray, filter);
    QFETCH(QByteArray, expected);
    ScriptedFileOpen backend;
    CommonDlg dlg(backend);
    dlg.Filter = filter.toStdString();
    dlg.ShowOpen();
    QCOMPARE(backend.requests.size(), 1u);
    QCOMPARE(QByteArray::fromStdString(backend.requests[0].filter), expected);
}

void CommonDlgTest::flagsAndHook_data()
{
    QTest::addColumn<uint>("openFlags");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<uint>("expectedFlags");
    QTest::addColumn<uint>("expectedHook");
    QTest::newRow("explorer bit always set") << 0u << 0u << 0x80000u << 0u;
    QTest::newRow("window's flags") << 528388u << 0u << 0x81004u << 0u;
    QTest::newRow("both combined") << 0x4u << 0x1000u << 0x81004u << 0u;
    QTest::newRow("hook bit in OpenFlags") << 0x20u << 0u << 0x80020u << 0x1234u;
    QTest::newRow("hook bit in Flags") << 0u << 0x20u << 0x80020u << 0x1234u;
}

void CommonDlgTest::flagsAndHook()
{
    QFETCH(uint, openFlags);
    QFETCH(uint, flags);
    ScriptedFileOpen backend;
    CommonDlg dlg(backend);
    dlg.OpenFlags = openFlags;
    dlg.Flags = flags;
    dlg.CallBack = 0x1234;
    dlg.ShowOpen();
    QTEST(uint(backend.requests[0].flags), "expectedFlags");
    QTEST(uint(backend.requests[0].hook), "expectedHook");
}

void CommonDlgTest::pathBufferHoldsFirstName()
{
    ScriptedFileOpen backend;
    CommonDlg dlg(backend);
    dlg.ShowOpen();
    QCOMPARE(backend.requests.at(0).file, std::string(20000, '\0')); // a new object's buffer
    backend.requests.clear();

    dlg.FileName = "C:\\maps\\roads.TAB";
    dlg.FileNameBufferSize = 32;
    dlg.InitDir = "C:\\maps";
    dlg.DialogTitle = "Select input TAB file";
    dlg.DefaultExt = "TAB";
    dlg.FilterIndex = 2;
    dlg.hWndOwner = 77;
    dlg.ShowOpen();
    const OpenFileName& ofn = backend.requests.at(0);
    QCOMPARE(ofn.file, std::string("C:\\maps\\roads.TAB") + std::string(15, '\0'));
    QCOMPARE(ofn.fileTitle, std::string(1024, '\0'));
    QCOMPARE(ofn.customFilter, std::string(40, '\0'));
    QCOMPARE(ofn.initialDir, std::string("C:\\maps"));
    QCOMPARE(ofn.title, std::string("Select input TAB file"));
    QCOMPARE(ofn.defaultExt, std::string("TAB"));
    QCOMPARE(ofn.filterIndex, 2);
    QCOMPARE(ofn.owner, std::uintptr_t(77));
}

void CommonDlgTest::unusableBufferIsRefused_data()
{
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QByteArray>("fileName");
    QTest::newRow("zero size") << 0 << QByteArray();
    QTest::newRow("negative size") << -5 << QByteArray();
    QTest::newRow("name without room for its NUL") << 8 << QByteArray("roads.TA");
}

void CommonDlgTest::unusableBufferIsRefused()
{
    QFETCH(int, bufferSize);
    QFETCH(QByteArray, fileName);
    ScriptedFileOpen backend;
    CommonDlg dlg(backend);
    dlg.FileNameBufferSize = bufferSize;
    dlg.FileName = fileName.toStdString();
    try {
        dlg.ShowOpen();
        QFAIL("no error raised");
    } catch (const ChooserError& e) {
        QCOMPARE(e.number(), kErrInvalidCall);
        QCOMPARE(e.source(), std::string("CommonDlg.ShowOpen"));
    }
    QVERIFY(backend.requests.empty());
}

void CommonDlgTest::singleChoiceFillsProperties()
{
    ScriptedFileOpen backend;
    backend.choose("C:\\maps", {"roads.TAB"}, '\\');
    CommonDlg dlg(backend);
    dlg.OpenFlags = 528388;
    dlg.ShowOpen();
    QCOMPARE(dlg.FileName, std::string("C:\\maps\\roads.TAB"));
    QCOMPARE(dlg.FileTitle, std::string("roads.TAB"));
    QCOMPARE(dlg.FileOffset(), 8);
    QCOMPARE(dlg.FileExtOffset(), 14);
    QCOMPARE(dlg.FileList(), (std::vector<std::string>{"C:\\maps", "roads.TAB"}));
    QCOMPARE(dlg.FilterIndex, 1);
    QCOMPARE(dlg.Flags, 0x81004u);
    QCOMPARE(dlg.OpenFlags, 0x81004u);
}

void CommonDlgTest::multipleChoiceListsEveryName()
{
    ScriptedFileOpen backend;
    backend.choose("/data/maps", {"roads.TAB", "rivers.TAB"});
    CommonDlg dlg(backend);
    dlg.ShowOpen();
    QCOMPARE(dlg.FileOffset(), 11);
    QCOMPARE(dlg.FileList(), (std::vector<std::string>{"/data/maps", "roads.TAB", "rivers.TAB"}));
    // The buffer's padding is cut off; the NUL-separated names stay.
    QCOMPARE(dlg.FileName, raw("/data/maps\0roads.TAB\0rivers.TAB").toStdString());
}

void CommonDlgTest::failedDialog_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("cancelError");
    QTest::addColumn<int>("number"); // 0: no error
    QTest::addColumn<QString>("description");
    QTest::newRow("cancel, quiet") << 0u << false << 0 << QString();
    QTest::newRow("cancel, raising") << 0u << true << 32755 << QStringLiteral("Cancel was selected.");
    QTest::newRow("buffer too small")
        << 12291u << false << 20476 << QStringLiteral("Filename buffer is too small for the selected files.");
    QTest::newRow("buffer too small, raising")
        << 12291u << true << 20476 << QStringLiteral("Filename buffer is too small for the selected files.");
    QTest::newRow("other failure") << 0xFFFFu << false << 0xFFFF << QStringLiteral("Unexpected error.");
}

void CommonDlgTest::failedDialog()
{
    QFETCH(uint, code);
    QFETCH(bool, cancelError);
    QFETCH(int, number);
    QFETCH(QString, description);
    ScriptedFileOpen backend;
    backend.fail(code);
    CommonDlg dlg(backend);
    dlg.CancelError = cancelError;
    dlg.FileName = "/old/roads.TAB";
    dlg.FileTitle = "kept";
    dlg.FilterIndex = 2;
    int raised = 0;
    try {
        dlg.ShowOpen();
    } catch (const ChooserError& e) {
        raised = e.number();
        QCOMPARE(QString::fromStdString(e.description()), description);
        QCOMPARE(e.source(), std::string("CommonDlg.ShowOpen"));
    }
    QCOMPARE(raised, number);
    QCOMPARE(dlg.FileName, std::string("/old/roads.TAB"));
    QCOMPARE(dlg.FileTitle, std::string("kept"));
    QCOMPARE(dlg.FilterIndex, 2);
}

void CommonDlgTest::qtFiltersFromPairs_data()
{
    QTest::addColumn<QByteArray>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("window's pairs") << raw("MapInfo TAB-file\0*.TAB\0All files\0*.*\0")
                                    << QStringList{"MapInfo TAB-file (*.TAB)", "All files (*.*)"};
    QTest::newRow("pattern list") << raw("Tables\0*.TAB;*.DAT\0") << QStringList{"Tables (*.TAB *.DAT)"};
    QTest::newRow("odd part dropped") << raw("Tables\0*.TAB\0Lost\0") << QStringList{"Tables (*.TAB)"};
    QTest::newRow("none") << raw("\0") << QStringList{};
}

void CommonDlgTest::qtFiltersFromPairs()
{
    QFETCH(QByteArray, filter);
    QTEST(nameFiltersOf(filter.toStdString()), "expected");
}

void CommonDlgTest::qtDialogMatchesAnyLetterCase()
{
    const auto dir = test::makeTempDir();
    for (const char* name : {"a.TAB", "b.tab", "c.Tab", "d.DAT"})
        std::ofstream(dir / name) << "x";
    const QString folder = QString::fromStdString(dir.string());

    QtFileOpenBackend backend;
    CommonDlg dlg(backend);
    dlg.Filter = "MapInfo TAB-file|*.TAB|All files|*.*";
    dlg.FileNameBufferSize = 4096;
    dlg.InitDir = dir.string();
    dlg.OpenFlags = 528388;
    QStringList listed;
    QString title;
    whenDialogShows([&](QFileDialog& shown) {
        title = shown.windowTitle();
        listed = listedNames(shown, 3);
        typeNameAndConfirm(shown, QStringLiteral("b.tab"));
    });
    dlg.DialogTitle = "Select input TAB file";
    dlg.ShowOpen();
    test::removeTree(dir);

    QCOMPARE(title, QStringLiteral("Select input TAB file"));
    QCOMPARE(listed, (QStringList{"a.TAB", "b.tab", "c.Tab"}));
    QCOMPARE(QString::fromStdString(dlg.FileName),
             QDir::toNativeSeparators(folder + QStringLiteral("/b.tab")));
    QCOMPARE(dlg.FileTitle, std::string("b.tab"));
    QCOMPARE(dlg.FileList(),
             (std::vector<std::string>{QDir::toNativeSeparators(folder).toStdString(), "b.tab"}));
    QCOMPARE(dlg.FileExtOffset(), dlg.FileOffset() + 2);
    QCOMPARE(dlg.FilterIndex, 1);
}

void CommonDlgTest::qtDialogReportsTooSmallBuffer()
{
    const auto dir = test::makeTempDir();
    std::ofstream(dir / "a_rather_long_table_name.TAB") << "x";
    QtFileOpenBackend backend;
    CommonDlg dlg(backend);
    dlg.FileNameBufferSize = 16;
    dlg.InitDir = dir.string();
    whenDialogShows([&](QFileDialog& shown) {
        typeNameAndConfirm(shown, QStringLiteral("a_rather_long_table_name.TAB"));
    });
    int raised = 0;
    try {
        dlg.ShowOpen();
    } catch (const ChooserError& e) {
        raised = e.number();
    }
    test::removeTree(dir);
    QCOMPARE(raised, kErrFileNameBufferTooSmall);
    QVERIFY(dlg.FileTitle.empty());
}

QTEST_MAIN(CommonDlgTest)
#include "common_dlg_qtest.moc"
