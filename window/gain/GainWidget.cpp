#include "GainWidget.h"

#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunParam.h"
#include "GainMeterFrame.h"
#include "InputGainLevelWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "ZunChannelMimeData.h"
#include "ZunEQListFile.h"
#include "ZunFilterImport.h"
#include "ZunGainSlider.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QSettings>
#include <QVBoxLayout>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>

namespace
{
const char* const WhatsThis =
    "<h1>Input/Output Tab</h1> \t\tOverview of all available inputs and outputs with most important parameters. "
    "\t\tFor each channel, the in- or output level is shown in dBFS.<br> \t\tFullscale for analog inputs is 28.5 dBu, "
    "for outputs, it's 18 dBu. <br> \t\tThe <b>gains</b> can be adjusted in 0.1 dB steps by dragging the sliders or "
    "using the spinboxes below. <br> \t\tThe <b>delay</b> can be adjusted by using the spinboxes. <br> \t\tClicking "
    "the <b>mute</b> button mutes or unmutes the corresponding in-/output.<br> \t\t<b>Master mute</b> corresponds to "
    "all channels. <br>\t\t<h2> Using spinboxes </h2> \t\tThe user can either enter the desired value by typing, by "
    "using the cursor up/down, the Page up/down keys or by clicking the spinbox arrows. \t\tIn some cases, when keys "
    "or arrows are used, pressing the shift key provides small increase/decrease steps. \t\t";

QSettings userSettings() { return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")); }
} // namespace

GainWidget::GainWidget(int mode, QSharedPointer<CZun> zun, QSharedPointer<AudioIOStatus> status, QWidget* parent)
    : QWidget(parent), m_mode(mode), m_zun(std::move(zun)), m_status(std::move(status)),
      m_mainLayout(new QVBoxLayout), m_rowLayout(new QHBoxLayout), m_meters(new GainMeterFrame(m_status, this)),
      m_copy(new QAction(tr("&Copy"), this)), m_paste(new QAction(tr("&Paste"), this))
{
    m_rowLayout->setSpacing(1);
    m_rowLayout->setContentsMargins(0, 3, 0, 3);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setLineWidth(3);
    m_mainLayout->addWidget(line);
    m_mainLayout->addLayout(m_rowLayout);
    setLayout(m_mainLayout);
    setAutoFillBackground(false);
    setAcceptDrops(true);

    m_importEnabled = userSettings().value(QStringLiteral("importEqs"), false).toBool();
    m_copy->setShortcut(QKeySequence(tr("Ctrl+C")));
    m_copy->setStatusTip(tr("Copy the current channel's data to the clipboard"));
    connect(m_copy, &QAction::triggered, this, &GainWidget::copy);
    m_paste->setShortcut(QKeySequence(tr("Ctrl+V")));
    m_paste->setStatusTip(tr("Paste the clipboard's contents into the current channel"));
    connect(m_paste, &QAction::triggered, this, &GainWidget::paste);
    addAction(m_copy);
    addAction(m_paste);
    if (m_importEnabled) {
        m_import = new QAction(tr("&Import ..."), this);
        m_import->setShortcut(QKeySequence(tr("Ctrl+I")));
        m_import->setStatusTip(tr("Import from file"));
        connect(m_import, &QAction::triggered, this, &GainWidget::fromFile);
        addAction(m_import);
    }
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setWhatsThis(tr(WhatsThis));

    // Once, for the page's life: a rebuild replaces strips, never these connections. The
    // device emits from its link's thread; the automatic connection queues them here.
    if (CZun* z = m_zun.data()) {
        connect(z, &CZun::signal_ChannelGain, this, &GainWidget::on_ChannelGain);
        connect(z, &CZun::signal_ChannelDelay, this, &GainWidget::on_ChannelDelay);
        connect(z, &CZun::signal_ChannelMute, this, &GainWidget::on_ChannelMute);
        connect(z, &CZun::signal_ChannelInvert, this, &GainWidget::on_ChannelInvert);
        connect(z, &CZun::signal_InputPathGain, this, &GainWidget::on_InputPathGain);
        connect(z, &CZun::signal_InputPathDelay, this, &GainWidget::on_InputPathDelay);
        connect(z, &CZun::signal_InputPathMute, this, &GainWidget::on_InputPathMute);
        connect(z, &CZun::signal_MasterGain, this, &GainWidget::on_MasterGain);
        connect(z, &CZun::signal_MasterDelay, this, &GainWidget::on_MasterDelay);
        connect(z, &CZun::signal_MasterMute, this, &GainWidget::on_MasterMute);
        connect(z, &CZun::signal_ProcessingStats, this, &GainWidget::on_ProcessingStats);
    }
}

GainWidget::~GainWidget()
{
    if (m_zun)
        disconnect(m_zun.data(), nullptr, this, nullptr);
}

MasterGainDelayWidget* GainWidget::masterStrip() const { return m_master; }

QTimer* GainWidget::meterFrame() { return m_meters->timer(); }

void GainWidget::setMode(int mode) { m_mode = mode; }

QList<InputGainLevelWidget*> GainWidget::inputStrips() const
{
    QList<InputGainLevelWidget*> out;
    for (const InputEntry& e : m_inputs)
        out.append(e.strip);
    return out;
}

QList<OutputGainLevelWidget*> GainWidget::outputStrips() const
{
    QList<OutputGainLevelWidget*> out;
    for (const OutputEntry& e : m_outputs)
        out.append(e.strip);
    return out;
}

OutputGainLevelWidget* GainWidget::outputStrip(ZunC::AnalogOutputs output) const
{
    for (const OutputEntry& e : m_outputs)
        if (e.channel && e.channel->GetOutput() == output)
            return e.strip;
    return nullptr;
}

InputGainLevelWidget* GainWidget::inputStripOf(ZunC::InputPaths path) const
{
    for (const InputEntry& e : m_inputs)
        if (e.channel && e.channel->GetSource() == int(path))
            return e.strip;
    return nullptr;
}

CZunOutput* GainWidget::outputAt(const QPoint& point) const
{
    for (const OutputEntry& e : m_outputs)
        if (e.channel && e.strip->geometry().contains(point))
            return e.channel;
    return nullptr;
}

// --- rebuild -------------------------------------------------------------------------------

void GainWidget::UpdateGui()
{
    // A message box opened from inside a rebuild runs an event loop that may deliver the
    // next request: it waits until this rebuild has finished, then runs once.
    // Nor while a drag from this page runs: its source strip would go in the middle of it.
    if (m_rebuilding || m_dragsRunning > 0) {
        m_rebuildPending = true;
        return;
    }
    {
        const QScopedValueRollback<bool> guard(m_rebuilding, true);
        rebuild();
    }
    if (m_rebuildPending) {
        m_rebuildPending = false;
        QMetaObject::invokeMethod(this, &GainWidget::UpdateGui, Qt::QueuedConnection);
    }
}

void GainWidget::clearStrips()
{
    while (QLayoutItem* item = m_rowLayout->takeAt(0))
        delete item;
    delete m_master;
    for (const InputEntry& e : m_inputs)
        delete e.strip;
    for (const OutputEntry& e : m_outputs)
        delete e.strip;
    qDeleteAll(m_separators);
    m_separators.clear();
    m_inputs.clear();
    m_outputs.clear();
    m_meters->clear();
}

bool GainWidget::stripsMatchChannels() const
{
    if (!m_master || m_builtMode != m_mode || !m_zun)
        return false;
    CRoutingManager* routing = m_zun->GetRoutingManager();
    QList<CZunInput*> inputs;
    if (m_mode == 0 || m_mode == 2)
        for (const QPointer<CZunInput>& input : routing->GetInputs())
            if (input)
                inputs.append(input);
    QList<CZunOutput*> outputs;
    if (m_mode == 1 || m_mode == 2)
        for (const QPointer<CZunOutput>& output : routing->GetOutputs())
            if (output)
                outputs.append(output);
    if (inputs.size() != m_inputs.size() || outputs.size() != m_outputs.size())
        return false;
    for (int i = 0; i < inputs.size(); ++i)
        if (m_inputs.at(i).channel != inputs.at(i))
            return false;
    for (int i = 0; i < outputs.size(); ++i)
        if (m_outputs.at(i).channel != outputs.at(i))
            return false;
    return true;
}

void GainWidget::refreshStrips()
{
    m_masterMuted = readMasterMute();
    showMaster();
    for (const InputEntry& e : qAsConst(m_inputs)) {
        e.strip->setName(e.channel->GetName());
        showInput(e.strip, e.channel);
    }
    for (const OutputEntry& e : qAsConst(m_outputs)) {
        e.strip->setName(e.channel->GetName());
        // The paths feeding an output may have changed with the image.
        for (int path = 0; path < 8; ++path)
            e.strip->disableMuteForPath(path, false);
        showOutput(e.strip, e.channel);
    }
    applyInputMutes();
}

void GainWidget::rebuild()
{
    if (stripsMatchChannels()) {
        refreshStrips();
        return;
    }
    clearStrips();
    if (!m_zun)
        return;
    m_builtMode = m_mode;
    m_masterMuted = readMasterMute();
    buildMaster();
    addSeparator();
    CRoutingManager* routing = m_zun->GetRoutingManager();
    if (m_mode == 0 || m_mode == 2)
        for (const QPointer<CZunInput>& input : routing->GetInputs())
            if (input) {
                buildInput(input);
                addSeparator();
            }
    if (m_mode == 1 || m_mode == 2) {
        const QList<QPointer<CZunOutput>> outputs = routing->GetOutputs();
        for (int i = 0; i < outputs.size(); ++i)
            if (outputs[i])
                buildOutput(outputs[i], i == outputs.size() - 1);
    }
    m_rowLayout->addStretch(1);
    applyInputMutes();
}

void GainWidget::report(const std::exception& e, bool firmwareText)
{
    if (firmwareText && dynamic_cast<const CCmdMap::invalid_cmd*>(&e))
        emit signal_exception(tr("The firmware seems to be outdated. Please update to the newest one."),
                              QStringLiteral("ZunControl"));
    else
        emit signal_exception(QString::fromStdString(e.what()), QStringLiteral("ZunControl"));
}

bool GainWidget::readMasterMute()
{
    try {
        const bool muted = m_zun->IsAllMuted(0);
        m_masterDisagreementShown = false;
        return muted;
    } catch (const std::exception& e) {
        // The DSPs disagree: the strips show the master mute that silences something. One
        // box says so for the whole window (the outputs-only page beside an inputs page
        // stays silent), and only once until the DSPs agree again.
        if (!m_masterDisagreementShown && m_mode != 1)
            report(e, true);
        m_masterDisagreementShown = true;
        return m_zun->IsAllMuted(1) || m_zun->IsAllMuted(2);
    }
}

void GainWidget::buildMaster()
{
    m_master = new MasterGainDelayWidget;
    m_rowLayout->addWidget(m_master);
    connect(m_master, &MasterGainDelayWidget::muteChannel, this, &GainWidget::on_button_MasterMute);
    connect(m_master, &MasterGainDelayWidget::gainChanged, this, &GainWidget::on_change_MasterGain);
    connect(m_master, &MasterGainDelayWidget::delayChanged, this, &GainWidget::on_change_MasterDelay);
    followRelease(m_master, [this]() { return m_zun->IsMasterGainPending() ? qQNaN() : m_zun->GetMasterGain(0); });
    showMaster();
}

void GainWidget::showMaster()
{
    try {
        m_master->setSamplingrate(24000.0);
        const CZunParam* range = m_zun->GetMasterGainParam();
        if (range)
            m_master->setGainRange(range->GetMin(), range->GetMax());
        m_master->drawGainScale(true);
        m_master->setGain(m_zun->GetMasterGain(0), true);
        m_master->setDelay(m_zun->GetMasterDelay(1), true);
        m_master->setMute(m_masterMuted);
    } catch (const std::exception& e) {
        report(e, true);
    }
}

void GainWidget::buildInput(CZunInput* input)
{
    auto* strip = new InputGainLevelWidget(this);
    strip->setName(input->GetName());
    m_inputs.append({strip, input});
    m_meters->addInput(strip, input);
    m_rowLayout->addWidget(strip);
    // Bound to this channel object: a name shared with another channel cannot mislead it.
    const QPointer<CZunInput> channel = input;
    connect(strip, &InputGainLevelWidget::muteChannel, this, [channel](const QString&, bool on) {
        if (channel)
            channel->SetMute(on);
    });
    connect(strip, &InputGainLevelWidget::gainChanged, this, [channel](const QString&, double gain) {
        if (channel)
            channel->SetGain(float(gain));
    });
    connect(strip, &InputGainLevelWidget::delayChanged, this, [channel](const QString&, CZunDelay delay) {
        if (channel)
            channel->SetDelay(delay);
    });
    connect(input, &CZunInput::nameChanged, strip, &InputGainLevelWidget::setName);
    followRelease(strip, [this, channel]() {
        return channel && !m_zun->IsInputPathGainPending(ZunC::InputPaths(channel->GetSource())) ? channel->GetGain()
                                                                                                  : qQNaN();
    });
    showInput(strip, input);
    strip->drawGainScale(true);
    strip->drawLevelScale(true);
}

void GainWidget::showInput(InputGainLevelWidget* strip, CZunInput* input)
{
    try {
        // The inputs take the channels' gain range (the processor's, not the strip's own).
        if (const CZunParam* range = m_zun->GetChannelGainParam())
            strip->setGainRange(range->GetMin(), range->GetMax());
        strip->setSamplingrate(m_zun->GetSampleRate());
        strip->setGain(input->GetGain(), true);
        strip->setDelay(input->GetDelay(), true);
        strip->setMute(input->IsMuted());
        strip->disableMute(input->IsMasterMuted());
    } catch (const std::exception& e) {
        report(e, false);
    }
}

void GainWidget::buildOutput(CZunOutput* output, bool last)
{
    auto* strip = new OutputGainLevelWidget(this);
    setMinimumHeight(strip->minimumSizeHint().height());
    strip->setName(output->GetName());
    m_outputs.append({strip, output});
    m_meters->addOutput(strip, output);
    m_rowLayout->addWidget(strip);
    const QPointer<CZunOutput> channel = output;
    connect(strip, &OutputGainLevelWidget::muteChannel, this, [channel](const QString&, bool on) {
        if (channel)
            channel->SetMute(on);
    });
    connect(strip, &OutputGainLevelWidget::invertChannel, this, [channel](const QString&, bool on) {
        if (channel)
            channel->SetPhaseInverted(on);
    });
    connect(strip, &OutputGainLevelWidget::gainChanged, this, [channel](const QString&, double gain) {
        if (channel)
            channel->SetGain(float(gain));
    });
    connect(strip, &OutputGainLevelWidget::delayChanged, this, [channel](const QString&, CZunDelay delay) {
        if (channel)
            channel->SetDelay(delay);
    });
    connect(output, &CZunOutput::nameChanged, strip, &OutputGainLevelWidget::setName);
    connect(strip, &OutputGainLevelWidget::dragRunning, this, &GainWidget::onDragRunning);
    followRelease(strip, [this, channel]() {
        return channel && !m_zun->IsChannelGainPending(channel->GetOutput()) ? channel->GetGain() : qQNaN();
    });
    showOutput(strip, output);
    strip->drawGainScale(true);
    strip->drawLevelScale(true);
    strip->drawGainReductionScale(true);
    if (!last)
        addSeparator();
}

void GainWidget::showOutput(OutputGainLevelWidget* strip, CZunOutput* output)
{
    // Guarded like the inputs: one unreadable output must not leave the page half built.
    try {
        if (const CZunParam* range = m_zun->GetChannelGainParam())
            strip->setGainRange(range->GetMin(), range->GetMax());
        strip->setSamplingrate(m_zun->GetSampleRate());
        strip->setGain(output->GetGain(), true);
        strip->setDelay(output->GetDelay(), true);
        strip->setMute(output->IsMuted());
        strip->setPhaseInvert(output->IsPhaseInverted());
        strip->disableMute(output->IsMasterMuted());
    } catch (const std::exception& e) {
        report(e, false);
    }
}

void GainWidget::followRelease(ZunGainStrip* strip, const std::function<double()>& settled)
{
    // Confirmations that came while the fader was held were not shown (they would have
    // pulled it from under the pointer): a clamped or refused last value shows now. With a
    // write still unanswered, its confirmation follows and shows.
    connect(strip->gainSlider(), &QwtAbstractSlider::sliderReleased, strip, [strip, settled]() {
        const double value = settled();
        if (!qIsNaN(value))
            strip->setGain(value, true);
    });
}

void GainWidget::addSeparator()
{
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::VLine);
    frame->setFrameShadow(QFrame::Sunken);
    m_separators.append(frame);
    m_rowLayout->addWidget(frame);
}

