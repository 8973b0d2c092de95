// A channel page against the emulated processor on loopback: EQs the processor holds and
// EQs made on the page show in the channel's plot, and EQs deleted while the page is shown
// leave it (also when a full re-read replaces every EQ object).
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
        QCOMPARE(curves[5]->sample(100).y(), curves[5]->response()->getMagnitude()->at(100));

        // New on the page (with a gain, or the processor counts it free): the processor takes
        // it, and a full re-read (which replaces every EQ object while the page is shown)
        // brings both back onto the plot
        page.findChildren<QPushButton*>()[0]->click();
        CZunBiquad* added = eqCurves(page.plot()).contains(0) ? eq()->GetZunBiquad(0) : nullptr;
        QVERIFY(added);
        added->setGain(4.5f);
        added->writeToDevice(false);
        settle();
        QPointer<CZunPlotCurve> old = eqCurves(page.plot())[5];
        QCOMPARE(eqCurves(page.plot()).size(), 2);
        reread();
        QVERIFY(old.isNull());
        QCOMPARE(eqCurves(page.plot()).size(), 2);
        QCOMPARE(page.plot()->curves().size(), 4);

        // deleted (as Remove does) while shown: the curve leaves, the processor frees it
        QPointer<CZunPlotCurve> gone = eqCurves(page.plot())[5];
        eq()->DeleteZunBiquad(eq()->GetZunBiquad(5), true);
        settle();
        QVERIFY(gone.isNull());
        page.plot()->repaint();
        reread();
        QVERIFY(!eq()->IsEQUsed(5));
        QCOMPARE(eqCurves(page.plot()).size(), 1);
    }
};

QTEST_MAIN(TestChannelPageE2E)
#include "tst_channelpage_e2e.moc"
