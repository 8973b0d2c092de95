// The limiter tab against the emulator: Submit stores what the table held when it was
// pressed, an edit typed while that transfer runs stays in the table and on offer; and
// the window shows the limiter table's and the channel pages' failures.
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "LimiterWidget.h"
#include "WindowTestRig.h"
#include "ZunControlDlg.h"
#include "ZunFilterTableView.h"
#include "ZunLazyPage.h"
#include "ZunLimModel.h"
#include "ZunOutputDlg.h"
#include "ZunSignalSpy.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
enum : quint16 { Emulated = 301, Offline = 302 };
}

class TstLimiterE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowTestRig> m_rig;
    QTemporaryDir m_files;

    // The boxes shown from now on: waits for the first, then lets a second one come.
    QStringList shownBoxes()
    {
        QStringList boxes;
        DeviceTestRig::waitUntil([&]() { return !(boxes += m_rig->takeBoxes()).isEmpty(); });
        QElapsedTimer t;
        t.start();
        DeviceTestRig::waitUntil([&]() { return t.elapsed() >= 200; });
        return boxes + m_rig->takeBoxes();
    }

private slots:
    void initTestCase()
    {
        m_rig = std::make_unique<WindowTestRig>();
        QVERIFY2(m_rig->startSim(Emulated), qPrintable(m_rig->error()));
        m_rig->addDevice(Emulated);
        m_rig->addDevice(Offline);
    }

    void cleanupTestCase() { m_rig.reset(); }

    void submitStoresACopyAndKeepsLaterEdits()
    {
        const QSharedPointer<CZun> zun = m_rig->device(Emulated);
        zun->SetPassThroughOnEmptyFlash(false);
        CZunFIRLimManager* fir = zun->GetFIRLimManager();
        LimiterWidget tab(zun);
        ZunSignalSpy initialized(fir, &CZunFIRLimManager::signal_Initialized);
        zun->connect();
        QVERIFY(WindowTestRig::waitFor(initialized));
        QVERIFY(DeviceTestRig::settleTransfers(zun.data()));

        FilterLimiterEWS set(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            set.setOutput(o, QVector<qint32>(64, 900 * (o + 1)), 8, o);
        set.SetName(QStringLiteral("Stage"));
        const quint32 key = set.computeKey();
        set.toFile(m_files.path(), false);
        zun->UploadFIRFilterFile(QDir(m_files.path()).filePath(set.makeFileName(false)), 0);
        QVERIFY(DeviceTestRig::waitUntil([&]() { return zun->GetMemoryManager()->hasFilterId(key); }, 30000));
        zun->CheckFIRFilterResources(key, 0);
        zun->InvokeActivateFIRFilter(key, ZunC::NoCopies, 0xFFFFFFFF, ZunC::Unchanged);
        ZunLimModel* model = tab.model();
        QVERIFY(DeviceTestRig::waitUntil([&]() { return zun->GetActiveFilterIndex(1) == key; }, 30000));
        QVERIFY(DeviceTestRig::settleTransfers(zun.data()));
        QTRY_VERIFY(model->setOfColumn(0) && model->setOfColumn(0)->getKey() == key);

        const QModelIndex gain = model->index(ZunLimModel::RowGain, 0);
        QVERIFY(model->setData(gain, 20.0));
        QTRY_VERIFY(tab.submitButton()->isEnabled());
        tab.submitButton()->click();
        // Typed while the set is on its way.
        QVERIFY(model->setData(gain, 18.0));

        quint32 stored = 0;
        QVERIFY(DeviceTestRig::waitUntil([&]() {
            stored = zun->GetActiveFilterIndex(1);
            return stored != key && stored != 0 && model->setOfColumn(0) && model->setOfColumn(0)->getKey() == stored
                && DeviceTestRig::transfersIdle(zun.data());
        }, 30000));
        QVERIFY(fir->GetFIRFilter(stored));
        QCOMPARE(fir->GetFIRFilter(stored)->ampGain(0), 20.0);
        QCOMPARE(model->data(gain).toDouble(), 18.0);
        QTRY_VERIFY(tab.submitButton()->isEnabled());

        // The second submit stores the later edit.
        tab.submitButton()->click();
        quint32 again = 0;
        QVERIFY(DeviceTestRig::waitUntil([&]() {
            again = zun->GetActiveFilterIndex(1);
            return again != stored && again != 0 && fir->GetFIRFilter(again) && DeviceTestRig::transfersIdle(zun.data());
        }, 30000));
        QCOMPARE(fir->GetFIRFilter(again)->ampGain(0), 18.0);
        QTRY_VERIFY(model->setOfColumn(0)->getKey() == again);
        QTRY_VERIFY(!tab.submitButton()->isEnabled());
        QCOMPARE(model->data(gain).toDouble(), 18.0);
    }

    // A Submit the link takes with it stores nothing: after Connect the edit is still in
    // the table, Submit is offered again, and then stores it.
    void submitCutByALostLinkStaysOnOffer()
    {
        const QSharedPointer<CZun> zun = m_rig->device(Emulated);
        CZunFIRLimManager* fir = zun->GetFIRLimManager();
        auto connectAgain = [&]() {
            ZunSignalSpy initialized(fir, &CZunFIRLimManager::signal_Initialized);
            zun->connect();
            QVERIFY(WindowTestRig::waitFor(initialized));
            QVERIFY(DeviceTestRig::settleTransfers(zun.data()));
        };
        LimiterWidget tab(zun);
        ZunLimModel* model = tab.model();
        zun->disconnect();
        QVERIFY(DeviceTestRig::waitUntil([&]() { return !zun->IsConnected(); }));
        connectAgain();
        QTRY_VERIFY(model->setOfColumn(0));
        const QModelIndex gain = model->index(ZunLimModel::RowGain, 0);
        const double typed = model->data(gain).toDouble() == 15.0 ? 16.0 : 15.0;
        QVERIFY(model->setData(gain, typed));
        QTRY_VERIFY(tab.submitButton()->isEnabled());

        ZunSignalSpy lost(zun.data(), &CZun::signal_exception);
        QVERIFY(m_rig->sim()->control(QStringLiteral("droplink")));
        tab.submitButton()->click();
        QVERIFY(DeviceTestRig::waitUntil([&]() {
            return std::any_of(lost.begin(), lost.end(), [](const QVariantList& a) { return a.at(1) == "Network error"; });
        }));
        connectAgain();
        QVERIFY(fir->GetActiveFIRFilter(1)->ampGain(0) != typed);
        QTRY_VERIFY(tab.submitButton()->isEnabled());
        QCOMPARE(model->data(gain).toDouble(), typed);

        tab.submitButton()->click();
        QVERIFY(DeviceTestRig::waitUntil([&]() {
            const QShPtrFLE active = fir->GetFIRFilter(zun->GetActiveFilterIndex(1));
            return active && active->ampGain(0) == typed && DeviceTestRig::transfersIdle(zun.data());
        }, 30000));
        QTRY_VERIFY(!tab.submitButton()->isEnabled());
    }

    // The limiter table's failures and a CSV list's unreadable rows: one box each.
    void failuresReachTheWindowsMessageBox()
    {
        ZunControlDlg window(Offline, m_rig->deviceServer(), m_rig->statusServer());
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.UpdateGui();
        m_rig->takeBoxes();

        ZunLimModel* model = window.limiterPage()->model();
        model->on_FIRFilterChanged(1, QShPtrFLE::create(QString(), 48000.0), 0);
        QVERIFY(!model->setData(model->index(ZunLimModel::RowImpedance, 0), -1.0));
        QCOMPARE(shownBoxes().size(), 1);

        for (ZunLazyPage* lazy : window.findChildren<ZunLazyPage*>())
            lazy->build();
        const QList<ZunOutputDlg*> pages = window.findChildren<ZunOutputDlg*>();
        QVERIFY(!pages.isEmpty());
        const QList<ZunFilterTableView*> tables = pages.first()->findChildren<ZunFilterTableView*>();
        QVERIFY(!tables.isEmpty());
        QFile csv(m_files.filePath(QStringLiteral("list.csv")));
        QVERIFY(csv.open(QIODevice::WriteOnly) && csv.write("Bad;peq;loud;1;1\r") > 0);
        csv.close();
        tables.first()->importFile(csv.fileName());
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(QLatin1String("1 rows")), qPrintable(boxes.first()));
    }
};

QTEST_MAIN(TstLimiterE2E)
#include "tst_limiter_e2e.moc"
