#include "controls/ovalbtn.h"

#include "controls/colors.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvora {

bool MatchesAccelerator(QChar character, const QString &caption)
{
    const qsizetype ampersand = caption.indexOf(QLatin1Char('&'));
    if (ampersand < 0 || ampersand + 1 >= caption.size())
        return false;
    const auto upper = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ? QChar(c.unicode() - 'a' + 'A') : c;
    };
    return upper(caption.at(ampersand + 1)) == upper(character);
}

} // namespace kelvora

namespace {

using kelvora::blGlyphBottom;
using kelvora::blGlyphLeft;
using kelvora::blGlyphRight;
using kelvora::blGlyphTop;

// A box given as GDI bounds (right and bottom exclusive) as the outline through
// the centres of its edge pixels. Ellipse and arcs both go through this float
// form so that Qt rasterises nested rings consistently.
QRectF strokeBox(int left, int top, int right, int bottom)
{
    return QRectF(left + 0.5, top + 0.5, right - left - 1, bottom - top - 1);
}

// Qt arc angles are parametric, whereas the ends are given as points whose
// radial from the centre cuts the ellipse; convert a point to Qt's 1/16 degrees.
int arcAngle(const QRectF &box, QPointF point)
{
    const QPointF centre = box.center();
    const double radiusX = box.width() / 2.0;
    const double radiusY = box.height() / 2.0;
    const double radians = std::atan2((centre.y() - point.y()) / radiusY, (point.x() - centre.x()) / radiusX);
    return static_cast<int>(std::lround(radians * 180.0 / std::numbers::pi * 16.0));
}

// Counter-clockwise arc from the radial through `from` to the radial through `to`.
void drawArcBetween(QPainter &painter, const QRectF &box, QPoint from, QPoint to)
{
    constexpr int kFullCircle = 360 * 16;
    const int start = arcAngle(box, from);
    int span = (arcAngle(box, to) - start) % kFullCircle;
    if (span <= 0)
        span += kFullCircle;
    painter.drawArc(box, start, span);
}

QColor toQColor(kelvora::Rgb8 rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

} // namespace

TOvalButton::TOvalButton(QWidget *parent) : QWidget(parent)
{
    resize(kInitialWidth, kInitialHeight);
    // Plain moves drive MouseInside and the flat button's hover bevel.
    setMouseTracking(true);
    SetColor(palette().color(QPalette::Button));
}

TOvalButton::~TOvalButton() = default;

void TOvalButton::SetBevelWidth(int width)
{
    width = std::clamp(width, 1, kMaxBevelWidth);
    if (width == m_bevelWidth)
        return;
    m_bevelWidth = width;
    update();
}

void TOvalButton::SetCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    updateAccelerator();
    update();
}

void TOvalButton::SetColor(const QColor &color)
{
    const QColor resolved = color.toRgb();
    const kelvora::BevelColors bevel = kelvora::ComputeBevelColors(
        {static_cast<std::uint8_t>(resolved.red()), static_cast<std::uint8_t>(resolved.green()),
         static_cast<std::uint8_t>(resolved.blue())},
        kLightSteps, kDarkSteps);
    m_highlightColor = toQColor(bevel.highlight);
    m_shadowColor = toQColor(bevel.shadow);
    if (resolved == m_color)
        return;
    m_color = resolved;
    update();
}

void TOvalButton::SetDown(bool down)
{
    m_bevelState = down ? -1 : (m_flat ? 0 : 1);
    if (down == m_down)
        return;
    m_down = down;
    update();
}

void TOvalButton::SetFlat(bool flat)
{
    m_bevelState = flat ? 0 : 1;
    if (flat == m_flat)
        return;
    m_flat = flat;
    update();
}

void TOvalButton::SetGlyph(const QImage &glyph)
{
    m_glyph = glyph;
    if (!m_glyph.isNull())
        m_transparentColor = m_glyph.pixelColor(0, m_glyph.height() - 1).toRgb();
    update();
}

