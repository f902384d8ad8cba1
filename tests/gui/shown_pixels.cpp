#include "shown_pixels.h"

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

QImage shownViewport(const QAbstractScrollArea *view)
{
    const QWidget *window = view->window();
    const QWidget *port = view->viewport();
    const QRect area(port->mapTo(window, QPoint(0, 0)), port->size());
    return window->screen()
        ->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage renderedViewport(QAbstractScrollArea *view)
{
    return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
