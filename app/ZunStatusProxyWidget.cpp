#include "ZunStatusProxyWidget.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPushButton>

ZunStatusProxyWidget::ZunStatusProxyWidget(QGraphicsItem* parent)
    : QGraphicsProxyWidget(parent)
{
    setFlags(flags() | QGraphicsItem::ItemIsMovable | QGraphicsItem::ItemIsSelectable
             | QGraphicsItem::ItemSendsGeometryChanges);
}

void ZunStatusProxyWidget::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    QWidget* child = widget() ? widget()->childAt(event->pos().toPoint()) : nullptr;
    if (qobject_cast<QPushButton*>(child)) {
        QGraphicsProxyWidget::mousePressEvent(event);
        m_buttonPressed = true;
    } else {
        QGraphicsItem::mousePressEvent(event);
        m_buttonPressed = false;
    }
}

void ZunStatusProxyWidget::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    if (!m_buttonPressed)
        QGraphicsItem::mouseMoveEvent(event);
}

void ZunStatusProxyWidget::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    if (m_buttonPressed)
        QGraphicsProxyWidget::mouseReleaseEvent(event);
    else
        QGraphicsItem::mouseReleaseEvent(event);
    m_buttonPressed = false;
}

void ZunStatusProxyWidget::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsProxyWidget::mouseDoubleClickEvent(event);
}

QVariant ZunStatusProxyWidget::itemChange(GraphicsItemChange change, const QVariant& value)
{
    if (change == ItemPositionChange && scene()) {
        QPointF p = value.toPointF();
        const QRectF r = scene()->sceneRect();
        if (!r.contains(p)) {
            p.setX(qMin(r.right(), qMax(p.x(), r.left())));
            p.setY(qMin(r.bottom(), qMax(p.y(), r.top())));
            return p;
        }
    }
    return QGraphicsProxyWidget::itemChange(change, value);
}
