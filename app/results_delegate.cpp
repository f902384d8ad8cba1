#include "app/results_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTextLayout>
#include <QTextOption>

namespace kelvora {

namespace {

// Enough for several full tables; past it the cache starts afresh rather
// than grow with every run's texts.
constexpr qsizetype kMaxCachedLines = 4096;

// Single-line Latin-1 text in the table's usual layout is what the cache
// reproduces; anything else (control characters included, which the standard
// delegate treats specially) goes to it unchanged.
bool isPlainCell(const QStyleOptionViewItem &option)
{
    if (option.features & (QStyleOptionViewItem::WrapText | QStyleOptionViewItem::HasDecoration))
        return false;
    if (option.direction != Qt::LeftToRight || (option.state & QStyle::State_Editing))
        return false;
    if (option.displayAlignment != (Qt::AlignLeft | Qt::AlignVCenter))
        return false;
    for (const QChar c : option.text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code < 0xa0) || code > 0xff)
            return false;
    }
    return true;
}

} // namespace

ResultsDelegate::ResultsDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

const ResultsDelegate::Line &ResultsDelegate::lineFor(const QString &text, const QFont &font,
                                                      Qt::TextElideMode mode, int width) const
{
    if (!(font == m_font) || m_lines.size() >= kMaxCachedLines) {
        m_lines.clear();
        m_font = font;
    }
    Key key{text, width, mode};
    if (const auto found = m_lines.constFind(key); found != m_lines.cend())
        return found.value();

    // Measure the way the style does: one unwrapped line as wide as the text
    // area, elided when its natural width does not fit.
    QTextOption textOption(Qt::AlignLeft);
    textOption.setWrapMode(QTextOption::ManualWrap);
    QTextLayout layout(text, font);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    layout.endLayout();

    // The style centres the line by its truncated, not its rounded-up, height.
    Line entry;
    entry.height = static_cast<int>(line.ascent() + line.descent());
    const bool elided = line.naturalTextWidth() > width;
    entry.text.setText(elided ? QFontMetrics(font).elidedText(text, mode, width) : text);
    entry.text.setTextFormat(Qt::PlainText);
    entry.text.prepare(QTransform(), font);
    return m_lines.insert(std::move(key), std::move(entry)).value();
}

QString ResultsDelegate::displayedText(const QString &text, const QFont &font,
                                       Qt::TextElideMode mode, int width) const
{
    return lineFor(text, font, mode, width).text.text();
}

void ResultsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (!isPlainCell(cell)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    const QWidget *widget = cell.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const QString text = cell.text;
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);

    // Background, selection, tick box and focus come from the style as usual.
    cell.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
    if (text.isEmpty())
        return;

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    textRect.adjust(margin, 0, -margin, 0);
    const Line &line = lineFor(text, cell.font, cell.textElideMode, textRect.width());

    QPalette::ColorGroup group = (cell.state & QStyle::State_Enabled) ? QPalette::Normal
                                                                       : QPalette::Disabled;
    if (group == QPalette::Normal && !(cell.state & QStyle::State_Active))
        group = QPalette::Inactive;
    const QPalette::ColorRole role = (cell.state & QStyle::State_Selected)
                                         ? QPalette::HighlightedText
                                         : QPalette::Text;

    painter->save();
    painter->setClipRect(cell.rect);
    painter->setPen(cell.palette.color(group, role));
    painter->setFont(cell.font);
    const QPointF position(textRect.left(), textRect.top() + (textRect.height() - line.height) / 2);
    painter->drawStaticText(position, line.text);
    painter->restore();
}

} // namespace kelvora
