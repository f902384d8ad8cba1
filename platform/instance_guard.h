#pragma once

#include <QString>
#include <QWidget>   // WId

namespace kelvora {

// The application window: one hidden native top-level window that stands for
// the whole program. Its title is the application title; a running copy is
// recognised by this window's class and title.
QWidget *ApplicationWindow();          // created on first use, after the QApplication
void DestroyApplicationWindow();       // before the QApplication goes away
void SetApplicationTitle(const QString &title);
QString ApplicationTitle();

// Finding top-level windows by class and title (X11 on the desktop; tests
// replace it).
class WindowLookup {
public:
    virtual ~WindowLookup() = default;
    // The window class of the given window; empty when it cannot be read.
    virtual QString ClassName(WId window) = 0;
    // A top-level window with exactly this class and title, 0 when none.
    virtual WId FindWindow(const QString &className, const QString &title) = 0;
};

// The look-up in use: X11 when the program runs on an X server, otherwise one
// that finds nothing. nullptr restores the default; the caller keeps ownership.
WindowLookup &CurrentWindowLookup();
void SetWindowLookup(WindowLookup *lookup);

// The application window of a copy of the program that is already running, or
// 0. A look-up, not a lock: it never throws, and any failure yields 0.
WId FindRunningInstance();

} // namespace kelvora
