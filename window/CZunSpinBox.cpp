#include "CZunSpinBox.h"

#include "CZunParam.h"
#include "ZunSpinStepping.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>

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
    const bool fine = (QApplication::keyboardModifiers() & Qt::ShiftModifier) && m_param;
    setAndAnnounce(fine ? ZunSpinStepping::fine(m_param, value(), steps, singleStep())
                        : ZunSpinStepping::stepped(m_param, value(), steps, singleStep()));
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
        QSpinBox::keyPressEvent(event);
        return;
    }
}

void CZunSpinBox::keyReleaseEvent(QKeyEvent* event)
{
    m_keyHeld = false;
    QSpinBox::keyReleaseEvent(event);
}

void CZunSpinBox::wheelEvent(QWheelEvent* event)
{
    const int n = event->angleDelta().y() >= 0 ? 1 : -1;
    if (event->buttons() & Qt::MiddleButton)
        setValue(int(std::trunc(ZunSpinStepping::fine(m_param, value(), n, singleStep()))));
    else
        setAndAnnounce(ZunSpinStepping::stepped(m_param, value(), n, singleStep()));
    event->accept();
}
