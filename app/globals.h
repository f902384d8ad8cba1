#pragma once

#include <QString>
#include <cstdint>

class TForm1;
class TStartForm;
class TInfoForm;
class TDataForm;

// Program-wide values of the main unit.
extern std::int32_t SortColumn;  // column the results table was last sorted by
extern QString AppDir;           // the program file's folder, with its trailing "/"

// The four windows, created once at start-up and valid until the program ends.
extern TForm1 *Form1;
extern TStartForm *StartForm;
extern TInfoForm *InfoForm;
extern TDataForm *DataForm;
