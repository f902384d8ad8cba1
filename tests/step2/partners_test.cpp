#include "step2_fixture.h"

#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_run.h"
#include "app/unit1.h"
#include "tests/support/loopback_server.h"
#include "ui_unit1.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdlib>

using kelvora::testsupport::LoopbackServer;
using step2test::AnswerNextModal;
using step2test::ReadAll;
using step2test::Windows;

namespace {

QStringList items(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

void addTicked(TForm1 &form, const QStringList &captions, const QList<bool> &ticks)
{
    for (qsizetype i = 0; i < captions.size(); ++i)
        kelvora::AddRow(form.ui()->ListView1, {captions[i], ticks[i], {"", "", "", "", "", ""}});
}

} // namespace

class PartnersTest final : public QObject {
    Q_OBJECT
private slots:
    void addSelectionTakesTickedRowsOnce();
    void clearAsksFirst();
    void getDataShowsContactDataAndProposesAName();
    void saveDataWritesThePaneWithCrLf();
    void saveDataFailureIsReported();
    void competitorSummaryWithoutMarkers();
};

void PartnersTest::addSelectionTakesTickedRowsOnce()
{
    Windows windows;
    TForm1 &form = windows.form();
    QComboBox *list = form.ui()->cbURL;

    // No ticked row and an empty list: nothing selected, page 2 shown.
    addTicked(form, {"x.test"}, {false});
    form.AddselectiontoStep21Click();
    QCOMPARE(list->count(), 0);
    QCOMPARE(form.ui()->PageControl1->currentIndex(), 1);

    kelvora::ClearRows(form.ui()->ListView1);
    addTicked(form, {"www.a.test", "b.test", "WWW.A.TEST", "", "c.test"}, {true, false, true, true, true});
    form.ui()->PageControl1->setCurrentIndex(0);
    form.AddselectiontoStep21Click();
    QCOMPARE(items(list), QStringList({"www.a.test", "c.test"}));
    QCOMPARE(list->currentText(), QStringLiteral("www.a.test"));
    QCOMPARE(form.ui()->PageControl1->currentIndex(), 1);

    // Again, after the user typed into the field and ticked one more row: the
    // new row is appended and the first item stands in the field.
    list->setEditText(QStringLiteral("typed.test"));
    kelvora::SetTicked(form.ui()->ListView1->topLevelItem(1), true);
    form.BitBtn1Click();
    QCOMPARE(items(list), QStringList({"www.a.test", "c.test", "b.test"}));
    QCOMPARE(list->currentText(), QStringLiteral("www.a.test"));
}

void PartnersTest::clearAsksFirst()
{
    Windows windows;
    TForm1 &form = windows.form();
    QComboBox *list = form.ui()->cbURL;
    form.ui()->WhoisMemo->setPlainText(QStringLiteral("kept"));

    QString caption, text;
    auto seen = AnswerNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->button(QMessageBox::Ok)->click();
    });
    form.Clear1Click();
    QVERIFY(seen->seen);
    QCOMPARE(caption, QStringLiteral("Kelvora"));
    QCOMPARE(text, QStringLiteral("There are no partners in the selection combo box!"));
    QCOMPARE(form.ui()->PageControl1->currentIndex(), 1);

    list->addItems({"a.test", "b.test"});
    list->setCurrentIndex(1);
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        seen = AnswerNextModal([&, answer](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            box->button(answer)->click();
        });
        form.Clear1Click();
        QVERIFY(seen->seen);
        QCOMPARE(caption, QStringLiteral("Delete the partners list?"));
        QCOMPARE(text, QStringLiteral("Are you sure you want to delete all the websites you have selected already?"));
        if (answer == QMessageBox::No) {
            QCOMPARE(items(list), QStringList({"a.test", "b.test"}));
            QCOMPARE(list->currentText(), QStringLiteral("b.test"));
        }
    }
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->currentText(), QString());
    QCOMPARE(form.ui()->WhoisMemo->toPlainText(), QStringLiteral("kept"));
}

