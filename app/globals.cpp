#include "app/globals.h"

std::int32_t SortColumn = 0;
QString AppDir;

TForm1 *Form1 = nullptr;
TStartForm *StartForm = nullptr;
TInfoForm *InfoForm = nullptr;
TDataForm *DataForm = nullptr;