void GainWidget::applyInputMutes()
{
    // Every input, shown or not: in the outputs-only mode muted paths still grey out the
    // outputs they feed.
    for (const QPointer<CZunInput>& input : m_zun->GetRoutingManager()->GetInputs()) {
        if (!input)
            continue;
        const int path = input->GetSource();
        bool muted = false;
        try {
            muted = path >= 0 && path < 8 && input->IsMuted();
        } catch (const std::exception&) {
            continue; // reported with the input's strip
        }
        for (ZunC::AnalogOutputs o : input->GetOutputs())
            if (OutputGainLevelWidget* strip = outputStrip(o))
                strip->disableMuteForPath(path, muted);
    }
}

// --- meters ----------------------------------------------------------------------------------

void GainWidget::on_connect() { m_meters->connectStatus(); }

void GainWidget::on_disconnect() { m_meters->disconnectStatus(); }

void GainWidget::updateMeters() { m_meters->showNow(); }

// --- edits -------------------------------------------------------------------------------------

CZunOutput* GainWidget::outputByName(const QString& name) const
{
    return m_zun ? m_zun->GetRoutingManager()->GetOutputByName(name) : nullptr;
}

CZunInput* GainWidget::inputByName(const QString& name) const
{
    return m_zun ? m_zun->GetRoutingManager()->GetInputByName(name) : nullptr;
}

