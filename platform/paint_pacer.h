#pragma once

#include <QBasicTimer>
#include <QList>
#include <QObject>
#include <QPointer>

#include <chrono>

class QWidget;

namespace kelvora {

// Paces the repaints of top-level windows while it lives. A search run pumps
// events a dozen times per row, and each pump that found the table or the
// status bar changed repainted the window and flushed it to the display
// server: several flushes per row, most of them frames no screen could show.
// With a pacer, repaints come at most once per kFrameInterval, and never more
// often than kPaintShare times their own duration, so that a slow display (a
// loaded or remote X server) gets fewer frames rather than a slower run. A
// repaint asked for sooner is held and done when the interval is over. Every
// other event (input, timers, posted calls) is delivered exactly as before.
// Repaints still held when the pacer ends are asked for again, so the next
// pump shows the final state.
class PaintPacer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PaintPacer)

public:
    static constexpr std::chrono::milliseconds kFrameInterval{16};
    static constexpr int kPaintShare = 4;

    PaintPacer();
    ~PaintPacer() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    using Clock = std::chrono::steady_clock;

    void paint(QWidget *window, QEvent *request);
    void release();

    Clock::time_point m_lastPaint;
    Clock::duration m_interval = kFrameInterval;
    QList<QPointer<QWidget>> m_held;
    QBasicTimer m_timer;
    bool m_releasing = false;
};

} // namespace kelvora
