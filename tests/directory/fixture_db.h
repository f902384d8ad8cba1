#pragma once

#include <string>

#include "directory/local/service.h"
#include "directory/local/store.h"

namespace kelvora::directory::testing {

// Writes text to a new file in a temporary folder; returns its path.
std::string WriteTemporaryFile(const std::string &name, const std::string &text);
// The committed CSV fixture imported once per test program; its path.
const std::string &FixtureDatabase();
// A store over the fixture database, opened once.
const Store &FixtureStore();
// The local answers over FixtureStore().
Backend &FixtureAnswers();

} // namespace kelvora::directory::testing
