// The EQ manager of a device object that is not connected: records decoded from image
// words put there by the test, the command groups it writes, counting and capacity.
#include "CEQManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

using namespace DeviceTestRig;

class TestEQManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    CEQManager* eq() const { return m_zun->GetEQManager(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    int N() const { return m_zun->GetCmdMap()->getIntConst("Inf_DSP_EQ_AnzSet"); }

    // The map's version may differ from the device's firmware (the tables start at 1075).
    void makeDevice(quint16 fw, quint16 mapVersion = 0)
    {
        if (mapVersion == 0)
            mapVersion = fw;
        m_zun.reset(new CZun(record(fw, 42), map(mapVersion), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        // A fresh processor's image: every record free.
        img()->setImage(CZunImageDefaultsBytes(mapVersion));
        QCoreApplication::processEvents();
        eq()->Rebuild();
        m_sent.clear();
        m_sent.attach(m_zun.get());
    }
    static QByteArray CZunImageDefaultsBytes(quint16 fw);

    void putEQ(int n, quint16 w0, quint16 w1, quint16 w2, quint16 w3, quint16 w4)
    {
        const quint16 b = eq()->eqRecordBase(n);
        const quint16 w[5] = {w0, w1, w2, w3, w4};
        for (int i = 0; i < 5; ++i)
            img()->setValue(quint16(b + i), w[i]);
    }
    void putFilter(int m, quint16 w0, quint16 w1, quint16 w2, quint16 w3, quint16 w4)
    {
        const quint16 b = eq()->filterRecordBase(m);
        const quint16 w[5] = {w0, w1, w2, w3, w4};
        for (int i = 0; i < 5; ++i)
            img()->setValue(quint16(b + i), w[i]);
    }
    EQ_PARAMS decode(int n)
    {
        EQ_PARAMS p;
        p.number = quint16(n);
        eq()->GetEQ(p);
        return p;
    }
    void link(bool on) { img()->setValue(nr("Cmd_SetupFlags"), on ? 2 : 0); }
    static QString failure(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::logic_error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
    }
    void init() { makeDevice(1080); }
    void cleanup() { m_zun.reset(); }

    void recordsDecodeWithTheFirmwareSteps()
    {
        // EQ number N is the first of DSP 1; the gain word is signed; quality 29 steps.
        putEQ(N(), 0x0004, 2001, 29, 0xFFFF, 3);
        EQ_PARAMS p = decode(N());
        QCOMPARE(p.bank, quint16(9));
        QCOMPARE(p.frequency, 1001.0); // from 1075 shown in whole hertz
        QCOMPARE(p.gain, -0.1);
        QVERIFY(qFuzzyCompare(p.quality, 0.0725));
        QVERIFY(p.active);
        QVERIFY(!p.flag);
        putEQ(0, 0xC000 | 5, 200, 1600, 60, 0); // low shelve 6 dB, +6 dB, 100 Hz, bypassed, flag
        p = decode(0);
        QVERIFY(!p.active && p.flag);
        QCOMPARE(p.type, quint16(5));
        // from 1075 the shown corner differs from the stored one
        const double shown = CEQManager::ShelfFrequencyFromDevice(100.0, 6.0, 5, 96000.0);
        QCOMPARE(p.frequency, shown);
        QVERIFY(shown > 130 && shown < 150);
        QVERIFY(std::abs(CEQManager::ShelfFrequencyToDevice(shown, 6.0, 5, 96000.0) - 100.0) <= 0.5);
        // a shelf without gain only gets rounded; other types pass unchanged
        QCOMPARE(CEQManager::ShelfFrequencyFromDevice(1234.4, 0.0, 5, 96000.0), 1234.0);
        QCOMPARE(CEQManager::ShelfFrequencyToDevice(1234.3, 0.0, 5, 96000.0), 1234.5);
        QCOMPARE(CEQManager::ShelfFrequencyToDevice(1234.3, 6.0, 4, 96000.0), 1234.3);
        // every firmware's steps
        for (quint16 v : CCmdMap::versions()) {
            makeDevice(v);
            putEQ(1, 0x0004, 2001, 29, 0xFFFF, 3);
            const EQ_PARAMS e = decode(1);
            QCOMPARE(e.frequency, std::floor(2001 * eq()->stepEQFrequency() + 0.5));
            QVERIFY(qFuzzyCompare(e.quality, 29 * 0.0025));
            QCOMPARE(e.gain, -0.1);
        }
        // before 1075 the stored corner is the shown one
        makeDevice(1072, 1075);
        putEQ(0, 0xC000 | 5, 200, 1600, 60, 0);
        QCOMPARE(decode(0).frequency, 100.0);
        EQ_PARAMS q = decode(0);
        QCOMPARE(eq()->GetShelfResponseFrequency(q), 100.0);
    }

    void writesEncodeEveryWordAndMirrorToTheLinkedPartner()
    {
        EQ_PARAMS p = decode(5);
        p.type = nr("Inf_Sel_Typ_EQ_Peak");
        p.frequency = 1000.0;
        p.gain = -0.05; // R(-0.5, 0.1) = -0.5: truncated to 0
        p.quality = 0.7025;
        p.active = true;
        p.flag = false;
        p.bank = 2;
        eq()->SetEQ(p, false);
        const quint16 b = eq()->eqRecordBase(5);
        QList<QPair<quint16, quint16>> expected{{quint16(b + 4), 2}, {b, 4}, {quint16(b + 1), 2000},
                                                {quint16(b + 2), 281}, {quint16(b + 3), 0}};
        QCOMPARE(m_sent.commands(), expected);
        // linked: the same five words to the partner's record, same local channel
        m_sent.clear();
        link(true);
        p.gain = -3.0;
        eq()->SetEQ(p, false);
        const auto sent = m_sent.commands();
        QCOMPARE(sent.size(), 10);
        const quint16 pb = eq()->eqRecordBase(5 + N());
        QCOMPARE(sent[4], qMakePair(quint16(b + 3), quint16(0xFFE2)));
        QCOMPARE(sent[5], qMakePair(quint16(pb + 4), quint16(2)));
        QCOMPARE(sent[9], qMakePair(quint16(pb + 3), quint16(0xFFE2)));
        // a neutral write keeps the frequency word: four words per record
        m_sent.clear();
        link(false);
        eq()->SetEQ(p, true);
        QCOMPARE(m_sent.commands().size(), 4);
        QVERIFY(m_sent.count(quint16(b + 1)) == 0);
        // refused values send nothing
        m_sent.clear();
        p.quality = 0.01;
        QCOMPARE(failure([&] { eq()->SetEQ(p, false); }),
                 QStringLiteral("Quality value of 0.01 is out of bounds. Valid values are between 0.1 and 100."));
        p.quality = 1.0;
        p.gain = 13.0;
        QCOMPARE(failure([&] { eq()->SetEQ(p, false); }),
                 QStringLiteral("EQ-Gain value of 13 is out of bounds. Valid values are between -99 and 12."));
        QCOMPARE(failure([&] { eq()->ActivateEQ(p); }),
                 QStringLiteral("Gain value of 13 is out of bounds. Valid values are between -99 and 12."));
        p.bank = 12;
        QCOMPARE(failure([&] { eq()->SetEQ(p, false); }), QStringLiteral("CEQManager::SetEQ(): invalid bank number"));
        QVERIFY(m_sent.commands().isEmpty());
        // switching on writes channel, type word and gain
        p.bank = 2;
        p.gain = 1.0;
        eq()->DeactivateEQ(p);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{quint16(b + 4), 2}, {b, 0x4004}, {quint16(b + 3), 10}}));
        QVERIFY(!p.active);
    }

