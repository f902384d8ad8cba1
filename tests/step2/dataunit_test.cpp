#include "step2_fixture.h"

#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "dialogs/dataunit.h"
#include "tests/support/loopback_server.h"
#include "ui_dataunit.h"
#include "ui_unit1.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QTreeWidget>

#include <atomic>

using kelvora::testsupport::LoopbackServer;
using step2test::AnswerNextModal;
using step2test::Windows;

namespace {

// A home page whose title counts the requests, so a refetch is visible.
LoopbackServer::Handler countingHomePage(std::shared_ptr<std::atomic<int>> served)
{
    return [served](const std::string &) {
        const std::string body = "<html><head><TITLE>Acme \xe9 Tools " + std::to_string(++*served)
                                 + "</TITLE></head><body>x</body></html>";
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
}

QWidget *nextTabStop(QWidget *widget)
{
    do
        widget = widget->nextInFocusChain();
    while (!(widget->focusPolicy() & Qt::TabFocus));
    return widget;
}

void addRows(TForm1 &form, const QList<kelvora::ResultRow> &rows)
{
    for (const kelvora::ResultRow &row : rows)
        kelvora::AddRow(form.ui()->ListView1, row);
}

} // namespace

class DataUnitTest final : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void showsTheSelectedRowWithTheHomePageTitle();
    void visitWebsiteOpensTheRowAndShowsPageOne();
    void nothingHappensWithoutASelectedRow();
    void unreachableSiteGivesAnEmptyDescription();
    void eachShowingIsCentredWithTheFocusOnTheAddress();
};

void DataUnitTest::layout()
{
    TDataForm form;
    Ui::TDataForm *ui = form.ui();
    QCOMPARE(form.windowTitle(), QStringLiteral("JV Partner Website Information:"));
    QCOMPARE(form.size(), QSize(428, 268));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));

    // Each labelled edit has its label 3 pixels above it; no field takes typing.
    const QList<std::pair<QLineEdit *, QLabel *>> edits = {
        {ui->leURL, ui->leURLLabel}, {ui->leSince, ui->leSinceLabel}, {ui->leCompet, ui->leCompetLabel}};
    for (const auto &[edit, label] : edits) {
        QCOMPARE(label->geometry().bottom() + 1 + 3, edit->y());
        QTest::keyClicks(edit, QStringLiteral("typed"));
        QVERIFY(edit->text().isEmpty());
    }
    QTest::keyClicks(ui->DescriptionMemo, QStringLiteral("typed"));
    QVERIFY(ui->DescriptionMemo->toPlainText().isEmpty());

    // Tab order: the panel's fields, then "Visit Website!", then "Close".
    QWidget *expected[] = {ui->leURL, ui->leSince, ui->leCompet, ui->DescriptionMemo,
                           ui->RefreshBitBtn, ui->BitBtn1, ui->BitBtn2};
    for (std::size_t i = 0; i + 1 < std::size(expected); ++i)
        QCOMPARE(nextTabStop(expected[i]), expected[i + 1]);
}

void DataUnitTest::showsTheSelectedRowWithTheHomePageTitle()
{
    auto served = std::make_shared<std::atomic<int>>(0);
    LoopbackServer server(countingHomePage(served));
    step2test::ResolveAllTo(server.port());
    Windows windows;
    TForm1 &form = windows.form();
    addRows(form, {{"first.test", false, {"1", "5", "7", "2000", "10", "x.test"}},
                   {"www.site.test", true, {"2", "9", "3", "", "20", ""}}});
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(1));

    QString shownTitle, refreshedTitle, since, competitor, url;
    int result = -1;
    auto seen = AnswerNextModal([&](QWidget *modal) {
        QCOMPARE(modal, static_cast<QWidget *>(DataForm));
        Ui::TDataForm *ui = DataForm->ui();
        url = ui->leURL->text();
        since = ui->leSince->text();
        competitor = ui->leCompet->text();
        shownTitle = ui->DescriptionMemo->toPlainText();
        ui->RefreshBitBtn->click();
        refreshedTitle = ui->DescriptionMemo->toPlainText();
        ui->BitBtn2->click();
    });
    QObject::connect(DataForm, &QDialog::finished, DataForm, [&](int code) { result = code; });
    form.Getwebsiteinformation2Click();

    QVERIFY(seen->seen);
    QCOMPARE(url, QStringLiteral("www.site.test"));
    QVERIFY(since.isEmpty());
    QVERIFY(competitor.isEmpty());
    QCOMPARE(shownTitle, QString::fromLatin1("Acme \xe9 Tools 1"));
    QCOMPARE(refreshedTitle, QString::fromLatin1("Acme \xe9 Tools 2"));
    QCOMPARE(result, 5);
    const std::vector<std::string> requests = server.requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QVERIFY(requests[0].rfind("GET / HTTP/1.1\r\nHost: www.site.test\r\n", 0) == 0);

    // The other row's cells fill the fields the next time.
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(0));
    const auto watch = AnswerNextModal([&](QWidget *) {
        since = DataForm->ui()->leSince->text();
        competitor = DataForm->ui()->leCompet->text();
    });
    form.Getwebsiteinformation2Click();
    QCOMPARE(since, QStringLiteral("2000"));
    QCOMPARE(competitor, QStringLiteral("x.test"));
}

