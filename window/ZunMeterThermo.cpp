#include "ZunMeterThermo.h"

#include "GainStripScales.h"

#include <qwt_scale_draw.h>

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
}

bool ZunMeterThermo::showValue(double value, double threshold)
{
    if (std::abs(value - m_shown) <= threshold)
        return false;
    m_shown = value;
    setValue(value);
    return true;
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