    void countingAndAllocationLimits()
    {
        // 20 used EQs on slot 3 leave no EQ for it, while the DSP has plenty.
        for (int n = 0; n < 20; ++n)
            putEQ(n, 4, 2000, 280, 10, 3);
        eq()->Rebuild();
        QCOMPARE(eq()->GetNrUsedEQsOfChannel(3), 20);
        QCOMPARE(eq()->GetNrFreeEQs(3), N() - 20);
        int slot = 3;
        QCOMPARE(failure([&] { eq()->NewEQ(slot); }), QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
        slot = 2;
        QCOMPARE(eq()->NewEQ(slot), 20);
        slot = 12;
        QCOMPARE(failure([&] { eq()->NewEQ(slot); }), QStringLiteral("CEQManager::NewEQ(): invalid bank number"));
        QCOMPARE(eq()->CountActiveEQs(-1), 20);
        QCOMPARE(eq()->GetEQsOfChannel(3).size(), 20);
        // the processing capacity limits the free count
        ZunSignalSpy available(eq(), &CEQManager::signal_AvailableEQsChanged);
        eq()->CalculateAvailableEQs(1000, 17);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toInt(), 53);
        QCOMPARE(available.at(0).at(1).toInt(), -2);
        QCOMPARE(eq()->GetNrFreeEQs(2), 53);
        slot = 7;
        QCOMPARE(failure([&] { eq()->NewEQ(slot); }), QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
        // a peak at 1000 Hz, 0 dB is free at quality 0.1 or 4, used at 0.7
        EQ_PARAMS p = decode(100);
        p.quality = 0.1;
        QVERIFY(eq()->IsFreePeakEQ(p));
        p.quality = 0.7;
        QVERIFY(!eq()->IsFreePeakEQ(p));
    }

    void filterSectionsFollowTheOrder()
    {
        // order 4: sections 0 and 1 only, whatever the other bytes hold
        putFilter(1, 0x0148, 500, 0x0706, 0x0908, 0x010A);
        HO_FILTER_PARAMS p;
        p.number = 1;
        eq()->GetHighOrderFilter(p);
        QCOMPARE(p.bank, quint16(1));
        QCOMPARE(p.order, quint16(4));
        QCOMPARE(p.characteristic, quint16(8));
        QCOMPARE(p.ripple, 0.1);
        QCOMPARE(QList<quint16>({p.sections[0], p.sections[1], p.sections[2], p.sections[3], p.sections[4]}),
                 QList<quint16>({6, 7, 255, 255, 255}));
        putEQ(6, 1, 1000, 200, 0, 1);
        putEQ(7, 1, 1000, 520, 0, 1);
        // a record whose section 0 is 255 is free, whatever else it holds
        putFilter(2, 0x0148, 500, 0xFFFF, 0x0908, 0x010A);
        eq()->Rebuild();
        QVERIFY(eq()->IsHighOrderFilterUsed(1));
        QVERIFY(!eq()->IsHighOrderFilterUsed(2));
        QCOMPARE(eq()->CountHighOrderFilters(-1), 1);
        CZunHighOrderFilter* f = eq()->GetZunHighOrderFilter(1);
        QCOMPARE(f->sections().size(), 2);
        // sections are neither free nor the channel's own EQs
        QVERIFY(eq()->IsEQUsed(6) && eq()->IsEQInHighOrderFilter(6));
        QVERIFY(eq()->GetEQsOfChannel(1).isEmpty());
        QCOMPARE(eq()->GetZunBiquad(7)->getNumber(), quint16(7));
        QCOMPARE(eq()->GetHighOrderFiltersOfChannel(1).size(), 1);
        // the filter record as written: ripple 0.25 gives 2 tenths, DSP 1 local channel
        HO_FILTER_PARAMS w = f->params();
        w.number = quint16(eq()->filterCount() + 3);
        w.bank = 8;
        w.ripple = 0.25;
        w.flag = true;
        eq()->SetHighOrderFilter(w);
        const quint16 b = eq()->filterRecordBase(w.number);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{b, 0x8248}, {quint16(b + 1), 500}, {quint16(b + 2), 0x0706},
                                                                   {quint16(b + 3), 0xFFFF}, {quint16(b + 4), 0x02FF}}));
        w.order = 11;
        QCOMPARE(failure([&] { eq()->SetHighOrderFilter(w); }),
                 QStringLiteral("CEQManager::SetHighOrderFilter(): 11 is not a valid order. Must be even and between 2 and 10"));
    }

    void everySlotHasItsLinkedPartner()
    {
        link(true);
        ZunSignalSpy announced(eq(), &CEQManager::signal_NewEQ);
        for (int slot = 0; slot < 12; ++slot) {
            int s = slot;
            bool section = false;
            CZunBiquad* b = eq()->CreateEQ(s, section);
            QCOMPARE(int(b->getBank()), slot);
            QCOMPARE(announced.count(), 2 * (slot + 1));
            auto* partner = announced.last().at(0).value<CZunBiquad*>();
            QCOMPARE(int(partner->getBank()), (slot + 6) % 12);
            // the same local index on the other DSP
            QCOMPARE(int(partner->getNumber()), (b->getNumber() + N()) % (2 * N()));
        }
        // a section gets no partner and is not announced
        int s = 2;
        bool section = true;
        std::unique_ptr<CZunBiquad> own(eq()->CreateEQ(s, section));
        QCOMPARE(announced.count(), 24);
        // deleting one of a pair gives back both numbers and writes both records neutral
        CZunBiquad* first = announced.at(0).at(0).value<CZunBiquad*>();
        const int n = first->getNumber();
        m_sent.clear();
        eq()->DeleteZunBiquad(first, true);
        QVERIFY(!eq()->IsEQUsed(n));
        QVERIFY(!eq()->IsEQUsed(n + N()));
        QVERIFY(m_sent.contains(eq()->eqRecordBase(n + N()) + 2, 1600));
        QCOMPARE(failure([&] { int k = n; eq()->DeleteEQ(k); }),
                 QStringLiteral("CEQManager::DeleteEQ(): filter is already deleted"));
    }

    void failedCapacityTestFreesTheFilterOnce()
    {
        // Two EQs available: an order-8 filter does not fit and gives its number back.
        eq()->CalculateAvailableEQs(18 * 4, 18 * 4);
        int slot = 1;
        CZunHighOrderFilter* f = eq()->CreateHighOrderFilter(slot);
        QPointer<CZunHighOrderFilter> guard(f);
        const int m = f->getNumber();
        f->setOrder(8);
        m_sent.clear();
        const QString text = failure([&] { f->rebuild(); });
        QCOMPARE(text, QStringLiteral("CEQManager::SetHighOrderFilter(): maximum biquad capacity reached! Desired "
                                      "order: 8, free biquads: 2"));
        QVERIFY(!eq()->IsHighOrderFilterUsed(m));
        // a filter without sections needs no capacity: it is written back exactly once
        const quint16 b = eq()->filterRecordBase(m);
        QCOMPARE(m_sent.count(b), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard.isNull());
        QCOMPARE(eq()->CountHighOrderFilters(-1), 0);
        // every section EQ it took is free again
        for (int n = 0; n < 4; ++n)
            QVERIFY(!eq()->IsEQUsed(n));
        int none = m;
        QCOMPARE(failure([&] { eq()->DeleteHOFilter(none); }),
                 QStringLiteral("CEQManager::DeleteHOFilter(): filter is already deleted"));
    }

    void namesAndRanges()
    {
        QCOMPARE(eq()->GetStringForEQTypeSelection(nr("Inf_Sel_Typ_EQ_Peak"), true), QStringLiteral("PEQ"));
        QCOMPARE(eq()->GetStringForHighOrderFilterCharacterisitcSelection(nr("Inf_Sel_Char_HOF_Allpass"), false),
                 QStringLiteral("---"));
        QVERIFY(!eq()->GetHOFCharacteristicNames(false).contains(nr("Inf_Sel_Char_HOF_Allpass")));
        QVERIFY(!failure([&] { eq()->GetStringForEQTypeSelection(999, false); }).isEmpty());
        QCOMPARE(eq()->frequencyRange()->GetMin(), 15.0);
        QCOMPARE(eq()->frequencyRange()->GetMax(), 30000.0);
        CEQManagerInterface::Limits l;
        eq()->GetFrequencyRange(l);
        QCOMPARE(l.maximum, 30000.0); // 96 kHz: half the rate is above the range
        QCOMPARE(eq()->rippleRange()->GetMax(), 6.0);
    }
};

#include "CZunImageDefaults.h"
QByteArray TestEQManager::CZunImageDefaultsBytes(quint16 fw) { return CZunImageDefaults::defaultImageBytes(fw); }

QTEST_MAIN(TestEQManager)
#include "tst_eqmanager.moc"
