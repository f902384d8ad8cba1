#include "dialogs/open_notice.h"

#include "platform/shell.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace kelvora {

namespace {

constexpr const char *kNoticeCaption = "Kelvora";

} // namespace

QString OpenFailureText(const QString &target)
{
    if (target.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
        return QStringLiteral("Kelvora could not open %1: no mail program could be started.\n\n"
                              "Install a mail program, for example Thunderbird "
                              "(sudo apt-get install thunderbird).")
            .arg(target);
    }
    if (!target.startsWith(QLatin1Char('/'))) {
        return QStringLiteral("Kelvora could not open %1: no web browser could be started.\n\n"
                              "Install a web browser, for example Firefox "
                              "(sudo apt-get install firefox-esr).")
            .arg(target);
    }
    const QString file = QDir::toNativeSeparators(target);
    if (!QFileInfo::exists(target))
        return QStringLiteral("Kelvora could not open %1: the file is missing.").arg(file);
    const QString viewer = KnownViewer(QFileInfo(target).suffix());
    if (viewer.isEmpty()) {
        return QStringLiteral("Kelvora could not open %1: no program to view it could be started.")
            .arg(file);
    }
    return QStringLiteral("Kelvora could not open %1: no CHM viewer could be started.\n\n"
                          "Install the viewer %2 (sudo apt-get install %2).")
        .arg(file, viewer);
}

void OpenOrExplain(QWidget *owner, const QString &target)
{
    const QPointer<QWidget> guardedOwner(owner);
    ShellOpenReporting(target, [guardedOwner, target] {
        // Over the dialog that is open (the website details ask through the
        // main window), else over the window that asked, if it is still there.
        QWidget *parent = QApplication::activeModalWidget();
        if (parent == nullptr)
            parent = guardedOwner.data();
        auto *notice = new QMessageBox(QMessageBox::Information, QLatin1String(kNoticeCaption),
                                       OpenFailureText(target), QMessageBox::Ok, parent);
        notice->setAttribute(Qt::WA_DeleteOnClose);
        notice->open();
    });
}

} // namespace kelvora
