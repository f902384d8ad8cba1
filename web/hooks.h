#pragma once

#include <functional>
#include <string>

namespace kelvora {

// What a page reader needs from the program around it. The library never
// touches a window: the GUI passes its message pump and status-bar writer,
// tests pass recorders or nothing. Empty functions are simply not called.
struct PageHooks {
    std::function<void()> pump;                            // process every waiting event, then return
    std::function<void(const std::string &)> setStatus;    // simple-text status bar

    void Pump() const { if (pump) pump(); }
    void SetStatus(const std::string &text) const { if (setStatus) setStatus(text); }
};

} // namespace kelvora
