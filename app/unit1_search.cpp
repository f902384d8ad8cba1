#include "app/unit1.h"

#include <QCloseEvent>

// The search run arrives with its own work; until then Start does nothing.
void TForm1::BitBtn2Click() {}
bool TForm1::RunSearch(const QString &, int, int) { return true; }
void TForm1::HarvestResults(std::string, int) {}
void TForm1::closeEvent(QCloseEvent *event) { QMainWindow::closeEvent(event); }
