#pragma once

#include <QString>

#include <functional>

namespace kelvora {

// Stand-in for the desktop shell's "open" verb: documents, mail links and web
// addresses are handed to the desktop. Tests replace the shell with a recorder.
class Shell {
public:
    virtual ~Shell() = default;
    // Hands target to the desktop; nothing is reported.
    virtual void Open(const QString &target) = 0;
    // Hands target to the desktop and calls failed, at once or later from the
    // event loop, when no program could open it. By default as Open, which
    // never reports a failure.
    virtual void OpenReporting(const QString &target, std::function<void()> failed);
};

// The shell in use: the desktop's opener (xdg-open), else the viewer known
// for the file's type or Qt's own search for a browser.
Shell &CurrentShell();
// Replaces the shell; nullptr restores the default. The caller keeps ownership.
void SetShell(Shell *shell);

// Convenience: CurrentShell().Open(target).
void ShellOpen(const QString &target);
// Convenience: CurrentShell().OpenReporting(target, failed).
void ShellOpenReporting(const QString &target, std::function<void()> failed);

// Programs the desktop shell falls back on when the opener is missing or
// fails: the viewer for a file type ("chm" gives "xchm"; empty when none is
// known), found on PATH or not.
QString KnownViewer(const QString &suffix);

} // namespace kelvora
