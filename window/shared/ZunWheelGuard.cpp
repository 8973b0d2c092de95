#include "ZunWheelGuard.h"

#include <QEvent>
#include <QWidget>

ZunWheelGuard::ZunWheelGuard(QWidget* widget) : QObject(widget)
{
    // The default wheel focus would focus the control on the very notch it must ignore.
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(this);
}

void ZunWheelGuard::install(std::initializer_list<QWidget*> widgets)
{
    for (QWidget* w : widgets)
        if (w)
            new ZunWheelGuard(w);
}

bool ZunWheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
        return false;
    // Not accepted: the application offers the notch to the parents.
    event->ignore();
    return true;
}
