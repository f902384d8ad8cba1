#include "platform/shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace kelvora {

namespace {

// Hands targets to the desktop: local paths as file URLs, everything else
// (web addresses, mail links) as the URL the caller wrote.
class DesktopShell final : public Shell {
public:
    void Open(const QString &target) override
    {
        if (target.startsWith(QLatin1Char('/')))
            QDesktopServices::openUrl(QUrl::fromLocalFile(target));
        else
            QDesktopServices::openUrl(QUrl(target));
    }
};

Shell *g_replacement = nullptr;

} // namespace

Shell &CurrentShell()
{
    static DesktopShell desktop;
    return g_replacement ? *g_replacement : desktop;
}

void SetShell(Shell *shell)
{
    g_replacement = shell;
}

void ShellOpen(const QString &target)
{
    CurrentShell().Open(target);
}

} // namespace kelvora
