#pragma once

#include "CZunDelay.h"

#include <QColor>
#include <QWidget>

#include <limits>

class CZunDelaySpinBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ZunGainSlider;
class ZunMeterThermo;

// What the input, master and output strips of the gain page share: name label, gain fader
// with its spin box, delay box and Mute button, the stored gain and delay, and the hover
// highlight. Values from the device (fromDevice, setMute) change the controls with their
// signals blocked and leave the strip silent; only the operator's edits reach the
// subclass's change signals, once per edit.
class ZunGainStrip : public QWidget
{
    Q_OBJECT
public:
    // Two delays closer than this are the same (a single-precision constant).
    static constexpr double DelayTolerance = 5.2056220738450065e-6;
    // Two gains closer than this (dB) are the same: the processor's steps times the step
    // size may differ from the operator's value in the last bit.
    static constexpr double GainTolerance = 1e-6;

    double gain() const { return m_gain; }
    CZunDelay delay() const { return m_delay; }
    double samplingrate() const { return m_rate; }
    QString name() const;

    ZunGainSlider* gainSlider() const { return m_slider; }
    QDoubleSpinBox* gainSpinBox() const { return m_gainBox; }
    CZunDelaySpinBox* delaySpinBox() const { return m_delayBox; }
    QPushButton* muteButton() const { return m_mute; }

public slots:
    void setGain(double v, bool fromDevice = false);
    void setDelay(CZunDelay d, bool fromDevice = false);
    void setMute(bool on);
    void setName(QString name);
    void setSamplingrate(double rate);
    void onButtonMute(bool checked, bool = false);
    void drawGainScale(bool on);
    // The processor's gain range: the box, the fader and its ticks span it, and both show
    // the stored gain again (a value clamped to the earlier range is never shown or sent).
    void setGainRange(double min, double max);

protected:
    ZunGainStrip(ZunGainSlider* slider, QWidget* parent);

    virtual void gainEdited(double v) = 0;
    virtual void delayEdited(CZunDelay d) = 0;
    virtual void muteEdited(bool on) = 0;
    // Minimum fader size without a scale (the master's fader is as wide as its handle).
    virtual QSize sliderSizeWithoutScale() const { return QSize(12, 120); }
    // The fader's range and ticks for a gain range (the channel strips' rule by default).
    virtual void applyGainScale(double min, double max);

    // A colour of the user settings; invalid when the key is missing.
    static QColor settingColor(const char* key);
    // The Mute style with the inactive and active colours, and a disabled colour when given.
    static QString muteStyle(const QColor& inactive, const QColor& active, const QColor& disabled = QColor());

    // A meter's scale on (its box without margins, the meter at least withScale) or off
    // (the box keeps the scale's end room, the meter 12 wide and (halfHeight - room) x 2).
    void showMeterScale(ZunMeterThermo* meter, QVBoxLayout* box, bool on, const QSize& withScale, int halfHeight);

    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

    QGridLayout* m_grid;
    QLabel* m_nameLabel;
    ZunGainSlider* m_slider;
    QDoubleSpinBox* m_gainBox;
    QLabel* m_delayLabel;
    CZunDelaySpinBox* m_delayBox;
    QPushButton* m_mute;

private:
    // The controls set to a value with their signals blocked.
    void showGain(double v);
    void showDelay(CZunDelay d);

    double m_gain = 0.0;
    // The gain range last set (a refresh with the same range leaves the scale alone).
    double m_rangeMin = std::numeric_limits<double>::quiet_NaN();
    double m_rangeMax = std::numeric_limits<double>::quiet_NaN();
    CZunDelay m_delay;
    double m_rate = 48000.0;
};
