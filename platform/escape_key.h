#pragma once

#include <functional>

namespace kelvora {

// Whether the Escape key is held down right now, as far as this program can
// know: only keyboard input that reaches the program counts, so the key reads
// as down only while one of its windows is active.
bool EscapeKeyDown();

// Replaces the probe (tests); an empty function restores the real one.
void SetEscapeKeyProbe(std::function<bool()> probe);

// Installs the application-wide tracking the real probe needs; called once at
// start-up after the QApplication exists (tests call it too).
void InstallEscapeKeyTracking();

} // namespace kelvora
