#include "platform/escape_key.h"

#include "platform/x11_connection.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QObject>
#include <QPointer>

namespace kelvora {

namespace {

// X11 key code of Escape on every standard keyboard map.
constexpr int kEscapeKeycode = 9;

// Follows Escape through the events the program receives; exact where no key
// auto-repeat is synthesised (offscreen), a fall-back elsewhere.
class EscapeTracker final : public QObject {
public:
    using QObject::QObject;
    bool down() const { return m_down; }

    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat())
                m_down = event->type() == QEvent::KeyPress;
            break;
        }
        case QEvent::ApplicationDeactivate:
            m_down = false;
            break;
        case QEvent::ApplicationStateChange:
            if (static_cast<QApplicationStateChangeEvent *>(event)->applicationState() != Qt::ApplicationActive)
                m_down = false;
            break;
        default:
            break;
        }
        return false;
    }

private:
    bool m_down = false;
};

std::function<bool()> g_probe;
QPointer<EscapeTracker> g_tracker;

// The key's true state from the server; the keymap covers the whole display,
// so it only counts while this program is the active one.
bool x11EscapeDown(xcb_connection_t *connection)
{
    if (QGuiApplication::applicationState() != Qt::ApplicationActive)
        return false;
    const XcbReply<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    if (!reply)
        return false;
    return (reply->keys[kEscapeKeycode / 8] & (1u << (kEscapeKeycode % 8))) != 0;
}

} // namespace

bool EscapeKeyDown()
{
    if (g_probe)
        return g_probe();
    if (xcb_connection_t *connection = x11Connection())
        return x11EscapeDown(connection);
    return g_tracker && g_tracker->down();
}

void SetEscapeKeyProbe(std::function<bool()> probe)
{
    g_probe = std::move(probe);
}

void InstallEscapeKeyTracking()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || g_tracker)
        return;
    g_tracker = new EscapeTracker(app);
    app->installEventFilter(g_tracker);
}

} // namespace kelvora
