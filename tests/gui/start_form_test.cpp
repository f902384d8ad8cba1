#include "dialogs/startunit.h"
#include "gui_test_main.h"
#include "platform/registry.h"
#include "ui_startunit.h"

#include <QFile>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

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

// Sends a key the way the platform does, to the focus object of the window
// that has the keyboard; false when none has it (the dialog has ended).
bool press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWindow *window = QGuiApplication::focusWindow();
    if (window == nullptr)
        return false;
    QTest::keyClick(window, key, modifiers);
    return true;
}

bool type(const QString &text)
{
    for (const QChar c : text) {
        QWindow *window = QGuiApplication::focusWindow();
        if (window == nullptr)
            return false;
        QTest::keyClick(window, c.toLatin1());
    }
    return true;
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
    void eachShowingIsCentredWithTheFocusOnResearch();
    void keyboardAloneEndsTheDialog();
    void keywordLabelFitsInsideTheFrame();
};

void StartFormTest::init()
{
    RegistryKey key;
    if (key.OpenKey(kSetupKeyPath, false))
        QFile::remove(QString::fromStdString(key.FilePath()));
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
    // Cancel, then Research with an empty keyword: the search goes ahead.
    QCOMPARE(runModal(form, [](TStartForm &f) { f.ui()->BitBtn1->click(); }), TStartForm::kResearchResult);
    QVERIFY(!form.isVisible());

    // What the dialog hands back: both texts, and the query the mode picks.
    using Mode = kelvora::SearchRequest::Mode;
    form.ui()->LabeledEdit1->setText(QStringLiteral("web hosting"));
    form.ui()->HomepageEdit->setText(QString::fromLatin1("caf\xe9.example"));
    const struct {
        QRadioButton *button;
        Mode mode;
        QString query;
    } cases[] = {
        {form.ui()->rbDomain, Mode::Domain, QString::fromLatin1("caf\xe9.example")},
        {form.ui()->rbKeyword, Mode::Keyword, QStringLiteral("web hosting")},
    };
    for (const auto &c : cases) {
        c.button->setChecked(true);
        const kelvora::SearchRequest request = form.Request();
        QVERIFY(request.mode == c.mode);
        QCOMPARE(request.keyword, QStringLiteral("web hosting"));
        QCOMPARE(request.homepage, QString::fromLatin1("caf\xe9.example"));
        QCOMPARE(request.Query(), c.query);
    }
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

// Qt centres a dialog over its parent and gives the focus by creation order,
// keeping it where it was at the last showing; every showing must start
// centred on the screen with "Research" focused, so Tab, Tab reaches the keyword.
void StartFormTest::eachShowingIsCentredWithTheFocusOnResearch()
{
    QWidget owner;
    owner.setGeometry(0, 0, 200, 100);
    owner.show();
    TStartForm form(&owner);
    const QPoint screenCentre = form.screen()->availableGeometry().center();

    for (int showing = 0; showing < 2; ++showing) {
        QWidget *focused = nullptr;
        QWidget *afterTwoTabs = nullptr;
        QPoint centre;
        runModal(form, [&](TStartForm &f) {
            if (!QTest::qWaitForWindowActive(&f))
                return;
            focused = QApplication::focusWidget();
            centre = f.frameGeometry().center();
            if (press(Qt::Key_Tab) && press(Qt::Key_Tab))
                afterTwoTabs = QApplication::focusWidget();
            f.move(0, 0);   // left elsewhere, with the focus elsewhere
        });
        QVERIFY2((centre - screenCentre).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("showing %1 centred at %2,%3, screen centre %4,%5")
                                .arg(showing).arg(centre.x()).arg(centre.y())
                                .arg(screenCentre.x()).arg(screenCentre.y())));
        QCOMPARE(focused, static_cast<QWidget *>(form.ui()->BitBtn1));
        QCOMPARE(afterTwoTabs, static_cast<QWidget *>(form.ui()->LabeledEdit1));
    }
}

// Enter presses the focused button; in a text field it does nothing, and no
// button is ever the dialog's default.
void StartFormTest::keyboardAloneEndsTheDialog()
{
    TStartForm form;
    auto anyDefault = [&form] { return form.ui()->BitBtn1->isDefault() || form.ui()->BitBtn2->isDefault(); };

    bool stayedOpen = false;
    bool defaultSeen = false;
    const int research = runModal(form, [&](TStartForm &f) {
        if (!QTest::qWaitForWindowActive(&f))
            return;
        // Tab, Tab to the keyword; Enter there changes nothing.
        stayedOpen = press(Qt::Key_Tab) && press(Qt::Key_Tab) && type(QStringLiteral("web hosting"))
                     && press(Qt::Key_Return) && press(Qt::Key_Enter, Qt::KeypadModifier) && f.isVisible();
        defaultSeen = anyDefault();
        // Back to "Research", which no button press has made the default.
        if (stayedOpen && press(Qt::Key_Tab, Qt::ShiftModifier)) {
            defaultSeen = defaultSeen || anyDefault();
            if (press(Qt::Key_Tab, Qt::ShiftModifier)) {
                defaultSeen = defaultSeen || anyDefault();
                press(Qt::Key_Return);
            }
        }
    });
    QVERIFY(stayedOpen);
    QVERIFY(!defaultSeen);
    QCOMPARE(research, TStartForm::kResearchResult);
    QCOMPARE(form.ui()->LabeledEdit1->text(), QStringLiteral("web hosting"));

    // Tab to "Cancel", keypad Enter.
    const int cancel = runModal(form, [](TStartForm &f) {
        if (QTest::qWaitForWindowActive(&f) && press(Qt::Key_Tab))
            press(Qt::Key_Enter, Qt::KeypadModifier);
    });
    QCOMPARE(cancel, TStartForm::kCancelResult);
}

// The keyword's label is wider than the edit below it: at the dialog's font
// its last character must still end inside the frame.
void StartFormTest::keywordLabelFitsInsideTheFrame()
{
    TStartForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QLabel *label = form.ui()->LabeledEdit1Label;
    const QGroupBox *frame = form.ui()->GroupBox1;
    QCOMPARE(label->text(), QStringLiteral("Enter keyword or phrase related to your business:"));
    QCOMPARE(label->x(), form.ui()->LabeledEdit1->x());
    const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
    QVERIFY2(textWidth <= label->contentsRect().width(),
             qPrintable(QStringLiteral("text %1 px in a %2 px label").arg(textWidth).arg(label->width())));
    const QRect inside = frame->contentsRect();
    QVERIFY2(inside.contains(label->geometry()),
             qPrintable(QStringLiteral("label right %1, frame inside right %2 of width %3")
                            .arg(label->geometry().right()).arg(inside.right()).arg(frame->width())));
}

KELVORA_GUI_TEST_MAIN(StartFormTest)
#include "start_form_test.moc"
