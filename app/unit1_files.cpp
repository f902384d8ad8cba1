#include "app/unit1.h"

// Results files arrive with their own work; until then these do nothing.
void TForm1::Open1Click() {}
void TForm1::Save1Click() {}
void TForm1::LoadResultsFile(const QString &) {}
void TForm1::SaveResultsFile(const QString &) {}
