#include "app/globals.h"
#include "dialogs/startunit.h"
#include "gui_test_main.h"
#include "platform/registry.h"
#include "ui_startunit.h"

#include <QFile>
#include <QTimer>

#include <functional>
#include <optional>

using kelvora::RegistryKey;
using kelvora::kSetupKeyPath;

namespace {

struct Stored {
    std::optional<std::string> keyterm;
    std::optional<std::string> home;
    std::optional<std::int32_t> skip;
};

Stored readBack()
{
    Stored stored;
    RegistryKey key;
    if (!key.OpenKey(kSetupKeyPath, false))
        return stored;
    if (key.ValueExists("keyterm"))
        stored.keyterm = key.ReadString("keyterm");
    if (key.ValueExists("home"))
        stored.home = key.ReadString("home");
    if (key.ValueExists("skip"))
        stored.skip = key.ReadInteger("skip");
    return stored;
}

// Opens the dialog modally and runs action once it is up; the dialog is always
// ended afterwards, so a failing action cannot leave the test waiting.
int runModal(TStartForm &form, const std::function<void(TStartForm &)> &action)
{
    bool reached = false;
    QTimer::singleShot(0, &form, [&] {
        reached = QApplication::activeModalWidget() == &form;
        if (reached)
            action(form);
        if (form.isVisible())
            form.done(QDialog::Rejected);
    });
    const int result = form.exec();
    return reached ? result : -1;
}

} // namespace

class StartFormTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void firstRunStartsEmptyAndEveryEndingSaves();
    void storedSkipIsClampedAndWrittenBackClamped_data();
    void storedSkipIsClampedAndWrittenBackClamped();
    void wrongValueTypeStopsTheLoadingThere();
    void buttonsDecideTheGoAhead();
    void textsSurviveReopeningAndAreReloadedNextStart();
};

void StartFormTest::init()
{
    RegistryKey key;
    if (key.OpenKey(kSetupKeyPath, false))
        QFile::remove(QString::fromStdString(key.FilePath()));
    StopRequested = false;
}

void StartFormTest::firstRunStartsEmptyAndEveryEndingSaves()
{
    TStartForm form;
    QVERIFY(form.ui()->LabeledEdit1->text().isEmpty());
    QCOMPARE(form.ui()->SkipSpinEdit->value(), 0);
    QVERIFY(form.ui()->rbKeyword->isChecked());
    QVERIFY(!readBack().keyterm);

    QCOMPARE(runModal(form, [](TStartForm &f) { f.close(); }), int(QDialog::Rejected));
    const Stored stored = readBack();
    QCOMPARE(stored.keyterm, std::optional<std::string>(""));
    QCOMPARE(stored.home, std::optional<std::string>(""));
    QCOMPARE(stored.skip, std::optional<std::int32_t>(0));

    // Escape ends the dialog through reject(): it saves too, bytes intact.
    runModal(form, [](TStartForm &f) {
        f.ui()->HomepageEdit->setText(QString::fromLatin1("caf\xe9.example"));
        QTest::keyClick(&f, Qt::Key_Escape);
    });
    QCOMPARE(readBack().home, std::optional<std::string>("caf\xe9.example"));
    QVERIFY(!StopRequested);   // neither close box nor Escape touches the flag
}

void StartFormTest::storedSkipIsClampedAndWrittenBackClamped_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("above") << 150 << 99;
    QTest::newRow("below") << -5 << 0;
    QTest::newRow("inside") << 42 << 42;
}

void StartFormTest::storedSkipIsClampedAndWrittenBackClamped()
{
    QFETCH(int, stored);
    QFETCH(int, shown);
    {
        RegistryKey key;
        QVERIFY(key.OpenKey(kSetupKeyPath, true));
        key.WriteString("keyterm", "web hosting");
        key.WriteInteger("skip", stored);
    }
    TStartForm form;
    QCOMPARE(form.ui()->SkipSpinEdit->value(), shown);
    QCOMPARE(form.ui()->LabeledEdit1->text(), QStringLiteral("web hosting"));
    runModal(form, [](TStartForm &f) { f.BitBtn2Click(); });
    QCOMPARE(readBack().skip, std::optional<std::int32_t>(shown));
}

void StartFormTest::wrongValueTypeStopsTheLoadingThere()
{
    {
        RegistryKey key;
        QVERIFY(key.OpenKey(kSetupKeyPath, true));
        key.WriteInteger("keyterm", 7);
        key.WriteString("home", "www.example.com");
        key.WriteInteger("skip", 12);
    }
    TStartForm form;
    QVERIFY(form.ui()->LabeledEdit1->text().isEmpty());
    QVERIFY(form.ui()->HomepageEdit->text().isEmpty());
    QCOMPARE(form.ui()->SkipSpinEdit->value(), 0);
}

void StartFormTest::buttonsDecideTheGoAhead()
{
    TStartForm form;
    QCOMPARE(runModal(form, [](TStartForm &f) { f.ui()->BitBtn2->click(); }), TStartForm::kCancelResult);
    QVERIFY(StopRequested);
    // Cancel, then Research with an empty keyword: the search goes ahead.
    QCOMPARE(runModal(form, [](TStartForm &f) { f.ui()->BitBtn1->click(); }), TStartForm::kResearchResult);
    QVERIFY(!StopRequested);
    QVERIFY(!form.isVisible());
}

void StartFormTest::textsSurviveReopeningAndAreReloadedNextStart()
{
    {
        TStartForm form;
        runModal(form, [](TStartForm &f) {
            f.ui()->LabeledEdit1->setText("web hosting");
            f.ui()->HomepageEdit->setText("my site/x:y");
            f.ui()->rbDomain->setChecked(true);
            f.BitBtn1Click();
        });
        QString seen;
        QVERIFY(runModal(form, [&seen](TStartForm &f) { seen = f.ui()->LabeledEdit1->text(); }) >= 0);
        QCOMPARE(seen, QStringLiteral("web hosting"));
        QVERIFY(form.ui()->rbDomain->isChecked());
    }
    TStartForm next;
    QCOMPARE(next.ui()->LabeledEdit1->text(), QStringLiteral("web hosting"));
    QCOMPARE(next.ui()->HomepageEdit->text(), QStringLiteral("my site/x:y"));
    QVERIFY(next.ui()->rbKeyword->isChecked());
}

KELVORA_GUI_TEST_MAIN(StartFormTest)
#include "start_form_test.moc"
