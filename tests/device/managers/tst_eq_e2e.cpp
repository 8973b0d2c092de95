// EQs and crossover filters of a device object against the emulator, through the real
// link on loopback: writes reach the processor's image and come back into the device's.
#include "TcpSimProcess.h"
#include "CEQManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunOutput.h"
#include "CZunStatusBuffer.h"
// The emulator process helper of the protocol tests.
#include "ZunBaseComm.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

#include <cmath>

using namespace DeviceTestRig;

class TestEQE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    CEQManager* eq() const { return m_zun->GetEQManager(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    quint16 word(int c) const { return img()->getValue(quint16(c)); }

    void start(const QStringList& extra = {})
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start(QStringList{"--serial", "42", "--firmware", "1080", "--hardware", "0x0F80"} + extra), qPrintable(m_sim->error()));
        // eight analog outputs, so that every channel slot has its channel
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.get());
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    void settle()
    {
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QTest::qWait(50);
        QCoreApplication::processEvents();
    }
    // A fresh read of the processor's whole image (the manager rebuilds from it).
    void reread()
    {
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    void link()
    {
        m_zun->SendCmd(nr("Cmd_SetupFlags"), 2);
        QVERIFY(waitUntil([&]() { return img()->isLinked(); }));
    }
    static double magnitudeAt(CZunAbstractFrequencyResponse* r, double f)
    {
        // linear in log frequency between the grid points around f
        const QVector<double> m = *r->getMagnitude();
        const QVector<double> fs = *r->getFrequencies();
        for (int i = 1; i < fs.size(); ++i)
            if (fs[i] >= f) {
                const double t = std::log(f / fs[i - 1]) / std::log(fs[i] / fs[i - 1]);
                return m[i - 1] + t * (m[i] - m[i - 1]);
            }
        return m.last();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
    }
    void cleanup()
    {
        m_zun.reset();
        m_sim.reset();
    }

    void newEQReachesTheProcessorAndComesBack()
    {
        start();
        int slot = 2;
        bool section = false;
        QPointer<CZunBiquad> b = eq()->CreateEQ(slot, section);
        const int n = b->getNumber();
        b->setType(nr("Inf_Sel_Typ_EQ_Peak"));
        b->setFrequency(250.0f);
        b->setGain(-6.0f);
        b->setQuality(2.0f);
        b->setBypass(false);
        m_sent.clear();
        b->writeToDevice(false);
        const quint16 base = eq()->eqRecordBase(n);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{quint16(base + 4), 2},
                                                                   {base, 0x8004},
                                                                   {quint16(base + 1), 500},
                                                                   {quint16(base + 2), 800},
                                                                   {quint16(base + 3), 0xFFC4}}));
        settle();
        QCOMPARE(word(base + 3), quint16(0xFFC4));
        QCOMPARE(word(base + 2), quint16(800));
        QVERIFY(b);
        QCOMPARE(b->getGain(), -6.0);
        QVERIFY(std::abs(magnitudeAt(b, 250.0) + 6.0) < 0.2);
        // the processor holds it: a full re-read brings the same EQ back on its channel
        reread();
        QVERIFY(eq()->IsEQUsed(n));
        CZunBiquad* again = eq()->GetZunBiquad(n);
        QCOMPARE(again->getFrequency(), 250.0);
        QCOMPARE(again->getQuality(), 2.0);
        QCOMPARE(eq()->GetEQsOfChannel(2).size(), 1);
        QCOMPARE(eq()->GetNrUsedEQsOfChannel(2), 1);
    }

    void refusedTypeWordLeavesTheRecord()
    {
        start();
        int slot = 0;
        bool section = false;
        QPointer<CZunBiquad> b = eq()->CreateEQ(slot, section);
        const int n = b->getNumber();
        const quint16 base = eq()->eqRecordBase(n);
        b->setFrequency(100.0f);
        b->setGain(3.0f);
        b->writeToDevice(false);
        settle();
        const QList<quint16> before{word(base), word(base + 1), word(base + 2), word(base + 3), word(base + 4)};
        b->setType(0x3FFF); // no such type: the processor refuses the type word
        b->setFrequency(200.0f);
        b->setGain(-3.0f);
        b->writeToDevice(false);
        settle();
        const QList<quint16> after{word(base), word(base + 1), word(base + 2), word(base + 3), word(base + 4)};
        QCOMPARE(after, before);
        // and so does the processor, which got the image's record back
        reread();
        QCOMPARE((QList<quint16>{word(base), word(base + 1), word(base + 2), word(base + 3), word(base + 4)}), before);
        QCOMPARE(eq()->GetZunBiquad(n)->getFrequency(), 100.0);
    }

    void linkwitzRileyTakesTwoSectionsAndGivesThemBack()
    {
        start();
        int slot = 3;
        QPointer<CZunHighOrderFilter> f = eq()->CreateHighOrderFilter(slot);
        const int m = f->getNumber();
        f->setPassband(0);
        f->setCharacteristic(nr("Inf_Sel_Char_HOF_LinkRiley"));
        f->setOrder(4);
        f->SetFrequency(1000.0f);
        f->rebuild();
        settle();
        QCOMPARE(f->sections().size(), 2);
        QVERIFY2(std::abs(magnitudeAt(f, 1000.0) + 6.02) < 0.02, qPrintable(QString::number(magnitudeAt(f, 1000.0))));
        const QList<CZunBiquad*> sections = f->sections();
        const int s0 = sections[0]->getNumber(), s1 = sections[1]->getNumber();
        reread();
        QVERIFY(eq()->IsHighOrderFilterUsed(m));
        CZunHighOrderFilter* g = eq()->GetZunHighOrderFilter(m);
        QCOMPARE(g->sections().size(), 2);
        QVERIFY(eq()->IsEQUsed(s0) && eq()->IsEQUsed(s1));
        QVERIFY(std::abs(magnitudeAt(g, 1000.0) + 6.02) < 0.05);
        eq()->DeleteHighOrderFilter(g, true);
        settle();
        QVERIFY(!eq()->IsHighOrderFilterUsed(m) && !eq()->IsEQUsed(s0) && !eq()->IsEQUsed(s1));
        reread();
        QVERIFY(!eq()->IsHighOrderFilterUsed(m));
        QVERIFY(!eq()->IsEQUsed(s0) && !eq()->IsEQUsed(s1));
        QCOMPARE(eq()->CountHighOrderFilters(-1), 0);
    }

    void linkedWritesReachThePartner()
    {
        start();
        link();
        int slot = 1;
        bool section = false;
        ZunSignalSpy announced(eq(), &CEQManager::signal_NewEQ);
        QPointer<CZunBiquad> b = eq()->CreateEQ(slot, section);
        QCOMPARE(announced.count(), 2);
        QPointer<CZunBiquad> partner = announced.at(1).at(0).value<CZunBiquad*>();
        QCOMPARE(partner->getBank(), quint16(7));
        b->setFrequency(4000.0f);
        b->setGain(4.5f);
        b->setBypass(false);
        b->writeToDevice(false);
        settle();
        // the partner record got the same words, and its object follows the replies
        const quint16 pb = eq()->eqRecordBase(partner->getNumber());
        QCOMPARE(word(pb + 1), quint16(8000));
        QCOMPARE(word(pb + 3), quint16(45));
        QCOMPARE(word(pb + 4), quint16(1));
        QTRY_COMPARE(partner->getGain(), 4.5);
        QCOMPARE(partner->getFrequency(), 4000.0);
        // a filter written on one side: the partner filter takes its values and is written
        int fs = 2, ps = 8;
        QPointer<CZunHighOrderFilter> f = eq()->CreateHighOrderFilter(fs);
        QPointer<CZunHighOrderFilter> pf = eq()->CreateHighOrderFilter(ps);
        f->setPassband(1);
        f->SetFrequency(120.0f);
        f->rebuild();
        settle();
        QTRY_COMPARE(pf->getFrequency(), 120.0);
        QCOMPARE(pf->getPassband(), quint16(1));
        settle();
        QCOMPARE(word(eq()->filterRecordBase(pf->getNumber()) + 1), quint16(120));
        QCOMPARE(pf->sections().size(), 2);
    }
    void channelResponsesFollowTheProcessor()
    {
        start();
        CZunOutput* output = m_zun->GetRoutingManager()->GetOutput(2);
        QVERIFY(output);
        // a new EQ on an output: five words to the processor, back into the image and the
        // channel's response
        QPointer<CZunBiquad> b = output->NewEQ();
        const quint16 base = eq()->eqRecordBase(b->getNumber());
        b->setFrequency(250.0f);
        b->setGain(-6.0f);
        b->setQuality(2.0f);
        b->setBypass(false);
        m_sent.clear();
        b->writeToDevice(false);
        QCOMPARE(m_sent.commands().size(), 5);
        settle();
        QCOMPARE(word(base + 1), quint16(500));
        QCOMPARE(word(base + 3), quint16(0xFFC4));
        QVERIFY(output->hasResponse(b));
        const double flat = magnitudeAt(output, 20000.0);
        QVERIFY(std::abs(magnitudeAt(output, 250.0) - flat + 6.0) < 0.2);
        output->RemoveAllEQs();
        settle();
        // a 4th-order Linkwitz-Riley low pass: two sections, -6.02 dB at the corner with the
        // output's and its input's gains at 0 dB
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output2), 0.0f);
        QPointer<CZunHighOrderFilter> f = output->NewHighOrderFilter();
        f->setCharacteristic(nr("Inf_Sel_Char_HOF_LinkRiley"));
        f->setOrder(4);
        f->SetFrequency(1000.0f);
        f->rebuild();
        settle();
        QCOMPARE(f->sections().size(), 2);
        QCOMPARE(output->GetHighOrderFilterList().size(), 1);
        QVERIFY2(std::abs(magnitudeAt(output, 1000.0) + 6.02) < 0.02, qPrintable(QString::number(magnitudeAt(output, 1000.0))));
        // a gain report changes the response
        m_zun->SetChannelGain(-3.0, ZunC::Output2);
        settle();
        QTRY_VERIFY(std::abs(magnitudeAt(output, 1000.0) + 9.02) < 0.02);
    }

    void parameterRepliesAnnounceWhatTheProcessorHolds()
    {
        start();
        ZunSignalSpy gain(m_zun.get(), &CZun::signal_ChannelGain);
        ZunSignalSpy mute(m_zun.get(), &CZun::signal_ChannelMute);
        ZunSignalSpy path(m_zun.get(), &CZun::signal_InputPathGain);
        ZunSignalSpy lock(m_zun.get(), &CZun::signal_FrontPanelLocked);
        m_zun->SetChannelGain(-4.5, ZunC::Output5);
        settle();
        QCOMPARE(gain.count(), 1);
        QCOMPARE(gain.at(0).at(0).value<ZunC::AnalogOutputs>(), ZunC::Output5);
        QVERIFY(qFuzzyCompare(gain.at(0).at(1).toDouble(), -4.5));
        // a word the processor refuses: the value it still holds is announced
        m_zun->SendCmd(nr("Cmd_1_ChGain1"), 0x7FFF);
        settle();
        QCOMPARE(gain.count(), 2);
        QVERIFY(qFuzzyCompare(gain.at(1).at(1).toDouble(), -4.5));
        QCOMPARE(img()->getValue(nr("Cmd_1_ChGain1")), quint16(qint16(-45)));
        m_zun->SetInputPathGain(2.0, ZunC::PathC);
        settle();
        QCOMPARE(path.count(), 1);
        QCOMPARE(path.at(0).at(0).value<ZunC::InputPaths>(), ZunC::PathC);
        QCOMPARE(mute.count(), 0);
        QCOMPARE(lock.count(), 0);
    }
};

QTEST_MAIN(TestEQE2E)
#include "tst_eq_e2e.moc"
