#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

class QShortcut;

namespace kelvora {

// Where the glyph sits relative to the caption.
enum TButtonLayout { blGlyphBottom = 0, blGlyphLeft = 1, blGlyphRight = 2, blGlyphTop = 3 };

// True when the caption's first "&" is followed by a character that equals
// `character` after upper-casing ASCII letters. A trailing "&" marks nothing.
bool MatchesAccelerator(QChar character, const QString &caption);

} // namespace kelvora

// Push button drawn as an ellipse with a shaded bevel, an optional glyph and a
// caption. It has no native window and paints only its oval, so the parent
// shows through the corners; clicks count only inside the oval.
class TOvalButton final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TOvalButton)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(bool Down READ Down WRITE SetDown)
    Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
    Q_PROPERTY(int Layout READ Layout WRITE SetLayoutValue)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(QColor TransparentColor READ TransparentColor WRITE SetTransparentColor)

public:
    static constexpr int kInitialWidth = 100;
    static constexpr int kInitialHeight = 50;
    static constexpr int kMaxBevelWidth = 10;
    static constexpr int kMaxNumGlyphs = 4;
    static constexpr int kInitialSpacing = 4;
    static constexpr int kLightSteps = 5;
    static constexpr int kDarkSteps = 4;

    explicit TOvalButton(QWidget *parent = nullptr);
    ~TOvalButton() override;

    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int width);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    QColor Color() const { return m_color; }
    void SetColor(const QColor &color);
    bool Down() const { return m_down; }
    void SetDown(bool down);
    bool Flat() const { return m_flat; }
    void SetFlat(bool flat);
    QImage Glyph() const { return m_glyph; }
    // Takes a copy; the bottom-left pixel becomes the transparent colour.
    void SetGlyph(const QImage &glyph);
    void SetGlyph(const QPixmap &glyph);
    int GroupIndex() const { return m_groupIndex; }
    void SetGroupIndex(int groupIndex) { m_groupIndex = groupIndex; }
    kelvora::TButtonLayout Layout() const { return m_layout; }
    void SetLayout(kelvora::TButtonLayout layout);
    void SetLayoutValue(int layout);
    int Margin() const { return m_margin; }
    void SetMargin(int margin);
    int NumGlyphs() const { return m_numGlyphs; }
    void SetNumGlyphs(int numGlyphs);
    int Spacing() const { return m_spacing; }
    void SetSpacing(int spacing);
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool transparent);
    QColor TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(const QColor &color);

    QColor HighlightColor() const { return m_highlightColor; }
    QColor ShadowColor() const { return m_shadowColor; }
    // -1 pressed, 0 no bevel, 1 raised.
    int BevelState() const { return m_bevelState; }
    bool MouseInside() const { return m_mouseInside; }
    bool MouseHeld() const { return m_mouseHeld; }

    // Inside the elliptic region bounded by (0, 0, width, height).
    bool InOval(int x, int y) const;

    // What the last paint drew: bevel rings, glyph target (null when no
    // glyph) and caption origin (meaningful only with a caption).
    int LastBevelRings() const { return m_lastBevelRings; }
    QRect LastGlyphRect() const { return m_lastGlyphRect; }
    QPoint LastCaptionPos() const { return m_lastCaptionPos; }

    // Fire clicked() / doubleClicked() only when enabled and the pointer is inside the oval.
    void Click();
    void DblClick();

signals:
    void clicked();
    void doubleClicked();
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseMove(Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseEnter();
    void mouseExit();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void Paint(QPainter &painter);
    void PaintBevel(QPainter &painter);
    void PaintFace(QPainter &painter);
    void pressAt(const QPoint &position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void updateAccelerator();
    void acceleratorActivated();

    int m_bevelWidth = 0;
    QString m_caption;
    QColor m_color;
    QColor m_highlightColor;
    QColor m_shadowColor;
    bool m_down = false;
    bool m_flat = false;
    QImage m_glyph;
    int m_groupIndex = 0;
    kelvora::TButtonLayout m_layout = kelvora::blGlyphBottom;
    int m_margin = 0;
    int m_numGlyphs = 0;
    int m_spacing = kInitialSpacing;
    bool m_transparent = false;
    QColor m_transparentColor = Qt::black;

    int m_bevelState = 1;
    bool m_downAtPress = false;
    bool m_mouseHeld = false;
    bool m_mouseInside = false;
    // A left press began on the button, so the matching release may click.
    bool m_clickPending = false;

    QShortcut *m_accelerator = nullptr;

    int m_lastBevelRings = 0;
    QRect m_lastGlyphRect;
    QPoint m_lastCaptionPos;
};
