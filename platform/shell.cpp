#include "platform/shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <chrono>
#include <memory>

namespace kelvora {

namespace {

constexpr const char *kOpener = "xdg-open";
// Where no desktop is running, xdg-open runs the viewer in the foreground and
// ends with it; an exit after this long is the viewer's, not the opener's word.
constexpr std::chrono::milliseconds kOpenerVerdictTime{5000};

bool isLocalPath(const QString &target)
{
    return target.startsWith(QLatin1Char('/'));
}

QUrl urlOf(const QString &target)
{
    return isLocalPath(target) ? QUrl::fromLocalFile(target) : QUrl(target);
}

// The viewer known for a local file's type, started on its own.
bool startKnownViewer(const QString &target)
{
    if (!isLocalPath(target))
        return false;
    const QString viewer = KnownViewer(QFileInfo(target).suffix());
    if (viewer.isEmpty())
        return false;
    const QString program = QStandardPaths::findExecutable(viewer);
    return !program.isEmpty() && QProcess::startDetached(program, {target});
}

// Runs the opener and waits for its word without blocking the window.
void runOpener(const QString &opener, const QString &target, const std::function<void()> &failed)
{
    auto *process = new QProcess(QCoreApplication::instance());
    // The viewer it starts inherits these: a pipe to us would break (and
    // kill it) once the opener has ended.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    auto clock = std::make_shared<QElapsedTimer>();
    auto answered = std::make_shared<bool>(false);
    auto verdict = [process, target, failed, clock, answered](bool openerFailed) {
        if (*answered)
            return;
        *answered = true;
        process->deleteLater();
        if (!openerFailed || std::chrono::milliseconds(clock->elapsed()) > kOpenerVerdictTime)
            return;
        if (!startKnownViewer(target) && failed)
            failed();
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, verdict](int exitCode, QProcess::ExitStatus status) {
                         verdict(status != QProcess::NormalExit || exitCode != 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [verdict](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            verdict(true);
    });
    clock->start();
    process->start(opener, {target});
}

// Hands targets to the desktop: local paths as file names, everything else
// (web addresses, mail links) as the URL the caller wrote.
class DesktopShell final : public Shell {
public:
    void Open(const QString &target) override { OpenReporting(target, {}); }

    void OpenReporting(const QString &target, std::function<void()> failed) override
    {
        const QString opener = QStandardPaths::findExecutable(QLatin1String(kOpener));
        if (!opener.isEmpty()) {
            runOpener(opener, target, failed);
            return;
        }
        // Without the opener, Qt looks for a browser by itself ($BROWSER and
        // the usual names) but knows no viewer for other documents.
        if (startKnownViewer(target) || QDesktopServices::openUrl(urlOf(target)))
            return;
        if (failed)
            failed();
    }
};

Shell *g_replacement = nullptr;

} // namespace

void Shell::OpenReporting(const QString &target, std::function<void()>)
{
    Open(target);
}

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

void ShellOpenReporting(const QString &target, std::function<void()> failed)
{
    CurrentShell().OpenReporting(target, std::move(failed));
}

QString KnownViewer(const QString &suffix)
{
    if (suffix.compare(QLatin1String("chm"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("xchm");
    return {};
}

} // namespace kelvora
