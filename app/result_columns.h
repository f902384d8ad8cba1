#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kelvora {

// The results table's columns, left to right. The website is the row's
// caption; every other column is one cell of the row, in this order.
enum class ResultColumn : int {
    Website,
    Rank,
    Popularity,
    TrafficRank,
    OnlineSince,
    Agreement,
    Competitor,
};

inline constexpr int kResultColumnCount = 7;
// Cells after the caption.
inline constexpr int kResultCells = kResultColumnCount - 1;

// How a column's values are written to a workbook.
enum class ColumnValue { Text, Number };

// How a click on a column's title orders the rows. Numbers that do not
// convert rank equal to anything; a column that does not sort keeps the order.
enum class ColumnSort { None, TextAscending, NumberAscending, NumberDescending };

struct ColumnDescription {
    ResultColumn column;
    std::string_view caption;       // the table's title, also the export's header
    std::string_view fileKey;       // key of the value in a results file section
    int width;                      // initial width in pixels
    int minimumWidth;               // the user cannot make it narrower
    ColumnValue value;
    ColumnSort sort;
};

// Everything that walks the columns (the view, the sort, the results file,
// the export, the details dialog and the harvest) reads this one table.
inline constexpr std::array<ColumnDescription, kResultColumnCount> kResultColumns{{
    {ResultColumn::Website, "Website URL", "website", 115, 75, ColumnValue::Text, ColumnSort::TextAscending},
    {ResultColumn::Rank, "Rank #", "SE-rank", 55, 50, ColumnValue::Number, ColumnSort::NumberAscending},
    {ResultColumn::Popularity, "Popularity", "popularity", 85, 85, ColumnValue::Number,
     ColumnSort::NumberDescending},
    {ResultColumn::TrafficRank, "Alexa Rank #", "Alexa", 85, 80, ColumnValue::Number,
     ColumnSort::NumberAscending},
    {ResultColumn::OnlineSince, "Online Since", "Since", 80, 80, ColumnValue::Text, ColumnSort::None},
    {ResultColumn::Agreement, "Agreement Estimation", "Agreement", 125, 115, ColumnValue::Number,
     ColumnSort::NumberDescending},
    {ResultColumn::Competitor, "Competitor", "Compete", 115, 75, ColumnValue::Text, ColumnSort::TextAscending},
}};

// Rows stand in enum order, and every column has a key of its own: a column
// without one would be silently left out of saved files.
consteval bool columnTableIsComplete()
{
    for (std::size_t i = 0; i < kResultColumns.size(); ++i) {
        if (static_cast<std::size_t>(kResultColumns[i].column) != i || kResultColumns[i].fileKey.empty()
            || kResultColumns[i].caption.empty())
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (kResultColumns[j].fileKey == kResultColumns[i].fileKey)
                return false;
        }
    }
    return true;
}
static_assert(columnTableIsComplete(), "every result column needs its row, caption and a key of its own");

constexpr const ColumnDescription &DescriptionOf(ResultColumn column)
{
    return kResultColumns[static_cast<std::size_t>(column)];
}

// The cell index of a column after the caption (Rank is 0); the website has none.
constexpr int CellOf(ResultColumn column)
{
    return static_cast<int>(column) - 1;
}

} // namespace kelvora
