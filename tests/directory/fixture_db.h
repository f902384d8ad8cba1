#pragma once

#include <string>

#include "directory/store.h"

namespace kelvora::directory::testing {

// Writes text to a new file in a temporary folder; returns its path.
std::string WriteTemporaryFile(const std::string &name, const std::string &text);
// The committed CSV fixture imported once per test program; its path.
const std::string &FixtureDatabase();
// A store over the fixture database, opened once.
const Store &FixtureStore();

} // namespace kelvora::directory::testing
