#pragma once

#include "web/hooks.h"

namespace kelvora::testsupport {

// Hooks whose pump only counts how often a reader gave the window its turn.
inline PageHooks CountingPumps(int &pumps)
{
    PageHooks hooks;
    hooks.pump = [&pumps] { ++pumps; };
    return hooks;
}

} // namespace kelvora::testsupport
