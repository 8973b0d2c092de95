// Channel objects of a device object that is not connected: slots, names, gain checks,
// the EQs they take, and copy and paste of their settings.
#include "CEQManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunImageDefaults.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunChannelMimeData.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtTest>

using namespace DeviceTestRig;

class TestChannels : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    CEQManager* eq() const { return m_zun->GetEQManager(); }
    CRoutingManager* routing() const { return m_zun->GetRoutingManager(); }
    CZunOutput* out(int i) const { return routing()->GetOutput(i); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }

    static QString failure(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::logic_error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }
    void reply(quint16 c, quint16 w)
    {
        CZunCmd cmd(c, w);
        QByteArray b(2, '\0');
        b[0] = char(w & 0xFF);
        b[1] = char(w >> 8);
        cmd.setReply(b);
        cmd.setDone();
        QVERIFY(QMetaObject::invokeMethod(img(), "cmdCallback", Qt::BlockingQueuedConnection, Q_ARG(CZunCmd, cmd)));
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
    }
    void init()
    {
        // a double board with eight analog outputs
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        img()->setImage(CZunImageDefaults::defaultImageBytes(1080));
        QVERIFY(status.count() > 0 || status.wait(20000));
        QCoreApplication::processEvents();
        m_sent.attach(m_zun.get());
    }
    void cleanup() { m_zun.reset(); }

    void slotsAndNames()
    {
        const int slotOf[8] = {0, 1, 2, 3, 6, 7, 8, 9};
        for (int i = 0; i < 8; ++i) {
            QVERIFY(out(i));
            QCOMPARE(int(out(i)->GetSlot()), slotOf[i]);
            QCOMPARE(out(i)->GetNumber(), i + 1);
            QCOMPARE(out(i)->GetName(), QStringLiteral("Output %1").arg(i + 1));
        }
        QVERIFY(CZunOutput::defaultName(8).isEmpty());
        QVERIFY(!CZunAbstractInOutput::IsValidSlot(12) && CZunAbstractInOutput::IsValidSlot(11));
        // Output 5's partner slot is Output 1's
        QCOMPARE((out(4)->GetSlot() + 6) % 12, int(out(0)->GetSlot()));
    }

    void newEQIsTakenByTheChannelOfItsSlotOnly()
    {
        ZunSignalSpy taken(out(3), &CZunAbstractInOutput::newEQ);
        ZunSignalSpy other(out(2), &CZunAbstractInOutput::newEQ);
        const double flat = out(3)->getMagnitude()->at(300);
        CZunBiquad* b = out(3)->NewEQ();
        QPointer<CZunBiquad> guard(b);
        QCOMPARE(taken.count(), 1);
        QCOMPARE(other.count(), 0);
        QCOMPARE(out(3)->GetEQList().size(), 1);
        QVERIFY(out(3)->hasResponse(b));
        // the channel's response follows its EQ
        b->setGain(-6.0f);
        b->setBypass(false);
        const double before = out(3)->getMagnitude()->at(300);
        b->setFrequency(float(out(3)->getFrequencies()->at(300)));
        QVERIFY(out(3)->getMagnitude()->at(300) < before - 1.0);
        // deleting it takes it out of the response
        ZunSignalSpy gone(out(3), &CZunAbstractInOutput::EQToBeDeleted);
        out(3)->RemoveAllEQs();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(gone.count(), 1);
        QCOMPARE(out(3)->GetEQList().size(), 0);
        QVERIFY(guard.isNull());
        QVERIFY(std::abs(out(3)->getMagnitude()->at(300) - flat) < 1e-9);
    }

    void gainChecksAndWhenTheResponseFollows()
    {
        QCOMPARE(failure([&] { out(0)->SetGain(99.0f); }),
                 QStringLiteral("Gain value of 99 is out of bounds. Valid values are between %1 and %2")
                     .arg(m_zun->GetChannelGainParam()->GetMin())
                     .arg(m_zun->GetChannelGainParam()->GetMax()));
        const double g = out(0)->gain();
        out(0)->SetGain(-6.0f);
        QCOMPARE(out(0)->gain(), g); // until the device reports it
        reply(nr("Cmd_0_ChGain0"), quint16(qint16(-60)));
        QVERIFY(std::abs(out(0)->gain() - std::pow(10.0, -6.0 / 20.0)) < 1e-9);
        reply(nr("Cmd_0_ChPhInv0"), 1);
        QVERIFY(out(0)->gain() < 0.0);
        QVERIFY(!routing()->GetInputs().isEmpty());
        CZunInput* in = routing()->GetInputs().first();
        QVERIFY(failure([&] { in->SetGain(99.0f); }).endsWith(QLatin1Char('.')));
        if (in->GetSource() < 8) {
            in->SetGain(-3.0f); // at once
            QVERIFY(std::abs(in->gain() - std::pow(10.0, -3.0 / 20.0)) < 1e-9);
        }
    }

    void payloadsAreCheckedWholeBeforeAnythingIsRemoved()
    {
        ZunChannelMimeData empty;
        QVERIFY(!out(1)->canApplyMimeData(&empty));
        QMimeData plain;
        QVERIFY(!out(1)->canApplyMimeData(&plain));
        CZunBiquad* b = out(1)->NewEQ();
        // the copy is taken from the image: as if the processor had answered a +3 dB peak
        const quint16 base = eq()->eqRecordBase(b->getNumber());
        img()->setValue(base, nr("Inf_Sel_Typ_EQ_Peak"));
        img()->setValue(base + 3, 30);
        std::unique_ptr<QMimeData> copy(out(1)->createMimeData());
        auto* payload = qobject_cast<ZunChannelMimeData*>(copy.get());
        QVERIFY(payload && payload->hasChannelSettings());
        QCOMPARE(payload->getEQs().size(), 1);
        QVERIFY(out(2)->canApplyMimeData(payload));
        // a bad EQ at the end of the list: nothing is removed, nothing is sent
        ZunChannelMimeData bad;
        EQ_PARAMS good = payload->getEQs().first();
        EQ_PARAMS wrong = good;
        wrong.frequency = 1.0;
        bad.setEQs({good, wrong});
        m_sent.clear();
        QVERIFY(failure([&] { out(1)->applyMimeData(&bad); }).contains(QStringLiteral("left as it was")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(out(1)->GetEQList().size(), 1);
        QVERIFY(m_sent.commands().isEmpty());
        // a gain outside the range refuses the payload as well
        ZunChannelMimeData loud;
        loud.setHasChannelSettings(true);
        loud.setGain(99.0);
        QVERIFY(!failure([&] { out(1)->applyMimeData(&loud); }).isEmpty());
        QCOMPARE(out(1)->GetEQList().size(), 1);
        // a valid whole channel with empty lists clears them
        ZunChannelMimeData clear;
        clear.setHasChannelSettings(true);
        clear.setWholeChannel(true);
        out(1)->applyMimeData(&clear);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(out(1)->GetEQList().size(), 0);
        // the copy lands on another output with its values
        out(2)->applyMimeData(payload);
        QCOMPARE(out(2)->GetEQList().size(), 1);
        QCOMPARE(out(2)->GetEQList().first()->getGain(), 3.0);
    }

    // A channel's copy replaces the target's EQs and crossover filters; what a strip carries
    // (its settings, no lists), by whatever way it arrives, takes none of them away.
    void wholeChannelsReplaceFiltersStripSettingsKeepThem()
    {
        CZunHighOrderFilter* kept = out(2)->NewHighOrderFilter();
        QVERIFY(kept);
        out(2)->NewEQ();
        QCOMPARE(out(2)->GetHighOrderFilterList().size(), 1);
        ZunChannelMimeData strip;
        strip.setHasChannelSettings(true);
        strip.setGain(-2.0);
        QVERIFY(out(2)->canApplyMimeData(&strip));
        m_sent.clear();
        out(2)->applyMimeData(&strip);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(out(2)->GetHighOrderFilterList().size(), 1);
        QCOMPARE(out(2)->GetEQList().size(), 1);
        QVERIFY(m_sent.contains(nr("Cmd_0_ChGain2"), quint16(qint16(-20))));

        // the source's single filter, at another corner, replaces the target's
        CZunHighOrderFilter* source = out(1)->NewHighOrderFilter();
        QVERIFY(source);
        std::unique_ptr<QMimeData> copy(out(1)->createMimeData());
        out(2)->applyMimeData(copy.get());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(out(2)->GetEQList().size(), 0);
        const QList<QPointer<CZunHighOrderFilter>> filters = out(2)->GetHighOrderFilterList();
        QCOMPARE(filters.size(), 1);
        QVERIFY(filters.first() && filters.first() != kept);
        const auto* payload = qobject_cast<const ZunChannelMimeData*>(copy.get());
        QCOMPARE(filters.first()->getFrequency(), payload->getFilters().first().frequency);
    }
};

QTEST_MAIN(TestChannels)
#include "tst_channels.moc"
