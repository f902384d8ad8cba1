#include "app/globals.h"
#include "app/unit1.h"
#include "dialogs/dataunit.h"
#include "dialogs/infounit.h"
#include "dialogs/startunit.h"
#include "platform/escape_key.h"
#include "platform/instance_guard.h"
#include "platform/keyboard_focus.h"
#include "resources/resources.h"

#include <QApplication>

namespace {

constexpr const char *kApplicationTitle = "Kelvora";

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The application name becomes the class of every window we create, which
    // is what a second copy looks for together with the title.
    QCoreApplication::setApplicationName(QLatin1String(kApplicationTitle));
    kelvora::SetApplicationTitle(QLatin1String(kApplicationTitle));

    if (kelvora::FindRunningInstance() != 0) {
        kelvora::DestroyApplicationWindow();
        return 0;
    }

    kelvora::InitResources();
    kelvora::InstallEscapeKeyTracking();
    kelvora::InstallOwnerActivation();

    Form1 = new TForm1;
    StartForm = new TStartForm(Form1);
    InfoForm = new TInfoForm(Form1);
    DataForm = new TDataForm(Form1);

    Form1->show();
    app.exec();

    delete Form1;
    kelvora::DestroyApplicationWindow();
    return 0;
}
