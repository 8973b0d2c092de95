#include "CZunSpinBox.h"

#include "CZunParam.h"
#include "ZunSpinStepping.h"

#include <QApplication>
#include <QKeyEvent>

#include <cmath>

CZunSpinBox::CZunSpinBox(const CZunParam* param, QWidget* parent) : QSpinBox(parent), m_param(param)
{
    if (m_param)
        setSingleStep(qMax(1, int(std::trunc(m_param->firstStep()))));
}

void CZunSpinBox::setValueGuarded(int value)
{
    if (!m_keyHeld)
        setValue(value);
}

void CZunSpinBox::onEditingFinished() { emit valueChangedEditFinished(value()); }

void CZunSpinBox::setAndAnnounce(double value)
{
    const double whole = std::trunc(value);
    setValue(whole >= maximum() ? maximum() : whole <= minimum() ? minimum() : int(whole));
    emit valueChangedEditFinished(this->value());
}

void CZunSpinBox::stepBy(int steps)
{
    setAndAnnounce(ZunSpinStepping::onStepBy(m_param, value(), steps, singleStep()));
}

void CZunSpinBox::keyPressEvent(QKeyEvent* event)
{
    m_keyHeld = true;
    if (event->key() == Qt::Key_Comma || event->key() == Qt::Key_Period) {
        // whole numbers only
        QApplication::beep();
        event->accept();
        return;
    }
    if (!ZunSpinStepping::onKey(m_param, event, value(), singleStep(), &m_keyHeld,
                                [this](double v) { setAndAnnounce(v); }))
        QSpinBox::keyPressEvent(event);
}

void CZunSpinBox::keyReleaseEvent(QKeyEvent* event)
{
    m_keyHeld = false;
    QSpinBox::keyReleaseEvent(event);
}

void CZunSpinBox::wheelEvent(QWheelEvent* event)
{
    ZunSpinStepping::onWheel(m_param, event, value(), singleStep(), [this](double v) { setValue(int(std::trunc(v))); },
                             [this](double v) { setAndAnnounce(v); });
}