void GainWidget::on_button_Mute(QString name, bool on)
{
    if (CZunOutput* o = outputByName(name))
        o->SetMute(on);
}

void GainWidget::on_button_PhaseInvert(QString name, bool on)
{
    if (CZunOutput* o = outputByName(name))
        o->SetPhaseInverted(on);
}

void GainWidget::on_change_MasterGain(double gain) { m_zun->SetMasterGain(0, gain); }

void GainWidget::on_change_MasterDelay(CZunDelay delay) { m_zun->SetMasterDelay(0, delay); }

void GainWidget::on_button_MasterMute(bool on) { m_zun->SetMasterMute(0, on); }

void GainWidget::on_change_ChannelGain(QString name, double gain)
{
    if (CZunOutput* o = outputByName(name))
        o->SetGain(float(gain));
}

void GainWidget::on_change_ChannelDelay(QString name, CZunDelay delay)
{
    if (CZunOutput* o = outputByName(name))
        o->SetDelay(delay);
}

void GainWidget::on_change_InputGain(QString name, double gain)
{
    if (CZunInput* i = inputByName(name))
        i->SetGain(float(gain));
}

void GainWidget::on_change_InputDelay(QString name, CZunDelay delay)
{
    if (CZunInput* i = inputByName(name))
        i->SetDelay(delay);
}

