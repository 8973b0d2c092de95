#pragma once

#include <QObject>

#include <initializer_list>

class QWidget;

// Keeps the mouse wheel from changing a control the operator has not focused: a notch
// over a fader, a spin box or a selector changes what it shows, and for a gain, a delay,
// a filter's value, a FIR set, a setup, an input or a routing that is a change on the
// running processor, made by a wheel turned to scroll the page. The notch goes on to the
// widgets beneath, as any ignored wheel event does, so the scroll area around the page
// scrolls; a click (or Tab) focuses the control and the wheel works as before. Every
// control that sends to the processor is guarded where it is made.
class ZunWheelGuard : public QObject
{
    Q_OBJECT
public:
    // Guards each widget; the guard is the widget's child and goes with it.
    static void install(std::initializer_list<QWidget*> widgets);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ZunWheelGuard(QWidget* widget);
};
