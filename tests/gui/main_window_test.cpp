#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_run.h"
#include "app/unit1.h"
#include "dialogs/addresses.h"
#include "dialogs/dataunit.h"
#include "dialogs/infounit.h"
#include "dialogs/startunit.h"
#include "gui_test_main.h"
#include "platform/file_folders.h"
#include "platform/shell.h"
#include "ui_unit1.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

#include <memory>

using kelvora::AddRow;
using kelvora::ResultRow;
using kelvora::RowAt;

namespace {

class RecordingShell final : public kelvora::Shell {
public:
    void Open(const QString &target) override { opened << target; }
    QStringList opened;
};

// Ends the first modal dialog that comes up (the command may pump events
// before it shows one), so a failed check cannot hang the run.
void closeModalWhenShown(QWidget **seen)
{
    constexpr int kAttempts = 500;
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    auto attempts = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, attempts, seen] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog && ++*attempts < kAttempts)
            return;
        if (seen)
            *seen = dialog;
        if (dialog)
            dialog->reject();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

} // namespace

class MainWindowTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void visitSelectedAlwaysPutsHttpInFront();
    void visitWebsiteLooksOnlyForHttp_data();
    void visitWebsiteLooksOnlyForHttp();
    void helpHomePageAndStatus();
    void tickCommandsKeepOrderAndSelection();
    void headerClickSortsAndRemembersTheColumn();
    void columnsKeepTheirMinimumWidths();
    void doubleClickOnBlankAreaOpensTheSelectedRow();
    void stopExitAndAboutStopFirst();
    void maximisingStretchesAndMovesAnchoredControls();
    void fileDialogsAreMadeWhenFirstNeeded();
    void statusTextSurvivesMenusAndFocusChanges();
    void keyboardStartsOnTheTableAndEnterPressesTheFocusedButton();

private:
    Ui::TForm1 *ui() const { return Form1->ui(); }
    void fillRows(const QStringList &captions);

    std::unique_ptr<RecordingShell> m_shell;
};

void MainWindowTest::init()
{
    m_shell = std::make_unique<RecordingShell>();
    kelvora::SetShell(m_shell.get());
    SortColumn = 0;
    Form1 = new TForm1;
    StartForm = new TStartForm(Form1);
    InfoForm = new TInfoForm(Form1);
    DataForm = new TDataForm(Form1);
}

void MainWindowTest::cleanup()
{
    delete Form1;
    Form1 = nullptr;
    StartForm = nullptr;
    InfoForm = nullptr;
    DataForm = nullptr;
    kelvora::SetShell(nullptr);
    m_shell.reset();
}

void MainWindowTest::fillRows(const QStringList &captions)
{
    int rank = 1;
    for (const QString &caption : captions)
        AddRow(ui()->ListView1, ResultRow{caption, false, {QString::number(rank++)}});
}

void MainWindowTest::visitSelectedAlwaysPutsHttpInFront()
{
    // Nothing to open: no rows, then rows with none selected, then an empty caption.
    ui()->PageControl1->setCurrentWidget(ui()->TabSheet2);
    Form1->Visittheselectedwebsite1Click();
    QCOMPARE(ui()->PageControl1->currentWidget(), ui()->TabSheet1);
    fillRows({"a.com", "", "http://b.com"});
    ui()->PageControl1->setCurrentWidget(ui()->TabSheet2);
    Form1->Visittheselectedwebsite1Click();
    QCOMPARE(ui()->PageControl1->currentWidget(), ui()->TabSheet1);
    ui()->ListView1->setCurrentItem(ui()->ListView1->topLevelItem(1));
    Form1->Visittheselectedwebsite1Click();
    Form1->Visitwebsite1Click();
    QVERIFY(m_shell->opened.isEmpty());

    ui()->ListView1->setCurrentItem(ui()->ListView1->topLevelItem(2));
    Form1->Visittheselectedwebsite1Click();
    QCOMPARE(m_shell->opened, QStringList{"http://http://b.com"});
}

