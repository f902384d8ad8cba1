#pragma once

#include <QString>

namespace kelvora {

// Stand-in for the desktop shell's "open" verb: documents, mail links and web
// addresses are handed to the desktop. Tests replace the shell with a recorder.
class Shell {
public:
    virtual ~Shell() = default;
    // The result is never examined by callers; failures are silent.
    virtual void Open(const QString &target) = 0;
};

// The shell in use (QDesktopServices by default).
Shell &CurrentShell();
// Replaces the shell; nullptr restores the default. The caller keeps ownership.
void SetShell(Shell *shell);

// Convenience used by every command: CurrentShell().Open(target).
void ShellOpen(const QString &target);

} // namespace kelvora
