#include "ZunSpinStepping.h"

#include "CZunParam.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>

double ZunSpinStepping::stepped(const CZunParam* param, double value, int n, double singleStep)
{
    if (!param)
        return value + n * singleStep;
    const double next = n >= 0 ? param->StepUp(value, n) : param->StepDown(value, -n);
    // The maximum's own step is 0: stepping down from it takes the last segment's step,
    // or an editor at the top of its range could never come down by arrows or keys.
    if (n < 0 && next == value && value >= param->GetMax())
        return param->Bound(value + n * param->lastStep());
    return next;
}

double ZunSpinStepping::fine(const CZunParam* param, double value, int n, double singleStep)
{
    const double step = param ? param->firstStep() : singleStep;
    return n >= 0 ? value + step : value - step;
}

ZunSpinStepping::KeyResult ZunSpinStepping::key(const CZunParam* param, int key, Qt::KeyboardModifiers mods,
                                                double singleStep, double* value)
{
    const bool shift = mods & Qt::ShiftModifier;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyResult::Consumed;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!(mods & Qt::ControlModifier) || !param)
            return KeyResult::Toolkit;
        *value = key == Qt::Key_Home ? param->GetMin() : param->GetMax();
        return KeyResult::Stepped;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const int n = key == Qt::Key_Up ? 1 : -1;
        *value = shift && param ? fine(param, *value, n, singleStep) : stepped(param, *value, n, singleStep);
        return KeyResult::Stepped;
    }
    case Qt::Key_PageUp:
        *value = stepped(param, *value, 5, singleStep);
        return KeyResult::Stepped;
    case Qt::Key_PageDown:
        *value = stepped(param, *value, -5, singleStep);
        return KeyResult::Stepped;
    default:
        return KeyResult::Toolkit;
    }
}

bool ZunSpinStepping::onKey(const CZunParam* param, QKeyEvent* event, double value, double singleStep, bool* keyHeld,
                            const Apply& announce)
{
    switch (key(param, event->key(), event->modifiers(), singleStep, &value)) {
    case KeyResult::Stepped:
        if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)
            *keyHeld = false;
        announce(value);
        event->accept();
        return true;
    case KeyResult::Consumed:
        event->accept();
        return true;
    case KeyResult::Toolkit:
        break;
    }
    return false;
}

void ZunSpinStepping::onWheel(const CZunParam* param, QWheelEvent* event, double value, double singleStep,
                              const Apply& set, const Apply& announce)
{
    const int n = event->angleDelta().y() >= 0 ? 1 : -1;
    if (event->buttons() & Qt::MiddleButton)
        set(fine(param, value, n, singleStep));
    else
        announce(stepped(param, value, n, singleStep));
    event->accept();
}

double ZunSpinStepping::onStepBy(const CZunParam* param, double value, int n, double singleStep)
{
    const bool shift = QApplication::keyboardModifiers() & Qt::ShiftModifier;
    return shift && param ? fine(param, value, n, singleStep) : stepped(param, value, n, singleStep);
}
