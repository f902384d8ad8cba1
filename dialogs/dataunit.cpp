#include "dialogs/dataunit.h"

TDataForm::TDataForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DataForm"));
    setWindowTitle(QStringLiteral("JV Partner Website Information:"));
}

TDataForm::~TDataForm() = default;
