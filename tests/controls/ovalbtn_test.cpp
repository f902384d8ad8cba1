#include "controls/ovalbtn.h"

#include <QApplication>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using kelvora::TButtonLayout;

namespace {

const QColor kFace(192, 192, 192);
const QPoint kCentre(50, 25);
// Inside the 100 x 50 rectangle, outside its ellipse.
const QPoint kCorner(3, 3);

bool containsColour(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & RGB_MASK) == (colour & RGB_MASK))
                return true;
        }
    }
    return false;
}

QImage render(TOvalButton &button)
{
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class OvalButtonTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QWidget> m_host;
    TOvalButton *m_button = nullptr;

    void makeButton()
    {
        m_host = std::make_unique<QWidget>();
        m_host->resize(300, 200);
        m_button = new TOvalButton(m_host.get());
        m_button->move(50, 50);
        m_button->SetColor(kFace);
        m_host->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
        // Qt drops a move to where the pointer already is; park it away from
        // the button so that each test's first move arrives.
        QTest::mouseMove(m_host.get(), QPoint(290, 190));
    }

    void click(const QPoint &position)
    {
        QTest::mouseMove(m_button, position);
        QTest::mouseClick(m_button, Qt::LeftButton, {}, position);
    }

private slots:
    void init() { makeButton(); }
    void cleanup() { m_host.reset(); }

    void newButtonShowsNoRingsUntilBevelWidthIsSet()
    {
        TOvalButton button;
        QCOMPARE(button.size(), QSize(100, 50));
        QCOMPARE(button.BevelWidth(), 0);
        QCOMPARE(button.Spacing(), 4);
        QCOMPARE(button.TransparentColor(), QColor(Qt::black));
        QCOMPARE(button.Color(), button.palette().color(QPalette::Button));
        button.SetColor(kFace);
        QCOMPARE(button.HighlightColor(), QColor(223, 223, 223));
        QCOMPARE(button.ShadowColor(), QColor(115, 115, 115));

        QImage image = render(button);
        QCOMPARE(button.LastBevelRings(), 0);
        QVERIFY(!containsColour(image, button.HighlightColor().rgb()));
        QVERIFY(!containsColour(image, button.ShadowColor().rgb()));

        button.SetBevelWidth(2);
        image = render(button);
        QCOMPARE(button.LastBevelRings(), 2);
        // Raised: light along the top, dark along the bottom.
        QCOMPARE(QColor(image.pixel(50, 1)), button.HighlightColor());
        QCOMPARE(QColor(image.pixel(50, 2)), button.HighlightColor());
        QCOMPARE(QColor(image.pixel(50, 3)), kFace);
        QVERIFY(QColor(image.pixel(50, 47)) == button.ShadowColor()
                || QColor(image.pixel(50, 46)) == button.ShadowColor());

        button.SetDown(true);
        image = render(button);
        QCOMPARE(QColor(image.pixel(50, 1)), button.ShadowColor());

        button.SetBevelWidth(0);
        QCOMPARE(button.BevelWidth(), 1);
        button.SetBevelWidth(99);
        QCOMPARE(button.BevelWidth(), 10);
    }

    void ovalTest()
    {
        QVERIFY(m_button->InOval(kCentre.x(), kCentre.y()) && m_button->InOval(1, 25) && m_button->InOval(50, 0));
        QVERIFY(!m_button->InOval(kCorner.x(), kCorner.y()) && !m_button->InOval(99, 49));
        QVERIFY(!m_button->InOval(-1, 25) && !m_button->InOval(100, 25));
    }

    void momentaryClick()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        QTest::mouseMove(m_button, kCentre);
        QTest::mousePress(m_button, Qt::LeftButton, {}, kCentre);
        QCOMPARE(m_button->BevelState(), -1);
        QVERIFY(m_button->Down());
        QTest::mouseRelease(m_button, Qt::LeftButton, {}, kCentre);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->Down());
        QCOMPARE(clicks.count(), 1);
    }

    void pressInCornerChangesNothing()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        QSignalSpy downs(m_button, &TOvalButton::mouseDown);
        QTest::mouseMove(m_button, kCentre);
        QTest::mouseMove(m_button, kCorner);
        QVERIFY(!m_button->MouseInside());
        QTest::mousePress(m_button, Qt::LeftButton, {}, kCorner);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->Down());
        QTest::mouseRelease(m_button, Qt::LeftButton, {}, kCorner);
        QCOMPARE(m_button->BevelState(), 1);
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(downs.count(), 0);
    }

    void pressWithoutPrecedingMoveStillClicks()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        QTest::mouseClick(m_button, Qt::LeftButton, {}, kCentre);
        QCOMPARE(clicks.count(), 1);
    }

    void dragOutAndReleaseDoesNotClick()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        QTest::mouseMove(m_button, kCentre);
        QTest::mousePress(m_button, Qt::LeftButton, {}, kCentre);
        QTest::mouseMove(m_button, kCorner);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->Down());
        // Back in while still held: pressed again.
        QTest::mouseMove(m_button, kCentre);
        QCOMPARE(m_button->BevelState(), -1);
        QTest::mouseMove(m_button, kCorner);
        QTest::mouseRelease(m_button, Qt::LeftButton, {}, kCorner);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->Down());
        QVERIFY(!m_button->MouseHeld());
        QCOMPARE(clicks.count(), 0);

        // Released outside the rectangle altogether.
        QTest::mouseMove(m_button, kCentre);
        QTest::mousePress(m_button, Qt::LeftButton, {}, kCentre);
        QTest::mouseMove(m_button, QPoint(150, 25));
        QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(150, 25));
        QCOMPARE(m_button->BevelState(), 1);
        QCOMPARE(clicks.count(), 0);
    }

    void groupIndexToggles_data()
    {
        QTest::addColumn<bool>("flat");
        QTest::addColumn<int>("upState");
        QTest::newRow("raised") << false << 1;
        QTest::newRow("flat") << true << 0;
    }

    void groupIndexToggles()
    {
        QFETCH(bool, flat);
        QFETCH(int, upState);
        m_button->SetGroupIndex(1);
        m_button->SetFlat(flat);
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        click(kCentre);
        QVERIFY(m_button->Down());
        QCOMPARE(m_button->BevelState(), -1);
        // Dragging a toggled button in and out does not pop it up.
        QTest::mouseMove(m_button, kCorner);
        QCOMPARE(m_button->BevelState(), -1);
        click(kCentre);
        QVERIFY(!m_button->Down());
        QCOMPARE(m_button->BevelState(), upState);
        QCOMPARE(clicks.count(), 2);
    }

    void propertySettersDriveBevelState()
    {
        m_button->SetDown(true);
        QCOMPARE(m_button->BevelState(), -1);
        m_button->SetFlat(true);
        QCOMPARE(m_button->BevelState(), 0);
        m_button->SetDown(true);
        m_button->SetDown(false);
        QCOMPARE(m_button->BevelState(), 0);
        m_button->SetDown(true);
        m_button->SetFlat(false);
        // Flat off raises the bevel whatever Down is.
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(m_button->Down());
    }

    void flatButtonShowsBevelOnlyUnderPointer()
    {
        m_button->SetFlat(true);
        QTest::mouseMove(m_button, kCentre);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(m_button->MouseInside());
        QTest::mouseMove(m_button, kCorner);
        QCOMPARE(m_button->BevelState(), 0);
        QTest::mouseMove(m_button, kCentre);
        QCOMPARE(m_button->BevelState(), 1);
        QSignalSpy exits(m_button, &TOvalButton::mouseExit);
        QTest::mouseMove(m_host.get(), QPoint(250, 180));
        QCOMPARE(exits.count(), 1);
        QCOMPARE(m_button->BevelState(), 0);
        QVERIFY(!m_button->MouseInside());
    }

    void disabledButtonIgnoresMouse()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        m_button->setEnabled(false);
        click(kCentre);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->Down());
        QCOMPARE(clicks.count(), 0);
    }

    void doubleClickFiresBoth()
    {
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        QSignalSpy doubles(m_button, &TOvalButton::doubleClicked);
        // The sequence a double click delivers: press, release, double click, release.
        const auto doubleClick = [this](QPoint position) {
            QTest::mouseMove(m_button, position);
            QTest::mouseClick(m_button, Qt::LeftButton, {}, position);
            QTest::mouseDClick(m_button, Qt::LeftButton, {}, position);
            QTest::mouseRelease(m_button, Qt::LeftButton, {}, position);
        };
        doubleClick(kCentre);
        QCOMPARE(doubles.count(), 1);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(m_button->BevelState(), 1);
        QVERIFY(!m_button->MouseHeld());

        doubleClick(kCorner);
        QCOMPARE(doubles.count(), 1);
        QCOMPARE(clicks.count(), 1);
    }

    void acceleratorMatching()
    {
        using kelvora::MatchesAccelerator;
        QVERIFY(MatchesAccelerator(QLatin1Char('c'), QStringLiteral("&Close")));
        QVERIFY(MatchesAccelerator(QLatin1Char('C'), QStringLiteral("&close")));
        QVERIFY(MatchesAccelerator(QLatin1Char('s'), QStringLiteral("Web&site")));
        QVERIFY(!MatchesAccelerator(QLatin1Char('w'), QStringLiteral("Web&site")));
        QVERIFY(!MatchesAccelerator(QLatin1Char('c'), QStringLiteral("Close")));
        QVERIFY(!MatchesAccelerator(QLatin1Char('&'), QStringLiteral("Close&")));
        QVERIFY(!MatchesAccelerator(QChar(), QStringLiteral("Close&")));
        QVERIFY(!MatchesAccelerator(QLatin1Char('a'), QString()));
        // Only the first "&" counts.
        QVERIFY(MatchesAccelerator(QLatin1Char('a'), QStringLiteral("&a&b")));
        QVERIFY(!MatchesAccelerator(QLatin1Char('b'), QStringLiteral("&a&b")));
        // Only ASCII letters change case.
        QVERIFY(!MatchesAccelerator(QChar(0xE9), QStringLiteral("&\u00C9t\u00E9")));
    }

    void altKeyClicksOnlyWithPointerInside()
    {
        m_button->SetCaption(QStringLiteral("&Close"));
        QSignalSpy clicks(m_button, &TOvalButton::clicked);
        m_host->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
        QTest::mouseMove(m_button, kCentre);
        QVERIFY(m_button->MouseInside());
        QTest::keyClick(m_host.get(), Qt::Key_C, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
        QTest::mouseMove(m_button, kCorner);
        QTest::keyClick(m_host.get(), Qt::Key_C, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
        QTest::mouseMove(m_button, kCentre);
        m_button->SetCaption(QStringLiteral("Close&"));
        QTest::keyClick(m_host.get(), Qt::Key_C, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
    }

    void glyphLayouts_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("bottom") << int(kelvora::blGlyphBottom);
        QTest::newRow("left") << int(kelvora::blGlyphLeft);
        QTest::newRow("right") << int(kelvora::blGlyphRight);
        QTest::newRow("top") << int(kelvora::blGlyphTop);
    }

    void glyphLayouts()
    {
        QFETCH(int, layout);
        QImage glyph(12, 8, QImage::Format_RGB32);
        glyph.fill(Qt::red);
        m_button->SetGlyph(glyph);
        m_button->SetNumGlyphs(1);
        m_button->SetCaption(QStringLiteral("Go on"));
        m_button->SetLayout(static_cast<TButtonLayout>(layout));
        const QFontMetrics metrics(m_button->font());
        const int tw = metrics.horizontalAdvance(QStringLiteral("Go on"));
        const int th = metrics.height();
        const int spacing = m_button->Spacing();

        render(*m_button);
        const QRect rest = m_button->LastGlyphRect();
        const QPoint caption = m_button->LastCaptionPos();
        QCOMPARE(rest.size(), QSize(12, 8));
        switch (layout) {
        case kelvora::blGlyphLeft:
            QCOMPARE(caption.x(), rest.left() + 12 + spacing);
            QVERIFY(qAbs(rest.left() + (12 + spacing + tw) / 2 - 50) <= 1);
            QCOMPARE(rest.top(), (50 - 8) / 2);
            break;
        case kelvora::blGlyphRight:
            QCOMPARE(caption.x() + tw + spacing, rest.left());
            QVERIFY(qAbs(caption.x() + (12 + spacing + tw) / 2 - 50) <= 1);
            QCOMPARE(rest.top(), (50 - 8) / 2);
            break;
        case kelvora::blGlyphTop:
            QCOMPARE(caption.y(), rest.top() + 8 + spacing);
            QVERIFY(qAbs(rest.top() + (8 + spacing + th) / 2 - 25) <= 1);
            QCOMPARE(rest.left(), (100 - 12) / 2);
            break;
        default:
            QCOMPARE(caption.y() + th + spacing, rest.top());
            QVERIFY(qAbs(caption.y() + (8 + spacing + th) / 2 - 25) <= 1);
            QCOMPARE(rest.left(), (100 - 12) / 2);
            break;
        }

        // The margin pushes the glyph away from the caption.
        m_button->SetMargin(3);
        render(*m_button);
        const QPoint moved = m_button->LastGlyphRect().topLeft() - rest.topLeft();
        const QPoint expected = layout == kelvora::blGlyphLeft    ? QPoint(-3, 0)
                                : layout == kelvora::blGlyphRight ? QPoint(3, 0)
                                : layout == kelvora::blGlyphTop   ? QPoint(0, -3)
                                                                  : QPoint(0, 3);
        QCOMPARE(moved, expected);
        m_button->SetMargin(0);

        // Pressed: glyph one pixel right and down, caption with it.
        m_button->SetDown(true);
        render(*m_button);
        QCOMPARE(m_button->LastGlyphRect().topLeft(), rest.topLeft() + QPoint(1, 1));

        // Without a caption the glyph is centred whatever the layout.
        m_button->SetDown(false);
        m_button->SetCaption(QString());
        render(*m_button);
        QCOMPARE(m_button->LastGlyphRect().topLeft(), QPoint(44, 21));
    }

    void oversizedGlyphHalvesTowardsZero()
    {
        m_button->resize(20, 20);
        QImage glyph(25, 27, QImage::Format_RGB32);
        glyph.fill(Qt::red);
        m_button->SetGlyph(glyph);
        m_button->SetNumGlyphs(1);
        render(*m_button);
        // (20 - 25) div 2 = -2 and (20 - 27) div 2 = -3, not -3 and -4.
        QCOMPARE(m_button->LastGlyphRect(), QRect(-2, -3, 25, 27));
    }

    void runTimeGlyphWaitsForNumGlyphs()
    {
        QImage glyph(10, 10, QImage::Format_RGB32);
        glyph.fill(Qt::red);
        glyph.setPixel(0, 9, qRgb(0, 255, 0));
        glyph.setPixel(5, 5, qRgb(0, 255, 0));
        m_button->SetGlyph(glyph);
        QCOMPARE(m_button->TransparentColor(), QColor(0, 255, 0));

        QImage image = render(*m_button);
        QVERIFY(m_button->LastGlyphRect().isNull());
        QVERIFY(!containsColour(image, qRgb(255, 0, 0)));

        m_button->SetNumGlyphs(1);
        image = render(*m_button);
        const QRect target = m_button->LastGlyphRect();
        QCOMPARE(target, QRect(45, 20, 10, 10));
        QCOMPARE(QColor(image.pixel(target.topLeft())), QColor(Qt::red));
        // The transparent colour shows the face.
        QCOMPARE(QColor(image.pixel(target.topLeft() + QPoint(5, 5))), kFace);
        QVERIFY(!containsColour(image, qRgb(0, 255, 0)));
    }

    void glyphImageFollowsState()
    {
        // Three images side by side: normal red, disabled blue, pressed yellow.
        QImage glyph(30, 10, QImage::Format_RGB32);
        glyph.fill(Qt::white);
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 30; ++x)
                glyph.setPixel(x, y, x < 10 ? qRgb(255, 0, 0) : x < 20 ? qRgb(0, 0, 255) : qRgb(255, 255, 0));
        }
        m_button->SetGlyph(glyph);
        m_button->SetTransparentColor(Qt::black);
        m_button->SetNumGlyphs(3);
        const auto glyphColour = [this] {
            const QImage image = render(*m_button);
            return QColor(image.pixel(m_button->LastGlyphRect().center()));
        };
        QCOMPARE(glyphColour(), QColor(255, 0, 0));
        m_button->setEnabled(false);
        QCOMPARE(glyphColour(), QColor(0, 0, 255));
        m_button->setEnabled(true);
        m_button->SetDown(true);
        QCOMPARE(glyphColour(), QColor(255, 255, 0));
        m_button->SetNumGlyphs(2);
        QCOMPARE(glyphColour(), QColor(255, 0, 0));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    OvalButtonTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ovalbtn_test.moc"
