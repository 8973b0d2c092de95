#pragma once

#include <QObject>

#include <initializer_list>

class QWidget;

// Keeps the mouse wheel from changing a selector the operator has not focused: in Qt 5 a
// notch over a combo box activates the next item, which for a FIR set, a setup, an input
// or a routing is a change on the running processor. The notch goes on to the widgets
// beneath, as any ignored wheel event does; a click (or Tab) focuses the box and the wheel
// works as before.
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
