#pragma once

class QPaintEvent;
class QPainter;
class QRect;
class QWidget;

// What the meters and faders share when a new value repaints their moving part alone (a
// meter's pipe, a fader's groove): the painter on the widget, clipped to the event, over
// the widget's own background.
class ZunPartPaint
{
public:
    // False when the event asks for more than part (the widget then paints as a whole);
    // else painter is begun and ready for the part.
    static bool begin(QWidget* widget, const QPaintEvent* event, const QRect& part, QPainter* painter);
};