void PartnersTest::getDataShowsContactDataAndProposesAName()
{
    LoopbackServer server([](const std::string &) {
        const std::string body =
            "<html><body><!--Contact--><b>Acme &amp; Sons</b><br>1 Main St.\r\n"
            "<a href=\"mailto:x@shop.test\">x@shop.test</a><!--/contact-->"
            "<span>online since:</span> 12-Jan-1999<p></body></html>";
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    step2test::ResolveAllTo(server.port());
    ::setenv("KELVORA_TRAFFIC_HOST", "traffic.test", 1);
    Windows windows;
    TForm1 &form = windows.form();

    form.ui()->cbURL->setEditText(QStringLiteral("http://Shop.example.test/"));
    form.BitBtn3Click();

    QCOMPARE(server.requests().size(), std::size_t(1));
    QVERIFY(server.requests()[0].rfind("GET /data/details/?url=www.shop.example.test/ HTTP/1.1\r\n"
                                       "Host: traffic.test\r\n", 0) == 0);
    const QStringList lines = form.ui()->WhoisMemo->toPlainText().split(QLatin1Char('\n'));
    QVERIFY2(lines.size() > 4, qPrintable(lines.join('|')));
    QCOMPARE(lines[0], QStringLiteral("Website: shop.example.test/"));
    QVERIFY(lines.contains(QStringLiteral("Acme & Sons")));
    QVERIFY(lines.contains(QStringLiteral("x@shop.test")));
    QVERIFY(lines.contains(QStringLiteral("Competitor:")));
    QVERIFY(form.dataSaveDialog()->selectedFiles().value(0).endsWith(QStringLiteral("/shop.txt")));

    form.ui()->cbURL->setEditText(QStringLiteral("localhost"));
    form.BitBtn3Click();
    QVERIFY(form.dataSaveDialog()->selectedFiles().value(0).endsWith(QStringLiteral("/.txt")));
    ::unsetenv("KELVORA_TRAFFIC_HOST");
}

void PartnersTest::saveDataWritesThePaneWithCrLf()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();

    // An empty pane: page 2 shown, no Stop, no dialog.
    form.searchRun().ClearStop();
    form.ui()->PageControl1->setCurrentIndex(0);
    auto seen = AnswerNextModal([](QWidget *) {});
    form.SavedatatoAsciifile1Click();
    QTest::qWait(100);
    QVERIFY(!seen->seen);
    QVERIFY(!form.searchRun().StopRequested());
    QCOMPARE(form.ui()->PageControl1->currentIndex(), 1);

    // An existing file is replaced without a question; the lines are joined
    // by CR LF with nothing after the last one; the bytes are Latin-1.
    const QString path = dir.filePath("partner.txt");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and much longer content\r\n");
    }
    form.ui()->WhoisMemo->setPlainText(QString::fromLatin1("Website: caf\xe9.test\nsecond\xa0line"));
    seen = step2test::ChooseFile(path);
    form.SavedatatoAsciifile1Click();
    QVERIFY(seen->seen);
    QVERIFY(form.searchRun().StopRequested());
    QCOMPARE(ReadAll(path), std::string("Website: caf\xe9.test\r\nsecond\xa0line"));
    form.searchRun().ClearStop();
}

void PartnersTest::saveDataFailureIsReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString blocker = dir.filePath("plain");
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    Windows windows;
    TForm1 &form = windows.form();
    form.ui()->WhoisMemo->setPlainText(QStringLiteral("data"));

    const QString target = blocker + QStringLiteral("/partner.txt");
    QString caption, text;
    step2test::Watch notice;
    auto seen = AnswerNextModal([&](QWidget *modal) {
        QVERIFY(step2test::AcceptFile(modal, target));
        notice = AnswerNextModal([&](QWidget *box) {
            caption = box->windowTitle();
            text = qobject_cast<QMessageBox *>(box) ? qobject_cast<QMessageBox *>(box)->text() : QString();
        });
    });
    form.SavedatatoAsciifile1Click();
    QVERIFY(notice && notice->seen);
    QVERIFY(seen->seen);
    QCOMPARE(caption, QStringLiteral("Kelvora"));
    QVERIFY2(text.contains(target), qPrintable(text));
    QCOMPARE(ReadAll(blocker), std::string("x"));
}

void PartnersTest::competitorSummaryWithoutMarkers()
{
    Windows windows;
    TForm1 &form = windows.form();
    form.ui()->WhoisMemo->setPlainText(QStringLiteral("Nothing\nto read here"));
    form.BitBtn4Click();
    QCOMPARE(form.ui()->WhoisMemo->toPlainText(),
             QStringLiteral("Competitor:\n\n\nSince:\n\n\nRanking:\n999999999"));
}

STEP2_TEST_MAIN(PartnersTest)
#include "partners_test.moc"
