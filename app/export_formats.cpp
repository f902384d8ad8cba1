#include "app/export_formats.h"

#include "app/export_csv.h"
#include "app/export_xlsx.h"

#include <array>

namespace kelvora {
namespace {

const std::array<ExportFormat, 2> kFormats{{
    {"CSV", "csv", "CSV files (*.csv)", &WriteCsvFile},
    {"Excel workbook", "xlsx", "Excel workbooks (*.xlsx)", &WriteWorkbook},
}};

} // namespace

std::span<const ExportFormat> ExportFormats()
{
    return kFormats;
}

const ExportFormat *ExportFormatForSuffix(const QString &suffix)
{
    for (const ExportFormat &format : kFormats) {
        const QLatin1String own(format.suffix.data(), qsizetype(format.suffix.size()));
        if (suffix.compare(own, Qt::CaseInsensitive) == 0)
            return &format;
    }
    return nullptr;
}

const ExportFormat &ExportFormatForFilter(std::string_view filter)
{
    for (const ExportFormat &format : kFormats) {
        if (format.filter == filter)
            return format;
    }
    return kFormats.front();
}

} // namespace kelvora
