// The limiter and advanced tabs against the emulator: a ".fir" file and a setup file
// uploaded from the advanced tab land in the processor's flash and each job's end ends
// the wait; downloads write files that read back equal; removing the active set is
// refused with its text and nothing is sent; a limiter edit and Submit store the changed
// set in the flash, where a new connection finds it.
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "DeviceTestRig.h"
#include "LimiterWidget.h"
#include "RemoveForm.h"
#include "TcpSimProcess.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunFirSetupActions.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunLimModel.h"
#include "ZunSetup.h"
#include "ZunSignalSpy.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>

using namespace DeviceTestRig;

// Answers the modal dialogs that open, one step per dialog, in order. A step returns
// false for a dialog it does not expect, which is then left alone.
struct ModalScript
{
    QList<std::function<bool(QWidget*)>> steps;
    QTimer timer;
    ModalScript()
    {
        QObject::connect(&timer, &QTimer::timeout, [this]() {
            QWidget* w = QApplication::activeModalWidget();
            if (w && !steps.isEmpty() && steps.first()(w))
                steps.removeFirst();
        });
        timer.start(10);
    }
};

class TestTabsE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;
    SendLog m_sent;
    QTemporaryDir m_files;

    CZunFIRLimManager* fir() const { return m_zun->GetFIRLimManager(); }
    CMemoryManager* mem() const { return m_zun->GetMemoryManager(); }
    CZunSetupManager* setups() const { return m_zun->GetSetupManager(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    static bool waiting(QWidget& tab) { return tab.cursor().shape() == Qt::WaitCursor; }
    void settle()
    {
        QVERIFY(waitUntil([&]() {
            return m_zun->GetLink()->getCmdBuffer()->isIdle() && !fir()->upDownLoadsInProgress()
                && setups()->pendingUploads() == 0 && setups()->pendingDownloads() == 0;
        }));
        QCoreApplication::processEvents();
    }

    // A device object for the running emulator, connected, with a set active on DSP 0.
    void connectDevice()
    {
        m_zun.reset(new CZun(record(1080, 42, 0, 0xFF94), map(1080), QSharedPointer<CRoutingLibrary>()));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.data());
        ZunSignalSpy initialized(fir(), &CZunFIRLimManager::signal_Initialized);
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
        connectDevice();
    }
    void cleanupTestCase()
    {
        m_zun.reset();
        m_sim.reset();
    }

    void firFileUpAndDown()
    {
        ZunAdvancedSettingsWidget tab(m_zun);
        FilterLimiterEWS set(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            set.setOutput(o, QVector<qint32>(300, 1000 * (o + 1)), 20, o);
        set.SetName(QStringLiteral("Main PA"));
        const quint32 key = set.computeKey();
        set.toFile(m_files.path(), false);

        QVERIFY(tab.firSetup()->startFIRFilterUpload(m_files.filePath(set.makeFileName())));
        QVERIFY(waiting(tab));
        QVERIFY(waitUntil([&]() { return mem()->hasFilterId(key) && !waiting(tab); }));
        QVERIFY(tab.findChild<QComboBox*>(QStringLiteral("comboFIRFilter1"))->isEnabled());
        QCOMPARE(QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QStringLiteral("FilterDir")).toString(),
                 QFileInfo(m_files.path()).absoluteFilePath());
        settle();

        QTemporaryDir out;
        const QString file = tab.firSetup()->downloadFIRFilterTo(key, out.path());
        QCOMPARE(QFileInfo(file).fileName(), QStringLiteral("Main PA.fir"));
        QCOMPARE(FilterLimiterEWS(file, 0.0).toByteArray(), fir()->GetFIRFilter(key)->toByteArray());
    }

    void setupFileUpAndDown()
    {
        ZunAdvancedSettingsWidget tab(m_zun);
        m_zun->SaveSetup(0, QStringLiteral("Concert"));
        QVERIFY(waitUntil([&]() { return mem()->setupIdAt(0) != 0; }));
        QVERIFY(QMetaObject::invokeMethod(setups(), "initialize", Qt::BlockingQueuedConnection));
        QVERIFY(waitUntil([&]() { return setups()->GetSetup(0) != nullptr && setups()->pendingDownloads() == 0; }));

        QTemporaryDir out;
        const QString file = tab.firSetup()->downloadSetupTo(0, out.path());
        QCOMPARE(QFileInfo(file).fileName(), QStringLiteral("Concert.zun"));
        const ZunSetup back(nullptr, file);
        QCOMPARE(back.toByteArray(), setups()->GetSetup(0)->toByteArray());
        // An empty position writes nothing.
        ZunSignalSpy failed(&tab, &ZunAdvancedSettingsWidget::signal_exception);
        QVERIFY(tab.firSetup()->downloadSetupTo(3, out.path()).isEmpty());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 1);

        QVERIFY(tab.firSetup()->isSetupPositionEmpty(4));
        QVERIFY(tab.firSetup()->startSetupUpload(file, 4));
        QVERIFY(waiting(tab));
        QVERIFY(waitUntil([&]() { return mem()->setupIdAt(4) == mem()->setupIdAt(0) && !waiting(tab); }));
        settle();
    }

    void removingTheActiveSetIsRefused()
    {
        ZunAdvancedSettingsWidget tab(m_zun);
        const quint32 active = m_zun->GetActiveFilterIndex(1);
        const int row = fir()->GetFIRFilterPos(active);
        QVERIFY(row >= 0);
        QString shown;
        ModalScript script;
        script.steps << [row](QWidget* w) {
            auto* form = qobject_cast<RemoveForm*>(w);
            if (!form)
                return false;
            form->set_SelectedPosition(row);
            form->accept();
            return true;
        } << [&shown](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            shown = box->text();
            box->accept();
            return true;
        } << [](QWidget* w) {
            // The form again: this time the operator gives up.
            auto* form = qobject_cast<RemoveForm*>(w);
            if (!form)
                return false;
            form->reject();
            return true;
        };
        m_sent.clear();
        tab.firSetup()->removeFIRFilter();
        QVERIFY(waitUntil([&]() { return script.steps.isEmpty(); }));
        QCoreApplication::processEvents();
        QCOMPARE(shown, QStringLiteral("The selected filter is currently active and can not be deleted.  "));
        QCOMPARE(m_sent.count(nr("Cmd_MemCopy")), 0);
        QVERIFY(mem()->hasFilterId(active));
    }

    // Mended: a flash entry that holds no set (a store that took a second program's bytes
    // from the processor's transfer buffer) was in no list, so nothing could remove it.
    // "Remove FIR" offers it, and removes it.
    void removeFirOffersAnEntryThatHoldsNoSet()
    {
        settle();
        QVERIFY(m_sim->control(QStringLiteral("hold block")));
        const QShPtrFLE set = fir()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
        set->setAmpGain(4.0, 0);
        const quint32 key = set->computeKey();
        m_zun->UploadFIRFilter(set, 0);
        QVERIFY(waitUntil([&]() { return stateField(m_sim->query("state", "state "), "held") == QLatin1String("1"); }));
        QVERIFY(secondClientReadsTheImage(m_sim->tcpPort(), nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")));
        QVERIFY(m_sim->control(QStringLiteral("release")));
        QVERIFY(waitUntil([&]() { return !fir()->unreadableEntries().isEmpty() && mem()->hasFilterId(key); }, 30000));
        settle();
        const quint32 garbage = fir()->unreadableEntries().firstKey();
        ZunAdvancedSettingsWidget tab(m_zun);
        bool offered = false;
        ModalScript script;
        script.steps << [&](QWidget* w) {
            auto* form = qobject_cast<RemoveForm*>(w);
            if (!form)
                return false;
            const int row = form->comboBox->findText(QStringLiteral("%1").arg(garbage, 8, 16, QLatin1Char('0')),
                                                     Qt::MatchContains);
            offered = row >= 0;
            form->set_SelectedPosition(row);
            offered ? form->accept() : form->reject();
            return true;
        };
        tab.firSetup()->removeFIRFilter();
        QVERIFY(waitUntil([&]() { return script.steps.isEmpty(); }));
        QVERIFY(offered);
        QVERIFY(waitUntil([&]() { return !mem()->hasFilterId(garbage) && fir()->unreadableEntries().isEmpty(); }));
        QVERIFY(mem()->hasFilterId(key));
    }

    void limiterSubmitStoresTheEditInTheFlash()
    {
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
            return id != before && id != 0 && mem()->hasFilterId(id);
        }));
        settle();
        const quint32 edited = m_zun->GetActiveFilterIndex(1);
        // The new set reaches the table and Submit waits for the next edit.
        QVERIFY(waitUntil([&]() { return model->setOfColumn(0)->getKey() == edited && !tab.submitButton()->isEnabled(); }));

        // A new connection with no cached copies reads the set back from the flash.
        m_zun.reset();
        QDir(m_config->path() + QStringLiteral("/42")).removeRecursively();
        connectDevice();
        QCOMPARE(m_zun->GetActiveFilterIndex(1), edited);
        const QShPtrFLE stored = fir()->GetFIRFilter(edited);
        QVERIFY(stored);
        QCOMPARE(stored->ampGain(1), 20.0);
        QCOMPARE(stored->surgeDuration(1), 0.0125);
        QCOMPARE(stored->ampGain(0), 26.0);
    }
};

QTEST_MAIN(TestTabsE2E)
#include "tst_tabs_e2e.moc"
