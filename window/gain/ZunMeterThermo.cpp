#include "ZunMeterThermo.h"

#include "GainStripScales.h"
#include "ZunPartPaint.h"

#include <qwt_scale_draw.h>

#include <QPainter>
#include <QPaintEvent>
#include <qdrawutil.h>

#include <cmath>

ZunMeterThermo::ZunMeterThermo(const QwtScaleDiv& div, const QBrush& fill, QWidget* parent) : QwtThermo(parent)
{
    setOrientation(Qt::Vertical);
    setScalePosition(QwtThermo::NoScale);
    setPipeWidth(10);
    setScale(div);
    setFillBrush(fill);
    setSpacing(1);
    GainStripScales::style(this, abstractScaleDraw(), 1, 1, 1);
    QwtThermo::setValue(div.lowerBound() < div.upperBound() ? div.lowerBound() : div.upperBound());
    // Opaque (its own background, the strip's colour, also while it is highlighted): a
    // new value repaints the meter alone, never the page and the window frame behind it.
    setAutoFillBackground(true);
}

bool ZunMeterThermo::showValue(double value, double threshold)
{
    if (std::abs(value - m_shown) <= threshold)
        return false;
    m_shown = value;
    setValue(value);
    return true;
}

void ZunMeterThermo::setValue(double value)
{
    // Only the liquid moves: the pipe alone is repainted, never the scale, whose labels
    // cost far more to lay out than the bar to fill. The toolkit's own setter asks for the
    // whole widget, so it runs with updates held off.
    const bool held = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    QwtThermo::setValue(value);
    setAttribute(Qt::WA_UpdatesDisabled, held);
    update(pipe());
}

QRect ZunMeterThermo::pipe() const
{
    // The toolkit works the pipe out from the scale's label metrics each time it is asked.
    if (m_pipe.isNull())
        m_pipe = pipeRect();
    return m_pipe;
}

void ZunMeterThermo::paintEvent(QPaintEvent* event)
{
    // A value change: the pipe alone, drawn as the toolkit draws it but from the kept
    // rectangle.
    const QRect tRect = pipe();
    QPainter painter;
    if (!ZunPartPaint::begin(this, event, tRect, &painter)) {
        QwtThermo::paintEvent(event);
        return;
    }
    const int bw = borderWidth();
    const QBrush brush = palette().brush(QPalette::Base);
    qDrawShadePanel(&painter, tRect.adjusted(-bw, -bw, bw, bw), palette(), true, bw,
                    &brush);
    drawLiquid(&painter, tRect);
}

void ZunMeterThermo::resizeEvent(QResizeEvent* event)
{
    m_pipe = QRect();
    QwtThermo::resizeEvent(event);
}

void ZunMeterThermo::changeEvent(QEvent* event)
{
    m_pipe = QRect();
    QwtThermo::changeEvent(event);
}

void ZunMeterThermo::scaleChange()
{
    m_pipe = QRect();
    QwtThermo::scaleChange();
}

QSize ZunMeterThermo::hintWithoutScale(int noScaleHeight) const
{
    if (scalePosition() != QwtThermo::NoScale)
        return QwtThermo::minimumSizeHint();
    return orientation() == Qt::Vertical ? QSize(pipeRect().width(), noScaleHeight)
                                         : QSize(16, pipeRect().height());
}

int ZunMeterThermo::borderDistance() const
{
    int start = 0, end = 0;
    scaleDraw()->getBorderDistHint(font(), start, end);
    return qMax(start, end);
}
