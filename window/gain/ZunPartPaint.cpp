#include "ZunPartPaint.h"

#include <QPainter>
#include <QPaintEvent>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

bool ZunPartPaint::begin(QWidget* widget, const QPaintEvent* event, const QRect& part, QPainter* painter)
{
    if (!part.contains(event->rect()))
        return false;
    painter->begin(widget);
    painter->setClipRegion(event->region());
    QStyleOption opt;
    opt.initFrom(widget);
    widget->style()->drawPrimitive(QStyle::PE_Widget, &opt, painter, widget);
    return true;
}
