#include "platform/paint_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace kelvora {

PaintPacer::PaintPacer()
{
    // Let the first change of a run show at once.
    m_lastPaint = Clock::now() - kFrameInterval;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

PaintPacer::~PaintPacer()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    // A swallowed request leaves the window believing one is on its way; ask
    // again so the final state gets painted.
    for (const QPointer<QWidget> &window : std::as_const(m_held)) {
        if (window)
            QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    }
}

bool PaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::UpdateRequest || m_releasing || !watched->isWidgetType())
        return false;
    auto *window = static_cast<QWidget *>(watched);
    if (!window->isWindow())
        return false;
    const auto since = Clock::now() - m_lastPaint;
    if (since >= m_interval) {
        paint(window, event);
        return true;
    }
    if (!m_held.contains(window))
        m_held.append(window);
    if (!m_timer.isActive()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_interval - since);
        m_timer.start(static_cast<int>(wait.count()), Qt::PreciseTimer, this);
    }
    return true;
}

// Delivers the request past the filter and sets the next interval from how
// long the repaint took.
void PaintPacer::paint(QWidget *window, QEvent *request)
{
    const Clock::time_point start = Clock::now();
    m_releasing = true;
    QCoreApplication::sendEvent(window, request);
    m_releasing = false;
    m_lastPaint = Clock::now();
    m_interval = std::max<Clock::duration>(kFrameInterval, kPaintShare * (m_lastPaint - start));
}

void PaintPacer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    release();
}

// Paints the held windows now, inside the pump that runs this timer.
void PaintPacer::release()
{
    const QList<QPointer<QWidget>> held = std::exchange(m_held, {});
    for (const QPointer<QWidget> &window : held) {
        if (!window)
            continue;
        QEvent request(QEvent::UpdateRequest);
        paint(window, &request);
    }
}

} // namespace kelvora
