#include "app/results_table.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace kelvora {

namespace {

// Column 0 remembers how many cells a row has received, so a row read back
// holds exactly the cells that were added (a results file may lack some).
constexpr int kCellCountRole = Qt::UserRole + 1;

int cellCount(const QTreeWidgetItem *item)
{
    return std::clamp(item->data(0, kCellCountRole).toInt(), 0, kResultCells);
}

// ASCII-only case folding, unsigned character order, shorter prefix first.
int compareTexts(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - (u'a' - u'A'));
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - (u'a' - u'A'));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

// The whole text must be a decimal integer (optional sign) within 32 bits.
std::optional<std::int32_t> toInt32(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > limit)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// Sign of (x - y) for the texts as integers; a pair that does not convert ranks equal.
int compareNumbers(const QString &a, const QString &b)
{
    const auto x = toInt32(a);
    const auto y = toInt32(b);
    if (!x || !y || *x == *y)
        return 0;
    return *x < *y ? -1 : 1;
}

} // namespace

int RowCount(const QTreeWidget *table)
{
    return table->topLevelItemCount();
}

ResultRow RowAt(const QTreeWidget *table, int index)
{
    ResultRow row;
    const QTreeWidgetItem *item = table->topLevelItem(index);
    if (!item)
        return row;
    row.caption = item->text(0);
    row.ticked = IsTicked(item);
    const int cells = cellCount(item);
    row.cells.reserve(cells);
    for (int i = 0; i < cells; ++i)
        row.cells.append(item->text(i + 1));
    return row;
}

QTreeWidgetItem *AddRow(QTreeWidget *table, const ResultRow &row)
{
    auto *item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable
                   | Qt::ItemNeverHasChildren);
    item->setText(0, row.caption);
    item->setCheckState(0, row.ticked ? Qt::Checked : Qt::Unchecked);
    item->setData(0, kCellCountRole, 0);
    const int cells = std::min<int>(row.cells.size(), kResultCells);
    for (int i = 0; i < cells; ++i)
        SetCell(item, i, row.cells.at(i));
    table->addTopLevelItem(item);
    return item;
}

void SetCell(QTreeWidgetItem *item, int cell, const QString &text)
{
    if (!item || cell < 0 || cell >= kResultCells)
        return;
    item->setText(cell + 1, text);
    if (cell >= cellCount(item))
        item->setData(0, kCellCountRole, cell + 1);
}

void SetCell(QTreeWidgetItem *item, ResultColumn column, const QString &text)
{
    SetCell(item, CellOf(column), text);
}

void ClearRows(QTreeWidget *table)
{
    table->clear();
}

int SelectedIndex(const QTreeWidget *table)
{
    const QList<QTreeWidgetItem *> selected = table->selectedItems();
    if (selected.isEmpty())
        return -1;
    return table->indexOfTopLevelItem(selected.first());
}

std::optional<ResultRow> SelectedSite(const QTreeWidget *table)
{
    if (RowCount(table) == 0)
        return std::nullopt;
    const int index = SelectedIndex(table);
    if (index < 0)
        return std::nullopt;
    ResultRow row = RowAt(table, index);
    if (row.caption.isEmpty())
        return std::nullopt;
    return row;
}

void SetTicked(QTreeWidgetItem *item, bool ticked)
{
    if (item)
        item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

bool IsTicked(const QTreeWidgetItem *item)
{
    return item && item->checkState(0) == Qt::Checked;
}

int CompareRows(const ResultRow &a, const ResultRow &b, int column)
{
    if (column < 0 || column >= kResultColumnCount)
        return 0;
    const ColumnDescription &description = kResultColumns[std::size_t(column)];
    const QString x = TextOf(a, description.column);
    const QString y = TextOf(b, description.column);
    switch (description.sort) {
    case ColumnSort::TextAscending: return compareTexts(x, y);
    case ColumnSort::NumberAscending: return compareNumbers(x, y);
    case ColumnSort::NumberDescending: return compareNumbers(y, x);
    case ColumnSort::None: return 0;
    }
    return 0;
}

void SortRows(QTreeWidget *table, int column)
{
    const int count = table->topLevelItemCount();
    if (count < 2)
        return;

    struct Entry {
        ResultRow row;
        QTreeWidgetItem *item;
    };
    QTreeWidgetItem *current = table->currentItem();
    const QList<QTreeWidgetItem *> selected = table->selectedItems();

    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        entries.push_back({RowAt(table, i), table->topLevelItem(i)});

    // Bottom-up merge: every loop advances an index towards a fixed bound, so
    // no answer of the comparison can make it run on or drop an element.
    const std::size_t n = entries.size();
    std::vector<Entry> buffer(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t left = 0; left < n; left += 2 * width) {
            const std::size_t middle = std::min(left + width, n);
            const std::size_t right = std::min(left + 2 * width, n);
            std::size_t i = left;
            std::size_t j = middle;
            std::size_t k = left;
            while (i < middle && j < right) {
                if (CompareRows(entries[j].row, entries[i].row, column) < 0)
                    buffer[k++] = std::move(entries[j++]);
                else
                    buffer[k++] = std::move(entries[i++]);
            }
            while (i < middle)
                buffer[k++] = std::move(entries[i++]);
            while (j < right)
                buffer[k++] = std::move(entries[j++]);
        }
        entries.swap(buffer);
    }

    // Take the items out without deleting them, then put them back in order;
    // the items keep their tick boxes, the selection is restored afterwards.
    const QSignalBlocker blocker(table);
    table->invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem *> ordered;
    ordered.reserve(count);
    for (Entry &entry : entries)
        ordered.append(entry.item);
    table->addTopLevelItems(ordered);
    if (current)
        table->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem *item : selected)
        item->setSelected(true);
}

} // namespace kelvora
