#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>

namespace kelvora {

// Paints the results table's cells exactly as the standard delegate does, but
// keeps each cell's shaped (and, when too wide, elided) text between paints:
// a search run repaints the table for every row it adds and a row for every
// cell it fills, and laying each text out anew was a large part of that cost.
class ResultsDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsDelegate)

public:
    explicit ResultsDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    // The text drawn for a cell whose text area is width pixels wide.
    QString displayedText(const QString &text, const QFont &font, Qt::TextElideMode mode,
                          int width) const;

private:
    struct Key
    {
        QString text;
        int width = 0;
        Qt::TextElideMode mode = Qt::ElideRight;

        friend bool operator==(const Key &, const Key &) = default;
        friend size_t qHash(const Key &key, size_t seed = 0)
        {
            return qHashMulti(seed, key.text, key.width, static_cast<int>(key.mode));
        }
    };

    // A cell's text as drawn, and the height the style centres it by.
    struct Line
    {
        QStaticText text;
        int height = 0;
    };

    const Line &lineFor(const QString &text, const QFont &font, Qt::TextElideMode mode,
                        int width) const;

    mutable QHash<Key, Line> m_lines;
    mutable QFont m_font;
};

} // namespace kelvora
