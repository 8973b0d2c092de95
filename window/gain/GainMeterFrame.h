#pragma once

#include "CZunNetwork.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>

class AudioIOStatus;
class GainMeterLayer;
class CZunInput;
class CZunOutput;
class InputGainLevelWidget;
class OutputGainLevelWidget;
class QWidget;

// The meters of the gain page's strips: each status refresh of the processor shown at most
// once per frame of FrameMs. Datagrams come every 20 ms, faster than a meter needs to move;
// what a frame's refreshes held (the loudest level, deepest reduction, any limit) shows at
// its end, so that a peak of a refresh in between is never overwritten unseen. A page
// that is not shown (another tab is) lets the refreshes pass, and shows the record as it
// is shown again.
//
// The status comes a batch a frame: the batch that arrives as its frame ends shows at
// once and opens the next frame, so that the thread wakes once a frame for the batch and
// not once more for the frame's timer, which ends a frame only when no batch came in time.
// The meters' pipes are painted by one layer over the page, a frame's moves in one paint.
class GainMeterFrame : public QObject
{
public:
    static constexpr int FrameMs = CZunNetwork::StatusBatchMs;
    // A refresh this close to its frame's end shows at once; the timer waits this much past
    // the end, so that a batch a little late is not beaten by the timer.
    static constexpr int EndMs = 4;

    GainMeterFrame(QSharedPointer<AudioIOStatus> status, QWidget* page);
    ~GainMeterFrame() override;

    // The strips whose meters show the status (the page's, as its last rebuild made them).
    void addInput(InputGainLevelWidget* strip, CZunInput* channel);
    void addOutput(OutputGainLevelWidget* strip, CZunOutput* channel);
    void clear();

    // Refreshes reach the meters (connected) or not; a stopped frame forgets what it held.
    void connectStatus();
    void disconnectStatus();
    // Shows the status record now.
    void showNow();
    // The page is shown again: its meters show the record at once, while connected.
    void pageShown();

    // The frame's timer (single shot, FrameMs + EndMs): what the tests drive.
    QTimer* timer() { return &m_frame; }
    GainMeterLayer* layer() const { return m_layer; }

private:
    static constexpr double NoneHeld = -1e9;
    struct Hold
    {
        double level = NoneHeld;
        double reduction = NoneHeld;
        double temperature = NoneHeld;
        bool peak = false;
        bool thermal = false;
    };
    struct InputMeter
    {
        InputGainLevelWidget* strip;
        QPointer<CZunInput> channel;
        Hold held = {};
    };
    struct OutputMeter
    {
        OutputGainLevelWidget* strip;
        QPointer<CZunOutput> channel;
        Hold held = {};
    };

    // A refresh: shown at once when no frame runs, else held for the frame's end.
    void onRefreshed();
    // Adds the status record to what the frame holds; showHeld shows it and starts over.
    void hold();
    void showHeld();

    QWidget* m_page;
    GainMeterLayer* m_layer;
    QSharedPointer<AudioIOStatus> m_status;
    QList<InputMeter> m_inputs;
    QList<OutputMeter> m_outputs;
    QTimer m_frame;
    bool m_due = false;
    bool m_connected = false;
};