void MainWindowTest::visitWebsiteLooksOnlyForHttp_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("opened");
    QTest::newRow("bare host") << "a.com" << "http://a.com";
    QTest::newRow("http already") << "http://a.com" << "http://a.com";
    QTest::newRow("upper-case http") << "HTTP://A.com" << "HTTP://A.com";
    QTest::newRow("http inside") << "a.com/?u=http://b" << "a.com/?u=http://b";
    QTest::newRow("https gets another") << "https://a.com" << "http://https://a.com";
}

void MainWindowTest::visitWebsiteLooksOnlyForHttp()
{
    QFETCH(QString, caption);
    QFETCH(QString, opened);
    fillRows({caption});
    ui()->PageControl1->setCurrentWidget(ui()->TabSheet2);
    ui()->ListView1->setCurrentItem(ui()->ListView1->topLevelItem(0));
    Form1->Visitwebsite1Click();
    QCOMPARE(m_shell->opened, QStringList{opened});
    // The pop-up command stays on the page it was called from.
    QCOMPARE(ui()->PageControl1->currentWidget(), ui()->TabSheet2);
}

void MainWindowTest::helpHomePageAndStatus()
{
    Form1->Contents1Click();
    Form1->VisitHomepage1Click();
    QCOMPARE(m_shell->opened, (QStringList{AppDir + "help.chm", QString::fromLatin1(kelvora::kHomePageUrl)}));

    // F1 reaches the help command through the menu item's shortcut.
    m_shell->opened.clear();
    Form1->show();
    Form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
    QTest::keyClick(Form1, Qt::Key_F1);
    QCOMPARE(m_shell->opened, QStringList{AppDir + "help.chm"});

    Form1->PageHooks().SetStatus("caf\xe9 \x80 done");   // bytes, not UTF-8
    QCOMPARE(ui()->StatusBar1->currentMessage().toLatin1(), QByteArray("caf\xe9 \x80 done"));
}

void MainWindowTest::tickCommandsKeepOrderAndSelection()
{
    for (auto command : {&TForm1::Selectall1Click, &TForm1::Selectnone1Click, &TForm1::Invertselection1Click}) {
        ui()->PageControl1->setCurrentWidget(ui()->TabSheet2);
        (Form1->*command)();   // empty table: only page 1 is shown
        QCOMPARE(ui()->PageControl1->currentWidget(), ui()->TabSheet1);
    }
    fillRows({"a", "b", "c"});
    QTreeWidget *table = ui()->ListView1;
    kelvora::SetTicked(table->topLevelItem(1), true);
    table->setCurrentItem(table->topLevelItem(2));
    auto ticks = [table] {
        QList<bool> list;
        for (int i = 0; i < kelvora::RowCount(table); ++i)
            list << RowAt(table, i).ticked;
        return list;
    };

    Form1->Invertselection1Click();
    QCOMPARE(ticks(), (QList<bool>{true, false, true}));
    Form1->Invertselection1Click();
    QCOMPARE(ticks(), (QList<bool>{false, true, false}));
    Form1->Selectall1Click();
    QCOMPARE(ticks(), (QList<bool>{true, true, true}));
    Form1->Selectnone1Click();
    QCOMPARE(ticks(), (QList<bool>{false, false, false}));
    QCOMPARE(kelvora::SelectedIndex(table), 2);
    QCOMPARE(RowAt(table, 0).caption, QStringLiteral("a"));
    QCOMPARE(RowAt(table, 2).caption, QStringLiteral("c"));
}

