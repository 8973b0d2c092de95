// A channel page against the emulated processor on loopback: EQs the processor holds show
// in the channel's plot, edits reach the processor and the curves, and EQs deleted while
// the page is shown leave the plot (also when a full re-read replaces every EQ object).
#include "CEQManager.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunOutput.h"
#include "CZunStatusBuffer.h"
#include "PlotWidget.h"
#include "TcpSimProcess.h"
#include "ZunBaseComm.h"
#include "ZunEQModel.h"
#include "ZunHOFModel.h"
#include "ZunOutputDlg.h"
#include "DeviceTestRig.h"

#include <QPushButton>
#include <QtTest>

using namespace DeviceTestRig;

class TestChannelPageE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;

    CEQManager* eq() const { return m_zun->GetEQManager(); }
    CZunOutput* out(int i) const { return m_zun->GetRoutingManager()->GetOutput(i); }
    quint16 word(int c) const { return m_zun->GetStatusBuffer()->getValue(quint16(c)); }

    void settle()
    {
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    void reread()
    {
        QSignalSpy status(m_zun.data(), &CZun::signal_ZunStatusChanged);
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    // The EQ curves of a plot, by the number of their EQ.
    static QMap<int, CZunPlotCurve*> eqCurves(PlotWidget* plot)
    {
        QMap<int, CZunPlotCurve*> curves;
        for (CZunPlotCurve* c : plot->curves())
            if (c->kind() == CZunPlotCurve::EQBiquad)
                curves.insert(static_cast<CZunBiquad*>(c->response())->getNumber(), c);
        return curves;
    }
    static bool sameAsResponse(const CZunPlotCurve* c)
    {
        const QVector<double> m = *c->response()->getMagnitude();
        for (int i = 0; i < m.size(); ++i)
            if (c->sample(size_t(i)).y() != m[i])
                return false;
        return c->dataSize() == size_t(m.size());
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
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080", "--hardware", "0x0F80"}), qPrintable(m_sim->error()));
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        m_zun->SetPort(m_sim->tcpPort());
        QSignalSpy status(m_zun.data(), &CZun::signal_ZunStatusChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    void cleanup()
    {
        m_zun.reset();
        m_sim.reset();
    }

    void processorEQsComeAndGoOnThePlot()
    {
        ZunEQModel eqs(m_zun);
        ZunHOFModel hofs(m_zun);
        ZunOutputDlg page(out(2));
        page.setEQModel(&eqs);
        page.setHOFModel(&hofs);
        page.setPointerCZun(m_zun);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(eqCurves(page.plot()).isEmpty());

        // a -6 dB peak at 1 kHz put into EQ record 5 of the processor, on Output 3's slot
        const quint16 base = eq()->eqRecordBase(5);
        for (const auto& w : QList<QPair<int, int>>{{base + 4, 2}, {base, 0x0004}, {base + 1, 2000},
                                                   {base + 2, 800}, {base + 3, 0xFFC4}})
            QVERIFY(m_sim->control(QString("set %1 %2").arg(w.first).arg(w.second)));
        reread();
        QMap<int, CZunPlotCurve*> curves = eqCurves(page.plot());
        QCOMPARE(curves.keys(), QList<int>{5});
        QCOMPARE(static_cast<CZunBiquad*>(curves[5]->response())->getGain(), -6.0);
        QVERIFY(sameAsResponse(curves[5]));
        QVERIFY(page.plot()->curves()[0]->sample(300).y() == out(2)->getMagnitude()->at(300));

        // New on the page: an EQ the processor takes, edited as a table would
        page.findChildren<QPushButton*>()[0]->click();
        settle();
        QCOMPARE(eqCurves(page.plot()).size(), 2);
        CZunBiquad* added = nullptr;
        for (const QPointer<CZunBiquad>& b : out(2)->GetEQList())
            if (b->getNumber() != 5)
                added = b;
        QVERIFY(added);
        const int n = added->getNumber();
        added->setType(m_zun->GetCmdMap()->getCmdNr("Inf_Sel_Typ_EQ_Peak"));
        added->setGain(4.5f);
        added->setFrequency(200.0f);
        added->writeToDevice(false);
        settle();
        QCOMPARE(word(eq()->eqRecordBase(n) + 3), quint16(45));
        QVERIFY(sameAsResponse(eqCurves(page.plot())[n]));

        // a full re-read replaces every EQ object while the page is shown
        QPointer<CZunPlotCurve> old = eqCurves(page.plot())[n];
        reread();
        QVERIFY(old.isNull());
        curves = eqCurves(page.plot());
        QCOMPARE(curves.size(), 2);
        QVERIFY(curves.contains(5) && curves.contains(n));
        QCOMPARE(static_cast<CZunBiquad*>(curves[n]->response())->getGain(), 4.5);
        QCOMPARE(page.plot()->curves().size(), 4);

        // deleted (as Remove does) while shown: the curve leaves, the processor frees it
        QPointer<CZunPlotCurve> gone = curves[5];
        eq()->DeleteZunBiquad(eq()->GetZunBiquad(5), true);
        settle();
        QVERIFY(gone.isNull());
        QCOMPARE(eqCurves(page.plot()).keys(), QList<int>{n});
        page.plot()->replot();
        QCoreApplication::processEvents();
        reread();
        QVERIFY(!eq()->IsEQUsed(5));
        QCOMPARE(eqCurves(page.plot()).keys(), QList<int>{n});
    }
};

QTEST_MAIN(TestChannelPageE2E)
#include "tst_channelpage_e2e.moc"
