#pragma once

#include <QGraphicsProxyWidget>

// The graphics item of a status tile: presses on a push button of the tile go to the
// tile (so "Master Mute" works), a press anywhere else drags the tile, never outside the
// scene rectangle.
class ZunStatusProxyWidget : public QGraphicsProxyWidget
{
    Q_OBJECT
public:
    explicit ZunStatusProxyWidget(QGraphicsItem* parent = nullptr);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    bool m_buttonPressed = false;
};