void MainWindowTest::headerClickSortsAndRemembersTheColumn()
{
    QTreeWidget *table = ui()->ListView1;
    AddRow(table, ResultRow{"low", false, {"1", "87"}});
    AddRow(table, ResultRow{"none", false, {"2", "0"}});
    AddRow(table, ResultRow{"high", false, {"3", "950"}});
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));

    QHeaderView *header = table->header();
    const QPoint popularity(header->sectionViewportPosition(2) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, popularity);
    QCOMPARE(SortColumn, 2);
    QCOMPARE(RowAt(table, 0).caption, QStringLiteral("high"));
    QCOMPARE(RowAt(table, 1).caption, QStringLiteral("low"));
    QCOMPARE(RowAt(table, 2).caption, QStringLiteral("none"));

    // Rows added later are appended, not re-sorted.
    AddRow(table, ResultRow{"later", false, {"4", "5000"}});
    QCOMPARE(RowAt(table, 3).caption, QStringLiteral("later"));
}

void MainWindowTest::columnsKeepTheirMinimumWidths()
{
    QHeaderView *header = ui()->ListView1->header();
    const int minimums[] = {75, 50, 85, 80, 80, 115, 75};
    for (int i = 0; i < 7; ++i) {
        header->resizeSection(i, 10);
        QCOMPARE(header->sectionSize(i), minimums[i]);
    }
    header->resizeSection(5, 300);
    QCOMPARE(header->sectionSize(5), 300);
}

void MainWindowTest::doubleClickOnBlankAreaOpensTheSelectedRow()
{
    // A loopback address: the dialog's title fetch is refused at once.
    fillRows({"127.0.0.1"});
    ui()->ListView1->setCurrentItem(ui()->ListView1->topLevelItem(0));
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    QWidget *modal = nullptr;
    closeModalWhenShown(&modal);
    QWidget *viewport = ui()->ListView1->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 10));
    QTRY_COMPARE(modal, static_cast<QWidget *>(DataForm));
}

void MainWindowTest::stopExitAndAboutStopFirst()
{
    Form1->StopBtnClick();
    QVERIFY(Form1->searchRun().StopRequested());

    Form1->searchRun().ClearStop();
    QWidget *modal = nullptr;
    closeModalWhenShown(&modal);
    Form1->About1Click();
    QCOMPARE(modal, static_cast<QWidget *>(InfoForm));
    QVERIFY(Form1->searchRun().StopRequested());
    QVERIFY(!InfoForm->isVisible());

    Form1->searchRun().ClearStop();
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    ui()->Exit1->trigger();
    QVERIFY(Form1->searchRun().StopRequested());
    QVERIFY(!Form1->isVisible());
}

void MainWindowTest::maximisingStretchesAndMovesAnchoredControls()
{
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    const QSize normal = Form1->size();
    QWidget *page = ui()->TabSheet1;
    auto rightGap = [page](QWidget *w) { return page->width() - (w->x() + w->width()); };
    auto bottomGap = [page](QWidget *w) { return page->height() - (w->y() + w->height()); };
    const int startRight = rightGap(ui()->BitBtn2);
    const int listBottom = bottomGap(ui()->ListView1);
    const int listRight = rightGap(ui()->ListView1);
    const int buttonBottom = bottomGap(ui()->BitBtn1);
    const QRect panel = ui()->Panel1->geometry();

    Form1->showMaximized();
    QTRY_VERIFY(Form1->width() > normal.width() + 100);
    QTRY_VERIFY(page->width() > 600);
    QCOMPARE(rightGap(ui()->BitBtn2), startRight);
    QCOMPARE(rightGap(ui()->ListView1), listRight);
    QCOMPARE(bottomGap(ui()->ListView1), listBottom);
    QCOMPARE(bottomGap(ui()->BitBtn1), buttonBottom);
    QCOMPARE(ui()->BitBtn1->x(), 0);
    QCOMPARE(ui()->Panel1->geometry().topLeft(), panel.topLeft());
    QVERIFY(ui()->Panel1->width() > panel.width());

    Form1->showNormal();
    QTRY_COMPARE(Form1->size(), normal);
    QCOMPARE(rightGap(ui()->BitBtn2), startRight);
}

