#pragma once

#include <QFont>
#include <QHeaderView>
#include <QList>
#include <QRect>
#include <QSize>
#include <QTreeWidget>

class QStyle;

namespace kelvora {

// The results table's column titles. The tree view asks its header for a size
// hint at every layout (once per added row), and the standard header measures
// every title anew each time, shaping its text. This one keeps the hint until
// something it depends on changes: the titles, the columns, the font, the
// style, the sort indicator or the hidden sections.
class ResultsHeader final : public QHeaderView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsHeader)

public:
    explicit ResultsHeader(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;

private:
    // What the hint was measured with, beyond the titles and columns.
    struct Basis
    {
        QFont font;
        const QStyle *style = nullptr;
        int count = 0;
        int hidden = 0;
        bool sortIndicator = false;
        int sortSection = -1;

        friend bool operator==(const Basis &, const Basis &) = default;
    };

    Basis basis() const;
    void forgetHint();

    mutable QSize m_hint;
    mutable Basis m_basis;
};

// The results table's view. Qt's tree view lays out and repaints all of its
// visible rows (and its header) whenever a row is added. A search run adds
// its rows one at a time and pumps after each, so every run repainted the
// whole table once per row. This view repaints only the added rows when rows
// were appended at the end and nothing else changed since the last layout;
// any other change takes the view's usual full repaint.
class ResultsList final : public QTreeWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsList)

public:
    explicit ResultsList(QWidget *parent = nullptr);
    ~ResultsList() override;

    void doItemsLayout() override;

protected:
    bool event(QEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;

private:
    // Where rows and the header stand; rows that were only appended leave it
    // unchanged, anything else that moves pixels does not.
    struct Placement
    {
        QRect viewport;
        QRect header;
        int horizontalScroll = 0;
        int verticalScroll = 0;
        QList<int> sections;

        friend bool operator==(const Placement &, const Placement &) = default;
    };

    Placement placement() const;
    void needFullRepaint();

    int m_appendedFrom = -1;      // first row appended since the last layout
    bool m_fullRepaint = true;    // something else changed since then
};

} // namespace kelvora
