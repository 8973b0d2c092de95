// The device object's maintenance, delay and front-panel commands without a processor:
// what they send, the bounds they compute from crafted images, and the mended faults.
#include "CMemoryManager.h"
#include "CRoutingManager.h"
#include "CZunFIRLimManager.h"
#include "CZunImageDefaults.h"
#include "CZunRoutingRecord.h"
#include "CZunRoutingWord.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunBaseComm.h"
#include "ZunSignalSpy.h"

#include <QtEndian>
#include <QtTest>

#include <boost/numeric/conversion/cast.hpp>

using namespace DeviceTestRig;

namespace
{
using Commands = QList<QPair<quint16, quint16>>;

bool near(double a, double b) { return std::abs(a - b) < 1e-9; }
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    quint16 nr(const QString& name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    void setWord(const char* name, quint16 v) { img()->setValue(nr(name), v); }
    void setWord(const QString& name, quint16 v) { img()->setValue(nr(name), v); }
    void link(bool on) { setWord("Cmd_SetupFlags", on ? 2 : 0); }
    // The input path whose delay adds to an output's (through the routing).
    int pathOf(int output) const
    {
        CRoutingManager* rm = m_zun->GetRoutingManager();
        return rm->GetSourceOf(rm->GetRecord().GetSourceOfOutput(output));
    }
    // Sample rate from a measured rate, as the status stream reports it.
    void measure(int rate) { m_zun->UpdateProcessingPower(rate, rate, 600, 600); }

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void init()
    {
        m_zun.reset(new CZun(record(1080), map(1080), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        // A processor's default parameters, with the routing they name.
        const QVector<quint16> defaults = CZunImageDefaults::defaultImage(1080);
        for (int i = 0; i < defaults.size(); ++i)
            img()->setValue(quint16(i), defaults.at(i));
        m_zun->GetRoutingManager()->rebuild(0xFFFF);
        for (int i = 0; i < 8; ++i) {
            setWord(QStringLiteral("Cmd_%1_ChDelay%2").arg(i / 4).arg(i % 4), 0);
            setWord(QStringLiteral("Cmd_%1_InDelay%2").arg(i / 4).arg(QChar('A' + i)), 0);
        }
        setWord("Cmd_0_MasterDelay", 0);
        setWord("Cmd_1_MasterDelay", 0);
        setWord("Cmd_0_DSP_Mem", 16384);
        setWord("Cmd_0_NumDL", 4);
        setWord("Cmd_1_NumDL", 4);
        setWord("Cmd_0_DSP_Type", 791);
        m_sent.clear();
        m_sent.attach(m_zun.get());
    }

    void cleanup() { m_zun.reset(); }

    // --- delay memory and bounds ---------------------------------------------------------

    void delayMemoryFollowsTheSampleRate()
    {
        measure(48000);
        QVERIFY(near(m_zun->GetDSPDelayMemory().seconds(), 65536.0 / 48000));
        QVERIFY(near(m_zun->GetMasterDelayLimit().seconds(), 65536.0 / 48000));
        QVERIFY(near(m_zun->GetChannelDelayLimit().seconds(), 65535.0 / 96000));
        measure(192000);
        QVERIFY(near(m_zun->GetDSPDelayMemory().seconds(), 65536.0 / 192000));
        QVERIFY(near(m_zun->GetMasterDelayLimit().seconds(), 65536.0 / 192000));
        QVERIFY(near(m_zun->GetChannelDelayLimit().seconds(), 65536.0 / 192000));
    }

    void outputBoundSubtractsEveryInputPathAndTheMasterDelay()
    {
        measure(48000);
        setWord("Cmd_1_InDelayG", 960);  // 10 ms on DSP 1 still counts for output 0
        setWord("Cmd_0_MasterDelay", 240); // 10 ms
        setWord("Cmd_1_MasterDelay", 2400);
        const double bound = 65536.0 / 48000 / 4 - 0.010 - 0.010;
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output0).seconds(), bound));
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output5).seconds(), bound - 0.090));

        // A request within the bound is sent as asked, with the partner while linked.
        link(true);
        m_zun->SetChannelDelay(CZunDelay::fromMilliseconds(200), ZunC::Output6);
        QCOMPARE(m_sent.groups().size(), 1);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_1_ChDelay2"), 19200}, {nr("Cmd_0_ChDelay2"), 19200}}));

        // Beyond it: the old value goes out, then the failure names request and bound.
        link(false);
        setWord("Cmd_0_ChDelay1", 96);
        m_sent.clear();
        QString refusal;
        try {
            m_zun->SetChannelDelay(CZunDelay::fromMilliseconds(330), ZunC::Output1);
            QFAIL("accepted");
        } catch (const std::logic_error& e) {
            refusal = QString(e.what());
        }
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_0_ChDelay1"), 96}}));
        // Mended: the refusal said "below" a bound that the check takes. It names the
        // largest value taken, which is taken, and 10 microseconds more are not.
        const QRegularExpressionMatch named = QRegularExpression(
            QStringLiteral("^Delay value of 330 ms is out of bounds\\. Valid values are up to ([0-9.]+) ms\\.$"))
                                                  .match(refusal);
        QVERIFY2(named.hasMatch(), qPrintable(refusal));
        const double largest = named.captured(1).toDouble();
        QVERIFY(qAbs(largest - bound * 1000) < 0.001);
        m_zun->SetChannelDelay(CZunDelay::fromMilliseconds(largest), ZunC::Output1);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetChannelDelay(CZunDelay::fromMilliseconds(largest + 0.01), ZunC::Output1),
                                 std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetChannelDelay(CZunDelay(), ZunC::AnalogOutputs(8)), std::logic_error);
    }

    void outputBoundIsCappedAtTheLimitAndZeroDelayLinesStayAtIt()
    {
        measure(48000);
        setWord("Cmd_0_NumDL", 1);
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output2).seconds(), 65535.0 / 96000));
        setWord("Cmd_0_NumDL", 0);
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output2).seconds(), 65535.0 / 96000));
        // The largest request the word holds is accepted.
        m_zun->SetChannelDelay(CZunDelay(65535, 96000.0), ZunC::Output2);
        QCOMPARE(m_sent.commands().last().second, quint16(65535));
    }

    void masterBoundTakesTheLongestChainOfItsDsp()
    {
        measure(48000);
        setWord("Cmd_0_ChDelay1", 4800); // 50 ms
        setWord("Cmd_1_ChDelay3", 9600); // 100 ms, DSP 1 only
        const int path = pathOf(1);
        QVERIFY(path != ZunC::NoPath);
        setWord(QStringLiteral("Cmd_%1_InDelay%2").arg(path / 4).arg(QChar('A' + path)), 960);
        QVERIFY(near(m_zun->GetTotalChannelDelay(ZunC::Output1).seconds(), 0.060));
        const double limit = 65536.0 / 48000;
        QVERIFY(near(m_zun->GetMaxAvailableMasterDelay(1).seconds(), limit - 0.060));
        const double dsp1 = m_zun->GetMaxAvailableMasterDelay(2).seconds();
        QVERIFY(dsp1 <= limit - 0.100 + 1e-9);

        // At the bound: sent unchanged; 1 us above it is within the tolerance.
        const CZunDelay bound = m_zun->GetMaxAvailableMasterDelay(1);
        m_zun->SetMasterDelay(1, bound);
        m_zun->SetMasterDelay(1, CZunDelay::fromSeconds(bound.seconds() + 1e-6));
        const quint16 raw = quint16(bound.seconds() * 24000 + 0.5);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_0_MasterDelay"), raw}, {nr("Cmd_0_MasterDelay"), raw}}));

        // Both DSPs over the bound: each gets its current value, then the failure.
        setWord("Cmd_0_MasterDelay", 24);
        setWord("Cmd_1_MasterDelay", 48);
        m_sent.clear();
        try {
            m_zun->SetMasterDelay(0, CZunDelay::fromSeconds(2.0));
            QFAIL("accepted");
        } catch (const std::logic_error& e) {
            QVERIFY(QString(e.what()).startsWith(QStringLiteral("Delay value of 2000 ms is out of bounds. Valid values are up to ")));
        }
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_0_MasterDelay"), 24}, {nr("Cmd_1_MasterDelay"), 48}}));
        QVERIFY_EXCEPTION_THROWN(m_zun->SetMasterDelay(3, CZunDelay()), std::logic_error);
    }

    void inputPathBoundAndItsEdges()
    {
        measure(96000);
        setWord("Cmd_1_ChDelay0", 960);   // 10 ms on any output counts
        setWord("Cmd_1_MasterDelay", 240); // 10 ms
        const double expected = 65535.0 / 96000 / 4 - 0.010 - 0.010;
        QVERIFY(near(m_zun->GetMaxAvailableInputPathDelay(ZunC::PathF).seconds(), expected));
        m_zun->SetInputPathDelay(CZunDelay::fromMilliseconds(100), ZunC::PathF);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_1_InDelayF"), 9600}}));
        m_sent.clear();
        QVERIFY_EXCEPTION_THROWN(m_zun->SetInputPathDelay(CZunDelay::fromMilliseconds(200), ZunC::PathF),
                                 std::logic_error);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_1_InDelayF"), 0}}));
        // Linked paths A and B travel together; no path means nothing, whatever the request.
        link(true);
        m_sent.clear();
        m_zun->SetInputPathDelay(CZunDelay::fromMilliseconds(1), ZunC::PathB);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_0_InDelayB"), 96}, {nr("Cmd_0_InDelayA"), 96}}));
        m_sent.clear();
        m_zun->SetInputPathDelay(CZunDelay::fromSeconds(100), ZunC::NoPath);
        QVERIFY(m_sent.commands().isEmpty());
        QCOMPARE(m_zun->GetMaxInputPathDelay(3).seconds(), 0.0);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetInputPathDelay(CZunDelay(), ZunC::InputPaths(8)), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(m_zun->GetInputPathDelay(ZunC::InputPaths(12)), std::logic_error);
    }

    void firLatenciesShrinkTheBounds()
    {
        measure(48000);
        // A pass-through set whose outputs carry 10, 20, 5 and 0 ms of FIR latency.
        CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
        const quint16 latency[4] = {480, 960, 240, 0};
        const auto set = QShPtrFLE::create(QString(), 48000.0);
        set->SetName(QStringLiteral("Latency"));
        for (int o = 0; o < 4; ++o)
            set->setOutput(o, QVector<qint32>(2 * latency[o] + 2, 1000 * (o + 1)), latency[o], o);
        set->computeKey();
        QCOMPARE(set->outputEntryWord0(1), quint16(960));
        QVERIFY(QMetaObject::invokeMethod(fir, "AddFIRFilterToList", Qt::BlockingQueuedConnection,
                                          Q_ARG(QShPtrFLE, set)));
        const double memory = 65536.0 / 48000 / 4;
        const double limit = 65536.0 / 48000;
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output1).seconds(), memory));
        QVERIFY(near(m_zun->GetMaxAvailableMasterDelay(1).seconds(), limit));
        // Active on DSP 0 only: its outputs lose their own latency, the master its largest.
        setWord("Cmd_0_FIR_ID0", quint16(set->getKey() & 0xFFFF));
        setWord("Cmd_0_FIR_ID1", quint16(set->getKey() >> 16));
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output1).seconds(), memory - 0.020));
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output2).seconds(), memory - 0.005));
        QVERIFY(near(m_zun->GetMaxAvailableChannelDelay(ZunC::Output5).seconds(), memory));
        QVERIFY(near(m_zun->GetMaxAvailableMasterDelay(1).seconds(), limit - 0.020));
        QVERIFY(near(m_zun->GetMaxAvailableMasterDelay(2).seconds(), limit));
        // An input path loses the largest latency of the routing slots its source feeds.
        CRoutingManager* rm = m_zun->GetRoutingManager();
        const int path = pathOf(1);
        QVERIFY(path < 4);
        double fed = 0.0;
        for (int o : rm->GetSlotsOfSource(rm->GetOutputSource(path)))
            fed = qMax(fed, latency[o % 4] / 48000.0);
        QVERIFY(fed >= 0.010);
        QVERIFY(near(m_zun->GetMaxAvailableInputPathDelay(ZunC::InputPaths(path)).seconds(),
                     65535.0 / 96000 / 4 - fed));
    }

    void rawConversionFailsBeforeAnythingIsSent()
    {
        measure(48000);
        setWord("Cmd_0_NumDL", 0); // an unlimited input-path bound
        QVERIFY_EXCEPTION_THROWN(m_zun->SetInputPathDelay(CZunDelay::fromSeconds(0.7), ZunC::PathC),
                                 boost::numeric::positive_overflow);
        QVERIFY_EXCEPTION_THROWN(m_zun->SetChannelDelay(CZunDelay::fromSeconds(-1.0 / 48000), ZunC::Output0),
                                 boost::numeric::negative_overflow);
        QVERIFY(m_sent.commands().isEmpty());
    }

    // --- processing power ------------------------------------------------------------------

    void processingPowerByDspTypeAndRate()
    {
        ZunSignalSpy stats(m_zun.get(), &CZun::signal_ProcessingStats);
        // A rate a few hertz below 48 kHz counts as 48 kHz.
        m_zun->UpdateProcessingPower(47996, 0, 600, 1100);
        QCOMPARE(stats.takeFirst(), (QVariantList{48000, 600 * 100 / 3333, 1100 * 100 / 3333}));
        QCOMPARE(m_zun->GetFreeCycles(1), 3333 - 600);
        QCOMPARE(m_zun->GetFreeCycles(2), 3333 - 1100);
        QCOMPARE(m_zun->GetSampleRate(), 48000.0);

        setWord("Cmd_0_DSP_Type", 4897);
        m_zun->UpdateProcessingPower(96400, 0, 600, 1100);
        QCOMPARE(stats.takeFirst(), (QVariantList{96000, 600 * 100 / 2864, 1100 * 100 / 2864}));
        m_zun->UpdateProcessingPower(192000, 0, 600, 600);
        QCOMPARE(stats.takeFirst().at(1).toInt(), 600 * 100 / 1432);

        // No rate measured: no division by zero, the figures stay.
        m_zun->UpdateProcessingPower(0, 0, 600, 600);
        m_zun->UpdateProcessingPower(499, 0, 600, 600);
        QCOMPARE(stats.size(), 0);
        QCOMPARE(m_zun->GetSampleRate(), 192000.0);
        QCOMPARE(m_zun->GetFreeCycles(1), 1432 - 600);
    }

    // --- maintenance words ------------------------------------------------------------------

    void pinWordAndItsTwoSteps()
    {
        QCOMPARE(CZun::pinWord(1, 2, 3, 4), quint16(0x1234));
        QCOMPARE(CZun::pinWord(8, 8, 1, 8), quint16(0x8818));
        QVERIFY_EXCEPTION_THROWN(CZun::pinWord(0, 1, 1, 1), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(CZun::pinWord(1, 1, 1, 9), std::logic_error);
        m_zun->SetPin(0x1234u | 0x5678u << 16, 0x5678);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_Pin"), 0x1234}}));
        QVERIFY(m_sent.groups().first().commands().first().isSecret());
        // Not connected: the first step comes back unsent, and the change has ended
        // without a new PIN left to send.
        QTRY_COMPARE_WITH_TIMEOUT(img()->pendingPin(), quint16(0), 10000);
    }

    // The lower half goes only once the processor has taken the upper one: not connected,
    // the upper half comes back unsent and the change ends there.
    void ipAddressHighWordFirst()
    {
        ZunSignalSpy finished(img(), &CZunStatusBuffer::signal_IpChangeFinished);
        m_zun->SetIP(QHostAddress(QStringLiteral("192.168.1.15")).toIPv4Address());
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_IP_Hi"), 0xC0A8}}));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(finished.at(0).at(0).toInt(), int(CZunStatusBuffer::IpUnanswered));
        QVERIFY(!img()->isIpChangePending());
        QCOMPARE(m_sent.commands().size(), 1);
    }

    void deviceNameIsAlwaysTwentyFourBytes()
    {
        const QString longName = QStringLiteral("Front of house left main");
        m_zun->SaveDeviceName(longName + QStringLiteral("xxxxxx"));
        const CZunMetaCmd g = m_sent.groups().first();
        QCOMPARE(g.commands().at(0).getCmd(), quint16(0xFF00));
        QCOMPARE(g.commands().at(0).getValue(), quint16(24));
        QCOMPARE(g.commands().at(1).getCmd(), nr("Cmd_MemCopy"));
        QCOMPARE(g.commands().at(1).getValue(), nr("CmdS_SaveDeviceName"));
        // The name the window shows is the one the processor keeps.
        QCOMPARE(m_zun->GetName(), longName.left(CZun::DeviceNameLength));
        m_zun->SaveDeviceName(QStringLiteral("  B\u00FChne \u4E2D  "));
        QCOMPARE(m_zun->GetName(), QStringLiteral("B\u00FChne ?"));
        QCOMPARE(CZun::deviceNameBytes(longName), longName.left(23).toLatin1() + ' ');
        QCOMPARE(CZun::deviceNameBytes(QString()), QByteArray(24, ' '));
        // Characters outside Latin-1 are one byte each; Latin-1 ones read back unchanged.
        const QString wide = QString(30, QChar(0x4E2D));
        QCOMPARE(CZun::deviceNameBytes(wide).size(), 24);
        const QString accents = QStringLiteral("Sal\u00F3n M\u00FCnchen");
        QCOMPARE(QString::fromLatin1(CZun::deviceNameBytes(accents)).trimmed(), accents);
    }

    void keyLockAndDefaults()
    {
        m_zun->SetKeyLock(true);
        m_zun->SetKeyLock(false);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_KeyLock"), 1}, {nr("Cmd_KeyLock"), 255}}));
        setWord("Cmd_KeyLock", 255);
        QVERIFY(!m_zun->IsKeyLocked());
        setWord("Cmd_KeyLock", 1);
        QVERIFY(m_zun->IsKeyLocked());

        m_sent.clear();
        m_zun->RestoreDefaultSettings(false);
        QCOMPARE(m_sent.commands(), (Commands{{nr("Cmd_TCPCloseTime"), 0}, {nr("Cmd_SetupSelect"), 254}}));
        QVERIFY(!m_zun->IsTcpCheckOn());
        // The restore's report brings the keep-alive back even when it failed.
        m_sent.clear();
        ZunSignalSpy restored(m_zun.get(), &CZun::signal_DefaultSettingsRestored);
        m_zun->on_DefaultSettingsRestored(false);
        QVERIFY(m_zun->IsTcpCheckOn());
        QCOMPARE(m_sent.commands().first(), qMakePair(nr("Cmd_TCPCloseTime"), quint16(15)));
        QCOMPARE(restored.size(), 1);
    }

    void clockKeysFromTheMap()
    {
        const QMap<int, QString> clocks = m_zun->GetClockKeys();
        QVERIFY(clocks.contains(nr("Inf_Sel_Clk_48")));
        QCOMPARE(clocks.value(nr("Inf_Sel_Clk_96")), m_zun->GetCmdMap()->getStringConst("InfS_Sel_Clk_96"));
        QVERIFY(m_zun->GetExtClockKeys().contains(nr("Inf_Sel_ExtClk_AES")));
    }

    // --- routing configuration ----------------------------------------------------------------

    void routingConfigurationInItsOrder()
    {
        m_zun->SetRoutingPauseMs(0);
        const auto map = m_zun->GetCmdMap();
        const CZunRoutingPreset routing(map, QStringLiteral("Inf_RP_21"));
        const CZunInputPreset input(map, QStringLiteral("Inf_IR_21"));
        // Without a processor the FIR set step may fail; the order before it counts.
        m_zun->ApplyRoutingPreset(3, 1, 0, 0, 0, routing, QString(), QString(), input, ZunC::NoCopies,
                                  ZunC::NoCopies, true);
        QVERIFY(waitUntil([&]() { return !m_zun->IsApplyingRouting(); }));
        const Commands sent = m_sent.commands();
        const quint16 close = nr("Cmd_TCPCloseTime");
        // Kept settings: the keep-alive rested for the whole run (through the operations
        // list), the masters down before anything else, no defaults, four pauses.
        QCOMPARE(sent.mid(0, 3), (Commands{{close, 0},
                                           {nr("Cmd_0_MasterGain"), quint16(qint16(-400))},
                                           {nr("Cmd_1_MasterGain"), quint16(qint16(-400))}}));
        QCOMPARE(sent.mid(3, 5), (Commands{{close, 0}, {close, 0}, {close, 0}, {close, 0}, {nr("Cmd_ClockSel"), 3}}));
        const quint16 word = CZunRoutingWord::compose(routing.getNumber(), input.getNumber());
        QCOMPARE(sent.mid(10, 2), (Commands{{nr("Cmd_SPI_Routing"), word}, {nr("Cmd_DSP_Routing"), word}}));
        QCOMPARE(sent.mid(12, 2), (Commands{{close, 0}, {nr("Cmd_ExtClockSel"), 1}}));
        QVERIFY(!sent.contains({nr("Cmd_SetupSelect"), 254}));
    }

    // --- firmware update and erase -------------------------------------------------------------

    void missingFirmwareFileLeavesTheKeepAliveOn()
    {
        try {
            m_zun->UpdateFirmware(QStringLiteral("/nonexistent/zun.bin"));
            QFAIL("accepted");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("The firmware file /nonexistent/zun.bin was not found or can not be read. "
                                                      "Nothing was sent."));
        }
        QVERIFY(m_sent.commands().isEmpty());
        QVERIFY(m_zun->IsTcpCheckOn());
    }

    void eraseAndItsCompletion()
    {
        m_zun->EraseFlashMemory();
        const quint16 close = nr("Cmd_TCPCloseTime");
        QCOMPARE(m_sent.commands(), (Commands{{close, 0}, {close, 0}, {nr("Cmd_BulkEraseF"), 0}, {close, 15}}));
        QVERIFY(!m_zun->IsTcpCheckOn());

        m_sent.clear();
        ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
        m_zun->on_FlashMemoryErased(true);
        const Commands sent = m_sent.commands();
        QCOMPARE(sent.first(), qMakePair(quint16(72), quint16(0)));
        QVERIFY(sent.contains({nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")}));
        QVERIFY(sent.contains({nr("Cmd_MemCopy"), nr("CmdS_CopyMemDir2RxTxBuf")}));
        QCOMPARE(sent.last(), qMakePair(close, quint16(15)));
        QVERIFY(m_zun->IsTcpCheckOn());
        QCOMPARE(erased.takeFirst().at(0).toBool(), true);

        // A failed erase re-reads nothing but still brings the keep-alive back.
        m_zun->EraseFlashMemory();
        m_sent.clear();
        m_zun->on_FlashMemoryErased(false);
        QCOMPARE(m_sent.commands(), (Commands{{close, 15}}));
        QCOMPARE(erased.takeFirst().at(0).toBool(), false);
    }

    void everyEraseIsReportedWhenTheMapCannotTellThemApart()
    {
        QVERIFY(CZunStatusBuffer::isFactoryErase(true, 1, 0));
        QVERIFY(!CZunStatusBuffer::isFactoryErase(true, 1, 1));
        QVERIFY(CZunStatusBuffer::isFactoryErase(false, 0, 0));
        QVERIFY(CZunStatusBuffer::isFactoryErase(false, 0, 1));
    }

    void garbageCollectionNeedsADeviceFolder()
    {
        // No device folder before the first connection: nothing is backed up or erased.
        ZunSignalSpy failed(m_zun.get(), &CZun::signal_exception);
        m_zun->doGarbageCollection();
        QCOMPARE(failed.size(), 1);
        QVERIFY(m_sent.commands().isEmpty());
        QVERIFY(!m_zun->IsRestorePending());
    }

    // Each of the eight outputs and input paths, on either DSP, reads and writes words of
    // its own: linked, an output also writes its partner on the other DSP.
    void everyChannelReachesItsOwnWords()
    {
        for (const bool linked : {false, true}) {
            link(linked);
            for (int i = 0; i < 8; ++i) {
                const auto out = [i](const char* p, int dsp) {
                    return QStringLiteral("Cmd_%1_%2").arg(dsp).arg(p) + QString::number(i % 4);
                };
                const auto path = [](const char* p, int n) {
                    return QStringLiteral("Cmd_%1_%2").arg(n / 4).arg(p) + QChar('A' + n);
                };
                m_sent.clear();
                m_zun->SetChannelPhaseInversion(ZunC::AnalogOutputs(i), true);
                m_zun->MuteInputPath(ZunC::InputPaths(i), true);
                Commands expected {{nr(out("ChPhInv", i / 4)), 1}};
                if (linked)
                    expected.append({nr(out("ChPhInv", 1 - i / 4)), 1});
                expected.append({nr(path("InMute", i)), 1});
                if (linked && i < 2)
                    expected.append({nr(path("InMute", 1 - i)), 1});
                QCOMPARE(m_sent.commands(), expected);

                setWord(out("ChMute", i / 4), 1);
                setWord(path("InGain", i), quint16(-25));
                QVERIFY(m_zun->IsChannelMuted(ZunC::AnalogOutputs(i)));
                QVERIFY(near(m_zun->GetInputPathGain(ZunC::InputPaths(i)), -2.5));
                setWord(out("ChMute", i / 4), 0);
                setWord(path("InGain", i), 0);
            }
        }
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