// A file dialog reads its folder as soon as it exists: none may be made at
// start-up, each is made once and then kept with its settings.
void MainWindowTest::fileDialogsAreMadeWhenFirstNeeded()
{
    QVERIFY(Form1->findChildren<QFileDialog *>().isEmpty());

    QFileDialog *save = Form1->resultsSaveDialog();
    QCOMPARE(save->objectName(), QStringLiteral("ResultsSaveDialog"));
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    // Never the program's folder, which may not be writable once installed.
    QCOMPARE(QDir(save->directory()).canonicalPath(),
             QDir(kelvora::StartFolder(kelvora::FileKind::Results)).canonicalPath());
    QVERIFY(QDir(save->directory()).canonicalPath() != QDir(AppDir).canonicalPath());
    QCOMPARE(Form1->findChildren<QFileDialog *>().size(), 1);
    QCOMPARE(Form1->resultsSaveDialog(), save);

    QCOMPARE(Form1->openDialog()->objectName(), QStringLiteral("OpenDialog1"));
    QCOMPARE(Form1->openDialog()->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(Form1->dataSaveDialog()->objectName(), QStringLiteral("DataSaveDialog"));
    QCOMPARE(Form1->dataSaveDialog()->defaultSuffix(), QStringLiteral("txt"));
    QCOMPARE(Form1->findChildren<QFileDialog *>().size(), 3);
}


// Only the search run and the popularity reading write the status bar: the
// menus' (empty) status tips must not wipe what they wrote.
void MainWindowTest::statusTextSurvivesMenusAndFocusChanges()
{
    Form1->show();
    Form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
    const QString done = QStringLiteral("Done!");
    ui()->StatusBar1->showMessage(done);

    for (QMenu *menu : {ui()->File1, ui()->Website1, ui()->Help1, Form1->PopupMenu1}) {
        menu->popup(Form1->mapToGlobal(QPoint(40, 40)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            QTest::mouseMove(menu, menu->actionGeometry(action).center());
            QTRY_COMPARE(menu->activeAction(), action);
            QCOMPARE(ui()->StatusBar1->currentMessage(), done);
        }
        menu->hide();
        QCOMPARE(ui()->StatusBar1->currentMessage(), done);
    }

    // The menu bar by keyboard, then the focus moving between controls.
    QTest::keyClick(Form1, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(ui()->File1->isVisible());
    QTest::keyClick(ui()->File1, Qt::Key_Down);
    QTest::keyClick(ui()->File1, Qt::Key_Escape);
    QTest::keyClick(Form1, Qt::Key_Escape);
    QTRY_VERIFY(!ui()->File1->isVisible());
    ui()->BitBtn2->setFocus(Qt::TabFocusReason);
    QTest::keyClick(ui()->BitBtn2, Qt::Key_Tab);
    QCOMPARE(ui()->StatusBar1->currentMessage(), done);
}

// The window opens with the keyboard on the results table, so one Tab reaches
// "Start"; Enter presses the focused button, which is never made the default.
void MainWindowTest::keyboardStartsOnTheTableAndEnterPressesTheFocusedButton()
{
    Form1->show();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
    QCOMPARE(QApplication::focusWidget(), ui()->ListView1);
    QTest::keyClick(Form1->windowHandle(), Qt::Key_Return);   // nothing to press on the table
    QVERIFY(!Form1->searchRun().StopRequested());
    QTest::keyClick(Form1->windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui()->BitBtn2);

    QWidget *modal = nullptr;
    closeModalWhenShown(&modal);
    QTest::keyClick(Form1->windowHandle(), Qt::Key_Return);
    QCOMPARE(modal, static_cast<QWidget *>(StartForm));
    QVERIFY(Form1->searchRun().StopRequested());   // Start stopped first; the dialog was not confirmed
    QVERIFY(!ui()->BitBtn2->isDefault());
}

KELVORA_GUI_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