void DataUnitTest::visitWebsiteOpensTheRowAndShowsPageOne()
{
    auto served = std::make_shared<std::atomic<int>>(0);
    LoopbackServer server(countingHomePage(served));
    step2test::ResolveAllTo(server.port());
    Windows windows;
    TForm1 &form = windows.form();
    addRows(form, {{"http://odd.test", false, {"1", "", "", "", "", ""}}});
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(0));
    form.ui()->PageControl1->setCurrentIndex(1);

    bool stillOpen = false;
    int pageAfterVisit = -1;
    const auto watch = AnswerNextModal([&](QWidget *) {
        DataForm->ui()->BitBtn1->click();
        stillOpen = DataForm->isVisible();
        pageAfterVisit = form.ui()->PageControl1->currentIndex();
        DataForm->ui()->BitBtn2->click();
    });
    form.Getwebsiteinformation2Click();

    QVERIFY(stillOpen);
    QCOMPARE(pageAfterVisit, 0);
    QCOMPARE(windows.shell.opened, QStringList({"http://http://odd.test"}));
}

void DataUnitTest::nothingHappensWithoutASelectedRow()
{
    auto served = std::make_shared<std::atomic<int>>(0);
    LoopbackServer server(countingHomePage(served));
    step2test::ResolveAllTo(server.port());
    Windows windows;
    TForm1 &form = windows.form();

    auto seen = AnswerNextModal([](QWidget *) {});
    form.Getwebsiteinformation2Click();       // empty table
    addRows(form, {{"a.test", true, {"1", "", "", "", "", ""}}, {"", true, {"2", "", "", "", "", ""}}});
    form.ui()->ListView1->clearSelection();
    form.ui()->ListView1->setCurrentItem(nullptr);
    form.Getwebsiteinformation2Click();       // rows, none selected
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(1));
    form.Getwebsiteinformation2Click();       // selected row without caption
    QTest::qWait(100);

    QVERIFY(!seen->seen);
    QCOMPARE(server.connectionCount(), std::size_t(0));
}

void DataUnitTest::unreachableSiteGivesAnEmptyDescription()
{
    // A server that closes without a byte stands for a site that cannot be reached.
    LoopbackServer server(kelvora::testsupport::Script{kelvora::testsupport::Close()});
    step2test::ResolveAllTo(server.port());
    Windows windows;
    TForm1 &form = windows.form();
    addRows(form, {{"gone.test", false, {"1", "", "", "", "", ""}}});
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(0));
    DataForm->ui()->DescriptionMemo->setPlainText(QStringLiteral("stale"));

    QString description = QStringLiteral("<not shown>");
    auto seen = AnswerNextModal([&](QWidget *) { description = DataForm->ui()->DescriptionMemo->toPlainText(); });
    form.Getwebsiteinformation2Click();
    QVERIFY(seen->seen);
    QCOMPARE(description, QString());
}

// Qt would centre the dialog over the main window and keep last showing's
// focus; each showing starts centred on the screen on the address field, and
// Enter on a focused button presses it.
void DataUnitTest::eachShowingIsCentredWithTheFocusOnTheAddress()
{
    auto served = std::make_shared<std::atomic<int>>(0);
    LoopbackServer server(countingHomePage(served));
    step2test::ResolveAllTo(server.port());
    Windows windows;
    TForm1 &form = windows.form();
    form.move(0, 0);
    form.show();
    addRows(form, {{"www.site.test", false, {"1", "", "", "", "", ""}}});
    form.ui()->ListView1->setCurrentItem(form.ui()->ListView1->topLevelItem(0));
    const QPoint screenCentre = DataForm->screen()->availableGeometry().center();

    for (int showing = 0; showing < 2; ++showing) {
        QWidget *focused = nullptr;
        QWidget *afterBackTab = nullptr;
        QPoint centre;
        int result = -1;
        const auto connection =
            QObject::connect(DataForm, &QDialog::finished, DataForm, [&result](int code) { result = code; });
        auto seen = AnswerNextModal([&](QWidget *modal) {
            if (!QTest::qWaitForWindowActive(modal))
                return;
            focused = QApplication::focusWidget();
            centre = modal->frameGeometry().center();
            modal->move(0, 0);
            // Back from the first tab stop to the last, "Close", and Enter.
            QTest::keyClick(modal->windowHandle(), Qt::Key_Tab, Qt::ShiftModifier);
            afterBackTab = QApplication::focusWidget();
            QTest::keyClick(modal->windowHandle(), Qt::Key_Return);
        });
        form.Getwebsiteinformation2Click();
        QObject::disconnect(connection);

        QVERIFY(seen->seen);
        QVERIFY2((centre - screenCentre).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("showing %1 centred at %2,%3, screen centre %4,%5")
                                .arg(showing).arg(centre.x()).arg(centre.y())
                                .arg(screenCentre.x()).arg(screenCentre.y())));
        QCOMPARE(focused, static_cast<QWidget *>(DataForm->ui()->leURL));
        QCOMPARE(afterBackTab, static_cast<QWidget *>(DataForm->ui()->BitBtn2));
        QCOMPARE(result, 5);
        QVERIFY(!DataForm->ui()->BitBtn2->isDefault());
    }
}

STEP2_TEST_MAIN(DataUnitTest)
#include "dataunit_test.moc"
