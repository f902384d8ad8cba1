#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace kelvora {

// Qt's own connection to the X server; null without an application, on
// other platforms and on the offscreen one (which answers the X11 interface
// but has no connection behind it).
xcb_connection_t *x11Connection();

// xcb replies are malloc'ed and given up with free().
struct XcbFree {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

} // namespace kelvora
