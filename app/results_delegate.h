#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>

class QStyle;

namespace kelvora {

// Paints and measures the results table's cells exactly as the standard
// delegate does, but cheaper: a search run repaints the table for every row it adds and a row
// for every cell it fills. It keeps each cell's shaped (and, when too wide,
// elided) text and its text area between paints, leaves out cells outside the
// region being repainted, and skips the style's background pass for cells the
// style would leave bare. The view measures a row at every layout (once per
// added row) and whenever its first row changes; each cell's size is kept.
class ResultsDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsDelegate)

public:
    explicit ResultsDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

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

    // What a cell's text area and background pass depend on, besides the
    // cell's text: its size, the parts it shows, its state and colours, and
    // the style drawing it.
    struct Shape
    {
        const QStyle *style = nullptr;
        int width = 0;
        int height = 0;
        unsigned features = 0;
        unsigned state = 0;
        qint64 palette = 0;

        friend bool operator==(const Shape &, const Shape &) = default;
        friend size_t qHash(const Shape &shape, size_t seed = 0)
        {
            return qHashMulti(seed, shape.style, shape.width, shape.height, shape.features,
                              shape.state, shape.palette);
        }
    };

    // What a plain cell's size hint depends on besides the font.
    struct Hint
    {
        QString text;
        const QStyle *style = nullptr;
        const QWidget *widget = nullptr;
        unsigned features = 0;

        friend bool operator==(const Hint &, const Hint &) = default;
        friend size_t qHash(const Hint &hint, size_t seed = 0)
        {
            return qHashMulti(seed, hint.text, hint.style, hint.widget, hint.features);
        }
    };

    const Line &lineFor(const QString &text, const QFont &font, Qt::TextElideMode mode,
                        int width) const;
    QRect textRectFor(const QStyleOptionViewItem &cell, const QStyle *style) const;
    bool drawsBareCell(const QStyleOptionViewItem &cell, const QStyle *style) const;
    void forgetOnFontChange(const QFont &font) const;

    mutable QHash<Key, Line> m_lines;
    mutable QHash<Shape, QRect> m_textRects;
    mutable QHash<Shape, bool> m_bareCells;
    mutable QHash<Hint, QSize> m_hints;
    mutable QFont m_font;
};

} // namespace kelvora
