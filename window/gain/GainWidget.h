#pragma once

#include "CZunDelay.h"
#include "ZunC.h"

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class AudioIOStatus;
class CZun;
class GainMeterFrame;
class CZunInput;
class CZunOutput;
class InputGainLevelWidget;
class MasterGainDelayWidget;
class OutputGainLevelWidget;
class QAction;
class QFrame;
class QHBoxLayout;
class QVBoxLayout;
class ZunGainStrip;

// The gain page of one device: the master strip, a strip per input and per output with
// live meters, in one of three modes (0 inputs, 1 outputs, 2 inputs and outputs). Edits on
// a strip become calls on the strip's own channel object; values the device confirms come
// back through the device's signals and are shown without being sent again.
//
// Strips are tied to their channel objects, never looked up by the text they show, so
// two channels that carry the same name keep their own strips. The device's signals are
// connected once, at construction; a rebuild asked for while one runs (a message box's
// event loop during the rebuild) is carried out after it. A new image of the same channels
// keeps the strips and refreshes what they show.
//
// The strips are ZunGainStrip; their meters follow the status in GainMeterFrame.
class GainWidget : public QWidget
{
    Q_OBJECT
public:
    GainWidget(int mode, QSharedPointer<CZun> zun, QSharedPointer<AudioIOStatus> status, QWidget* parent = nullptr);
    ~GainWidget() override;

    void setMode(int mode);
    int mode() const { return m_mode; }

    // The strips as built by the last rebuild, in page order.
    MasterGainDelayWidget* masterStrip() const;
    QList<InputGainLevelWidget*> inputStrips() const;
    QList<OutputGainLevelWidget*> outputStrips() const;
    OutputGainLevelWidget* outputStrip(ZunC::AnalogOutputs output) const;
    // The output channel whose strip lies under a point of the page, or null.
    CZunOutput* outputAt(const QPoint& point) const;
    void setContextPoint(const QPoint& point) { m_contextPoint = point; }
    // Reads a CSV filter list at the processor's rate onto the output under the context
    // point, replacing its EQs and filters; a list with a refused row changes nothing and
    // the rows are named through signal_exception.
    void importFile(const QString& fileName);

    // The meters' frame (single shot, GainMeterFrame::FrameMs): what the tests drive.
    QTimer* meterFrame();

    QAction* copyAction() const { return m_copy; }
    QAction* pasteAction() const { return m_paste; }
    QAction* importAction() const { return m_import; }

signals:
    void changedVisibility(bool visible);
    void signal_exception(QString text, QString caption);

public slots:
    void on_connect();
    void on_disconnect();
    void UpdateGui();
    void enableRefresh() { on_connect(); }
    void disableRefresh() { on_disconnect(); }

    // Edits addressed by a channel's current name (the strips themselves call their own
    // channel directly).
    void on_button_Mute(QString name, bool on);
    void on_button_PhaseInvert(QString name, bool on);
    void on_change_MasterGain(double gain);
    void on_change_MasterDelay(CZunDelay delay);
    void on_button_MasterMute(bool on);
    void on_change_ChannelGain(QString name, double gain);
    void on_change_ChannelDelay(QString name, CZunDelay delay);
    void on_change_InputGain(QString name, double gain);
    void on_change_InputDelay(QString name, CZunDelay delay);
    void on_button_MuteInput(QString name, bool on);

    void updateMeters();

    void on_ChannelGain(ZunC::AnalogOutputs output, double gain);
    void on_ChannelDelay(ZunC::AnalogOutputs output, CZunDelay delay);
    void on_ChannelMute(ZunC::AnalogOutputs output, bool on);
    void on_ChannelInvert(ZunC::AnalogOutputs output, bool on);
    void on_InputPathGain(ZunC::InputPaths path, double gain);
    void on_InputPathDelay(ZunC::InputPaths path, CZunDelay delay);
    void on_InputPathMute(ZunC::InputPaths path, bool on);
    void on_MasterGain(int dsp, double gain);
    void on_MasterDelay(int dsp, CZunDelay delay);
    void on_MasterMute(bool on);
    // The rate the status stream measured: a clock changed at the processor reloads nothing.
    void on_ProcessingStats(int rate, int, int);

    void copy();
    void paste();
    void fromFile();
    void validateActions();
    // A drag from the page or one of its strips runs (rebuilds wait for its end).
    void onDragRunning(bool running);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct InputEntry
    {
        InputGainLevelWidget* strip;
        QPointer<CZunInput> channel;
    };
    struct OutputEntry
    {
        OutputGainLevelWidget* strip;
        QPointer<CZunOutput> channel;
    };

    void rebuild();
    void clearStrips();
    // The master mute the strips show; reports DSPs that disagree (see the source).
    bool readMasterMute();
    void buildMaster();
    void buildInput(CZunInput* input);
    void buildOutput(CZunOutput* output, bool last);
    // The strips stand for the channels the page would build now (same mode, same channel
    // objects in the same order): a new image then only refreshes what they show.
    bool stripsMatchChannels() const;
    void refreshStrips();
    void showMaster();
    void showInput(InputGainLevelWidget* strip, CZunInput* input);
    void showOutput(OutputGainLevelWidget* strip, CZunOutput* output);
    void addSeparator();
    // After the operator lets go of a strip's fader it shows the processor's value; settled
    // gives that value, or NaN while a write of it is still unanswered.
    void followRelease(ZunGainStrip* strip, const std::function<double()>& settled);
    // The muted input paths as reasons for the output strips' greyed-out Mute.
    void applyInputMutes();
    void report(const std::exception& e, bool firmwareText);
    InputGainLevelWidget* inputStripOf(ZunC::InputPaths path) const;
    CZunOutput* outputByName(const QString& name) const;
    CZunInput* inputByName(const QString& name) const;

    int m_mode;
    QSharedPointer<CZun> m_zun;
    QSharedPointer<AudioIOStatus> m_status;
    QVBoxLayout* m_mainLayout;
    QHBoxLayout* m_rowLayout;
    QPointer<MasterGainDelayWidget> m_master;
    QList<InputEntry> m_inputs;
    QList<OutputEntry> m_outputs;
    QList<QFrame*> m_separators;
    int m_builtMode = -1; // the mode of the strips built last
    GainMeterFrame* m_meters;
    bool m_rebuilding = false;
    bool m_rebuildPending = false;
    int m_dragsRunning = 0;
    bool m_importEnabled = false;
    bool m_masterMuted = false;
    bool m_masterDisagreementShown = false;
    QAction* m_copy;
    QAction* m_paste;
    QAction* m_import = nullptr;
    QPoint m_contextPoint;
    QPoint m_dragStart;
};
