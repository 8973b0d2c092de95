// FIR/limiter sets and DSP programs of a device object against the emulator: upload,
// listing, caching, activation with the program a set needs, reconnect, removal, and the
// refusals of a full or failing flash.
#include "TcpSimProcess.h"
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunDSPProgramManager.h"
#include "ZunLogCapture.h"
// The emulator process helper of the protocol tests.
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

using namespace DeviceTestRig;

class TestFirLimE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    QTemporaryDir m_files;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    QString m_firFile;
    quint32 m_key = 0;

    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    CZunFIRLimManager* fir() const { return m_zun->GetFIRLimManager(); }
    ZunDSPProgramManager* dsp() const { return m_zun->GetDSPProgramManager(); }
    CMemoryManager* mem() const { return m_zun->GetMemoryManager(); }
    QString cacheFolder() const { return m_config->path() + QStringLiteral("/42"); }
    QStringList cached() const { return QDir(cacheFolder()).entryList({QStringLiteral("*.fir")}, QDir::Files); }
    bool waitFor(const std::function<bool()>& f) { return waitUntil(f, 20000); }

    void settle()
    {
        QVERIFY(waitUntil([&]() {
            return m_zun->GetLink()->getCmdBuffer()->isIdle() && !fir()->upDownLoadsInProgress()
                && dsp()->pendingUploads() == 0;
        }));
        QTest::qWait(50);
        QCoreApplication::processEvents();
    }

    // The emulator (double board) and a device object for it, connected, the FIR/limiter
    // manager initialised.
    void start(quint16 fw, bool newEmulator = true)
    {
        if (newEmulator) {
            m_sim.reset(new TcpSimProcess);
            QVERIFY2(m_sim->start({"--serial", "42", "--firmware", QString::number(fw), "--hardware", "0xFF94"}),
                     qPrintable(m_sim->error()));
        }
        m_zun.reset(new CZun(record(fw, 42, 0, 0xFF94), map(fw), QSharedPointer<CRoutingLibrary>()));
        // These tests start from an empty FIR/limiter list.
        m_zun->SetPassThroughOnEmptyFlash(false);
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.clear();
        m_sent.attach(m_zun.get());
        ZunSignalSpy initialized(fir(), &CZunFIRLimManager::signal_Initialized);
        m_zun->connect();
        QVERIFY(waitFor([&]() { return initialized.count() > 0; }));
        settle();
    }

    void upload(const QString& file)
    {
        m_zun->UploadFIRFilterFile(file, 0);
        settle();
    }

    QList<CZunMetaCmd> groupsWith(quint16 id) const
    {
        QList<CZunMetaCmd> out;
        for (const CZunMetaCmd& g : m_sent.groups())
            for (const CZunCmd& c : g.commands())
                if (c.getCmd() == id) {
                    out << g;
                    break;
                }
        return out;
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        // A set of 300 taps per output: it needs the program 1111 of the 307 family.
        FilterLimiterEWS set(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            set.setOutput(o, QVector<qint32>(300, 1000 * (o + 1)), 20, o);
        set.SetName(QStringLiteral("Main PA"));
        m_key = set.computeKey();
        set.toFile(m_files.path(), false);
        m_firFile = QDir(m_files.path()).filePath(set.makeFileName(false));
        QVERIFY(QFile::exists(m_firFile));
    }

    void cleanup()
    {
        m_zun.reset();
        m_sim.reset();
        QDir(cacheFolder()).removeRecursively();
    }

    void uploadActivateReconnectRemove()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QStandardItemModel* model = fir()->GetFirModel();
        QCOMPARE(model->rowCount(), 0);

        // Upload: in the flash, the list, the model and the cache.
        ZunSignalSpy refreshed(fir(), &CZunFIRLimManager::signal_MapFIRFilterRefreshed);
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key) && model->rowCount() == 1; }));
        QVERIFY(refreshed.count() >= 1);
        QCOMPARE(model->item(0)->text(), QStringLiteral("Main PA"));
        QCOMPARE(model->item(0)->data(Qt::UserRole).toUInt(), m_key);
        QCOMPARE(fir()->GetFIRFilterPos(m_key), 0);
        QCOMPARE(cached(), QStringList{QStringLiteral("Main PA___%1.fir").arg(m_key, 0, 16)});
        QCOMPARE(groupsWith(0xFF00).size(), 1);
        // Uploading the same set again sends nothing.
        m_sent.clear();
        upload(m_firFile);
        QCOMPARE(m_sent.count(0xFF00), 0);

        // Activation on both DSPs: the program the set needs is uploaded once, booted once.
        ZunSignalSpy changed(fir(), &CZunFIRLimManager::signal_FIRFilterChanged);
        m_sent.clear();
        m_zun->CheckFIRFilterResources(m_key, 0);
        QVERIFY(m_zun->InvokeActivateFIRFilter(m_key, ZunC::NoCopies, m_key, ZunC::NoCopies));
        QVERIFY(waitFor([&]() {
            return m_zun->GetActiveFilterIndex(1) == m_key && m_zun->GetActiveFilterIndex(2) == m_key
                && m_zun->GetActiveDSPProgramID(1) == 0x0249 && m_zun->GetActiveDSPProgramID(2) == 0x0249;
        }));
        settle();
        QCOMPARE(m_sent.count(nr("Cmd_Block_ID")), 1);
        QVERIFY(m_sent.contains(nr("Cmd_Block_ID"), 0x0249));
        QCOMPARE(m_sent.count(nr("Cmd_DSP_Boot")), 1);
        m_zun->RefreshMemDir();
        QVERIFY(waitFor([&]() { return mem()->hasDSPProgramId(0x0249); }));
        // The boot group, then DSP 0's three FIR commands before DSP 1's.
        const CZunMetaCmd boot = groupsWith(nr("Cmd_DSP_Boot")).first();
        QList<quint16> ids;
        for (const CZunCmd& c : boot.commands())
            ids << c.getCmd();
        QCOMPARE(ids, QList<quint16>({nr("Cmd_0_DSP_ID"), nr("Cmd_1_DSP_ID"), nr("Cmd_DSP_Boot"),
                                      nr("Cmd_DSP_InitAllPar"), 0xFF0B}));
        const QList<CZunMetaCmd> loads = groupsWith(nr("Cmd_0_DSP_LoadKoef"));
        QCOMPARE(loads.size(), 1);
        QCOMPARE(loads.first().size(), 3); // DSP 0 alone, then DSP 1 alone
        // Each DSP's selection is reported with its set and row.
        QTRY_VERIFY(changed.count() >= 2);
        QSet<int> reported;
        for (const QList<QVariant>& a : changed) {
            const QShPtrFLE s = a.at(1).value<QShPtrFLE>();
            if (s && s->getKey() == m_key && a.at(2).toInt() == 0)
                reported << a.at(0).toInt();
        }
        QCOMPARE(reported, QSet<int>({1, 2}));
        // The active sets are private copies, not the listed set.
        QVERIFY(fir()->activeSet(1) != fir()->GetFIRFilter(m_key));
        QVERIFY(fir()->activeSet(1) != fir()->activeSet(2));
        // The resource check left the set's bytes alone: its copies still carry its id.
        QCOMPARE(fir()->GetFIRFilter(m_key)->dspProgramId(), quint16(0));
        QCOMPARE(fir()->activeSet(1)->getKey(), m_key);

        // Again: the program is there and running, so nothing is uploaded or booted.
        m_sent.clear();
        m_zun->CheckFIRFilterResources(m_key, 0);
        QVERIFY(m_zun->InvokeActivateFIRFilter(m_key, ZunC::NoCopies, m_key, ZunC::NoCopies));
        QVERIFY(waitFor([&]() { return m_sent.count(nr("Cmd_1_DSP_LoadKoef")) == 1; }));
        settle();
        QCOMPARE(m_sent.count(nr("Cmd_Block_ID")), 0);
        QCOMPARE(m_sent.count(nr("Cmd_DSP_Boot")), 0);

        // Reconnect with the cache gone: the set is downloaded and has the same key.
        m_zun.reset();
        QDir(cacheFolder()).removeRecursively();
        start(1080, false);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(m_sent.count(nr("ID_TX_Block")) >= 3, true);
        QVERIFY(m_sent.contains(nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"))));
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 1);
        QCOMPARE(fir()->GetFirModel()->item(0)->data(Qt::UserRole).toUInt(), m_key);
        QCOMPARE(fir()->GetFIRFilter(m_key)->GetName(), QStringLiteral("Main PA"));
        QCOMPARE(cached().size(), 1);
        QCOMPARE(m_zun->GetActiveFilterIndex(2), m_key);

        // And with the cache in place nothing is downloaded.
        m_zun.reset();
        start(1080, false);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!m_sent.contains(nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"))));
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 1);

        // Removal: gone from the flash, the list and the model; reported with its id.
        ZunSignalSpy removed(fir(), &CZunFIRLimManager::signal_FIRFilterRemoved);
        ZunSignalSpy failed(m_zun.get(), &CZun::signal_exception);
        m_zun->RemoveFIRFilter(m_key);
        QVERIFY(waitFor([&]() { return removed.count() > 0; }));
        QCOMPARE(failed.count(), 0);
        QCOMPARE(removed.at(0).at(0).toUInt(), m_key);
        QVERIFY(waitFor([&]() { return !mem()->hasFilterId(m_key); }));
        settle();
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 0);
        QCOMPARE(fir()->filterCount(), 0);
        QVERIFY(cached().isEmpty()); // the directory change dropped the stale copy
    }

    // A limiter edit stores the set again: as a new set while the other DSP shares it, in
    // its place once it is DSP 0's alone; linking shares one object between the DSPs.
    void limiterUpdatesAndLinking()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key); }));
        m_zun->CheckFIRFilterResources(m_key, 0);
        m_zun->InvokeActivateFIRFilter(m_key, ZunC::NoCopies, m_key, ZunC::NoCopies);
        QVERIFY(waitFor([&]() { return m_zun->GetActiveFilterIndex(2) == m_key && fir()->activeSet(2); }));
        settle();

        QShPtrFLE a0 = fir()->activeSet(1);
        a0->setAmpGain(20.0, 0);
        QVERIFY(a0->limiterModified());
        QVERIFY(m_zun->InvokeUpdateLimiter(0));
        QVERIFY(waitFor([&]() { return m_zun->GetActiveFilterIndex(1) != m_key && m_zun->GetActiveFilterIndex(1) != 0; }));
        settle();
        const quint32 edited = m_zun->GetActiveFilterIndex(1);
        QCOMPARE(m_zun->GetActiveFilterIndex(2), m_key); // DSP 1 keeps the stored set
        QVERIFY(mem()->hasFilterId(m_key) && mem()->hasFilterId(edited));
        QVERIFY(fir()->GetFIRFilter(edited)->GetName() != QStringLiteral("Main PA"));
        QCOMPARE(fir()->GetFIRFilter(edited)->ampGain(0), 20.0);
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 2);

        // DSP 0's set alone now: replaced in its own slot.
        const int slot = mem()->GetFilterListPos(edited);
        QTRY_VERIFY(fir()->activeSet(1) && fir()->activeSet(1)->getKey() == edited);
        fir()->activeSet(1)->setAmpGain(18.0, 1);
        m_zun->InvokeUpdateLimiter(0);
        QVERIFY(waitFor([&]() {
            const quint32 id = m_zun->GetActiveFilterIndex(1);
            return id != edited && id != 0 && mem()->hasFilterId(id);
        }));
        settle();
        const quint32 again = m_zun->GetActiveFilterIndex(1);
        QCOMPARE(mem()->GetFilterListPos(again), slot);
        QVERIFY(!mem()->hasFilterId(edited));
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 2);

        // Linking: DSP 1 takes DSP 0's set, and both DSPs share one object.
        ZunSignalSpy linked(fir(), &CZunFIRLimManager::signal_FirFiltersLinked);
        fir()->SetFirFiltersLinked(true);
        QVERIFY(fir()->FirFiltersLinked());
        QVERIFY(waitFor([&]() { return linked.count() == 1; }));
        QCOMPARE(linked.at(0).at(0).toBool(), true);
        QVERIFY(waitFor([&]() { return m_zun->GetActiveFilterIndex(2) == again; }));
        settle();
        QVERIFY(fir()->activeSet(1) == fir()->activeSet(2));
        fir()->SetFirFiltersLinked(false);
        QVERIFY(waitFor([&]() { return linked.count() == 2; }));
        QCOMPARE(linked.at(1).at(0).toBool(), false);
        QVERIFY(fir()->activeSet(1) != fir()->activeSet(2));
        QCOMPARE(fir()->activeSet(2)->getKey(), again);
    }

    // Sets of one name (two pass-through sets; a limiter edit stored in place keeps its
    // set's name): every list tells them apart, and a name alone again is shown alone.
    // Activations asked back to back reach the DSPs in that order and the last one asked
    // runs at the end: none runs inside another's wait for the DSPs' boot.
    void activationsRunOneAfterAnother()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QList<quint32> keys;
        for (const int multipath : {1, 2}) {
            const QShPtrFLE set = fir()->CreateThruFIRFilter(48000.0, multipath);
            m_zun->UploadFIRFilter(set, 0);
            keys << set->getKey();
        }
        settle();
        QVERIFY(waitFor([&]() { return fir()->GetFIRFilterPos(keys[0]) >= 0 && fir()->GetFIRFilterPos(keys[1]) >= 0; }));
        // The DSPs run the first (from here on nothing is activated unasked).
        QVERIFY(m_zun->InvokeActivateFIRFilter(keys[0], ZunC::NoCopies, keys[0], ZunC::NoCopies));
        QVERIFY(waitFor([&]() { return m_zun->GetActiveFilterIndex(1) == keys[0]; }));
        settle();
        fir()->setBootPauseMs(300);
        m_sent.clear();
        const QList<quint32> asked{keys[1], keys[0]};
        for (const quint32 key : asked)
            QVERIFY(m_zun->InvokeActivateFIRFilter(key, ZunC::NoCopies, key, ZunC::NoCopies));
        auto loaded = [&]() {
            QList<quint32> ids;
            for (const auto& c : m_sent.commands())
                if (c.first == nr("Cmd_0_FIR_ID0"))
                    ids << c.second;
            return ids;
        };
        QVERIFY(waitFor([&]() { return loaded().size() >= 2 && loaded().contains(asked[0] & 0xFFFF); }));
        settle();
        QTest::qWait(700); // a load still inside a wait is sent by now
        settle();
        fir()->setBootPauseMs(50);
        QCOMPARE(loaded().mid(loaded().size() - 2), (QList<quint32>{asked[0] & 0xFFFF, asked[1] & 0xFFFF}));
        QCOMPARE(m_zun->GetActiveFilterIndex(1), asked[1]);
    }

    // A device object goes only once no worker can reach it: one busy past the stop's
    // first wait (5.5 s without a look at its interruption) is waited for, not left
    // running against a freed object.
    void aBusyWorkerKeepsItsDeviceObject()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        const ZunLogCapture log;
        std::atomic<bool> done{false};
        const CZun* zun = m_zun.get();
        QVERIFY(QMetaObject::invokeMethod(
            fir(),
            [zun, &done]() {
                QThread::msleep(5500);
                done = zun->GetFirmwareVersion() == 1080;
            },
            Qt::QueuedConnection));
        m_zun.reset();
        QVERIFY(done);
        QVERIFY(!log.logged(QStringLiteral("left running")));
    }

    void setsOfOneNameAreToldApart()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        const QShPtrFLE a = fir()->CreateThruFIRFilter(96000.0, 0), b = fir()->CreateThruFIRFilter(96000.0, 0);
        b->setAmpGain(18.0, 0);
        b->computeKey();
        QCOMPARE(a->GetName(), b->GetName());
        m_zun->UploadFIRFilter(a, 0);
        m_zun->UploadFIRFilter(b, 0);
        settle();
        QStandardItemModel* model = fir()->GetFirModel();
        QTRY_COMPARE(model->rowCount(), 2);
        QTRY_VERIFY(model->item(0)->text() != model->item(1)->text());
        QVERIFY(model->item(0)->text().startsWith(a->GetName()) && model->item(1)->text().startsWith(a->GetName()));

        m_zun->RemoveFIRFilter(b->getKey());
        QTRY_COMPARE(model->rowCount(), 1);
        QTRY_COMPARE(model->item(0)->text(), a->GetName());
    }

    // Import from a folder (XML only when "xmlFir" says so), the setups' names in the
    // tool tips, and writing every set out.
    void importToolTipsAndExport()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QTemporaryDir folder;
        QVERIFY(QFile::copy(m_firFile, folder.filePath(QStringLiteral("a.fir"))));
        // A name longer than the flash keeps is stored cut, and the log says so. Mended: the
        // file was refused.
        const QString longName = QStringLiteral("From XML, stage left hang");
        FilterLimiterEWS other(QString(), 48000.0);
        other.setOutput(0, QVector<qint32>(100, 77), 5, 0);
        other.SetName(longName);
        const quint32 xmlKey = other.computeKey();
        other.exportXml(folder.filePath(QStringLiteral("b.xml")));
        QFile xml(folder.filePath(QStringLiteral("b.xml")));
        QVERIFY(xml.open(QIODevice::ReadWrite));
        const QByteArray text = xml.readAll().replace(longName.left(24).toLatin1(), longName.toLatin1());
        QVERIFY(xml.resize(0) && xml.write(text) == text.size());
        xml.close();
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);

        QMetaObject::invokeMethod(fir(), "fromDir", Qt::BlockingQueuedConnection, Q_ARG(QString, folder.path()));
        settle();
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key); }));
        QVERIFY(!mem()->hasFilterId(xmlKey));
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QStringLiteral("xmlFir"), true);
        QMetaObject::invokeMethod(fir(), "fromDir", Qt::BlockingQueuedConnection, Q_ARG(QString, folder.path()));
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).remove(QStringLiteral("xmlFir"));
        settle();
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(xmlKey); }));
        QCOMPARE(m_sent.count(0xFF00), 2); // the set already stored was not sent again
        QStringList lines;
        for (const QList<QVariant>& line : log)
            lines << line.at(0).toString();
        QVERIFY2(lines.filter(QStringLiteral("FIR file b.xml: the name '%1' (25 characters) was cut to '%2'")
                                  .arg(longName, longName.left(24)))
                         .size() == 1,
                 qPrintable(lines.join('|')));
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 2);
        QCOMPARE(cached().size(), 2);

        QMap<quint32, QStringList> uses;
        uses.insert(m_key, {QStringLiteral("Concert")});
        QMetaObject::invokeMethod(fir(), [&]() { fir()->UpdateFirModel(uses); }, Qt::BlockingQueuedConnection);
        QStandardItemModel* model = fir()->GetFirModel();
        const int row = fir()->GetFIRFilterPos(m_key);
        QTRY_VERIFY(model->item(row)->data(Qt::ToolTipRole).toString().contains(QStringLiteral("Concert")));
        QVERIFY(!model->item(1 - row)->data(Qt::ToolTipRole).toString().contains(QStringLiteral("Concert")));

        QTemporaryDir out;
        QMetaObject::invokeMethod(fir(), "allToFile", Qt::BlockingQueuedConnection, Q_ARG(QString, out.path()));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 2);
    }

    void removingAnUnknownSetIsRefused()
    {
        // Cached files of sets the flash does not hold, a damaged one among them, go.
        QVERIFY(QDir().mkpath(cacheFolder()));
        QVERIFY(QFile::copy(m_firFile, cacheFolder() + QStringLiteral("/stale.fir")));
        QFile bad(cacheFolder() + QStringLiteral("/bad.fir"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("PK\x03\x04 not a zip");
        bad.close();
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(cached().isEmpty());
        QCOMPARE(fir()->filterCount(), 0);
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        m_sent.clear();
        m_zun->RemoveFIRFilter(0x1234);
        QTRY_COMPARE(exception.count(), 1);
        QCOMPARE(exception.at(0).at(0).toString(),
                 QStringLiteral("CZunFIRLimManager::RemoveFIRFilter(): FIR filter 00001234 is not stored on the device."));
        QCOMPARE(m_sent.groups().size(), 0);
        // No level of the list mutex is left held: another thread gets it at once.
        std::atomic<bool> done{false};
        QThread* reader = QThread::create([&]() {
            fir()->filterCount();
            done = true;
        });
        reader->start();
        QVERIFY(reader->wait(5000));
        QVERIFY(done);
        delete reader;
        // and the manager still works
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key); }));
    }

    void fullFlashRefusesBeforeListing()
    {
        start(1076); // list layout: 50 directory entries
        if (QTest::currentTestFailed())
            return;
        // 48 entries: 30 setups, 18 of them deleted, 18 stored again.
        auto store = [&]() {
            CZunMetaCmd g(nr("Cmd_SetupStore"), 254);
            g.setSupersede(false); // every store counts
            m_zun->SendMetaCmd(g);
        };
        for (int i = 0; i < 30; ++i)
            store();
        for (int i = 0; i < 18; ++i) {
            CZunMetaCmd del(nr("Cmd_MemID2"), nr("ID_List_Setup"));
            del.appendCmd(nr("Cmd_MemID0"), quint16(i));
            del.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_DeleteInF"));
            del.setSupersede(false);
            m_zun->SendMetaCmd(del);
        }
        for (int i = 0; i < 18; ++i)
            store();
        settle();
        m_zun->RefreshMemDir();
        const bool filled = waitFor([&]() { return mem()->entryCount() == 48; });
        QVERIFY2(filled, qPrintable(QStringLiteral("entries %1 setups %2 deleted %3").arg(mem()->entryCount())
                                        .arg(mem()->setupCount()).arg(mem()->deletedCount())));
        settle();
        QVERIFY(!mem()->canUpload());

        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        m_sent.clear();
        upload(m_firFile);
        QTRY_COMPARE(exception.count(), 1);
        QCOMPARE(exception.at(0).at(0).toString(),
                 QStringLiteral("Max capacity of flash mem reached. Filter Main PA will not be uploaded."));
        QCOMPARE(m_sent.count(0xFF00), 0);
        QCOMPARE(fir()->filterCount(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(fir()->GetFirModel()->rowCount(), 0);
        QVERIFY(cached().isEmpty());
        QCOMPARE(mem()->pendingTransfers(), quint16(0));
    }

    void failedUploadsLeaveNoTraceAndAreRetried()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(m_sim->control(QStringLiteral("failupload")));
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return fir()->pendingUploads() == 0 && mem()->pendingTransfers() == 0; }));
        settle();
        QCOMPARE(fir()->filterCount(), 0);
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 0);
        QVERIFY(cached().isEmpty());
        bool told = false;
        for (const QList<QVariant>& l : log)
            told |= l.at(0).toString() == QStringLiteral("Filter Main PA could not be stored in the flash.");
        QVERIFY(told);

        // A refused program is not kept as uploaded.
        m_sent.clear();
        m_zun->UploadDSPProgram(0x0249);
        settle();
        QCOMPARE(m_sent.count(nr("Cmd_Block_ID")), 1);
        QCOMPARE(dsp()->pendingUploads(), 0);
        QVERIFY(!dsp()->programs().contains(ZunDSPProgramInfo(0x0249, 1080)));

        QVERIFY(m_sim->control(QStringLiteral("failupload off")));
        // With the flash working again both go through.
        m_sent.clear();
        m_zun->UploadDSPProgram(0x0249);
        m_zun->UploadDSPProgram(0x0249); // on its way or stored: not sent again
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key) && mem()->hasDSPProgramId(0x0249); }));
        QCOMPARE(m_sent.count(nr("Cmd_Block_ID")), 1);
        QTRY_COMPARE(fir()->GetFirModel()->rowCount(), 1);
        QVERIFY(dsp()->programs().contains(ZunDSPProgramInfo(0x0249, 1080)));
    }

    // A new start forgets a transfer whose completion never came: its count does not keep
    // the manager from reporting itself initialised.
    void initializeStartsWithNothingPending()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(m_sim->control(QStringLiteral("silent")));
        m_zun->UploadFIRFilterFile(m_firFile, 0);
        QVERIFY(waitFor([&]() { return fir()->pendingUploads() == 1; }));
        ZunSignalSpy initialized(fir(), &CZunFIRLimManager::signal_Initialized);
        QVERIFY(QMetaObject::invokeMethod(fir(), "initialize", Qt::BlockingQueuedConnection));
        ZunSignalSpy::takeQueued();
        QCOMPARE(fir()->pendingUploads(), 0u);
        QCOMPARE(fir()->pendingDownloads(), 0u);
        QCOMPARE(initialized.count(), 1);
        QVERIFY(!fir()->upDownLoadsInProgress());
    }

    // A block damaged on the way in makes the device object empty the link's buffer from
    // the GUI thread while the link thread is still at work; repeated, the transfers still
    // end, nothing is kept, and an undamaged upload goes through afterwards.
    void damagedBlocksEndTheirTransfers()
    {
        start(1080);
        if (QTest::currentTestFailed())
            return;
        for (int round = 0; round < 6; ++round) {
            QVERIFY(m_sim->control(QStringLiteral("corrupt")));
            upload(m_firFile);
            QVERIFY(waitFor([&]() { return fir()->pendingUploads() == 0 && mem()->pendingTransfers() == 0; }));
            QVERIFY(!mem()->hasFilterId(m_key));
        }
        QVERIFY(m_sim->control(QStringLiteral("corrupt off")));
        upload(m_firFile);
        QVERIFY(waitFor([&]() { return mem()->hasFilterId(m_key); }));
    }
};

QTEST_GUILESS_MAIN(TestFirLimE2E)
#include "tst_firlim_e2e.moc"
