#include "app/results_delegate.h"

#include <QApplication>
#include <QImage>
#include <QPaintEngine>
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

// Whether rect lies wholly outside the region this paint may change. A view
// repaints a whole row for one changed cell; the other cells' pixels would
// be clipped away anyway, so they need not be drawn at all.
bool outsideRepaint(QPainter *painter, const QRect &rect)
{
    const QPaintEngine *engine = painter->paintEngine();
    if (engine == nullptr)
        return false;
    const QRegion region = engine->systemClip();
    const QTransform &toDevice = painter->deviceTransform();
    if (region.isEmpty() || toDevice.type() > QTransform::TxTranslate)
        return false;
    return !region.intersects(
        rect.translated(qRound(toDevice.dx()), qRound(toDevice.dy())));
}

} // namespace

ResultsDelegate::ResultsDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

void ResultsDelegate::forgetOnFontChange(const QFont &font) const
{
    if (font == m_font)
        return;
    m_lines.clear();
    m_textRects.clear();
    m_hints.clear();
    m_font = font;
}

const ResultsDelegate::Line &ResultsDelegate::lineFor(const QString &text, const QFont &font,
                                                      Qt::TextElideMode mode, int width) const
{
    forgetOnFontChange(font);
    if (m_lines.size() >= kMaxCachedLines)
        m_lines.clear();
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

// A single line's text area does not depend on the text itself, only on the
// cell's size and parts, so the style is asked once per kind of cell.
QRect ResultsDelegate::textRectFor(const QStyleOptionViewItem &cell, const QStyle *style) const
{
    forgetOnFontChange(cell.font);
    const Shape shape{style, cell.rect.width(), cell.rect.height(), cell.features.toInt(), 0, 0};
    auto found = m_textRects.constFind(shape);
    if (found == m_textRects.cend()) {
        if (m_textRects.size() >= kMaxCachedLines)
            m_textRects.clear();
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, cell.widget);
        found = m_textRects.insert(shape, area.translated(-cell.rect.topLeft()));
    }
    return found.value().translated(cell.rect.topLeft());
}

// Whether the style's item pass would leave a cell without text untouched.
// Asked by drawing one such cell off screen, once per style, size, state and
// palette.
bool ResultsDelegate::drawsBareCell(const QStyleOptionViewItem &cell, const QStyle *style) const
{
    if (cell.backgroundBrush.style() != Qt::NoBrush)
        return false;
    const Shape shape{style,
                      cell.rect.width(),
                      cell.rect.height(),
                      cell.features.toInt(),
                      cell.state.toInt(),
                      cell.palette.cacheKey()};
    if (const auto found = m_bareCells.constFind(shape); found != m_bareCells.cend())
        return found.value();
    if (m_bareCells.size() >= kMaxCachedLines)
        m_bareCells.clear();

    QImage probe(cell.rect.size(), QImage::Format_ARGB32_Premultiplied);
    probe.fill(Qt::transparent);
    QStyleOptionViewItem blank = cell;
    blank.rect = probe.rect();
    {
        QPainter painter(&probe);
        style->drawControl(QStyle::CE_ItemViewItem, &blank, &painter, cell.widget);
    }
    QImage untouched(probe.size(), probe.format());
    untouched.fill(Qt::transparent);
    const bool bare = probe == untouched;
    m_bareCells.insert(shape, bare);
    return bare;
}

QSize ResultsDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.data(Qt::SizeHintRole).isValid())
        return QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (!isPlainCell(cell))
        return QStyledItemDelegate::sizeHint(option, index);

    forgetOnFontChange(cell.font);
    const QWidget *widget = cell.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    Hint key{cell.text, style, widget, static_cast<unsigned>(cell.features)};
    if (const auto known = m_hints.constFind(key); known != m_hints.cend())
        return *known;
    if (m_hints.size() >= kMaxCachedLines)
        m_hints.clear();
    const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), widget);
    m_hints.insert(std::move(key), size);
    return size;
}

QString ResultsDelegate::displayedText(const QString &text, const QFont &font,
                                       Qt::TextElideMode mode, int width) const
{
    return lineFor(text, font, mode, width).text.text();
}

void ResultsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    if (outsideRepaint(painter, option.rect))
        return;
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (!isPlainCell(cell) || cell.rect.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    const QWidget *widget = cell.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    const QString text = cell.text;
    QRect textRect = text.isEmpty() ? QRect() : textRectFor(cell, style);
    cell.text.clear();

    // Background, selection, tick box and focus come from the style as usual.
    if (!drawsBareCell(cell, style))
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