void TOvalButton::SetGlyph(const QPixmap &glyph)
{
    SetGlyph(glyph.toImage());
}

void TOvalButton::SetLayout(kelvora::TButtonLayout layout)
{
    if (layout == m_layout)
        return;
    m_layout = layout;
    update();
}

void TOvalButton::SetLayoutValue(int layout)
{
    if (layout >= blGlyphBottom && layout <= blGlyphTop)
        SetLayout(static_cast<kelvora::TButtonLayout>(layout));
}

void TOvalButton::SetMargin(int margin)
{
    if (margin == m_margin)
        return;
    m_margin = margin;
    update();
}

void TOvalButton::SetNumGlyphs(int numGlyphs)
{
    numGlyphs = std::clamp(numGlyphs, 0, kMaxNumGlyphs);
    if (numGlyphs == m_numGlyphs)
        return;
    m_numGlyphs = numGlyphs;
    update();
}

void TOvalButton::SetSpacing(int spacing)
{
    if (spacing == m_spacing)
        return;
    m_spacing = spacing;
    update();
}

void TOvalButton::SetTransparent(bool transparent)
{
    if (transparent == m_transparent)
        return;
    m_transparent = transparent;
    update();
}

void TOvalButton::SetTransparentColor(const QColor &color)
{
    const QColor resolved = color.toRgb();
    if (resolved == m_transparentColor)
        return;
    m_transparentColor = resolved;
    update();
}

bool TOvalButton::InOval(int x, int y) const
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x >= w || y >= h)
        return false;
    // Pixel centres against the ellipse inscribed in the whole rectangle.
    const double dx = (x + 0.5 - w / 2.0) / (w / 2.0);
    const double dy = (y + 0.5 - h / 2.0) / (h / 2.0);
    return dx * dx + dy * dy <= 1.0;
}

void TOvalButton::Click()
{
    if (isEnabled() && m_mouseInside)
        emit clicked();
}

void TOvalButton::DblClick()
{
    if (isEnabled() && m_mouseInside)
        emit doubleClicked();
}

void TOvalButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Paint(painter);
}

void TOvalButton::Paint(QPainter &painter)
{
    painter.setFont(font());
    painter.setBrush(m_transparent ? QBrush(Qt::NoBrush) : QBrush(m_color));
    painter.setPen(m_flat ? QPen(Qt::NoPen) : QPen(Qt::black, 1));
    painter.drawEllipse(strokeBox(0, 0, width() - 1, height() - 1));
    PaintFace(painter);
}

void TOvalButton::PaintBevel(QPainter &painter)
{
    const int w = width();
    const int h = height();
    m_lastBevelRings = 0;
    if (m_bevelState != 0) {
        const QPoint upperRight(4 * (w / 5), h / 5);
        const QPoint lowerLeft(w / 5, 4 * (h / 5));
        painter.setBrush(Qt::NoBrush);
        const QColor first = m_bevelState == -1 ? m_shadowColor : m_highlightColor;
        const QColor second = m_bevelState == -1 ? m_highlightColor : m_shadowColor;
        for (int pass = 0; pass < 2; ++pass) {
            painter.setPen(QPen(pass == 0 ? first : second, 1));
            for (int i = 1; i <= m_bevelWidth; ++i) {
                const int right = w - i - 1;
                const int bottom = h - i - 1;
                if (right - i < 2 || bottom - i < 2)
                    break;
                const QRectF box = strokeBox(i, i, right, bottom);
                if (pass == 0)
                    drawArcBetween(painter, box, upperRight, lowerLeft);
                else
                    drawArcBetween(painter, box, lowerLeft, upperRight);
                if (pass == 0)
                    m_lastBevelRings = i;
            }
        }
    }
    painter.setPen(QPen(Qt::black, 1));
}

