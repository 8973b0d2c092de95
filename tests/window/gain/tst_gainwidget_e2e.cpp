// The gain page against the emulated processor, through the real link on loopback: edits
// leave once with the right command and raw value and come back into the strips, the
// processor's own changes show, meters follow the status stream, a fader drag never
// builds a backlog, and channels travel by clipboard and by drag and drop.
#include "AudioIOStatus.h"
#include "CEQManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunDelaySpinBox.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "GainWidget.h"
#include "InputGainLevelWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "TcpSimProcess.h"
#include "ThermoOutputLevel.h"
#include "ZunBaseComm.h"
#include "ZunChannelMimeData.h"
#include "ZunCmdBuffer.h"
#include "ZunFileDialogAnswer.h"
#include "ZunGainSlider.h"
#include "ZunUdpDatagram.h"
#include "ZunSignalSpy.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QScopeGuard>
#include <QVBoxLayout>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

using namespace DeviceTestRig;

class TestGainWidgetE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;
    QSharedPointer<AudioIOStatus> m_status;
    std::unique_ptr<GainWidget> m_page;
    SendLog m_sent;

    quint16 nr(const QString& name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    CRoutingManager* routing() const { return m_zun->GetRoutingManager(); }
    // What the processor holds, asked over its control input.
    int simWord(quint16 word) const
    {
        const QString line = m_sim->query(QStringLiteral("get %1").arg(word), QStringLiteral("word "));
        return line.section(QLatin1Char(' '), 2, 2).toInt();
    }
    static quint16 rawGain(double dB) { return quint16(qint16(qRound(dB * 10.0))); }

    void start(int mode = 2, quint16 hardware = 0x0F80)
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080", "--hardware", QString::number(hardware)}),
                 qPrintable(m_sim->error()));
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, hardware), m, QSharedPointer<CRoutingLibrary>::create(m)));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.data());
        m_status.reset(new AudioIOStatus(m));
        m_page.reset(new GainWidget(mode, m_zun, m_status));
        m_page->resize(1400, 700);
        // as the control window wires it
        connect(m_zun.data(), &CZun::signal_ZunStatusChanged, m_page.get(), &GainWidget::UpdateGui, Qt::QueuedConnection);
        ZunSignalSpy status(m_zun.data(), &CZun::signal_ZunStatusChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
        QVERIFY(!m_page->outputStrips().isEmpty() || mode == 0);
        m_sent.clear();
    }
    void settle() { QVERIFY(DeviceTestRig::settle(m_zun.data())); }
    bool sentOnce(quint16 id, quint16 value) const
    {
        return m_sent.count(id) == 1 && m_sent.contains(id, value);
    }
    // Writes of any word the page edits (gains, delays, mutes, polarity, master), in
    // order; what the device object sends by itself meanwhile (keep-alive, read-backs)
    // is left out.
    QList<QPair<quint16, quint16>> pageCommands() const
    {
        QSet<quint16> words;
        for (int dsp = 0; dsp < 2; ++dsp) {
            for (const char* w : {"MasterGain", "MasterDelay", "MasterMute"})
                words << nr(QStringLiteral("Cmd_%1_%2").arg(dsp).arg(QLatin1String(w)));
            for (int i = 0; i < 4; ++i) {
                for (const char* w : {"ChGain", "ChDelay", "ChMute", "ChPhInv"})
                    words << nr(QStringLiteral("Cmd_%1_%2%3").arg(dsp).arg(QLatin1String(w)).arg(i));
                for (const char* w : {"InGain", "InDelay", "InMute"})
                    words << nr(QStringLiteral("Cmd_%1_%2%3").arg(dsp).arg(QLatin1String(w)).arg(QChar('A' + 4 * dsp + i)));
            }
        }
        QList<QPair<quint16, quint16>> out;
        for (const auto& c : m_sent.commands())
            if (words.contains(c.first))
                out << c;
        return out;
    }
    int pageWordsSent() const { return pageCommands().size(); }
    static QPoint centreOf(QWidget* w) { return w->geometry().center(); }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QStringLiteral("importEqs"), true);
    }
    void cleanup()
    {
        m_page.reset();
        m_zun.reset();
        m_status.reset();
        m_sim.reset();
    }

    void modesChooseTheStrips_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("inputs") << 0;
        QTest::newRow("outputs") << 1;
        QTest::newRow("both") << 2;
    }
    void modesChooseTheStrips()
    {
        QFETCH(int, mode);
        start(mode);
        const int inputs = routing()->GetInputs().size();
        const int outputs = routing()->GetOutputs().size();
        QVERIFY(inputs > 0);
        QCOMPARE(outputs, 8);
        for (int round = 0; round < 3; ++round) { // rebuilding leaves exactly one set
            m_page->UpdateGui();
            QCOMPARE(m_page->inputStrips().size(), mode == 1 ? 0 : inputs);
            QCOMPARE(m_page->outputStrips().size(), mode == 0 ? 0 : outputs);
            QCOMPARE(m_page->findChildren<InputGainLevelWidget*>().size(), mode == 1 ? 0 : inputs);
            QCOMPARE(m_page->findChildren<OutputGainLevelWidget*>().size(), mode == 0 ? 0 : outputs);
            QCOMPARE(m_page->findChildren<MasterGainDelayWidget*>().size(), 1);
        }
        QCOMPARE(m_page->importAction() != nullptr, true);
        QCOMPARE(pageWordsSent(), 0); // building the page sends nothing
    }

    void importRestsTheKeepAliveWhileTheOperatorChooses()
    {
        start();
        m_sent.clear();
        QTimer::singleShot(0, []() {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        m_page->fromFile();
        QList<quint16> closeTimes;
        for (const auto& c : m_sent.commands())
            if (c.first == nr("Cmd_TCPCloseTime"))
                closeTimes << c.second;
        QCOMPARE(closeTimes, (QList<quint16>{0, 15}));
    }

    void editsReachTheProcessorAndComeBack()
    {
        start();
        // master gain: both DSPs
        m_page->masterStrip()->gainSpinBox()->setValue(-10.0);
        QVERIFY(sentOnce(nr("Cmd_0_MasterGain"), rawGain(-10.0)));
        QVERIFY(sentOnce(nr("Cmd_1_MasterGain"), rawGain(-10.0)));
        settle();
        QCOMPARE(simWord(nr("Cmd_1_MasterGain")), int(rawGain(-10.0)));

        OutputGainLevelWidget* out2 = m_page->outputStrip(ZunC::Output2);
        out2->gainSpinBox()->setValue(-6.0);
        out2->delaySpinBox()->stepBy(10);
        out2->muteButton()->click();
        out2->phaseInvertButton()->click();
        const quint16 delaySamples = quint16(CZunDelay(quint32(out2->delaySpinBox()->value()),
                                                       out2->samplingrate()).seconds() * 96000.0 + 0.5);
        QVERIFY(sentOnce(nr("Cmd_0_ChGain2"), rawGain(-6.0)));
        QVERIFY(sentOnce(nr("Cmd_0_ChDelay2"), delaySamples));
        QVERIFY(sentOnce(nr("Cmd_0_ChMute2"), 1));
        QVERIFY(sentOnce(nr("Cmd_0_ChPhInv2"), 1));
        out2->muteButton()->setChecked(false); // forget the click: the device's word must set it
        out2->phaseInvertButton()->setChecked(false);
        settle();
        QCOMPARE(simWord(nr("Cmd_0_ChGain2")), int(rawGain(-6.0)));
        QCOMPARE(simWord(nr("Cmd_0_ChDelay2")), int(delaySamples));
        QVERIFY(out2->muteButton()->isChecked());
        QVERIFY(out2->phaseInvertButton()->isChecked());
        QCOMPARE(out2->gainSpinBox()->value(), -6.0);

        // an input path
        InputGainLevelWidget* in = m_page->inputStrips().first();
        const CZunInput* channel = routing()->GetInputs().first();
        const int path = channel->GetSource();
        QVERIFY(path >= 0 && path < 8);
        const QString gainName = QStringLiteral("Cmd_%1_InGain%2").arg(path / 4).arg(QChar('A' + path));
        in->gainSpinBox()->setValue(2.5);
        QVERIFY(m_sent.contains(nr(gainName), rawGain(2.5)));
        QCOMPARE(m_sent.count(nr(gainName)), 1);
        settle();
        QCOMPARE(simWord(nr(gainName)), int(rawGain(2.5)));
        QCOMPARE(in->gain(), 2.5);
        // the confirmations sent none of these words again
        QVERIFY(sentOnce(nr("Cmd_0_MasterGain"), rawGain(-10.0)));
        QVERIFY(sentOnce(nr("Cmd_0_ChGain2"), rawGain(-6.0)));
        QCOMPARE(m_sent.count(nr("Cmd_0_ChMute2")), 1);
    }

    // A wheel turned to scroll the window passes over the page's controls: one the operator
    // has not focused sends nothing, and the area around the page scrolls instead.
    void wheelOverAnUnfocusedControlScrollsThePage_data()
    {
        QTest::addColumn<QString>("strip");
        QTest::addColumn<QString>("control");
        for (const char* strip : {"output", "input", "master"})
            for (const char* control : {"fader", "gain box", "delay box"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(strip, control))) << strip << control;
    }
    void wheelOverAnUnfocusedControlScrollsThePage()
    {
        QFETCH(QString, strip);
        QFETCH(QString, control);
        start();
        ZunGainStrip* s = strip == "output"  ? static_cast<ZunGainStrip*>(m_page->outputStrip(ZunC::Output3))
                          : strip == "input" ? static_cast<ZunGainStrip*>(m_page->inputStrips().first())
                                             : static_cast<ZunGainStrip*>(m_page->masterStrip());
        QWidget* target = control == "fader"      ? static_cast<QWidget*>(s->gainSlider())
                          : control == "gain box" ? static_cast<QWidget*>(s->gainSpinBox())
                                                  : static_cast<QWidget*>(s->delaySpinBox());
        // The page in a window too small for it, the keyboard focus elsewhere.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* elsewhere = new QLineEdit(&window);
        auto* area = new QScrollArea(&window);
        layout->addWidget(elsewhere);
        layout->addWidget(area);
        area->setWidget(m_page.get());
        const auto giveBack = qScopeGuard([area]() { area->takeWidget(); }); // the page stays the test's
        window.resize(500, 350);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        area->ensureWidgetVisible(target);
        elsewhere->setFocus();
        QTRY_VERIFY(elsewhere->hasFocus());
        QScrollBar* bar = area->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        const int scrolled = bar->value();
        const double gain = s->gain();
        const CZunDelay delay = s->delay();
        m_sent.clear();

        // A notch as the window system delivers it (a sent event would go to no parent),
        // towards where the area can still scroll.
        const QPoint at = target->rect().center();
        QWheelEvent notch(at, target->mapToGlobal(at), QPoint(), QPoint(0, scrolled < bar->maximum() ? -120 : 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&notch);
        qApp->notify(target, &notch);
        settle();
        QCOMPARE(pageCommands(), (QList<QPair<quint16, quint16>>()));
        QCOMPARE(s->gain(), gain);
        QCOMPARE(s->delay(), delay);
        QVERIFY(bar->value() != scrolled);
        QVERIFY(elsewhere->hasFocus());
    }

    void processorChangesShowWithoutEcho()
    {
        start();
        QVERIFY(m_sim->control(QStringLiteral("set %1 16").arg(nr("Cmd_0_ChGain3"))));
        OutputGainLevelWidget* out3 = m_page->outputStrip(ZunC::Output3);
        QVERIFY(waitUntil([&]() { return qAbs(out3->gainSpinBox()->value() - 1.6) < 1e-6; }));
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_1_ChMute2"))));
        QVERIFY(waitUntil([&]() { return m_page->outputStrip(ZunC::Output6)->muteButton()->isChecked(); }));
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_0_MasterMute"))));
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_1_MasterMute"))));
        QVERIFY(waitUntil([&]() { return m_page->masterStrip()->muteButton()->isChecked(); }));
        QVERIFY(waitUntil([&]() { return out3->isMuteDisabled(); }));
        settle();
        QCOMPARE(pageWordsSent(), 0); // nothing that came in goes back
    }

    // A DSP muted at the processor greys out the Mute of its own strips only; the master
    // shows muted while either DSP is. Steps are "dsp=value" on the master-mute words.
    void eachStripShowsItsOwnDspsMasterMute_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<quint16>("hardware");
        QTest::addColumn<bool>("dsp1Muted");
        QTest::addColumn<bool>("dsp2Muted");
        QTest::newRow("DSP 2") << QStringList {"1=1"} << quint16(0x0F80) << false << true;
        QTest::newRow("DSP 1") << QStringList {"0=1"} << quint16(0x0F80) << true << false;
        QTest::newRow("DSP 1, DSP 2, DSP 1 unmuted") << QStringList {"0=1", "1=1", "0=0"} << quint16(0x0F80) << false << true;
        QTest::newRow("one board: DSP 1") << QStringList {"0=1"} << quint16(0x0F00) << true << true;
    }
    void eachStripShowsItsOwnDspsMasterMute()
    {
        QFETCH(QStringList, steps);
        QFETCH(quint16, hardware);
        QFETCH(bool, dsp1Muted);
        QFETCH(bool, dsp2Muted);
        start(2, hardware);
        for (const QString& step : qAsConst(steps)) {
            const quint16 word = nr(QStringLiteral("Cmd_%1_MasterMute").arg(step.section('=', 0, 0)));
            const int value = step.section('=', 1).toInt();
            QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(word).arg(value)));
            QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->getValue(word) == value; }));
        }
        QCoreApplication::processEvents();
        const auto shown = [&]() {
            QStringList wrong;
            for (OutputGainLevelWidget* s : m_page->outputStrips())
                if (s->isMuteDisabled() != (routing()->GetOutputByName(s->name())->GetOutput() < 4 ? dsp1Muted : dsp2Muted))
                    wrong << s->name();
            const QList<InputGainLevelWidget*> inputs = m_page->inputStrips();
            for (int i = 0; i < inputs.size(); ++i)
                if (inputs[i]->muteButton()->isEnabled() == (routing()->GetInputs()[i]->GetSource() < 4 ? dsp1Muted : dsp2Muted))
                    wrong << inputs[i]->name();
            if (m_page->masterStrip()->muteButton()->isChecked() != (dsp1Muted || dsp2Muted))
                wrong << "master";
            return wrong;
        };
        QVERIFY(waitUntil([&]() { return shown().isEmpty(); }));
        m_page->UpdateGui(); // and after a rebuild
        QVERIFY2(shown().isEmpty(), qPrintable(shown().join(", ")));
    }

    // Two channels under one name keep their own strips: the renamed channel's edits
    // still reach it, never the channel whose name it took.
    void stripsFollowTheirChannelNotTheirName()
    {
        start();
        CZunOutput* first = routing()->GetOutput(0);
        CZunOutput* second = routing()->GetOutput(1);
        second->SetName(first->GetName());
        OutputGainLevelWidget* strip = m_page->outputStrip(ZunC::Output1);
        QCOMPARE(strip->name(), first->GetName());
        strip->gainSpinBox()->setValue(-3.0);
        QCOMPARE(pageCommands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_0_ChGain1"), rawGain(-3.0)}}));
        m_page->UpdateGui(); // and after a rebuild too
        m_sent.clear();
        m_page->outputStrip(ZunC::Output1)->muteButton()->click();
        QCOMPARE(pageCommands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_0_ChMute1"), 1}}));
    }

    // Reports repeated or interleaved with rebuilds leave Mute greyed exactly while a
    // muted input path feeds the output.
    void greyedMuteFollowsTheCurrentReasons()
    {
        start(1);
        const CZunInput* input = nullptr;
        for (const QPointer<CZunInput>& i : routing()->GetInputs())
            if (i && i->GetSource() >= 0 && i->GetSource() < 8 && !i->GetOutputs().isEmpty())
                input = i;
        QVERIFY(input);
        const auto path = ZunC::InputPaths(input->GetSource());
        OutputGainLevelWidget* fed = m_page->outputStrip(input->GetOutputs().first());
        emit m_zun->signal_InputPathMute(path, true);
        emit m_zun->signal_InputPathMute(path, true); // the same report again
        QVERIFY(fed->isMuteDisabled());
        emit m_zun->signal_InputPathMute(path, false);
        QVERIFY(!fed->isMuteDisabled());

        // muted on the processor, then the page rebuilt several times: still greyed, and
        // free again with the one unmute
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr(QStringLiteral("Cmd_%1_InMute%2").arg(int(path) / 4).arg(QChar('A' + int(path)))))));
        QVERIFY(waitUntil([&]() { return m_zun->IsInputPathMuted(path); }));
        QCoreApplication::processEvents();
        for (int i = 0; i < 3; ++i)
            m_page->UpdateGui();
        fed = m_page->outputStrip(input->GetOutputs().first());
        QVERIFY(fed->isMuteDisabled());
        QVERIFY(m_sim->control(QStringLiteral("set %1 0").arg(nr(QStringLiteral("Cmd_%1_InMute%2").arg(int(path) / 4).arg(QChar('A' + int(path)))))));
        QVERIFY(waitUntil([&]() { return !m_page->outputStrip(input->GetOutputs().first())->isMuteDisabled(); }));
    }

    // A failure box opened during a rebuild runs an event loop that may ask for the next
    // rebuild: it runs after the first, which keeps all its strips. (Rebuilds that make new
    // strips: the page's mode changes; the same channels would only be refreshed.)
    void rebuildAskedDuringARebuildIsDeferred()
    {
        start();
        m_page->setMode(0);
        // master mutes that disagree: reading the master's state fails
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_0_MasterMute"))));
        QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->getValue(nr("Cmd_0_MasterMute")) == 1; }));
        int reports = 0;
        int stripsAfterNested = -1;
        QPointer<OutputGainLevelWidget> firstBuilt;
        connect(m_page.get(), &GainWidget::signal_exception, this, [&](QString, QString caption) {
            QCOMPARE(caption, QStringLiteral("ZunControl"));
            if (reports++ == 0) { // the report comes first, before any output is built
                m_page->setMode(2);
                m_page->UpdateGui();
                stripsAfterNested = m_page->findChildren<OutputGainLevelWidget*>().size();
            }
        });
        m_page->UpdateGui();
        QCOMPARE(reports, 1);
        QCOMPARE(stripsAfterNested, 0); // the nested request did not rebuild mid-way
        QCOMPARE(m_page->outputStrips().size(), 8);
        firstBuilt = m_page->outputStrips().first();
        QVERIFY(waitUntil([&]() { return firstBuilt.isNull(); })); // then it ran, once
        QCOMPARE(m_page->findChildren<OutputGainLevelWidget*>().size(), 8);
        QCOMPARE(m_page->findChildren<MasterGainDelayWidget*>().size(), 1);
        QCOMPARE(reports, 1); // the same disagreement is not reported again
    }

    // A new image of the same channels keeps the strips (an operator's focus or fader
    // stays where it is) and shows what the processor now holds.
    void newImageOfTheSameChannelsRefreshesTheStrips()
    {
        start();
        const QPointer<OutputGainLevelWidget> strip = m_page->outputStrip(ZunC::Output1);
        const QPointer<MasterGainDelayWidget> master = m_page->masterStrip();
        const int inputs = m_page->inputStrips().size();
        QVERIFY(strip && master && inputs > 0);
        QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_0_ChGain1")).arg(rawGain(-7.5))));
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_0_ChMute1"))));
        QVERIFY(reread(m_zun.data()));
        QVERIFY(waitUntil([&]() { return strip && strip->gainSpinBox()->value() == -7.5; }));
        QVERIFY(strip->muteButton()->isChecked());
        QCOMPARE(m_page->outputStrip(ZunC::Output1), strip.data());
        QCOMPARE(m_page->masterStrip(), master.data());
        QCOMPARE(m_page->findChildren<OutputGainLevelWidget*>().size(), 8);
        QCOMPARE(m_page->findChildren<InputGainLevelWidget*>().size(), inputs);
        QCOMPARE(m_page->findChildren<MasterGainDelayWidget*>().size(), 1);

        // A clock change keeps the strips: each shows the processor's delay (its words
        // count 96 kHz samples) at the new rate, rounded as an entry is; also when the
        // clock was changed at the processor's front panel, which reloads nothing.
        QVERIFY(m_sim->control(QStringLiteral("set %1 97").arg(nr("Cmd_0_ChDelay1"))));
        const struct { int clock; double rate; bool reload; } changes[] = {
            {2, 96000.0, true}, {1, 48000.0, true}, {2, 96000.0, false}, {1, 48000.0, false}};
        for (const auto& [clock, rate, reload] : changes) {
            QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_ClockSel")).arg(clock)));
            m_zun->UpdateProcessingPower(int(rate), int(rate), 0, 0); // as the status stream reports it
            QVERIFY(!reload || reread(m_zun.data()));
            QVERIFY(waitUntil([&]() { return strip && strip->samplingrate() == rate; }));
            quint32 held = 0;
            QVERIFY(CZunDelaySpinBox::samplesOf(CZunDelay(97, 96000.0).seconds(), rate, &held));
            QCOMPARE(strip->delaySpinBox()->value(), int(held));
            QCOMPARE(m_page->outputStrip(ZunC::Output1), strip.data());
        }
    }

    void metersFollowTheStatusStreamWhileShown()
    {
        start();
        QVERIFY(m_status->SetRouting(m_zun->GetRoutingManager()->lastRoutingWord()) || true);
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        connect(&socket, &QUdpSocket::readyRead, this, [&]() {
            while (socket.hasPendingDatagrams())
                m_status->refresh(socket.receiveDatagram().data());
        });
        // what the control window does: status streams only while a gain page is shown
        QTimer requests;
        requests.setInterval(200);
        int asked = 0;
        connect(&requests, &QTimer::timeout, this, [&]() {
            ++asked;
            socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost, m_sim->udpPort());
        });
        connect(m_page.get(), &GainWidget::changedVisibility, this, [&](bool shown) {
            if (shown)
                requests.start();
            else
                requests.stop();
        });
        m_page->on_connect();
        m_page->show();
        QVERIFY(requests.isActive());
        ThermoOutputLevel* meter = m_page->outputStrip(ZunC::Output0)->levelMeter();
        QSet<int> shown;
        QVERIFY(waitUntil([&]() {
            shown.insert(qRound(meter->value()));
            return shown.size() >= 3;
        }));
        m_page->hide();
        QVERIFY(!requests.isActive());
        const int before = asked;
        QTest::qWait(500);
        QCOMPARE(asked, before);
        m_page->on_disconnect();
    }

    // 200 fader steps in 2 s against a processor that answers each command after 20 ms:
    // waiting values are replaced, never queued, and the processor ends on the last one.
    void faderDragSupersedesAndTheLastValueWins()
    {
        start();
        QVERIFY(m_sim->control(QStringLiteral("delay 20")));
        OutputGainLevelWidget* strip = m_page->outputStrip(ZunC::Output1);
        ZunGainSlider* fader = strip->gainSlider();
        ZunSignalSpy confirmed(m_zun.data(), &CZun::signal_ChannelGain);
        const ZunCmdBuffer* buffer = m_zun->GetLink()->getCmdBuffer();
        const quint16 gainWord = nr("Cmd_0_ChGain1");
        int step = 0;
        int mostWaiting = 0;
        QTimer drag;
        drag.setInterval(10);
        connect(&drag, &QTimer::timeout, this, [&]() {
            fader->setValue(-18.0 + 0.1 * ++step);
            mostWaiting = qMax(mostWaiting, buffer->waitingGroupsWith(gainWord));
            if (step == 200)
                drag.stop();
        });
        emit fader->sliderPressed();
        drag.start();
        QVERIFY(waitUntil([&]() { return step == 200; }));
        emit fader->sliderReleased();
        QCOMPARE(m_sent.count(nr("Cmd_0_ChGain1")), 200); // every step was an edit
        QCOMPARE(mostWaiting, 1);
        settle();
        const double last = -18.0 + 0.1 * 200;
        QCOMPARE(simWord(nr("Cmd_0_ChGain1")), int(rawGain(last)));
        QVERIFY(qAbs(strip->gainSpinBox()->value() - last) < 1e-6);
        QVERIFY(confirmed.count() < 150); // superseded values never reached the processor
    }

    // The input strip spans the processor's gain range: a gain below the strip's old
    // -18 dB end shows as it is, and a nudge moves it by 0.1 dB, not to -17.9.
    void inputStripSpansTheProcessorsRange()
    {
        start(0);
        const CZunInput* channel = routing()->GetInputs().first();
        const int path = channel->GetSource();
        QVERIFY(path >= 0 && path < 8);
        const quint16 word = nr(QStringLiteral("Cmd_%1_InGain%2").arg(path / 4).arg(QChar('A' + path)));
        QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(word).arg(rawGain(-30.0))));
        InputGainLevelWidget* strip = m_page->inputStrips().first();
        QVERIFY(waitUntil([&]() { return strip->gain() == -30.0; }));
        QCOMPARE(strip->gainSpinBox()->value(), -30.0);
        QCOMPARE(strip->gainSlider()->value(), -30.0);
        QCOMPARE(strip->gainSpinBox()->minimum(), double(m_zun->GetChannelGainParam()->GetMin()));
        QCOMPARE(strip->gainSpinBox()->maximum(), double(m_zun->GetChannelGainParam()->GetMax()));
        strip->gainSpinBox()->stepBy(1);
        settle();
        QCOMPARE(m_sent.count(word), 1);
        QVERIFY(m_sent.contains(word, rawGain(-29.9)));
        QCOMPARE(simWord(word), int(rawGain(-29.9)));
    }

    // A refused master mute never unmutes: the DSP that obeyed keeps a mute (a refused
    // unmute mutes the other DSP again), the button shows muted while either DSP is, and
    // one box names the DSP that refused.
    void refusedMasterMuteNeverUnmutes_data()
    {
        QTest::addColumn<bool>("muted");  // both DSPs muted before the press
        QTest::addColumn<int>("refusing"); // DSP 1 or 2
        QTest::addColumn<int>("held0");
        QTest::addColumn<int>("held1");
        QTest::addColumn<bool>("oneBoard"); // no second DSP to take a mute over
        QTest::newRow("mute, DSP 2 refuses") << false << 2 << 1 << 0 << false;
        QTest::newRow("mute, DSP 1 refuses") << false << 1 << 0 << 1 << false;
        QTest::newRow("unmute, DSP 1 refuses") << true << 1 << 1 << 1 << false;
        QTest::newRow("unmute, DSP 2 refuses") << true << 2 << 1 << 1 << false;
        QTest::newRow("one board: unmute, DSP 1 refuses") << true << 1 << 1 << 0 << true;
    }
    void refusedMasterMuteNeverUnmutes()
    {
        QFETCH(bool, muted);
        QFETCH(int, refusing);
        QFETCH(int, held0);
        QFETCH(int, held1);
        QFETCH(bool, oneBoard);
        start(2, oneBoard ? 0x0F00 : 0x0F80);
        const quint16 mute0 = nr("Cmd_0_MasterMute"), mute1 = nr("Cmd_1_MasterMute");
        QPushButton* button = m_page->masterStrip()->muteButton();
        if (muted) {
            button->click();
            QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->getValue(mute1) == 1; }));
            settle();
        }
        QVERIFY(button->isChecked() == muted);
        QStringList boxes;
        QObject listening; // ends with the list: a late report finds no dangling list
        connect(m_zun.data(), &CZun::signal_exception, &listening, [&](QString text, QString) { boxes << text; });
        QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(refusing == 1 ? mute0 : mute1)));
        m_sent.clear();
        button->click();
        QVERIFY(waitUntil([&]() { return !boxes.isEmpty(); }));
        settle();
        QCOMPARE(simWord(mute0), held0);
        QCOMPARE(simWord(mute1), held1);
        QVERIFY(button->isChecked());
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(QStringLiteral("DSP %1 refused").arg(refusing)), qPrintable(boxes.first()));
        if (!muted) // nothing that unmutes follows a refused mute
            QVERIFY(!m_sent.contains(mute0, 0) && !m_sent.contains(mute1, 0));
        if (oneBoard) // nothing goes to a DSP the processor does not have
            QVERIFY(!m_sent.contains(mute1, 1));
    }

    // DSPs whose master mutes disagree are reported in one box for the whole window (its
    // inputs page and its outputs page), not once per strip and per reload.
    void disagreeingMasterMutesRaiseOneBoxForTheWindow()
    {
        start(0);
        GainWidget outputs(1, m_zun, m_status);
        connect(m_zun.data(), &CZun::signal_ZunStatusChanged, &outputs, &GainWidget::UpdateGui, Qt::QueuedConnection);
        outputs.UpdateGui();
        QStringList boxes;
        for (GainWidget* page : {m_page.get(), &outputs})
            connect(page, &GainWidget::signal_exception, this, [&](QString text, QString) { boxes << text; });
        QVERIFY(m_sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_0_MasterMute"))));
        QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->getValue(nr("Cmd_0_MasterMute")) == 1; }));
        for (int reload = 0; reload < 2; ++reload) {
            QVERIFY(reread(m_zun.data()));
            QCoreApplication::processEvents();
        }
        QCOMPARE(boxes.size(), 1);
        // what is muted shows: the master button lit on both pages
        QVERIFY(m_page->masterStrip()->muteButton()->isChecked());
        QVERIFY(outputs.masterStrip()->muteButton()->isChecked());
    }

    // The gain page's Import: read at the processor's rate, taken whole or not at all,
    // and only onto an output strip.
    void importReadsAtTheProcessorsRateAndWhole()
    {
        start(1);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
        QVERIFY(m_sim->control(QStringLiteral("set %1 2").arg(nr("Cmd_ClockSel"))));
        QVERIFY(waitUntil([&]() { return m_zun->GetSampleRate() == 96000.0; }));
        QTemporaryDir dir;
        const auto file = [&](const QString& name, const QByteArray& text) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
                qFatal("cannot write test file");
            return f.fileName();
        };
        QString chosen;
        const auto chooseWhenAsked = [&]() {
            QTimer::singleShot(0, [&]() {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                if (chosen.isEmpty()) {
                    dialog->reject();
                } else {
                    zunAnswerFileDialog(dialog, chosen);
                }
            });
        };
        QStringList boxes;
        connect(m_page.get(), &GainWidget::signal_exception, this, [&](QString text, QString) { boxes << text; });
        CZunOutput* target = routing()->GetOutput(2);
        m_page->setContextPoint(centreOf(m_page->outputStrip(ZunC::Output2)));

        const auto import = [&](const QString& name, const QByteArray& text) {
            chosen = file(name, text);
            chooseWhenAsked();
            m_page->fromFile();
            settle();
        };

        // a 26 kHz EQ is fine at 96 kHz
        import("wide.csv", "1;peq;26000;-3;2\r\nx1;hp;80;8;4\r\n");
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
        QCOMPARE(target->GetEQList().size(), 1);
        QCOMPARE(target->GetEQList().first()->getFrequency(), 26000.0);
        QCOMPARE(target->GetHighOrderFilterList().size(), 1);

        // one row beyond what the processor takes: named, and the channel stays as it was
        import("bad.csv", "1;peq;1000;-3;2\r\n2;peq;50000;-3;2\r\n");
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("line 2")), qPrintable(boxes.first()));
        QCOMPARE(target->GetEQList().size(), 1);
        QCOMPARE(target->GetEQList().first()->getFrequency(), 26000.0);
        QCOMPARE(target->GetHighOrderFilterList().size(), 1);

        // a list of rows of peaking EQs refused whole: one message more, the channel as it was
        const auto importRefused = [&](const QString& name, int rows) {
            QByteArray text;
            for (int row = 1; row <= rows; ++row)
                text += QByteArray::number(row) + ";peq;1000;-3;2\r\n";
            const int before = boxes.size();
            import(name, text);
            QCOMPARE(boxes.size(), before + 1);
            QVERIFY2(boxes.last().startsWith(name + QStringLiteral(" was not imported")), qPrintable(boxes.last()));
            QCOMPARE(target->GetEQList().size(), 1);
            QCOMPARE(target->GetEQList().first()->getFrequency(), 26000.0);
            QCOMPARE(target->GetHighOrderFilterList().size(), 1);
        };
        // mended: more EQs than a channel holds escaped as an exception; now one message
        importRefused(QStringLiteral("many.csv"), 25);

        // mended: a list within the channel's 20 that the DSP's free EQs can not hold failed
        // part way, leaving part of the old and part of the new list; refused whole now
        CEQManager* eqs = m_zun->GetEQManager();
        const int slot = target->GetSlot();
        for (int other = 0; eqs->GetNrFreeEQs(slot) > 12; other = (other + 1) % 6) {
            bool section = false;
            int at = other;
            if (other != slot)
                eqs->CreateEQ(at, section)->writeToDevice(false); // the DSP's other channels
        }
        settle();
        importRefused(QStringLiteral("full.csv"), 16);

        // no output strip under the last right click: said so, no file asked for
        boxes.clear();
        chosen.clear();
        chooseWhenAsked();
        m_page->setContextPoint(QPoint(-10, -10));
        m_sent.clear();
        m_page->fromFile();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(!m_sent.contains(nr("Cmd_TCPCloseTime"), 0)); // no dialog was opened
    }

    // On a slow link (200 ms a reply) confirmations of earlier steps arrive between the
    // operator's next ones: ten Up presses still make +1.0 dB, on the processor and in the box.
    void slowLinkEndsOnTheOperatorsLastStep()
    {
        start(1);
        QVERIFY(m_sim->control(QStringLiteral("delay 200")));
        OutputGainLevelWidget* strip = m_page->outputStrip(ZunC::Output1);
        QDoubleSpinBox* box = strip->gainSpinBox();
        const double start = box->value();
        ZunSignalSpy confirmed(m_zun.data(), &CZun::signal_ChannelGain);
        for (int press = 1; press <= 10; ++press) {
            const int answered = confirmed.count();
            QTest::keyClick(box, Qt::Key_Up);
            if (press % 2 == 0) // the answer to an earlier step comes in between
                QVERIFY(waitUntil([&]() { return confirmed.count() > answered; }));
        }
        settle();
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QCoreApplication::processEvents();
        QCOMPARE(simWord(nr("Cmd_0_ChGain1")), int(rawGain(start + 1.0)));
        QVERIFY(qAbs(box->value() - (start + 1.0)) < 1e-6);
        QVERIFY(qAbs(strip->gainSlider()->value() - (start + 1.0)) < 1e-6);
    }

    // A value refused while the fader is held is not lost: the fader stays under the
    // pointer while held and shows the processor's value once let go.
    void faderReleaseShowsWhatTheProcessorHolds()
    {
        start(1);
        OutputGainLevelWidget* strip = m_page->outputStrip(ZunC::Output3);
        ZunGainSlider* fader = strip->gainSlider();
        const double held = strip->gain();
        QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(nr("Cmd_0_ChGain3"))));
        ZunSignalSpy confirmed(m_zun.data(), &CZun::signal_ChannelGain);
        emit fader->sliderPressed();
        fader->setValue(held - 5.0);
        QVERIFY(waitUntil([&]() { return confirmed.count() > 0; })); // the refusal, with the processor's value
        settle();
        QCOMPARE(fader->value(), held - 5.0); // still where the operator holds it
        emit fader->sliderReleased();
        QCOMPARE(fader->value(), held);
        QCOMPARE(strip->gainSpinBox()->value(), held);
        QCOMPARE(strip->gain(), held);
        QVERIFY(m_sim->control(QStringLiteral("refuse off")));
    }

    // A typed delay beyond the processor's limit is refused naming the number typed, and
    // the strip goes on showing the processor's delay.
    void refusedDelayNamesWhatWasTyped()
    {
        start(1);
        // at 96 kHz the box ends at 682.667 ms (65,536 samples), below the typed 1000
        QVERIFY(m_sim->control(QStringLiteral("set %1 2").arg(nr("Cmd_ClockSel"))));
        QVERIFY(waitUntil([&]() { return m_zun->GetSampleRate() == 96000.0; }));
        m_page->UpdateGui();
        OutputGainLevelWidget* strip = m_page->outputStrip(ZunC::Output0);
        const int shown = strip->delaySpinBox()->value();
        const int held = simWord(nr("Cmd_0_ChDelay0"));
        QString refusal;
        try {
            strip->delaySpinBox()->findChild<QLineEdit*>()->selectAll();
            QTest::keyClicks(strip->delaySpinBox(), QStringLiteral("1000"));
            QTest::keyClick(strip->delaySpinBox(), Qt::Key_Return);
        } catch (const std::exception& e) {
            refusal = QString::fromStdString(e.what());
        }
        QVERIFY2(refusal.startsWith(QStringLiteral("Delay value of 1000 ")), qPrintable(refusal));
        QCOMPARE(strip->delaySpinBox()->value(), shown);
        settle();
        QCOMPARE(simWord(nr("Cmd_0_ChDelay0")), held);
        QCOMPARE(strip->delaySpinBox()->value(), shown);
    }

    // Shift pressed during a plain strip drag hands the strip's settings to the page:
    // they never take the target's EQs and crossover filters away.
    void stripSettingsDroppedWithShiftKeepTheFilters()
    {
        start(1);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
        CZunOutput* target = routing()->GetOutput(3);
        QVERIFY(target->NewHighOrderFilter());
        int slot = int(target->GetSlot());
        bool section = false;
        QVERIFY(m_zun->GetEQManager()->CreateEQ(slot, section));
        settle();
        QCOMPARE(target->GetEQList().size(), 1);
        QCOMPARE(target->GetHighOrderFilterList().size(), 1);
        m_page->outputStrip(ZunC::Output0)->gainSpinBox()->setValue(-5.0);
        settle();
        std::unique_ptr<ZunChannelMimeData> data(m_page->outputStrip(ZunC::Output0)->createMimeData());
        const QPoint point = centreOf(m_page->outputStrip(ZunC::Output3));
        QDragEnterEvent enter(point, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(m_page.get(), &enter);
        QDropEvent drop(point, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(m_page.get(), &drop);
        settle();
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output3), -5.0f);
        QCOMPARE(target->GetEQList().size(), 1);
        QCOMPARE(target->GetHighOrderFilterList().size(), 1);
    }

    void channelsTravelByClipboardAndByShiftDrop()
    {
        start(1);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
        // output 0: gain, polarity and one EQ
        OutputGainLevelWidget* source = m_page->outputStrip(ZunC::Output0);
        source->gainSpinBox()->setValue(-4.0);
        source->phaseInvertButton()->click();
        int slot = 0;
        bool section = false;
        QVERIFY(m_zun->GetEQManager()->CreateEQ(slot, section));
        settle();
        QCOMPARE(routing()->GetOutput(0)->GetEQList().size(), 1);

        // copy from output 0, paste onto output 2
        m_page->setContextPoint(centreOf(source));
        m_page->copy();
        m_page->setContextPoint(QPoint(-10, -10));
        m_page->validateActions();
        QVERIFY(!m_page->pasteAction()->isEnabled()); // nothing under the point
        m_page->setContextPoint(centreOf(m_page->outputStrip(ZunC::Output2)));
        m_page->validateActions();
        QVERIFY(m_page->pasteAction()->isEnabled());
        m_page->paste();
        settle();
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output2), -4.0f);
        QVERIFY(m_zun->IsChannelPhaseInverted(ZunC::Output2));
        QCOMPARE(routing()->GetOutput(2)->GetEQList().size(), 1);
        QVERIFY(m_page->outputStrip(ZunC::Output2)->phaseInvertButton()->isChecked());

        // a Shift drop of output 0's whole channel onto output 3
        std::unique_ptr<QMimeData> data(routing()->GetOutput(0)->createMimeData());
        const QPoint target = centreOf(m_page->outputStrip(ZunC::Output3));
        QDragEnterEvent enter(target, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(m_page.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(target, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(m_page.get(), &drop);
        settle();
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output3), -4.0f);
        QCOMPARE(routing()->GetOutput(3)->GetEQList().size(), 1);
        // text from elsewhere is refused
        QApplication::clipboard()->setText(QStringLiteral("not a channel"));
        m_page->validateActions();
        QVERIFY(!m_page->pasteAction()->isEnabled());
    }
};

QTEST_MAIN(TestGainWidgetE2E)
#include "tst_gainwidget_e2e.moc"
