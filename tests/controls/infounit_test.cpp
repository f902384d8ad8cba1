#include "dialogs/infounit.h"

#include "controls/ovalbtn.h"
#include "dialogs/addresses.h"
#include "platform/shell.h"
#include "resources/resources.h"
#include "tests/controls/controls_test_main.h"
#include "ui_infounit.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

namespace {

class RecordingShell final : public kelvora::Shell {
public:
    void Open(const QString &target) override { opened.append(target); }
    QStringList opened;
};

constexpr int kGiveUpMs = 5000;
constexpr int kNotEnded = -1;

void clickButton(TOvalButton *button)
{
    const QPoint centre = button->rect().center();
    QTest::mouseMove(button, centre);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre);
}

} // namespace

class InfoFormTest : public QObject {
    Q_OBJECT

private:
    RecordingShell m_shell;

    // Runs the box modally, lets `act` end it, and returns the modal result;
    // a watchdog ends the run so that a failed check cannot hang the test.
    int runModal(TInfoForm &box, const std::function<void()> &act)
    {
        QTimer::singleShot(0, &box, [&box, act] {
            box.activateWindow();
            act();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, &box, [&box] { box.done(kNotEnded); });
        watchdog.start(kGiveUpMs);
        return box.exec();
    }

private slots:
    void init()
    {
        m_shell.opened.clear();
        kelvora::SetShell(&m_shell);
    }
    void cleanup() { kelvora::SetShell(nullptr); }

    void layoutMatchesTheDesign()
    {
        TInfoForm box;
        Ui::TInfoForm *ui = box.ui();
        QCOMPARE(box.windowTitle(), QStringLiteral("About..."));
        QCOMPARE(box.size(), QSize(329, 274));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QVERIFY(!(box.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
        // Both pictures decode (JPEG through Qt's image plugin).
        QCOMPARE(ui->Image2->pixmap().size(), QSize(246, 32));
        QCOMPARE(ui->Image1->pixmap().size(), QSize(115, 157));

        struct Expected {
            TOvalButton *button;
            int left;
            const char *caption;
            const char *hint;
        };
        const Expected buttons[] = {
            {ui->BitBtn3, 19, "Close", ""},
            {ui->OvalButton2, 95, "Website", "Visit the homepage"},
            {ui->OvalButton1, 171, "Support", "Get support by e-mail"},
        };
        for (const Expected &e : buttons) {
            QCOMPARE(e.button->geometry(), QRect(e.left, 241, 64, 31));
            QCOMPARE(e.button->Caption(), QString::fromLatin1(e.caption));
            QCOMPARE(e.button->toolTip(), QString::fromLatin1(e.hint));
            QCOMPARE(e.button->BevelWidth(), 2);
            QCOMPARE(e.button->cursor().shape(), Qt::PointingHandCursor);
            QVERIFY(e.button->font().bold());
        }
    }

    void websiteAndSupportOpenEachTimeAndStayOpen()
    {
        TInfoForm box;
        const QString home = QString::fromLatin1(kelvora::kHomePageUrl);
        const QString mail = QStringLiteral("mailto:%1?subject=Kelvora Help")
                                 .arg(QString::fromLatin1(kelvora::kSupportAddress));
        bool stayedOpen = false;
        const int result = runModal(box, [&] {
            clickButton(box.ui()->OvalButton2);
            clickButton(box.ui()->OvalButton2);
            clickButton(box.ui()->OvalButton1);
            clickButton(box.ui()->OvalButton1);
            stayedOpen = box.isVisible();
            box.done(0);
        });
        QCOMPARE(result, 0);
        QVERIFY(stayedOpen);
        QCOMPARE(m_shell.opened, (QStringList{home, home, mail, mail}));
        QCOMPARE(mail, QStringLiteral("mailto:support@kelvora.example?subject=Kelvora Help"));
    }

    void closeButtonAndCloseBoxGiveThree()
    {
        TInfoForm box;
        QCOMPARE(runModal(box, [&] { clickButton(box.ui()->BitBtn3); }), 3);
        QVERIFY(!box.isVisible());
        // Shown again later, the same box still works; then the close box.
        QCOMPARE(runModal(box, [&] { box.close(); }), 3);
        QVERIFY(!box.isVisible());
        QCOMPARE(runModal(box, [&] { QTest::keyClick(&box, Qt::Key_Escape); }), 3);
        QVERIFY(m_shell.opened.isEmpty());
    }

    void clickOutsideTheOvalDoesNothing()
    {
        TInfoForm box;
        const int result = runModal(box, [&] {
            TOvalButton *close = box.ui()->BitBtn3;
            QTest::mouseMove(close, QPoint(1, 1));
            QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(1, 1));
            if (box.isVisible())
                box.done(0);
        });
        QCOMPARE(result, 0);
    }
};

KELVORA_CONTROLS_TEST_MAIN(InfoFormTest)

#include "infounit_test.moc"