void GainWidget::on_button_MuteInput(QString name, bool on)
{
    if (CZunInput* i = inputByName(name))
        i->SetMute(on);
}

// --- device values -------------------------------------------------------------------------------

void GainWidget::on_ChannelGain(ZunC::AnalogOutputs output, double gain)
{
    // On a slow link the confirmation of an earlier step arrives after the operator's
    // next ones: it would pull the box back and the next step would start from there.
    if (m_zun && m_zun->IsChannelGainPending(output))
        return;
    if (OutputGainLevelWidget* s = outputStrip(output))
        s->setGain(gain, true);
}

void GainWidget::on_ChannelDelay(ZunC::AnalogOutputs output, CZunDelay delay)
{
    if (OutputGainLevelWidget* s = outputStrip(output))
        s->setDelay(delay, true);
}

void GainWidget::on_ChannelMute(ZunC::AnalogOutputs output, bool on)
{
    if (OutputGainLevelWidget* s = outputStrip(output))
        s->setMute(on);
}

void GainWidget::on_ChannelInvert(ZunC::AnalogOutputs output, bool on)
{
    if (OutputGainLevelWidget* s = outputStrip(output))
        s->setPhaseInvert(on);
}

void GainWidget::on_InputPathGain(ZunC::InputPaths path, double gain)
{
    if (m_zun && m_zun->IsInputPathGainPending(path))
        return;
    if (InputGainLevelWidget* s = inputStripOf(path))
        s->setGain(gain, true);
}

