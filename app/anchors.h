#pragma once

#include <QFlags>
#include <QRect>
#include <QSize>

class QWidget;

namespace kelvora {

// Which edges of its parent a control keeps its distance to when the parent
// changes size. Both edges of a direction stretch the control; one edge moves
// it along; none keeps it where it was designed.
enum class Anchor {
    Left = 0x1,
    Top = 0x2,
    Right = 0x4,
    Bottom = 0x8,
};
Q_DECLARE_FLAGS(Anchors, Anchor)
Q_DECLARE_OPERATORS_FOR_FLAGS(Anchors)

// Anchors widget inside its parent. designParentSize is the parent's size the
// widget's present geometry was designed for (a tab page's size is only known
// once the tab control has laid it out, so it is given rather than measured).
void SetAnchors(QWidget *widget, Anchors anchors, QSize designParentSize);

// The geometry an anchored control takes in a parent of the given size.
QRect AnchoredGeometry(QRect design, QSize designParentSize, Anchors anchors, QSize parentSize);

} // namespace kelvora
