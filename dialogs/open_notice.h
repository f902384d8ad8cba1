#pragma once

#include <QString>

class QWidget;

namespace kelvora {

// What the user is told when no program opens target: the file or address,
// and what to install. A help file (.chm) names the CHM viewer xchm, a mail
// link a mail program, a web address a web browser.
QString OpenFailureText(const QString &target);

// Hands target to the desktop shell. When no program opens it, a notice
// captioned "Kelvora" over owner (window-modal; it may come a moment later,
// once the opener has given up) shows OpenFailureText.
void OpenOrExplain(QWidget *owner, const QString &target);

} // namespace kelvora
