#include "gui_test_main.h"
#include "platform/paint_pacer.h"

#include <QElapsedTimer>
#include <QLabel>

#include <memory>

namespace {

// Counts a label's paints and remembers the text each one showed.
class PaintLog final : public QObject {
public:
    explicit PaintLog(QLabel *label) : m_label(label) { label->installEventFilter(this); }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            lastPainted = m_label->text();
        }
        return false;
    }

    int paints = 0;
    QString lastPainted;

private:
    QLabel *m_label;
};

constexpr int kChanges = 12;

} // namespace

class PaintPacerTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pacesRepaintsButDeliversEveryOtherEventAtOnce();
    void finalStateIsPaintedWhileAndAfterThePacerLives();

private:
    // Changes the label kChanges times, pumping after each like a search run;
    // returns the milliseconds that took. Every pump must run the call posted
    // before it.
    qint64 changeAndPump();

    std::unique_ptr<QLabel> m_label;
    std::unique_ptr<PaintLog> m_log;
};

void PaintPacerTest::init()
{
    m_label = std::make_unique<QLabel>(QStringLiteral("start"));
    m_label->resize(200, 40);
    m_label->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_label.get()));
    QTest::qWait(50);
    m_log = std::make_unique<PaintLog>(m_label.get());
}

void PaintPacerTest::cleanup()
{
    m_log.reset();
    m_label.reset();
}

qint64 PaintPacerTest::changeAndPump()
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= kChanges; ++i) {
        bool delivered = false;
        QMetaObject::invokeMethod(m_label.get(), [&delivered] { delivered = true; }, Qt::QueuedConnection);
        m_label->setText(QStringLiteral("change %1").arg(i));
        QCoreApplication::processEvents();
        if (!delivered)
            return -1;
    }
    return clock.elapsed();
}

void PaintPacerTest::pacesRepaintsButDeliversEveryOtherEventAtOnce()
{
    // Without a pacer every pump paints: the count below can tell.
    QVERIFY(changeAndPump() >= 0);
    QCOMPARE(m_log->paints, kChanges);

    m_log->paints = 0;
    qint64 elapsed = 0;
    {
        const kelvora::PaintPacer pacer;
        elapsed = changeAndPump();
    }
    QVERIFY2(elapsed >= 0, "a posted call waited for a later pump");
    // The first change paints at once, then at most one paint per interval.
    const qint64 allowed = 1 + elapsed / kelvora::PaintPacer::kFrameInterval.count();
    QVERIFY2(m_log->paints <= allowed,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(m_log->paints).arg(elapsed)));
    QVERIFY(m_log->paints >= 1);
}

void PaintPacerTest::finalStateIsPaintedWhileAndAfterThePacerLives()
{
    {
        const kelvora::PaintPacer pacer;
        QVERIFY(changeAndPump() >= 0);
        // A held repaint comes once its interval is over, pacer or not.
        QTRY_COMPARE_WITH_TIMEOUT(m_log->lastPainted, QStringLiteral("change %1").arg(kChanges), 2000);

        m_label->setText(QStringLiteral("first"));
        QCoreApplication::processEvents();
        m_label->setText(QStringLiteral("last"));
        QCoreApplication::processEvents();
    }
    // Ended with a repaint held: the next pump shows the last text.
    QCoreApplication::processEvents();
    QCOMPARE(m_log->lastPainted, QStringLiteral("last"));

    // The window's repaints are its own again.
    const int before = m_log->paints;
    QVERIFY(changeAndPump() >= 0);
    QCOMPARE(m_log->paints, before + kChanges);
}

KELVORA_GUI_TEST_MAIN(PaintPacerTest)
#include "paint_pacer_test.moc"
