#include "dialogs/infounit.h"

TInfoForm::TInfoForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("InfoForm"));
    setWindowTitle(QStringLiteral("About..."));
}

TInfoForm::~TInfoForm() = default;
