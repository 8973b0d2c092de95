#pragma once

#include <qwt_scale_div.h>
#include <qwt_thermo.h>

#include <QPointer>

class GainMeterLayer;

// A vertical meter of the gain page: pipe 10 wide, tick length 1, and a shown value that
// only moves when the new value is further than a threshold from it, and repaints only
// when its liquid's edge leaves its pixel. On a page its pipe is painted by the page's
// meter layer, with every other meter's in one paint.
class ZunMeterThermo : public QwtThermo
{
public:
    // Shown values start far below any reading, so that the first value always shows.
    static constexpr double NothingShown = -1000.0;

    ZunMeterThermo(const QwtScaleDiv& div, const QBrush& fill, QWidget* parent);

    // Shows value when it differs from the shown one by more than threshold; true then.
    bool showValue(double value, double threshold);
    double shownValue() const { return m_shown; }
    // The larger of the scale's two border-distance hints (the room a scale needs at its ends).
    int borderDistance() const;
    void setScaleShown(bool on);
    // Repaints what the liquid's edge moved over alone.
    void setValue(double value) override;

    // The pipe's rectangle, kept until the size, the scale or the look change.
    QRect pipe() const;
    // The liquid's rectangle in the pipe, kept until the value or the pipe change.
    QRect filled() const;
    // The colours of the pipe's empty part and of its liquid, while the meter's window is
    // active or not.
    const QBrush& pipeColour(bool activeWindow) const;
    const QBrush& liquidColour(bool activeWindow) const;
    // Paints part of the pipe (empty, then the liquid) with painter, in the meter's
    // coordinates.
    void paintPipe(QPainter* painter, const QRect& part, const QBrush& empty, const QBrush& liquid) const;
    // The layer that paints the pipe from now on (none: the meter paints it).
    void setLayer(GainMeterLayer* layer);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scaleChange() override;

    // Without a scale: the pipe's width by noScaleHeight; with one the toolkit's hint.
    QSize hintWithoutScale(int noScaleHeight) const;

private:
    // The pipe's rectangle is worked out again, and the layer follows it.
    void pipeChanged();
    // A brush of the meter's palette, in the group of its window's activity.
    const QBrush& lookBrush(bool activeWindow, QPalette::ColorRole role) const;

    double m_shown = NothingShown;
    mutable QRect m_pipe;
    mutable QRect m_filled;
    mutable bool m_filledKnown = false;
    mutable QPalette m_look;
    mutable bool m_lookKnown = false;
    QPointer<GainMeterLayer> m_layer;
};