void TOvalButton::PaintFace(QPainter &painter)
{
    const QFontMetrics metrics(painter.font());
    const int textWidth = metrics.horizontalAdvance(m_caption);
    const int textHeight = metrics.height();
    const bool pressed = m_bevelState == -1;
    const bool withGlyph = m_numGlyphs > 0;

    PaintBevel(painter);

    int glyphLeft = 0;
    int glyphTop = 0;
    int glyphWidth = 0;
    int glyphHeight = 0;
    m_lastGlyphRect = QRect();
    if (withGlyph) {
        const int imageWidth = m_glyph.width() / m_numGlyphs;
        QRect source(0, 0, imageWidth, m_glyph.height());
        if (!isEnabled() && m_numGlyphs > 1)
            source.moveLeft(imageWidth);
        glyphWidth = source.width();
        glyphHeight = source.height();

        if (m_caption.isEmpty() || m_layout == blGlyphTop || m_layout == blGlyphBottom)
            glyphLeft = (width() - glyphWidth) / 2;
        else if (m_layout == blGlyphLeft)
            glyphLeft = (width() - (textWidth + glyphWidth + m_spacing)) / 2 - m_margin;
        else
            glyphLeft = (textWidth + glyphWidth + m_spacing + width()) / 2 - glyphWidth + m_margin;

        if (m_caption.isEmpty() || m_layout == blGlyphLeft || m_layout == blGlyphRight)
            glyphTop = (height() - glyphHeight) / 2;
        else if (m_layout == blGlyphTop)
            glyphTop = (height() - textHeight - glyphHeight - m_spacing) / 2 - m_margin;
        else
            glyphTop = (textHeight + glyphHeight + m_spacing + height()) / 2 - glyphHeight + m_margin;

        // Clear the one-pixel strip the glyph leaves when it moves between its
        // raised and pressed positions.
        painter.setPen(m_transparent ? QPen(Qt::NoPen) : QPen(m_color, 1));
        if (pressed) {
            ++glyphLeft;
            ++glyphTop;
            const QPoint strip[] = {{glyphLeft - 1, glyphTop + glyphHeight},
                                    {glyphLeft - 1, glyphTop - 1},
                                    {glyphLeft + glyphWidth, glyphTop - 1}};
            painter.drawPolyline(strip, 3);
        } else {
            const QPoint strip[] = {{glyphLeft + glyphWidth, glyphTop},
                                    {glyphLeft + glyphWidth, glyphTop + glyphHeight},
                                    {glyphLeft, glyphTop + glyphHeight}};
            painter.drawPolyline(strip, 3);
        }
        painter.setPen(QPen(Qt::black, 1));

        if (pressed && m_numGlyphs > 2)
            source.moveLeft(2 * imageWidth);

        m_lastGlyphRect = QRect(glyphLeft, glyphTop, glyphWidth, glyphHeight);
        if (glyphWidth > 0 && glyphHeight > 0) {
            // The transparent colour shows the face, or nothing when transparent.
            QImage image = m_glyph.copy(source).convertToFormat(QImage::Format_ARGB32);
            const QRgb key = m_transparentColor.rgb() & RGB_MASK;
            const QRgb fill = m_transparent ? qRgba(0, 0, 0, 0) : m_color.rgb();
            for (int y = 0; y < image.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x) {
                    if (qAlpha(line[x]) == 255 && (line[x] & RGB_MASK) == key)
                        line[x] = fill;
                }
            }
            painter.drawImage(QPoint(glyphLeft, glyphTop), image);
        }
    }

    if (m_caption.isEmpty())
        return;
    int x = (width() - textWidth) / 2;
    int y = (height() - textHeight) / 2;
    if (withGlyph) {
        if (m_layout == blGlyphRight)
            x = glyphLeft - textWidth - m_spacing;
        else if (m_layout == blGlyphLeft)
            x = glyphLeft + glyphWidth + m_spacing;
        if (m_layout == blGlyphTop)
            y = glyphTop + glyphHeight + m_spacing;
        else if (m_layout == blGlyphBottom)
            y = glyphTop - textHeight - m_spacing;
    }
    if (pressed) {
        ++x;
        ++y;
    }
    if (!m_transparent) {
        const int shift = pressed ? 0 : 1;
        painter.fillRect(QRect(x + shift, y + shift, textWidth, textHeight), m_color);
    }
    painter.setPen(isEnabled() ? palette().color(QPalette::Active, QPalette::WindowText)
                               : palette().color(QPalette::Disabled, QPalette::Text));
    // Drawn whole whatever its length.
    painter.drawText(QRect(x, y, textWidth, textHeight),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic, m_caption);
    m_lastCaptionPos = QPoint(x, y);
}

