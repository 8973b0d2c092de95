#pragma once

#include "ZunGainStrip.h"

// The first strip of the gain page: master gain, delay and mute of the device. Its gain
// range comes from the device; its Mute button is never disabled.
class MasterGainDelayWidget : public ZunGainStrip
{
    Q_OBJECT
public:
    explicit MasterGainDelayWidget(QWidget* parent = nullptr);

signals:
    void muteChannel(bool on);
    void gainChanged(double gain);
    void delayChanged(CZunDelay delay);

protected:
    void gainEdited(double v) override { emit gainChanged(v); }
    void delayEdited(CZunDelay d) override { emit delayChanged(d); }
    void muteEdited(bool on) override { emit muteChannel(on); }
    QSize sliderSizeWithoutScale() const override;
    void applyGainScale(double min, double max) override;
};
