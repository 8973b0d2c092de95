#include "ZunGainSlider.h"

#include "GainStripScales.h"

#include <cmath>

ZunGainSlider::ZunGainSlider(const QSize& handle, QWidget* parent) : QwtSlider(Qt::Vertical, parent)
{
    setScalePosition(QwtSlider::NoScale);
    setTrough(false);
    setGroove(true);
    setHandleSize(handle);
    setBorderWidth(3);
    setMinimumSize(16, 120);
    connect(this, &QwtAbstractSlider::sliderPressed, this, [this]() { m_held = true; });
    connect(this, &QwtAbstractSlider::sliderReleased, this, [this]() { m_held = false; });
}

void ZunGainSlider::setGainScale(const QwtScaleDiv& div, double pageDb, int minor, int medium, int major)
{
    setScale(div);
    const double span = std::abs(div.upperBound() - div.lowerBound());
    setTotalSteps(uint(std::lround(span / 0.1)));
    setSingleSteps(1);
    setPageSteps(uint(std::lround(pageDb / 0.1)));
    GainStripScales::style(this, abstractScaleDraw(), minor, medium, major);
}
