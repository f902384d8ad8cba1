#pragma once

class QWidget;

// Keyboard habits of the Windows dialog manager and window activation that
// Qt leaves to the platform, and that X11 without a window manager lacks.
namespace kelvora {

// Enter (Return or the keypad's) presses the push button that has the
// keyboard focus, in every push button inside window at the time of the call.
// No button becomes the window's default: Enter in a text field still does
// nothing, and no button is drawn as default. Auto-repeat does not press again.
void EnterPressesFocusedButton(QWidget *window);

// From now on, when a modal window that has the keyboard closes, the window
// that owns it (its parent's window) becomes active again, so the keyboard
// works there at once. Called once at start-up after the QApplication exists;
// further calls do nothing.
void InstallOwnerActivation();

} // namespace kelvora