void TOvalButton::pressAt(const QPoint &position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    if (isEnabled() && InOval(position.x(), position.y())) {
        m_downAtPress = m_down;
        m_down = true;
        m_bevelState = -1;
        // A press is a check of the pointer too; without it a click that no
        // move preceded (pointer resting on a freshly shown box) would be lost.
        m_mouseInside = true;
        update();
        emit mouseDown(button, modifiers, position);
    }
    m_mouseHeld = true;
}

void TOvalButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_clickPending = true;
    pressAt(event->position().toPoint(), event->button(), event->modifiers());
}

void TOvalButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        DblClick();
    pressAt(event->position().toPoint(), event->button(), event->modifiers());
}

void TOvalButton::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::LeftButton && m_clickPending) {
        m_clickPending = false;
        if (rect().contains(position))
            Click();
    }
    if (isEnabled() && InOval(position.x(), position.y())) {
        if (m_groupIndex == 0) {
            m_down = false;
            m_bevelState = 1;
            update();
        } else {
            SetDown(!m_downAtPress);
        }
        emit mouseUp(event->button(), event->modifiers(), position);
    }
    m_mouseHeld = false;
}

void TOvalButton::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    const bool inside = InOval(position.x(), position.y());
    if (m_mouseHeld) {
        if (!inside) {
            if (m_bevelState == -1 && m_groupIndex == 0 && m_mouseInside) {
                m_down = false;
                m_bevelState = 1;
                update();
            }
            m_mouseInside = false;
        } else if (m_bevelState == 1 && m_groupIndex == 0) {
            m_mouseInside = true;
            m_down = true;
            m_bevelState = -1;
            update();
        }
    } else if (m_flat && !m_down) {
        // A flat button shows its raised bevel only under the pointer.
        if (inside) {
            m_mouseInside = true;
            m_bevelState = 1;
            update();
        } else if (m_mouseInside) {
            m_mouseInside = false;
            m_bevelState = 0;
            update();
        }
    } else {
        m_mouseInside = inside;
    }
    if (m_mouseInside)
        emit mouseMove(event->modifiers(), position);
}

void TOvalButton::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    emit mouseEnter();
}

void TOvalButton::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (m_mouseInside && isEnabled()) {
        m_mouseInside = false;
        if (m_flat && !m_down) {
            m_bevelState = 0;
            update();
        }
    }
    emit mouseExit();
}

void TOvalButton::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
        update();
        break;
    default:
        break;
    }
}

void TOvalButton::updateAccelerator()
{
    delete m_accelerator;
    m_accelerator = nullptr;
    const qsizetype ampersand = m_caption.indexOf(QLatin1Char('&'));
    if (ampersand < 0 || ampersand + 1 >= m_caption.size())
        return;
    const QChar key = m_caption.at(ampersand + 1).toUpper();
    // Alt+key within the button's window, as dialog characters reach it.
    m_accelerator = new QShortcut(QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key(key.unicode()))), this);
    m_accelerator->setContext(Qt::WindowShortcut);
    m_accelerator->setAutoRepeat(false);
    connect(m_accelerator, &QShortcut::activated, this, &TOvalButton::acceleratorActivated);
}

void TOvalButton::acceleratorActivated()
{
    if (m_accelerator == nullptr)
        return;
    const QChar character(static_cast<char16_t>(m_accelerator->key()[0].key()));
    if (kelvora::MatchesAccelerator(character, m_caption) && isEnabled())
        Click();
}
