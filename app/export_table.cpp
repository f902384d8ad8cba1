#include "app/export_table.h"

#include <algorithm>

namespace kelvora {
namespace {

// Digits a double holds exactly, whatever they are.
constexpr std::size_t kMaxExactDigits = 15;

} // namespace

std::size_t ExportTable::ColumnCount() const
{
    std::size_t count = header.size();
    for (const std::vector<std::string> &row : rows)
        count = std::max(count, row.size());
    return count;
}

bool ExportTable::IsNumeric(std::size_t column) const
{
    return column < numeric.size() && numeric[column];
}

bool IsExportNumber(std::string_view text)
{
    if (text == "0")
        return true;
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    if (text.empty() || text.size() > kMaxExactDigits || text.front() == '0')
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace kelvora
