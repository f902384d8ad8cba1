#pragma once

class QWidget;

namespace kelvora {

// Moves window so that its frame is centred in the available area of the
// screen it is on (not over its parent, where Qt puts a dialog).
void CentreOnScreen(QWidget *window);

} // namespace kelvora