void GainWidget::on_InputPathDelay(ZunC::InputPaths path, CZunDelay delay)
{
    if (InputGainLevelWidget* s = inputStripOf(path))
        s->setDelay(delay, true);
}

void GainWidget::on_InputPathMute(ZunC::InputPaths path, bool on)
{
    if (InputGainLevelWidget* s = inputStripOf(path))
        s->setMute(on);
    if (!m_zun)
        return;
    CRoutingManager* routing = m_zun->GetRoutingManager();
    const CZunInput* input = routing->GetInput(routing->GetOutputSource(int(path)));
    if (!input)
        return;
    for (ZunC::AnalogOutputs o : input->GetOutputs())
        if (routing->GetOutput(int(o)))
            if (OutputGainLevelWidget* strip = outputStrip(o))
                strip->disableMuteForPath(int(path), on);
}

void GainWidget::on_MasterGain(int dsp, double gain)
{
    if (m_zun && m_zun->IsMasterGainPending())
        return;
    if ((dsp == 0 || dsp == 1) && m_master)
        m_master->setGain(gain, true);
}

void GainWidget::on_MasterDelay(int dsp, CZunDelay delay)
{
    if ((dsp == 0 || dsp == 1) && m_master)
        m_master->setDelay(delay, true);
}

void GainWidget::on_MasterMute(bool on)
{
    if (m_master)
        m_master->setMute(on);
    // Each strip follows the master mute of its own DSP.
    for (const InputEntry& e : m_inputs)
        if (e.channel)
            e.strip->disableMute(e.channel->IsMasterMuted());
    for (const OutputEntry& e : m_outputs)
        if (e.channel)
            e.strip->disableMute(e.channel->IsMasterMuted());
}

