#include "app/unit1.h"

// Website details and Step 2 arrive with their own work; until then these do nothing.
void TForm1::Getwebsiteinformation2Click() {}
void TForm1::AddselectiontoStep21Click() {}
void TForm1::Clear1Click() {}
void TForm1::BitBtn3Click() {}
void TForm1::SavedatatoAsciifile1Click() {}
void TForm1::BitBtn4Click() {}
