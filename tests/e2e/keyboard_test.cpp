// The program driven by the keyboard alone, on an X server of the test's own
// (xvfb-run): real key presses (XTEST, through xdotool) go wherever the X
// server sends them, so a window that has not got the keyboard, or a pop-up
// left behind, shows as it would to a user.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "app/globals.h"
#include "app/unit1.h"
#include "dialogs/infounit.h"
#include "dialogs/startunit.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/fake_web.h"
#include "ui_startunit.h"
#include "ui_unit1.h"

using namespace kelvora::e2e;

namespace {

constexpr int kPollIntervalMs = 10;
constexpr int kStepTimeoutMs = 10000;
constexpr int kWatchdogMs = 20000;
constexpr int kXdotoolTimeoutMs = 10000;
// How long a pop-up that appears late (a folder's listing arrives after the
// dialog) is given to show up before the screen is judged.
constexpr int kLatePopupMs = 800;

// Real key presses through the X server to whichever window has the keyboard.
bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(kXdotoolTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning("xdotool %s failed: %s", qPrintable(arguments.join(u' ')),
                 qPrintable(process.readAllStandardError()));
        return false;
    }
    return true;
}

bool keys(const QStringList &names)
{
    return xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + names);
}

bool typeText(const QString &text)
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
}

QList<QPointer<QTimer>> &pendingSteps()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

// Runs act once condition holds, polled from whatever event loop runs (a
// modal dialog's included); gives up after kStepTimeoutMs. Returns a flag
// that tells whether act ran.
std::shared_ptr<bool> when(std::function<bool()> condition, std::function<void()> act)
{
    auto ran = std::make_shared<bool>(false);
    auto *timer = new QTimer(qApp);
    pendingSteps().append(timer);
    auto waited = std::make_shared<int>(0);
    timer->setInterval(kPollIntervalMs);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (!condition()) {
            *waited += kPollIntervalMs;
            if (*waited >= kStepTimeoutMs) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        *ran = true;
        act();
    });
    timer->start();
    return ran;
}

// A failed case leaves no step behind to act in the next one.
void cancelPendingSteps()
{
    for (const QPointer<QTimer> &timer : std::as_const(pendingSteps())) {
        if (timer)
            timer->deleteLater();
    }
    pendingSteps().clear();
}

// Ends any modal window and menu still up after kWatchdogMs, so a key that
// went astray fails the test instead of hanging it.
class Watchdog final {
public:
    Watchdog()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_fired = true;
            while (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        m_timer.start(kWatchdogMs);
    }
    bool fired() const { return m_fired; }

private:
    QTimer m_timer;
    bool m_fired = false;
};

bool activeModalIs(QWidget *widget)
{
    return widget != nullptr && QApplication::activeModalWidget() == widget
           && QApplication::activeWindow() == widget;
}

QFileDialog *modalFileDialog()
{
    return qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
}

// Pop-up windows of the program still on screen (menus, completer lists).
QStringList mappedPopups()
{
    QStringList popups;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->windowType() == Qt::Popup && widget->isVisible())
            popups << QString::fromLatin1(widget->metaObject()->className());
    }
    return popups;
}

} // namespace

class KeyboardTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchWithSpace();
    void searchWithEnter();
    void openFileLeavesNothingBehind();
    void aboutBoxGivesTheKeyboardBack();

private:
    void searchByKeyboard(const QString &press);
    // Alt+F must open the File menu at once: the main window has the keyboard.
    void fileMenuAnswersAltF();

    std::unique_ptr<FakeWeb> m_fake;
    std::unique_ptr<Program> m_program;
};

void KeyboardTest::initTestCase()
{
    QVERIFY2(xdotool({QStringLiteral("version")}), "xdotool is needed (scripts/install-deps)");
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "runs against an X server");
    m_fake = std::make_unique<FakeWeb>();
    m_fake->routeEverything();
}

// Each case starts the program afresh: its windows, settings and keyboard.
void KeyboardTest::init()
{
    // The windows are globals: the last case's go before the new ones exist
    // (a failed init is followed by no cleanup).
    m_program.reset();
    m_program = std::make_unique<Program>();
    // The program takes the keyboard itself; the test does not activate it.
    QVERIFY(QTest::qWaitForWindowActive(Form1));
}

void KeyboardTest::cleanup()
{
    cancelPendingSteps();
    DisarmAll();
    m_program.reset();
}

void KeyboardTest::searchByKeyboard(const QString &press)
{
    const Watchdog watchdog;
    // Tab to "Start" and press it; in the dialog Tab, Tab to the keyword, a
    // keyword with a blank, back to "Research" and press it.
    const auto typed = when([] { return activeModalIs(StartForm); }, [press] {
        keys({QStringLiteral("Tab"), QStringLiteral("Tab")});
        typeText(QStringLiteral("web hosting"));
        keys({QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), press});
    });
    QVERIFY(keys({QStringLiteral("Tab"), press}));

    QTRY_VERIFY_WITH_TIMEOUT(*typed, kStepTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(), QStringLiteral("Done!"), kStepTimeoutMs);
    QCOMPARE(StartForm->ui()->LabeledEdit1->text(), QStringLiteral("web hosting"));
    const std::vector<kelvora::ResultRow> rows = Rows();
    const std::vector<std::string> hosts = FakeWeb::defaultHosts();
    QCOMPARE(rows.size(), hosts.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString mismatch = RowMismatch(rows[i], hosts[i], static_cast<int>(i) + 1);
        QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("row %1: %2").arg(i).arg(mismatch)));
    }
    // The dialog handed the keyboard back.
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(Form1));
    fileMenuAnswersAltF();
    QVERIFY(!watchdog.fired());
}

