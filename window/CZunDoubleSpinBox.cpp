#include "CZunDoubleSpinBox.h"

#include "CZunParam.h"
#include "ZunSpinStepping.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>

CZunDoubleSpinBox::CZunDoubleSpinBox(const CZunParam* param, QWidget* parent)
    : QDoubleSpinBox(parent), m_param(param)
{
    if (m_param)
        setSingleStep(m_param->firstStep());
}

void CZunDoubleSpinBox::setValueGuarded(double value)
{
    if (!m_keyHeld)
        setValue(value);
}

void CZunDoubleSpinBox::onEditingFinished() { emit valueChangedEditFinished(value()); }

void CZunDoubleSpinBox::setAndAnnounce(double value)
{
    setValue(value);
    emit valueChangedEditFinished(this->value());
}

void CZunDoubleSpinBox::stepBy(int steps)
{
    const bool fine = (QApplication::keyboardModifiers() & Qt::ShiftModifier) && m_param;
    setAndAnnounce(fine ? ZunSpinStepping::fine(m_param, value(), steps, singleStep())
                        : ZunSpinStepping::stepped(m_param, value(), steps, singleStep()));
}

void CZunDoubleSpinBox::keyPressEvent(QKeyEvent* event)
{
    m_keyHeld = true;
    double v = value();
    switch (ZunSpinStepping::key(m_param, event->key(), event->modifiers(), singleStep(), &v)) {
    case ZunSpinStepping::KeyResult::Stepped:
        if (event->key() == Qt::Key_Home || event->key() == Qt::Key_End)
            m_keyHeld = false;
        setAndAnnounce(v);
        event->accept();
        return;
    case ZunSpinStepping::KeyResult::Consumed:
        event->accept();
        return;
    case ZunSpinStepping::KeyResult::Toolkit:
        QDoubleSpinBox::keyPressEvent(event);
        return;
    }
}

void CZunDoubleSpinBox::keyReleaseEvent(QKeyEvent* event)
{
    m_keyHeld = false;
    QDoubleSpinBox::keyReleaseEvent(event);
}

void CZunDoubleSpinBox::wheelEvent(QWheelEvent* event)
{
    const int n = event->angleDelta().y() >= 0 ? 1 : -1;
    if (event->buttons() & Qt::MiddleButton)
        setValue(ZunSpinStepping::fine(m_param, value(), n, singleStep()));
    else
        setAndAnnounce(ZunSpinStepping::stepped(m_param, value(), n, singleStep()));
    event->accept();
}
