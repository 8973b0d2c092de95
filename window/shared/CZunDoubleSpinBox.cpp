#include "CZunDoubleSpinBox.h"

#include "CZunParam.h"
#include "ZunSpinStepping.h"

#include <QKeyEvent>

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
    setAndAnnounce(ZunSpinStepping::onStepBy(m_param, value(), steps, singleStep()));
}

void CZunDoubleSpinBox::keyPressEvent(QKeyEvent* event)
{
    m_keyHeld = true;
    if (!ZunSpinStepping::onKey(m_param, event, value(), singleStep(), &m_keyHeld,
                                [this](double v) { setAndAnnounce(v); }))
        QDoubleSpinBox::keyPressEvent(event);
}

void CZunDoubleSpinBox::keyReleaseEvent(QKeyEvent* event)
{
    m_keyHeld = false;
    QDoubleSpinBox::keyReleaseEvent(event);
}

void CZunDoubleSpinBox::wheelEvent(QWheelEvent* event)
{
    ZunSpinStepping::onWheel(m_param, event, value(), singleStep(), [this](double v) { setValue(v); },
                             [this](double v) { setAndAnnounce(v); });
}
