#include "ZunGainSlider.h"

#include "GainStripScales.h"
#include "ZunPartPaint.h"

#include <qwt_painter.h>

#include <QFontMetrics>
#include <QPainter>
#include <QSignalBlocker>

#include <cmath>

ZunGainSlider::ZunGainSlider(const QSize& handle, QWidget* parent) : QwtSlider(Qt::Vertical, parent)
{
    setScalePosition(QwtSlider::NoScale);
    setTrough(false);
    setGroove(true);
    setHandleSize(handle);
    setBorderWidth(3);
    setMinimumSize(16, 120);
    setAutoFillBackground(true);
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

void ZunGainSlider::setGainScale(const ScaleRule& rule, double pageDb, int minor, int medium, int major)
{
    m_rule = rule;
    m_pageDb = pageDb;
    m_ticks[0] = minor;
    m_ticks[1] = medium;
    m_ticks[2] = major;
    m_room = -1;
    applyRule();
}

int ZunGainSlider::labelRoom() const
{
    // The scale runs between the handle's half lengths at both ends; a label needs its
    // font's height and a little air.
    const int length = height() - handleSize().height() - 2 * borderWidth();
    const int pitch = QFontMetrics(font()).height() + 3;
    return qMax(2, length / pitch + 1);
}

void ZunGainSlider::applyRule()
{
    if (!m_rule)
        return;
    const int room = labelRoom();
    if (room == m_room)
        return;
    m_room = room;
    // The division changes, never the value: a value from the device stays as it is.
    const double v = value();
    const QSignalBlocker block(this);
    setGainScale(m_rule(room), m_pageDb, m_ticks[0], m_ticks[1], m_ticks[2]);
    setValue(v);
}

void ZunGainSlider::resizeEvent(QResizeEvent* event)
{
    QwtSlider::resizeEvent(event);
    applyRule();
}

void ZunGainSlider::sliderChange()
{
    // The toolkit asks for the whole fader, scale and labels with it, at every value.
    update(groove());
}

void ZunGainSlider::paintEvent(QPaintEvent* event)
{
    // A new value: the groove and the handle, drawn as the toolkit draws them.
    const QRect g = groove();
    QPainter painter;
    if (!ZunPartPaint::begin(this, event, g, &painter)) {
        QwtSlider::paintEvent(event);
        return;
    }
    drawSlider(&painter, g);
    if (hasFocus())
        QwtPainter::drawFocusRect(&painter, this, g);
}
