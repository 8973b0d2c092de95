#pragma once

class QPaintEvent;
class QPainter;
class QRect;
class QWidget;

// The start of a paint of a fader's moving part alone (its groove) when a new value
// repaints only that: the painter on the widget, clipped to the event, over the widget's
// own background.
class ZunPartPaint
{
public:
    // False when the event asks for more than part (the widget then paints as a whole);
    // else painter is begun and ready for the part.
    static bool begin(QWidget* widget, const QPaintEvent* event, const QRect& part, QPainter* painter);
};
