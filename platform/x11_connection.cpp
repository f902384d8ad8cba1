#include "platform/x11_connection.h"

#include <QGuiApplication>

namespace kelvora {

xcb_connection_t *x11Connection()
{
    auto *app = qGuiApp;
    if (!app)
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace kelvora
