#pragma once

#include "ZunGainStrip.h"

#include <QPoint>
#include <QSet>

class QVBoxLayout;
class SliderChannelGain;
class ThermoCoilTemperature;
class ThermoGainReduction;
class ThermoOutputLevel;
class ZunChannelMimeData;

// The strip of one amplifier output on the gain page: name, gain fader and box, level
// meter with peak LED, limiter gain reduction, coil temperature with thermal LED, delay,
// Mute and "Phase Inv.". A plain drag carries its gain, delay, mute and polarity to another
// output strip; Shift-drags belong to the page (they carry the whole channel).
//
// Mute is greyed out while something else silences the output: the master mute or a
// muted input path that feeds it. Each reason is kept by name and set or cleared as it is
// reported, so a report repeated or arriving in any order leaves the right state.
class OutputGainLevelWidget : public ZunGainStrip
{
    Q_OBJECT
public:
    explicit OutputGainLevelWidget(QWidget* parent = nullptr);

    bool isMuteDisabled() const { return !m_muteReasons.isEmpty(); }
    bool isPeakLEDOn() const { return m_peak; }
    bool isThermoLEDOn() const { return m_thermo; }
    ThermoOutputLevel* levelMeter() const { return m_level; }
    ThermoGainReduction* gainReductionMeter() const { return m_gainReduction; }
    ThermoCoilTemperature* temperatureMeter() const { return m_temperature; }
    QPushButton* phaseInvertButton() const { return m_invert; }

    // What a plain drag of this strip carries: shown gain and delay, Mute's and "Phase
    // Inv."'s states, the channel-settings flag, no EQs or filters.
    ZunChannelMimeData* createMimeData() const;
    // A dropped payload with the channel-settings flag: gain and delay as edits (they go
    // out when they differ), then mute and polarity are sent. Others change nothing.
    void applyMimeData(const ZunChannelMimeData* data);

signals:
    void muteChannel(const QString& name, bool on);
    void invertChannel(const QString& name, bool on);
    void gainChanged(const QString& name, double gain);
    void delayChanged(const QString& name, CZunDelay delay);
    // A plain drag of this strip starts (true) and has ended (false).
    void dragRunning(bool running);

public slots:
    void setLevel(double dB);
    void setGainReduction(double dB);
    void setCoilTemperature(double value);
    void setPhaseInvert(bool on);
    // The master mute of the output's DSP as a reason for a greyed-out Mute.
    void disableMute(bool on);
    // A muted input path (0-7) that feeds this output as a reason.
    void disableMuteForPath(int path, bool on);
    void switchPeakLED(bool on);
    void switchThermoLED(bool on);
    void onButtonPhInvert(bool checked);
    void drawLevelScale(bool on);
    void drawGainReductionScale(bool on);

protected:
    void gainEdited(double v) override { emit gainChanged(name(), v); }
    void delayEdited(CZunDelay d) override { emit delayChanged(name(), d); }
    void muteEdited(bool on) override { emit muteChannel(name(), on); }

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    static constexpr int MasterReason = -1;
    void setMuteReason(int reason, bool on);

    ThermoOutputLevel* m_level;
    ThermoGainReduction* m_gainReduction;
    ThermoCoilTemperature* m_temperature;
    QLabel* m_peakLED;
    QLabel* m_thermoLED;
    QPushButton* m_invert;
    QVBoxLayout* m_levelBox;
    QVBoxLayout* m_gainReductionBox;
    QPoint m_pressPoint;
    bool m_peak = false;
    bool m_thermo = false;
    QSet<int> m_muteReasons;
};