void GainWidget::on_ProcessingStats(int, int, int)
{
    // Each strip shows its stored delay at the rate the processor now runs: a strip left at
    // the old rate showed 97 samples at 96 kHz as 98 (49 at 48 kHz).
    const double rate = m_zun ? m_zun->GetSampleRate() : 0.0;
    auto follow = [rate](ZunGainStrip* strip) {
        if (rate > 0.0 && strip->samplingrate() != rate)
            strip->setSamplingrate(rate);
    };
    for (const InputEntry& e : qAsConst(m_inputs))
        follow(e.strip);
    for (const OutputEntry& e : qAsConst(m_outputs))
        follow(e.strip);
}

// --- copy, paste, drag and drop ----------------------------------------------------------------------

void GainWidget::validateActions()
{
    CZunOutput* target = outputAt(m_contextPoint);
    m_paste->setEnabled(target && target->canApplyMimeData(QApplication::clipboard()->mimeData()));
    m_copy->setEnabled(true);
    if (m_import)
        m_import->setEnabled(true);
}

void GainWidget::copy()
{
    if (CZunOutput* source = outputAt(m_contextPoint))
        QApplication::clipboard()->setMimeData(source->createMimeData());
}

void GainWidget::paste()
{
    if (CZunOutput* target = outputAt(m_contextPoint))
        target->applyMimeData(QApplication::clipboard()->mimeData());
}

