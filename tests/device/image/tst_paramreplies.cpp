// Replies to the audio parameters fed to the reply dispatcher: what the image keeps and
// which change signals the device object raises.
#include "CEQManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunImageDefaults.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtEndian>
#include <QtTest>

using namespace DeviceTestRig;

namespace
{
CZunCmd reply(quint16 id, quint16 value, quint16 word, bool refused = false)
{
    CZunCmd c(id, value);
    QByteArray b(2, '\0');
    qToLittleEndian<quint16>(word, reinterpret_cast<uchar*>(b.data()));
    c.setReply(b);
    if (refused)
        c.setError();
    c.setDone();
    return c;
}
} // namespace

class TestParamReplies : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    std::vector<std::unique_ptr<ZunSignalSpy>> m_spies;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    CEQManager* eq() const { return m_zun->GetEQManager(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    quint16 word(quint16 c) const { return img()->getValue(c); }

    void feed(const CZunCmd& cmd)
    {
        QVERIFY(QMetaObject::invokeMethod(img(), "cmdCallback", Qt::BlockingQueuedConnection, Q_ARG(CZunCmd, cmd)));
        // The device announces the values in its own thread: let it take the call.
        QCoreApplication::sendPostedEvents(m_zun.get(), QEvent::MetaCall);
    }
    // The processor took value for c (a write's reply echoes it).
    void ok(quint16 c, quint16 value) { feed(reply(c, value, value)); }
    void refused(quint16 c, quint16 value) { feed(reply(c, value, 0xE002, true)); }

    void makeDevice(quint16 fw, quint32 hardware)
    {
        m_zun.reset(new CZun(record(fw, 42, 0, hardware), map(fw), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        img()->setImage(CZunImageDefaults::defaultImageBytes(fw));
        QCoreApplication::processEvents();
        eq()->Rebuild();
        QTest::qWait(20);
        m_sent.clear();
        m_sent.attach(m_zun.get());
        // one spy per change signal of the device object, and the link flag
        m_spies.clear();
        const QMetaObject* mo = m_zun->metaObject();
        for (const char* s : {"signal_MasterGain(int,double)", "signal_MasterDelay(int,CZunDelay)",
                              "signal_MasterMute(bool)", "signal_ChannelGain(ZunC::AnalogOutputs,double)",
                              "signal_ChannelDelay(ZunC::AnalogOutputs,CZunDelay)",
                              "signal_ChannelMute(ZunC::AnalogOutputs,bool)",
                              "signal_ChannelInvert(ZunC::AnalogOutputs,bool)",
                              "signal_InputPathGain(ZunC::InputPaths,double)",
                              "signal_InputPathDelay(ZunC::InputPaths,CZunDelay)",
                              "signal_InputPathMute(ZunC::InputPaths,bool)", "signal_FrontPanelLocked(bool)"}) {
            const int i = mo->indexOfSignal(s);
            QVERIFY2(i >= 0, s);
            m_spies.emplace_back(new ZunSignalSpy(m_zun.get(), QByteArray("2") + s));
        }
        m_spies.emplace_back(new ZunSignalSpy(img(), &CZunStatusBuffer::signal_LinkChanged));
    }

    // The single signal raised since the last call (by spy index), and no other.
    QList<QVariant> only(int index)
    {
        QList<QVariant> args;
        for (int i = 0; i < int(m_spies.size()); ++i) {
            const int expected = i == index ? 1 : 0;
            if (m_spies[i]->count() != expected) {
                qWarning() << "signal" << i << "raised" << m_spies[i]->count() << "times";
                return {QStringLiteral("wrong")};
            }
            if (i == index)
                args = m_spies[i]->takeFirst();
        }
        return args;
    }
    bool none()
    {
        for (auto& s : m_spies)
            if (s->count() != 0)
                return false;
        return true;
    }
    enum { MasterGain, MasterDelay, MasterMute, ChGain, ChDelay, ChMute, ChInvert, InGain, InDelay, InMute, Lock, Link };

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
    }
    void init() { makeDevice(1080, 0xFF94); }
    void cleanup()
    {
        m_spies.clear();
        m_zun.reset();
    }

    void masterWordsAndKeyLock()
    {
        ok(nr("Cmd_0_MasterGain"), 0xFFF6);
        QCOMPARE(word(nr("Cmd_0_MasterGain")), quint16(0xFFF6));
        QCOMPARE(word(nr("Cmd_1_MasterGain")), quint16(0xFFF6));
        auto a = only(MasterGain);
        QCOMPARE(a.value(0).toInt(), 1);
        QVERIFY(qFuzzyCompare(a.value(1).toDouble(), -1.0));
        // refused: nothing stored, the image's value announced again
        refused(nr("Cmd_0_MasterGain"), 5);
        QCOMPARE(word(nr("Cmd_0_MasterGain")), quint16(0xFFF6));
        QVERIFY(qFuzzyCompare(only(MasterGain).value(1).toDouble(), -1.0));
        // a master delay in units of the delay factor
        ok(nr("Cmd_1_MasterDelay"), 24);
        a = only(MasterDelay);
        QCOMPARE(a.value(0).toInt(), 2);
        QVERIFY(qFuzzyCompare(a.value(1).value<CZunDelay>().seconds(), 24.0 * img()->masterDelayFactor() / 96000.0));
        ok(nr("Cmd_KeyLock"), 1);
        QCOMPARE(only(Lock).value(0).toBool(), true);
        ok(nr("Cmd_KeyLock"), 255);
        QCOMPARE(only(Lock).value(0).toBool(), false);
        // one board: DSP 1's words are stored and not announced
        makeDevice(1080, 0);
        ok(nr("Cmd_1_MasterDelay"), 7);
        QCOMPARE(word(nr("Cmd_1_MasterDelay")), quint16(7));
        ok(nr("Cmd_1_MasterGain"), 7);
        QVERIFY(none());
    }

    void channelAndInputWords()
    {
        ok(nr("Cmd_0_ChGain2"), 30);
        auto a = only(ChGain);
        QCOMPARE(a.value(0).value<ZunC::AnalogOutputs>(), ZunC::Output2);
        QVERIFY(qFuzzyCompare(a.value(1).toDouble(), 3.0));
        ok(nr("Cmd_1_ChGain0"), 0xFFFF);
        a = only(ChGain);
        QCOMPARE(a.value(0).value<ZunC::AnalogOutputs>(), ZunC::Output4);
        QVERIFY(qFuzzyCompare(a.value(1).toDouble(), -0.1));
        ok(nr("Cmd_1_ChDelay3"), 96);
        a = only(ChDelay);
        QCOMPARE(a.value(0).value<ZunC::AnalogOutputs>(), ZunC::Output7);
        QVERIFY(qFuzzyCompare(a.value(1).value<CZunDelay>().milliseconds(), 1.0));
        ok(nr("Cmd_0_ChMute1"), 1);
        QCOMPARE(only(ChMute).value(1).toBool(), true);
        refused(nr("Cmd_0_ChPhInv0"), 1);
        QCOMPARE(only(ChInvert).value(1).toBool(), false);
        QCOMPARE(word(nr("Cmd_0_ChPhInv0")), quint16(0));
        ok(nr("Cmd_1_InGainF"), 20);
        a = only(InGain);
        QCOMPARE(a.value(0).value<ZunC::InputPaths>(), ZunC::PathF);
        QVERIFY(qFuzzyCompare(a.value(1).toDouble(), 2.0));
        ok(nr("Cmd_0_InMuteD"), 1);
        QCOMPARE(only(InMute).value(0).value<ZunC::InputPaths>(), ZunC::PathD);
        ok(nr("Cmd_0_InDelayA"), 48);
        QCOMPARE(only(InDelay).value(0).value<ZunC::InputPaths>(), ZunC::PathA);
        // master mute: a change of either DSP's word is announced, with "muted while either is"
        ok(nr("Cmd_0_MasterMute"), 1);
        QCOMPARE(only(MasterMute), QList<QVariant> {true});
        ok(nr("Cmd_0_MasterMute"), 1);
        QVERIFY(none());
        ok(nr("Cmd_1_MasterMute"), 1);
        QCOMPARE(only(MasterMute), QList<QVariant> {true});
        ok(nr("Cmd_0_MasterMute"), 0);
        QCOMPARE(only(MasterMute), QList<QVariant> {true});
        QCOMPARE(word(nr("Cmd_1_MasterMute")), quint16(1));
    }

    void linkFlagAnnouncedOnChange()
    {
        ok(nr("Cmd_SetupFlags"), 2);
        QCOMPARE(only(Link).value(0).toBool(), true);
        ok(nr("Cmd_SetupFlags"), 3); // bit 0 changes: the unchanged link state again
        QCOMPARE(only(Link).value(0).toBool(), true);
        ok(nr("Cmd_SetupFlags"), 3);
        QVERIFY(none());
        ok(nr("Cmd_String2App"), 9);
        QCOMPARE(word(nr("Cmd_String2App")), quint16(9));
        QVERIFY(none());
    }

    void eqRecordIsWrittenWholeOnItsGainWord()
    {
        const quint16 b = eq()->eqRecordBase(3);
        const QByteArray before = img()->toByteArray();
        // 29 quality steps: a word rebuilt from 29 x 0.0025 through floating point would lose one
        ok(b + 4, 2);
        ok(b, 0x0004);
        ok(b + 1, 2001);
        ok(b + 2, 29);
        QCOMPARE(img()->toByteArray(), before);
        ZunSignalSpy announced(eq(), &CEQManager::signal_EQDeleted);
        ok(b + 3, 0xFFF1);
        QCOMPARE(word(b), quint16(4));
        QCOMPARE(word(b + 1), quint16(2001));
        QCOMPARE(word(b + 2), quint16(29));
        QCOMPARE(word(b + 3), quint16(0xFFF1));
        QCOMPARE(word(b + 4), quint16(2));
        // number 3 is free in the manager: the views are told
        QTRY_COMPARE(announced.count(), 1);
        QCOMPARE(announced.at(0).at(0).toInt(), 3);
        QVERIFY(none());
    }

    void refusedTypeWordPutsTheImageRecordBack()
    {
        const quint16 b = eq()->eqRecordBase(4);
        const QByteArray before = img()->toByteArray();
        ok(b + 4, 1);
        refused(b, 0x3FFF);
        ok(b + 1, 100);
        ok(b + 2, 200);
        ok(b + 3, 30);
        QCOMPARE(img()->toByteArray(), before);
        // the processor gets the image's five words again
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{quint16(b + 4), word(b + 4)},
                                                                   {b, word(b)},
                                                                   {quint16(b + 1), word(b + 1)},
                                                                   {quint16(b + 2), word(b + 2)},
                                                                   {quint16(b + 3), word(b + 3)}}));
        // a refused gain word alone stores and sends nothing
        m_sent.clear();
        ok(b, 0x0004);
        refused(b + 3, 30);
        QCOMPARE(img()->toByteArray(), before);
        QVERIFY(m_sent.commands().isEmpty());
    }

    void filterRecordOnTheSecondDSP()
    {
        const int m = eq()->filterCount() + 1;
        const quint16 b = eq()->filterRecordBase(m);
        const QByteArray before = img()->toByteArray();
        ok(b, 0x8000 | 1 << 12 | 2 << 8 | 4 << 4 | 2); // high pass, local channel 2, order 4, Butterworth
        ok(b + 1, 250);
        ok(b + 2, 0x7271);
        ok(b + 3, 0xFFFF);
        QCOMPARE(img()->toByteArray(), before);
        refused(b + 4, 0x03FF);
        QCOMPARE(img()->toByteArray(), before);
        ok(b + 4, 0x03FF);
        QCOMPARE(word(b), quint16(0x8000 | 0x1242));
        QCOMPARE(word(b + 1), quint16(250));
        QCOMPARE(word(b + 2), quint16(0x7271));
        QCOMPARE(word(b + 4), quint16(0x03FF));
        HO_FILTER_PARAMS p;
        p.number = quint16(m);
        eq()->GetHighOrderFilter(p);
        QCOMPARE(p.bank, quint16(8));
        QCOMPARE(p.ripple, 0.3);
    }

    void linkedPartnerFilterFollowsWithTheFiltersOwnBypass()
    {
        img()->setValue(nr("Cmd_SetupFlags"), 2);
        int slot = 1;
        CZunHighOrderFilter* f = eq()->CreateHighOrderFilter(slot);
        int partnerSlot = 7;
        CZunHighOrderFilter* partner = eq()->CreateHighOrderFilter(partnerSlot);
        QCOMPARE(int(partner->getNumber()), int(f->getNumber()) + eq()->filterCount());
        partner->setBypass(true);
        // the processor answers the filter's record: LR4 high pass at 300 Hz, no sections
        const quint16 b = eq()->filterRecordBase(f->getNumber());
        for (auto w : {qMakePair(0, 0x1148), qMakePair(1, 300), qMakePair(2, 0xFFFF), qMakePair(3, 0xFFFF),
                       qMakePair(4, 0x01FF)})
            ok(quint16(b + w.first), quint16(w.second));
        QTRY_COMPARE(partner->getFrequency(), 300.0);
        QCOMPARE(partner->getPassband(), quint16(1));
        QCOMPARE(partner->getBank(), quint16(7));
        // the replies carry no bypass state: the partner takes the filter's own
        QVERIFY(!f->isBypassed());
        QVERIFY(!partner->isBypassed());
        // and it was written to the processor on its own record
        QVERIFY(m_sent.count(eq()->filterRecordBase(partner->getNumber())) > 0);
    }
};

QTEST_MAIN(TestParamReplies)
#include "tst_paramreplies.moc"
