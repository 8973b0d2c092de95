#pragma once

#include "ZunGainStrip.h"

class SliderInputGain;
class ThermoInputLevel;
class QVBoxLayout;

// The strip of one input on the gain page: name, gain fader and box, level meter, delay
// and Mute. It knows nothing of the device: edits leave as signals carrying the shown name.
class InputGainLevelWidget : public ZunGainStrip
{
    Q_OBJECT
public:
    explicit InputGainLevelWidget(QWidget* parent = nullptr);

    ThermoInputLevel* levelMeter() const { return m_level; }

signals:
    void muteChannel(const QString& name, bool on);
    void gainChanged(const QString& name, double gain);
    void delayChanged(const QString& name, CZunDelay delay);

public slots:
    void setLevel(double dB);
    void disableMute(bool on);
    void drawLevelScale(bool on);

protected:
    void gainEdited(double v) override { emit gainChanged(name(), v); }
    void delayEdited(CZunDelay d) override { emit delayChanged(name(), d); }
    void muteEdited(bool on) override { emit muteChannel(name(), on); }

private:
    ThermoInputLevel* m_level;
    QVBoxLayout* m_levelBox;
};
