#include "dialogs/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kelvora {

void CentreOnScreen(QWidget *window)
{
    const QScreen *target = window->screen();
    if (target == nullptr)
        target = QGuiApplication::primaryScreen();
    if (target == nullptr)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(target->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace kelvora