void KeyboardTest::searchWithSpace()
{
    searchByKeyboard(QStringLiteral("space"));
}

void KeyboardTest::searchWithEnter()
{
    searchByKeyboard(QStringLiteral("Return"));
}

void KeyboardTest::fileMenuAnswersAltF()
{
    QMenu *file = Form1->ui()->File1;
    QVERIFY(keys({QStringLiteral("alt+f")}));
    QTRY_VERIFY_WITH_TIMEOUT(file->isVisible(), kStepTimeoutMs);
    QVERIFY(keys({QStringLiteral("Escape"), QStringLiteral("Escape")}));
    QTRY_VERIFY(!file->isVisible());
}

// A whole path typed into Open's name field and Enter: the file opens, no
// pop-up of the dialog stays on screen, and the main window has the keyboard.
void KeyboardTest::openFileLeavesNothingBehind()
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/kelvorakeys"));
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("partners.kvr"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[item0]\r\nwebsite=www.one.test\r\nSE-rank=1\r\n[item1]\r\nwebsite=www.two.test\r\nSE-rank=2\r\n"
               "[Option]\r\nResult=Results for x\r\nDate=Date/Time: then\r\n");
    file.close();

    const Watchdog watchdog;
    const auto typed = when([] { return activeModalIs(modalFileDialog()); }, [path] {
        typeText(path);
        keys({QStringLiteral("Return")});
    });
    QVERIFY(keys({QStringLiteral("alt+f")}));
    QTRY_VERIFY_WITH_TIMEOUT(Form1->ui()->File1->isVisible(), kStepTimeoutMs);
    QVERIFY(keys({QStringLiteral("o")}));

    QTRY_VERIFY_WITH_TIMEOUT(*typed, kStepTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(Rows().size(), std::size_t{2}, kStepTimeoutMs);
    QTRY_VERIFY(!Form1->openDialog()->isVisible());
    QTest::qWait(kLatePopupMs);
    QCOMPARE(mappedPopups(), QStringList());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(Form1));
    fileMenuAnswersAltF();

    // The name field still completes the next time. The test's own code
    // runs again only once the dialog has ended, so the list is looked for
    // from inside the dialog's run.
    const QString partial = folder.path() + QStringLiteral("/part");
    const auto completing = when([] { return activeModalIs(modalFileDialog()); }, [partial] {
        keys({QStringLiteral("ctrl+a")});   // over the name left from last time
        typeText(partial);
    });
    // Escape closes the list, then (once the list has let go of the
    // keyboard) the dialog.
    auto cancelled = std::make_shared<std::shared_ptr<bool>>();
    const auto listed = when(
        [] { return modalFileDialog() != nullptr && mappedPopups().contains(QStringLiteral("QListView")); },
        [cancelled] {
            keys({QStringLiteral("Escape")});
            *cancelled = when([] { return activeModalIs(modalFileDialog()) && mappedPopups().isEmpty(); },
                              [] { keys({QStringLiteral("Escape")}); });
        });
    QVERIFY(keys({QStringLiteral("alt+f")}));
    QTRY_VERIFY_WITH_TIMEOUT(Form1->ui()->File1->isVisible(), kStepTimeoutMs);
    QVERIFY(keys({QStringLiteral("o")}));
    QTRY_VERIFY_WITH_TIMEOUT(*completing, kStepTimeoutMs);
    QTRY_VERIFY(!Form1->openDialog()->isVisible());
    QVERIFY(*listed);
    QVERIFY(*cancelled && **cancelled);
    QCOMPARE(Rows().size(), std::size_t{2});
    QTRY_COMPARE(mappedPopups(), QStringList());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(Form1));
    QVERIFY(!watchdog.fired());
}

// The About box by its menu keys and Escape; the main window gets the keyboard back.
void KeyboardTest::aboutBoxGivesTheKeyboardBack()
{
    const Watchdog watchdog;
    const auto shown = when([] { return activeModalIs(InfoForm); }, [] { keys({QStringLiteral("Escape")}); });
    QVERIFY(keys({QStringLiteral("alt+h")}));
    QTRY_VERIFY_WITH_TIMEOUT(Form1->ui()->Help1->isVisible(), kStepTimeoutMs);
    QVERIFY(keys({QStringLiteral("a")}));
    QTRY_VERIFY_WITH_TIMEOUT(*shown, kStepTimeoutMs);
    QTRY_VERIFY(!InfoForm->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(Form1));
    fileMenuAnswersAltF();
    QVERIFY(!watchdog.fired());
}

int main(int argc, char **argv)
{
    PrepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    KeyboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "keyboard_test.moc"
