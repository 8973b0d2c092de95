// The routing manager of a device object without a processor: channels built from routing
// words, the source maps from the keypad information, look-ups, and what it sends.
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunBaseComm.h"
#include "ZunSignalSpy.h"

#include <QtTest>

using namespace DeviceTestRig;

namespace {
const quint32 EightOutputs = 0x0F80; // double board, four D/A converters
const quint32 FourOutputs = 0x0300;
const quint16 Word21 = 0x1191;       // RP_21 + IR_21: source 1 -> outputs 0-3, source 2 -> 4-7
const quint16 Word41 = 0x21 | (0x43 << 7); // RP_41 + IR_41: sources 1,1,2,2,3,3,4,4
} // namespace

class TestRoutingManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    void make(quint32 hardware, quint16 firmware = 1080)
    {
        auto m = map(firmware);
        m_zun.reset(new CZun(record(firmware, 42, 0, hardware), m, QSharedPointer<CRoutingLibrary>::create(m)));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        m_sent.clear();
        m_sent.attach(m_zun.get());
    }
    CRoutingManager* rm() const { return m_zun->GetRoutingManager(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    void setWord(const char* name, quint16 v) { m_zun->GetStatusBuffer()->setValue(nr(name), v); }

private slots:
    void initTestCase() { m_config.reset(new Config); }
    void cleanup() { m_zun.reset(); }

    void channelsFollowTheRoutingWord()
    {
        make(EightOutputs);
        QCOMPARE(rm()->GetOutputs().size(), 8);
        QCOMPARE(rm()->GetInputs().size(), 2);
        CZunInput* one = rm()->GetInput(1);
        QVERIFY(one);
        QCOMPARE(one->GetOutputs(), (QList<ZunC::AnalogOutputs>{ZunC::Output0, ZunC::Output1, ZunC::Output2, ZunC::Output3}));
        QVERIFY(rm()->GetOutput(2)->hasResponse(one));
        QVERIFY(!rm()->GetOutput(5)->hasResponse(one));
        QVERIFY(rm()->GetOutput(5)->hasResponse(rm()->GetInput(2)));
        QCOMPARE(rm()->GetOutput(4)->GetSlot(), quint16(6));
        QCOMPARE(one->GetSlot(), quint16(4));
        QCOMPARE(rm()->GetInput(2)->GetSlot(), quint16(10));
        QCOMPARE(rm()->GetOutputOfSlot(6), rm()->GetOutput(4));
        QCOMPARE(rm()->GetInputOfSlot(10), rm()->GetInput(2));
        QCOMPARE(rm()->GetInputOfSlot(4), one);
        QCOMPARE(rm()->GetOutputByName(QStringLiteral("Output 8")), rm()->GetOutput(7));
        QCOMPARE(rm()->GetInputByName(one->GetName()), one);
        QVERIFY(!one->GetName().isEmpty());

        // A changed word rebuilds: old pointers become null.
        QPointer<CZunOutput> old = rm()->GetOutput(0);
        rm()->rebuild(Word41);
        QVERIFY(old.isNull());
        QCOMPARE(rm()->GetInputs().size(), 4);
        QCOMPARE(rm()->GetInput(3)->GetOutputs(), (QList<ZunC::AnalogOutputs>{ZunC::Output4, ZunC::Output5}));
        // The same word again creates nothing.
        QPointer<CZunOutput> kept = rm()->GetOutput(0);
        rm()->rebuild(Word41);
        QVERIFY(!kept.isNull());
    }

    void fourOutputsOnly()
    {
        make(FourOutputs);
        QCOMPARE(rm()->GetOutputs().size(), 4);
        QCOMPARE(rm()->GetInputs().size(), 1);
        QVERIFY(!rm()->GetOutput(4));
    }

    void lookupsThatFindNothing()
    {
        make(EightOutputs);
        QCOMPARE(rm()->GetSourceOf(1), 99);
        QCOMPARE(rm()->GetOutputSource(0), 26);
        QCOMPARE(rm()->GetChannelSlotOfSource(9), 255);
        QVERIFY(!rm()->GetInput(9));
        QVERIFY(!rm()->GetOutput(8));
        QVERIFY(!rm()->GetInputOfSlot(12));
        QCOMPARE(rm()->GetOutputSourceInfo(8), 99);
        QCOMPARE(rm()->GetDefaultOutputName(8), QString());
        QCOMPARE(rm()->GetDefaultOutputName(0), QStringLiteral("Output 1"));
        QVERIFY_EXCEPTION_THROWN(rm()->GetInputName(77), CCmdMap::invalid_cmd);
    }

    void imageRebuildBuildsSourceMapsAndKeepsChannels()
    {
        make(EightOutputs);
        setWord("Cmd_SPI_Routing", Word21);
        setWord("Cmd_0_KPSourceInfoM", 0x0000);
        setWord("Cmd_1_KPSourceInfoQ", 0x0400);
        QPointer<CZunOutput> kept = rm()->GetOutput(0);
        rm()->rebuild(0xFFFF);
        QVERIFY(!kept.isNull());
        QCOMPARE(rm()->GetSourceOf(1), 0);
        QCOMPARE(rm()->GetSourceOf(2), 4);
        QCOMPARE(rm()->GetOutputSource(4), 2);
        QCOMPARE(rm()->GetSourceOf(5), 99);
        QCOMPARE(rm()->GetOutputSource(99), 25); // the highest source without a path
        QCOMPARE(rm()->GetInput(2)->GetSource(), 4);
        QCOMPARE(rm()->GetSlotsOfSource(1), (QList<int>{0}));

        // A new word in the image replaces the channels.
        setWord("Cmd_SPI_Routing", Word41);
        rm()->rebuild(0xFFFF);
        QVERIFY(kept.isNull());
        QCOMPARE(rm()->lastRoutingWord(), Word41);
        QCOMPARE(rm()->GetInputs().size(), 4);
    }

    void imageRebuildSetsGainFactorsAndBlockSuspends()
    {
        make(EightOutputs);
        setWord("Cmd_SPI_Routing", Word21);
        setWord("Cmd_1_KPSourceInfoQ", 0x0400);
        setWord("Cmd_0_ChGain1", quint16(-60));  // -6 dB
        setWord("Cmd_0_ChPhInv1", 1);
        setWord("Cmd_1_InGainE", quint16(-120)); // -12 dB on the path of source 2
        rm()->rebuild(0xFFFF);
        QVERIFY(qAbs(rm()->GetOutput(1)->gain() + std::pow(10.0, -0.3)) < 1e-5);
        QVERIFY(qAbs(rm()->GetOutput(0)->gain() - 1.0) < 1e-9);
        QVERIFY(qAbs(rm()->GetInput(2)->gain() - std::pow(10.0, -0.6)) < 1e-5);

        rm()->BlockRecalculation(true);
        QVERIFY(rm()->GetOutput(3)->suspendRecalculation && rm()->GetInput(1)->suspendRecalculation);
        rm()->BlockRecalculation(false);
        QVERIFY(!rm()->GetOutput(3)->suspendRecalculation && !rm()->GetInput(1)->suspendRecalculation);

        // The output's factor follows the device's gain report.
        emit m_zun->signal_ChannelGain(ZunC::Output1, -20.0);
        QVERIFY(qAbs(rm()->GetOutput(1)->gain() + 0.1) < 1e-6);
    }

    // A burst of gain reports (a fader dragged) recalculates the output's response, and
    // replots what follows it, once, after the reports have reached the strips.
    void gainReportsRecalculateTheResponseOncePerBurst()
    {
        make(EightOutputs);
        setWord("Cmd_SPI_Routing", Word21);
        rm()->rebuild(0xFFFF);
        CZunOutput* output = rm()->GetOutput(2);
        QSignalSpy data(output, &CZunAbstractFrequencyResponse::dataChanged);
        QSignalSpy changed(output, &CZunAbstractInOutput::signal_Changed);
        for (double dB : {-1.0, -2.0, -3.0, -4.0, -6.0})
            emit m_zun->signal_ChannelGain(ZunC::Output2, dB);
        QVERIFY(qAbs(output->gain() - std::pow(10.0, -0.3)) < 1e-9); // the factor at once
        QCOMPARE(data.count(), 0);
        QTRY_COMPARE(data.count(), 1);
        QCOMPARE(changed.count(), 1);
        QVERIFY(qAbs(output->getMagnitude()->first() + 6.0) < 1e-6);
        // other outputs' reports leave it alone
        emit m_zun->signal_ChannelGain(ZunC::Output3, -1.0);
        QCoreApplication::processEvents();
        QCOMPARE(data.count(), 1);
    }

    void sendersAndPresetNumbers()
    {
        make(EightOutputs);
        const auto lib = m_zun->GetRoutingLibrary();
        CZunFullRoutingPreset full;
        for (const auto& f : lib->GetFullRoutingPresets())
            if (f.getPattern() >> 16)
                full = f;
        rm()->SetFullRouting(full);
        const quint16 word = CZunRoutingWord::compose(full.GetRoutingPreset().getNumber(), full.GetInputPreset().getNumber());
        const auto sent = m_sent.commands();
        QCOMPARE(sent.size(), 4);
        QCOMPARE(sent[0], qMakePair(nr("Cmd_SPI_Routing"), word));
        QCOMPARE(sent[1], qMakePair(nr("Cmd_DSP_Routing"), word));
        QCOMPARE(sent[2], qMakePair(nr("Cmd_DSP_FullRouting0"), quint16(full.getPattern() & 0xFFFF)));
        QCOMPARE(sent[3], qMakePair(nr("Cmd_DSP_FullRouting1"), quint16(full.getPattern() >> 16)));

        m_sent.clear();
        rm()->SetAESInputSelect(3);
        rm()->SetExtClockSelect(1);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_SPI_ARX_InpSel"), 3}, {nr("Cmd_ExtClockSel"), 1}}));
        QVERIFY(!rm()->GetAESInputSelectKeys().isEmpty());

        const auto m = m_zun->GetCmdMap();
        QCOMPARE(CRoutingManager::GetRoutingPresetNumbers(4, m), quint16(0x24 + 128 * 0x23));
        QCOMPARE(CRoutingManager::GetRoutingPresetNumbers(0, m), Word21);
        QCOMPARE(CRoutingManager::GetRoutingPresetNumbers(9, m), Word21);
    }

    void everyFirmwareBuildsWithoutOutdatedReport()
    {
        for (quint16 fw : CCmdMap::versions()) {
            make(EightOutputs, fw);
            ZunSignalSpy outdated(rm(), &CRoutingManager::signal_exception);
            setWord("Cmd_SPI_Routing", Word41);
            rm()->rebuild(0xFFFF);
            QVERIFY2(outdated.isEmpty(), qPrintable(QString::number(fw)));
            QCOMPARE(rm()->GetInputs().size(), 4);
        }
    }
};

QTEST_MAIN(TestRoutingManager)
#include "tst_routingmanager.moc"