void GainWidget::fromFile()
{
    // Asked before the file: the list goes to the output under the menu's point.
    if (!outputAt(m_contextPoint)) {
        emit signal_exception(tr("There is no output strip where the menu was opened: open it with a right click "
                                 "on the output to import into."),
                              QStringLiteral("ZunControl"));
        return;
    }
    const QString file = ZunEQListFile::choose(this, m_zun.data());
    if (!file.isEmpty())
        importFile(file);
}

void GainWidget::importFile(const QString& fileName)
{
    CZunOutput* target = outputAt(m_contextPoint);
    if (!target || !m_zun)
        return;
    // The list replaces the channel's EQs and filters, so it is taken whole or not at all;
    // frequencies are judged at the processor's own rate (a 96 kHz list has corners above
    // 24 kHz).
    ZunFilterImport::Ranges ranges;
    ranges.sampleRate = m_zun->GetSampleRate();
    const ZunFilterImport::Result read = ZunFilterImport::ReadCSV(fileName, ranges);
    const QString name = QFileInfo(fileName).fileName();
    if (!read.fileRead || read.refused > 0) {
        emit signal_exception(read.fileRead ? tr("%1 rows of %2 could not be imported; %3 was left as it was:\n%4")
                                                  .arg(read.refused)
                                                  .arg(name, target->GetName(), read.problems.join('\n'))
                                            : tr("%1 could not be read; %2 was left as it was.").arg(name, target->GetName()),
                              QStringLiteral("ZunControl"));
        return;
    }
    ZunChannelMimeData payload;
    payload.setEQs(QList<EQ_PARAMS>(read.eqs.cbegin(), read.eqs.cend()));
    payload.setFilters(QList<HO_FILTER_PARAMS>(read.filters.cbegin(), read.filters.cend()));
    if (!target->canApplyMimeData(&payload))
        return;
    // A list the channel cannot take (more EQs than it may hold, or than its DSP has free)
    // is refused before anything changes: one message with the channel's reason, the whole
    // text in the log.
    try {
        target->applyMimeData(&payload);
    } catch (const std::logic_error& e) {
        qWarning("GainWidget: %s", e.what());
        emit signal_exception(tr("%1 was not imported; %2 was left as it was: %3.")
                                  .arg(name, target->GetName(), QString::fromStdString(e.what()).section(": ", -1)),
                              QStringLiteral("ZunControl"));
    }
}

void GainWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_meters->pageShown();
    emit changedVisibility(true);
}

void GainWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    emit changedVisibility(false);
}

void GainWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        m_contextPoint = event->pos();
        validateActions();
    } else if (event->button() == Qt::LeftButton) {
        m_dragStart = event->pos();
    } else {
        QWidget::mousePressEvent(event);
    }
}

void GainWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !(event->modifiers() & Qt::ShiftModifier))
        return;
    if ((event->pos() - m_dragStart).manhattanLength() < QApplication::startDragDistance())
        return;
    CZunOutput* source = outputAt(event->pos());
    if (!source)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(source->createMimeData());
    onDragRunning(true);
    drag->exec(Qt::CopyAction);
    onDragRunning(false);
}

void GainWidget::onDragRunning(bool running)
{
    m_dragsRunning += running ? 1 : -1;
    if (m_dragsRunning == 0 && m_rebuildPending) {
        m_rebuildPending = false;
        QMetaObject::invokeMethod(this, &GainWidget::UpdateGui, Qt::QueuedConnection);
    }
}

void GainWidget::dragEnterEvent(QDragEnterEvent* event)
{
    const auto* data = qobject_cast<const ZunChannelMimeData*>(event->mimeData());
    if ((event->keyboardModifiers() & Qt::ShiftModifier) && data && data->hasChannelSettings())
        event->acceptProposedAction();
}

void GainWidget::dragMoveEvent(QDragMoveEvent* event) { event->accept(); }

void GainWidget::dropEvent(QDropEvent* event)
{
    if (CZunOutput* target = outputAt(event->pos()))
        target->applyMimeData(event->mimeData());
    event->acceptProposedAction();
}
