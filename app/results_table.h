#pragma once

#include "app/result_columns.h"

#include <QString>
#include <QStringList>

#include <optional>

class QTreeWidget;
class QTreeWidgetItem;

namespace kelvora {

// One row of the results table: the host as caption, the tick box, and one
// cell per further column of kResultColumns, in order. All values are texts.
struct ResultRow {
    QString caption;
    bool ticked = false;
    QStringList cells;
};

// The row's text in a column; a cell the row lacks is empty.
inline QString TextOf(const ResultRow &row, ResultColumn column)
{
    return column == ResultColumn::Website ? row.caption : row.cells.value(CellOf(column));
}

// The list's own operations, as the rest of the program uses them. The table
// is a QTreeWidget in list form: column 0 holds the caption and the tick box,
// column i + 1 holds cell i.
int RowCount(const QTreeWidget *table);
ResultRow RowAt(const QTreeWidget *table, int index);
// Appends a row (caption, tick box, the given cells) and returns its item.
QTreeWidgetItem *AddRow(QTreeWidget *table, const ResultRow &row);
// Sets cell i (0..5) of an item; a cell not yet added counts as empty.
void SetCell(QTreeWidgetItem *item, int cell, const QString &text);
void SetCell(QTreeWidgetItem *item, ResultColumn column, const QString &text);
void ClearRows(QTreeWidget *table);
// Index of the selected row, -1 when none.
int SelectedIndex(const QTreeWidget *table);
// The selected row when it has a caption: what the commands that act on "the
// selected website" need. Empty when the table has no rows, none is selected
// or the caption is empty.
std::optional<ResultRow> SelectedSite(const QTreeWidget *table);
void SetTicked(QTreeWidgetItem *item, bool ticked);
bool IsTicked(const QTreeWidgetItem *item);

// Comparison of two rows by column (ListView1Compare), as the column's sort
// kind says: negative when a goes first, positive when b goes first, 0 when
// they rank equal or the column does not sort.
int CompareRows(const ResultRow &a, const ResultRow &b, int column);
// Sorts every row by column with a merge sort whose loops are bounded by
// indexes, so an inconsistent comparison can neither loop nor lose rows.
void SortRows(QTreeWidget *table, int column);

} // namespace kelvora
