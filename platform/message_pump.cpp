#include "platform/message_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace kelvora {

// Deferred deletes are left to the main loop, so a pump inside a command can
// never destroy the widgets that command is still using.
void ProcessMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace kelvora
