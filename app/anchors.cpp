#include "app/anchors.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace kelvora {

namespace {

// Lives as a child of the anchored widget and watches the widget's parent.
class AnchorFilter final : public QObject {
public:
    AnchorFilter(QWidget *widget, Anchors anchors, QSize designParentSize)
        : QObject(widget)
        , m_widget(widget)
        , m_anchors(anchors)
        , m_design(widget->geometry())
        , m_designParentSize(designParentSize)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && m_widget && watched == m_widget->parentWidget())
            apply();
        return false;
    }

    void apply()
    {
        const QSize parentSize = m_widget->parentWidget()->size();
        m_widget->setGeometry(AnchoredGeometry(m_design, m_designParentSize, m_anchors, parentSize));
    }

private:
    QPointer<QWidget> m_widget;
    Anchors m_anchors;
    QRect m_design;
    QSize m_designParentSize;
};

// One direction: start and length of the control for a parent grown by delta.
void anchorSpan(int &start, int &length, int delta, bool nearEdge, bool farEdge)
{
    if (nearEdge && farEdge)
        length = qMax(0, length + delta);
    else if (farEdge)
        start += delta;
}

} // namespace

QRect AnchoredGeometry(QRect design, QSize designParentSize, Anchors anchors, QSize parentSize)
{
    int x = design.x();
    int width = design.width();
    int y = design.y();
    int height = design.height();
    anchorSpan(x, width, parentSize.width() - designParentSize.width(),
               anchors.testFlag(Anchor::Left), anchors.testFlag(Anchor::Right));
    anchorSpan(y, height, parentSize.height() - designParentSize.height(),
               anchors.testFlag(Anchor::Top), anchors.testFlag(Anchor::Bottom));
    return {x, y, width, height};
}

void SetAnchors(QWidget *widget, Anchors anchors, QSize designParentSize)
{
    QWidget *parent = widget ? widget->parentWidget() : nullptr;
    if (!parent)
        return;
    auto *filter = new AnchorFilter(widget, anchors, designParentSize);
    parent->installEventFilter(filter);
    // A parent already laid out at another size must not wait for its next resize.
    if (parent->testAttribute(Qt::WA_Resized) && parent->size() != designParentSize)
        filter->apply();
}

} // namespace kelvora
