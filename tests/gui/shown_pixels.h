#pragma once

#include <QImage>

class QAbstractScrollArea;

// What the window shows of a view's viewport right now: the pixels left by
// every paint so far, read from the window's backing store.
QImage shownViewport(const QAbstractScrollArea *view);

// The viewport painted afresh, whole, as a first paint would draw it.
QImage renderedViewport(QAbstractScrollArea *view);
