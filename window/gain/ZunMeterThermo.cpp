#include "ZunMeterThermo.h"

#include "GainMeterLayer.h"
#include "GainStripScales.h"

#include <qwt_scale_draw.h>

#include <QPainter>
#include <QPaintEvent>

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
    // Opaque (it paints its own background, the strip's colour, also while the strip is
    // highlighted): a new value repaints the meter alone, never the page and the window
    // frame behind it, and the toolkit does not fill a background the pipe covers.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
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
    // Only the liquid's edge moves: the band between the old and the new edge alone is
    // repainted, and nothing when the edge stays on its pixel. The toolkit's own setter
    // asks for the whole widget, so it runs with updates held off.
    const QRect tRect = pipe();
    const QRect before = filled();
    const bool held = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    QwtThermo::setValue(value);
    setAttribute(Qt::WA_UpdatesDisabled, held);
    m_filled = fillRect(tRect);
    const QRect after = m_filled;
    if (after == before)
        return;
    // The liquid is a bar of the pipe's width (or height) from its origin; what differs
    // between two of them lies between their starts and between their ends.
    const bool vertical = orientation() == Qt::Vertical;
    const int b0 = vertical ? before.top() : before.left(), b1 = vertical ? before.bottom() : before.right();
    const int a0 = vertical ? after.top() : after.left(), a1 = vertical ? after.bottom() : after.right();
    auto band = [&](int from, int to) {
        if (from == to)
            return;
        const QRect r = vertical ? QRect(QPoint(tRect.left(), qMin(from, to)), QPoint(tRect.right(), qMax(from, to) - 1))
                                 : QRect(QPoint(qMin(from, to), tRect.top()), QPoint(qMax(from, to) - 1, tRect.bottom()));
        if (m_layer)
            m_layer->repaintBand(this, r & tRect);
        else
            update(r & tRect);
    };
    band(b0, a0);
    band(b1 + 1, a1 + 1);
}

QRect ZunMeterThermo::pipe() const
{
    // The toolkit works the pipe out from the scale's label metrics each time it is asked.
    if (m_pipe.isNull())
        m_pipe = pipeRect();
    return m_pipe;
}

QRect ZunMeterThermo::filled() const
{
    // The toolkit copies its scale map (and the map's transformation) each time.
    if (!m_filledKnown) {
        m_filled = fillRect(pipe());
        m_filledKnown = true;
    }
    return m_filled;
}

void ZunMeterThermo::setScaleShown(bool on)
{
    setScalePosition(on ? QwtThermo::TrailingScale : QwtThermo::NoScale);
    pipeChanged();
}

void ZunMeterThermo::setLayer(GainMeterLayer* layer) { m_layer = layer; }

void ZunMeterThermo::pipeChanged()
{
    m_pipe = QRect();
    m_filledKnown = false;
    if (m_layer)
        m_layer->pipeMayHaveMoved();
}

const QBrush& ZunMeterThermo::lookBrush(bool activeWindow, QPalette::ColorRole role) const
{
    // The widget's palette works out whether its window is active each time it is asked.
    if (!m_lookKnown) {
        m_look = palette();
        m_lookKnown = true;
    }
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
                                       : activeWindow ? QPalette::Active
                                                      : QPalette::Inactive;
    return m_look.brush(group, role);
}

const QBrush& ZunMeterThermo::pipeColour(bool activeWindow) const { return lookBrush(activeWindow, QPalette::Base); }

// The toolkit's fill brush is its palette's button text.
const QBrush& ZunMeterThermo::liquidColour(bool activeWindow) const
{
    return lookBrush(activeWindow, QPalette::ButtonText);
}

void ZunMeterThermo::paintPipe(QPainter* painter, const QRect& part, const QBrush& empty, const QBrush& liquid) const
{
    // Its empty colour and the liquid as plain fills (the meters have neither alarm nor
    // colour map), without the toolkit's clip and state juggling. The part is its own
    // clip: under the many bands of a page's frame the toolkit would cut every fill's
    // lines against all of them.
    painter->setClipRect(part, Qt::ReplaceClip);
    painter->fillRect(part, empty);
    const QRect full = filled() & part;
    if (!full.isEmpty())
        painter->fillRect(full, liquid);
}

void ZunMeterThermo::paintEvent(QPaintEvent* event)
{
    // What reaches the meter's own paint (a new look, the window disabled) reaches the
    // pipe the layer paints over it too.
    if (m_layer)
        m_layer->meterPainted(this);
    const QRect tRect = pipe();
    if (!tRect.contains(event->rect())) {
        // A whole paint: the meter's own background first (it is opaque), then as the
        // toolkit paints it.
        {
            QPainter background(this);
            background.fillRect(event->rect(), palette().brush(backgroundRole()));
        }
        QwtThermo::paintEvent(event);
        return;
    }
    // A band of the pipe; the border and the scale lie outside it.
    QPainter painter(this);
    paintPipe(&painter, event->rect(), palette().brush(QPalette::Base), fillBrush());
}

void ZunMeterThermo::resizeEvent(QResizeEvent* event)
{
    pipeChanged();
    QwtThermo::resizeEvent(event);
}

void ZunMeterThermo::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        m_lookKnown = false;
    pipeChanged();
    QwtThermo::changeEvent(event);
}

void ZunMeterThermo::scaleChange()
{
    pipeChanged();
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
