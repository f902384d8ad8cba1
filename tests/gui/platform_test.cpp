#include "gui_test_main.h"
#include "platform/escape_key.h"
#include "platform/instance_guard.h"

#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>

#include <stdexcept>

namespace {

// Records what the guard asked and what the application title was meanwhile.
class FakeLookup final : public kelvora::WindowLookup {
public:
    QString ClassName(WId window) override
    {
        askedWindow = window;
        titleDuringLookup = kelvora::ApplicationTitle();
        if (failOnClass)
            throw std::runtime_error("no class");
        return QStringLiteral("KelvoraClass");
    }
    WId FindWindow(const QString &className, const QString &title) override
    {
        askedClass = className;
        askedTitle = title;
        return answer;
    }

    bool failOnClass = false;
    WId answer = 0;
    WId askedWindow = 0;
    QString titleDuringLookup = QStringLiteral("unset");
    QString askedClass;
    QString askedTitle;
};

} // namespace

class PlatformTest final : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void guardLooksForClassAndTitleWithItsOwnTitleBlank();
    void escapeFollowsPressReleaseAndDeactivation();
    void x11LookupFindsAnotherWindowOfTheClass();
    void x11EscapeReadsTheKeyboardWhileActive();
};

void PlatformTest::cleanup()
{
    kelvora::SetWindowLookup(nullptr);
    kelvora::SetEscapeKeyProbe({});
}

void PlatformTest::guardLooksForClassAndTitleWithItsOwnTitleBlank()
{
    kelvora::SetApplicationTitle(QStringLiteral("Kelvora"));
    FakeLookup lookup;
    lookup.answer = 4242;
    kelvora::SetWindowLookup(&lookup);

    QCOMPARE(kelvora::FindRunningInstance(), WId(4242));
    QCOMPARE(lookup.askedWindow, kelvora::ApplicationWindow()->winId());
    QCOMPARE(lookup.titleDuringLookup, QString());
    QCOMPARE(lookup.askedClass, QStringLiteral("KelvoraClass"));
    QCOMPARE(lookup.askedTitle, QStringLiteral("Kelvora"));
    QCOMPARE(kelvora::ApplicationTitle(), QStringLiteral("Kelvora"));
    QVERIFY(!kelvora::ApplicationWindow()->isVisible());

    // Any failure inside the look-up counts as no running copy.
    lookup.failOnClass = true;
    QCOMPARE(kelvora::FindRunningInstance(), WId(0));
    QCOMPARE(kelvora::ApplicationTitle(), QStringLiteral("Kelvora"));
}

void PlatformTest::escapeFollowsPressReleaseAndDeactivation()
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("the event tracking is what counts offscreen");
    kelvora::InstallEscapeKeyTracking();
    kelvora::InstallEscapeKeyTracking();   // a second call must not double the tracking
    QWidget window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QVERIFY(!kelvora::EscapeKeyDown());
    QTest::keyPress(&window, Qt::Key_Escape);
    QVERIFY(kelvora::EscapeKeyDown());
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&window, &repeat);
    QVERIFY(kelvora::EscapeKeyDown());
    QTest::keyRelease(&window, Qt::Key_Escape);
    QVERIFY(!kelvora::EscapeKeyDown());

    // A key held while the program loses the focus is forgotten.
    QTest::keyPress(&window, Qt::Key_Escape);
    QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
    QApplication::sendEvent(qApp, &inactive);
    QVERIFY(!kelvora::EscapeKeyDown());
    QTest::keyPress(&window, Qt::Key_A);
    QVERIFY(!kelvora::EscapeKeyDown());
}

void PlatformTest::x11LookupFindsAnotherWindowOfTheClass()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server");
    kelvora::SetApplicationTitle(QStringLiteral("Kelvora"));
    QCOMPARE(kelvora::CurrentWindowLookup().ClassName(kelvora::ApplicationWindow()->winId()),
             QStringLiteral("Kelvora"));
    // Our own window is blanked while the guard looks, so it never finds itself.
    QCOMPARE(kelvora::FindRunningInstance(), WId(0));

    QWidget other;
    other.setWindowTitle(QStringLiteral("Kelvora"));
    QCOMPARE(kelvora::FindRunningInstance(), other.winId());
    other.setWindowTitle(QStringLiteral("Kelvora 2"));
    QCOMPARE(kelvora::FindRunningInstance(), WId(0));
    QCOMPARE(kelvora::ApplicationTitle(), QStringLiteral("Kelvora"));
}

void PlatformTest::x11EscapeReadsTheKeyboardWhileActive()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server");
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty())
        QSKIP("xdotool is not installed");
    auto key = [&xdotool](const char *action) {
        return QProcess::execute(xdotool, {QLatin1String(action), QStringLiteral("Escape")}) == 0;
    };
    QWidget window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QVERIFY(!kelvora::EscapeKeyDown());
    QVERIFY(key("keydown"));
    QTRY_VERIFY(kelvora::EscapeKeyDown());
    // Held while the program is not the active one: not ours.
    window.hide();
    QTRY_VERIFY(QGuiApplication::applicationState() != Qt::ApplicationActive);
    QVERIFY(!kelvora::EscapeKeyDown());
    QVERIFY(key("keyup"));
}

KELVORA_GUI_TEST_MAIN(PlatformTest)
#include "platform_test.moc"
