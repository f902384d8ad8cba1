#include "platform/keyboard_focus.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace kelvora {

namespace {

class EnterPressesButton final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (button == nullptr || !button->isEnabled())
            return false;
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

// A closing modal window hands the keyboard back to its owner. Windows does
// this itself; on X11 the focus would go back to the root window (no window
// manager) or wherever a window manager likes, and the owner would wait for a
// click before its keys and menu shortcuts work again. Qt takes the keyboard
// from a window just before it hides, so the window that lost it to no other
// window of ours is remembered until it hides (or anything is activated).
class OwnerActivation final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto *window = static_cast<QWidget *>(watched);
        switch (event->type()) {
        case QEvent::WindowActivate:
            m_leftWithKeyboard = nullptr;
            break;
        case QEvent::WindowDeactivate:
            if (window->isWindow() && window->isModal() && QApplication::activeWindow() == nullptr)
                m_leftWithKeyboard = window;
            break;
        case QEvent::Hide:
            if (window == m_leftWithKeyboard) {
                m_leftWithKeyboard = nullptr;
                activateOwner(window);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    static void activateOwner(QWidget *window)
    {
        QWidget *parent = window->parentWidget();
        if (parent == nullptr)
            return;
        QWidget *owner = parent->window();
        if (owner->isVisible())
            owner->activateWindow();
    }

    QPointer<QWidget> m_leftWithKeyboard;
};

QPointer<OwnerActivation> g_ownerActivation;

} // namespace

void EnterPressesFocusedButton(QWidget *window)
{
    auto *filter = new EnterPressesButton(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(filter);
}

void InstallOwnerActivation()
{
    if (g_ownerActivation || qApp == nullptr)
        return;
    g_ownerActivation = new OwnerActivation(qApp);
    qApp->installEventFilter(g_ownerActivation);
}

} // namespace kelvora
