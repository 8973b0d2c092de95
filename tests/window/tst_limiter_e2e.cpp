// The limiter tab against the emulator: an edit and Submit store the changed FIR/limiter
// set in the processor's flash and make it active, and it is still there after the
// device object has read everything again from a new connection.
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "DeviceTestRig.h"
#include "LimiterWidget.h"
#include "TcpSimProcess.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunDSPProgramManager.h"
#include "ZunLimModel.h"

#include <QPushButton>
#include <QtTest>

using namespace DeviceTestRig;

class TestLimiterE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;

    CZunFIRLimManager* fir() const { return m_zun->GetFIRLimManager(); }

    void settle()
    {
        QVERIFY(waitUntil([&]() {
            return m_zun->GetLink()->getCmdBuffer()->isIdle() && !fir()->upDownLoadsInProgress()
                && m_zun->GetDSPProgramManager()->pendingUploads() == 0;
        }));
        QCoreApplication::processEvents();
    }

    // A device object for the running emulator, connected, with a set active on DSP 0.
    void connectDevice()
    {
        m_zun.reset(new CZun(record(1080, 42, 0, 0xFF94), map(1080), QSharedPointer<CRoutingLibrary>()));
        m_zun->SetPort(m_sim->tcpPort());
        QSignalSpy initialized(fir(), &CZunFIRLimManager::signal_Initialized);
        m_zun->connect();
        QVERIFY(waitUntil([&]() { return initialized.count() > 0 && m_zun->GetActiveFilterIndex(1) != 0; }));
        settle();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080", "--hardware", "0xFF94"}), qPrintable(m_sim->error()));
    }

    void submitStoresTheEditInTheFlash()
    {
        connectDevice();
        if (QTest::currentTestFailed())
            return;
        // The tab made after the first report still shows the sets (status reload).
        LimiterWidget tab(m_zun);
        QMetaObject::invokeMethod(fir(), "on_ZunStatusChanged", Qt::QueuedConnection);
        QVERIFY(waitUntil([&]() { return tab.model()->setOfColumn(0) && tab.model()->setOfColumn(4); }));
        const quint32 before = m_zun->GetActiveFilterIndex(1);

        ZunLimModel* model = tab.model();
        QVERIFY(model->setData(model->index(ZunLimModel::RowGain, 1), 20.0));
        QVERIFY(model->setData(model->index(ZunLimModel::RowSurgeDuration, 1), 0.0125));
        QVERIFY(waitUntil([&]() { return tab.submitButton()->isEnabled(); }));
        QTest::mouseClick(tab.submitButton(), Qt::LeftButton);

        QVERIFY(waitUntil([&]() {
            const quint32 id = m_zun->GetActiveFilterIndex(1);
            return id != before && id != 0 && m_zun->GetMemoryManager()->hasFilterId(id);
        }));
        settle();
        const quint32 edited = m_zun->GetActiveFilterIndex(1);
        // The new set reaches the table and Submit waits for the next edit.
        QVERIFY(waitUntil([&]() { return model->setOfColumn(0)->getKey() == edited && !tab.submitButton()->isEnabled(); }));

        // A new connection with no cached copies reads the set back from the flash.
        m_zun.reset();
        QDir(m_config->path() + QStringLiteral("/42")).removeRecursively();
        connectDevice();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(m_zun->GetActiveFilterIndex(1), edited);
        const QShPtrFLE stored = fir()->GetFIRFilter(edited);
        QVERIFY(stored);
        QCOMPARE(stored->ampGain(1), 20.0);
        QCOMPARE(stored->surgeDuration(1), 0.0125);
        QCOMPARE(stored->ampGain(0), 26.0);
    }
};

QTEST_MAIN(TestLimiterE2E)
#include "tst_limiter_e2e.moc"
