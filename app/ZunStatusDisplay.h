#pragma once

#include "CZunRoutingRecord.h"

#include <QList>
#include <QSharedPointer>
#include <QWidget>

#include <vector>

class AudioIOStatus;
class QGridLayout;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class ZunDeviceStats;

// The status tile of one processor in the status monitor: a title, one column of
// indicators (CLP, LCK, SIG, MUT) per input that feeds an output and one (TEM, LIM, SIG,
// MUT) per analog output, and a "Master Mute" button that mutes the processor over UDP.
// The indicators follow the processor's audio-status record (its refreshed() signal); a MUT
// lights for what mutes its column, its own DSP's master mute among that.
class ZunStatusDisplay : public QWidget
{
    Q_OBJECT
public:
    ZunStatusDisplay(QSharedPointer<ZunDeviceStats> stats, QSharedPointer<AudioIOStatus> audioStatus,
                     QWidget* parent = nullptr);
    ~ZunStatusDisplay() override;

    quint32 serial() const;
    QPushButton* masterMuteButton() const { return m_buttonMute; }
    QLabel* titleLabel() const { return m_title; }
    const QList<int>& inputs() const { return m_inputs; }
    const QList<int>& outputs() const { return m_outputs; }
    // The indicator of a kind ("CLP", "LCK", "SIG", "MUT" for inputs; "TEM", "LIM", "SIG",
    // "MUT" for outputs) and key (source or output); null when there is none.
    QLabel* indicator(bool output, const QString& kind, int key) const;
    bool indicatorState(bool output, const QString& kind, int key) const;
    QPropertyAnimation* blinkAnimation() const { return m_animation; }
    // The tile no longer follows its record's refreshed(): whoever calls this calls
    // updateMeters() after each of the record's refreshes (the status monitor does).
    void followBatches();

    static constexpr double InputSignalLevel = -60.0;
    static constexpr double OutputSignalLevel = -70.0;

signals:
    void masterMuteTriggered(quint32 serial, bool mute);
    void connectionRequest(quint32 serial);

public slots:
    void onRoutingChanged(QSharedPointer<ZunDeviceStats> changed);
    void onNetworkChanged();
    void updateMeters();
    void onButtonMasterMute(bool checked);
    void animate();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // One column's indicators, top to bottom: CLP LCK SIG MUT (input) or TEM LIM SIG MUT
    // (output).
    struct Column
    {
        int key = 0; // the source or output
        QLabel* labels[4] = {};
    };
    enum Row { Event, LockOrLimit, Signal, Mute };
    static constexpr int Rows = 4;

    void buildDisplay();
    QLabel* newIndicator(Column& column, Row row, const QString& text);
    // Paints the indicators whose bits are set in changed with their states in m_states.
    void paintIndicators(quint64 changed);
    // The bit of an indicator in m_states, -1 when there is none.
    int findIndicator(bool output, const QString& kind, int key) const;
    QLabel* labelOf(int bit) const;
    QString titleText() const;

    // What a refresh reads and writes comes first, together: with a hundred processors a
    // tile is refreshed a few times a second, mostly out of cache.
    QSharedPointer<AudioIOStatus> m_audioStatus;
    QPushButton* m_buttonMute = nullptr;
    QList<int> m_inputs;
    QList<int> m_outputs;
    double m_levelIn = InputSignalLevel;
    double m_levelOut = OutputSignalLevel;
    // The state of every indicator, one bit each: the rows of the input columns, then of
    // the output columns (at most 8 of each: 64 bits). A label is touched only when its
    // bit changes.
    quint64 m_states = 0;
    // The same keys as m_inputs then m_outputs, here beside the state: a list's items
    // lie elsewhere in memory, a trip a refresh each.
    quint8 m_keys[16] = {};
    quint8 m_inputCount = 0;
    quint8 m_outputCount = 0;
    // The columns (bits as m_keys) that DSP 1's master mute, the record's flag, mutes.
    quint16 m_firstDspColumns = 0;
    bool m_muteShown = false; // the master-mute button's state, as it last toggled

    QLabel* m_title = nullptr;
    std::vector<Column> m_inputColumns;
    std::vector<Column> m_outputColumns;
    QGridLayout* m_layout = nullptr;
    QPropertyAnimation* m_animation = nullptr;
    QSharedPointer<ZunDeviceStats> m_stats;
    CZunRoutingRecord m_routing;
};
