#pragma once

#include <qwt_scale_div.h>
#include <qwt_slider.h>

#include <functional>

// The vertical gain fader of the gain page's strips: 0.1 dB a step, a groove, no scale
// until the strip asks for one. The strips' named faders only choose the scale. A move of
// the handle repaints the groove alone, never the scale beside it, and the fader paints its
// own background, so that nothing behind it is repainted either.
class ZunGainSlider : public QwtSlider
{
public:
    ZunGainSlider(const QSize& handle, QWidget* parent);

    // Range and ticks from the division, 0.1 dB a step, pageDb a page; tick lengths minor,
    // medium and major.
    void setGainScale(const QwtScaleDiv& div, double pageDb, int minor, int medium, int major);
    // The same from a rule that gives the division for at most n labels: the fader takes
    // as many as its height shows without overlap, again whenever it is resized.
    using ScaleRule = std::function<QwtScaleDiv(int maxLabels)>;
    void setGainScale(const ScaleRule& rule, double pageDb, int minor, int medium, int major);
    // The labels a scale of this fader's height shows without overlap.
    int labelRoom() const;
    // True while the operator holds the handle.
    bool isHeld() const { return m_held; }
    // The groove with the handle's travel: all that a new value repaints.
    QRect groove() const { return sliderRect(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void sliderChange() override;

private:
    void applyRule();

    bool m_held = false;
    ScaleRule m_rule;
    double m_pageDb = 1.0;
    int m_ticks[3] = {1, 1, 1};
    int m_room = -1;
};
