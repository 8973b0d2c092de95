// The operations that work with the FIR/limiter and setup managers, against the emulator:
// the garbage collection's backup and restore, and a whole routing configuration.
#include "TcpSimProcess.h"
#include "CCmdMapServer.h"
#include "CMemoryManager.h"
#include "CZunImageDefaults.h"
#include "CZunServer.h"
#include "CZunFIRLimManager.h"
#include "CRoutingManager.h"
#include "FilterLimiterEWS.h"
#include "ZunCrc16.h"
#include "ZunDSPProgramInfo.h"
#include "ZunDSPProgramManager.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
// The emulator process helper of the protocol tests.
#include "ZunBaseComm.h"
#include "ZunBackupRecord.h"
#include "ZunGarbageCollection.h"
#include "ZunLogCapture.h"
#include "ZunOperations.h"
#include "ZunSetup.h"
#include "DeviceTestRig.h"
#include "ZunDiskFlushProbe.h"
#include "ZunSignalSpy.h"
#include "ZunSmallDisk.h"

#include <QGuiApplication>
#include <QTcpServer>
#include <QtTest>

#include <functional>

using namespace DeviceTestRig;

class TestMaintenanceE2E : public QObject
{
    Q_OBJECT

    static constexpr quint16 Program = 0x0249; // a DSP program of the emulator's firmware
    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }

    void start(const QStringList& extra = {})
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start(QStringList{"--serial", "42", "--firmware", "1080"} + extra), qPrintable(m_sim->error()));
        attach();
        QVERIFY(settleFirstSet(m_zun.get()));
    }
    // A device object of its own against the running emulator: the program started (again).
    // boxes: the device object's boxes; listen: connects to it before it connects.
    void attach(QStringList* boxes = nullptr, const std::function<void()>& listen = nullptr)
    {
        m_zun.reset(new CZun(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>()));
        if (boxes)
            connect(m_zun.get(), &CZun::signal_exception, this, [boxes](QString text, QString) { *boxes << text; });
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.get());
        if (listen)
            listen();
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
    }


    void settle() { QVERIFY(settleTransfers(m_zun.get())); }

    static QString field(const QString& state, const QString& name) { return stateField(state, name); }
    QString state() { return m_sim->query(QStringLiteral("state"), QStringLiteral("state ")); }
    // One word as the processor holds it.
    int held(const char* name)
    {
        return m_sim->query(QStringLiteral("get %1").arg(nr(name)), QStringLiteral("word ")).section(' ', 2, 2).toInt();
    }
    // The FIR sets the DSPs run, as the processor holds them.
    QList<int> runningSets()
    {
        return {held("Cmd_0_FIR_ID0"), held("Cmd_0_FIR_ID1"), held("Cmd_1_FIR_ID0"), held("Cmd_1_FIR_ID1")};
    }

    // The flash as a fresh directory lists it: each set id, each setup id at its position.
    QStringList flashContents()
    {
        settle();
        ZunSignalSpy read(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        m_zun->RefreshMemDir();
        if (!read.wait(10000))
            return {QStringLiteral("no directory")};
        const CMemoryManager* mem = m_zun->GetMemoryManager();
        QStringList held;
        for (int i = 0; i < mem->filterListSize(); ++i)
            if (mem->filterIdAt(i))
                held << QStringLiteral("set %1").arg(mem->filterIdAt(i), 0, 16);
        held.sort();
        for (int p = 0; p < mem->setupListSize(); ++p)
            if (mem->setupIdAt(p))
                held << QStringLiteral("setup %1: %2").arg(p).arg(mem->setupIdAt(p), 0, 16);
        return held;
    }

    // Three sets of its own stored beside the pass-through one, the first run by the DSPs
    // (a crossover, not full range), or by DSP 1 and the second by DSP 2; returns the first's id.
    quint32 runOwnSets(bool dsp2Apart = false)
    {
        QList<quint32> keys;
        for (const double gain : {6.0, 12.0, 18.0}) {
            const QShPtrFLE set = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
            set->setAmpGain(gain, 0);
            set->computeKey();
            m_zun->UploadFIRFilter(set, 0);
            keys << set->getKey();
        }
        const quint32 crossover = keys.first(), second = dsp2Apart ? keys.at(1) : crossover;
        settle();
        if (!m_zun->InvokeActivateFIRFilter(crossover, ZunC::NoCopies, second, ZunC::NoCopies) || !waitUntil([&]() {
                return m_zun->GetActiveFilterIndex(1) == crossover
                    && (!dsp2Apart || m_zun->GetActiveFilterIndex(2) == second);
            }))
            return 0;
        settle();
        return crossover;
    }

    // Another program, whose configuration folder holds no backup, connects to the erased
    // processor: it activates nothing over the sets the DSPs still run, stores nothing, and
    // says once that the running set is not stored.
    void secondProgramLeavesTheDSPs(const QList<int>& running)
    {
        QTemporaryDir otherFolder;
        QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        settings.setValue(QStringLiteral("ConfigDir"), otherFolder.path());
        CZun other(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>());
        other.SetPort(m_sim->tcpPort());
        QStringList told;
        connect(&other, &CZun::signal_exception, this, [&](QString text, QString) { told << text; });
        other.connect(true);
        const bool ready = waitUntil([&]() { return other.IsFIRManagerReady(); }, 30000) && settleTransfers(&other);
        other.RefreshMemDir(); // a second directory read tells nothing more
        const bool settled = settleTransfers(&other);
        settings.setValue(QStringLiteral("ConfigDir"), m_config->path());
        QVERIFY(ready && settled);
        QCOMPARE(runningSets(), running);
        QCOMPARE(field(state(), "filters"), QStringLiteral("0"));
        QCOMPARE(told.size(), 1);
        // Each set the DSPs run is named. Mended: DSP 2's own was not.
        for (const quint16 dsp : {1, 2}) {
            if (other.GetActiveFilterIndex(dsp) == 0)
                continue; // one board: no second DSP
            const QString id = QStringLiteral("%1").arg(other.GetActiveFilterIndex(dsp), 8, 16, QLatin1Char('0'));
            QVERIFY2(told.first().contains(id) && told.first().contains(QStringLiteral("Upload")), qPrintable(told.first()));
        }
        other.disconnect();
    }

    // The operator's erase, and a while after it: no setup comes back, and the processor is
    // at factory state: the pass-through set alone stored, and both DSPs run it.
    void eraseAndStayErased()
    {
        ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
        m_zun->EraseFlashMemory();
        QVERIFY(erased.wait(20000));
        settle();
        QTest::qWait(1000);
        settle();
        QCOMPARE(field(state(), "setups"), QStringLiteral("0"));
        const quint32 thru = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0)->getKey();
        const int low = int(thru & 0xFFFF), high = int(thru >> 16);
        // A single board runs DSP 1 alone.
        const QList<int> factory = m_zun->GetHardwareInfo().isDoubleBoard() ? QList<int>{low, high, low, high}
                                                                             : QList<int>{low, high, 0, 0};
        QVERIFY(waitUntil([&]() { return runningSets() == factory; }));
        QCOMPARE(field(state(), "filters"), QStringLiteral("1"));
    }

    // A pass-through set (from the first connection), two setups and a deleted one.
    void fillFlash()
    {
        QVERIFY(waitUntil([&]() { return field(state(), "filters") == QLatin1String("1"); }, 30000));
        m_zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        m_zun->SaveSetup(1, QStringLiteral("Beta"));
        settle();
        m_zun->SaveSetup(2, QStringLiteral("Gamma"));
        settle();
        const QString s = state();
        QCOMPARE(field(s, "setups"), QStringLiteral("2"));
        QVERIFY(field(s, "deleted").toInt() >= 1);
        QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->setupCount() == 2; }));
        settle();
    }

    // What an operation took for its time is back after its end: the processor's keep-alive
    // at its normal value and watched, and a later lost link has its own box (boxes: how
    // many the device has shown).
    void takenIsBack(const std::function<int()>& boxes)
    {
        settle();
        QCOMPARE(held("Cmd_TCPCloseTime"), 15);
        QVERIFY(m_zun->IsTcpCheckOn());
        const int before = boxes();
        QVERIFY(m_sim->control(QStringLiteral("droplink")));
        m_zun->RefreshMemDir();
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(boxes(), before + 1, 5000);
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        settle();
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }

    void cleanup()
    {
        m_zun.reset();
        m_sim.reset();
        // A backup left by a failed row would be put back at the next row's start.
        const QDir config(m_config->path());
        for (const QString& f : config.entryList({QStringLiteral("42_gc*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), config.filePath(f)});
            QDir(config.filePath(f)).removeRecursively();
        }
    }

    // Every set and setup goes back as it was; the DSPs run what they ran (the emptied flash
    // brings no pass-through set in). What the restore could not put back, or refuses from a
    // backup folder tampered with on disk (checked as a configuration folder is, and against
    // the folder's own record), is named once in one box, each file with its reason; then
    // the record is closed: kept under another name, never put back again (a setup removed
    // on purpose stays removed, no box at the next connection) and a new collection runs. A
    // set whose file is unreadable but is back inside its setup is back. A folder that can
    // not be removed still ends the collection with one message. A folder an earlier version
    // wrote without a record is tried once, then kept. A stored word outside its range would
    // be refused by the restore, a record the disk can not hold would not be read back, a
    // connection's flash not read yet says nothing of what to back up: nothing is erased.
    void garbageCollectionPutsEverythingBack_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("named"); // in the one box, beside the file or folder it names
        QTest::addColumn<int>("lostSets");
        QTest::addColumn<int>("lostSetups");
        QTest::newRow("clean setups") << "" << "" << 0 << 0;
        QTest::newRow("a stored word outside its range") << "outOfRange" << "outside the range" << 0 << 0;
        QTest::newRow("one setup that can not be stored") << "unstorable" << "DSP programs|outside the range" << 0 << 1;
        QTest::newRow("one set that can not be read") << "unreadableSet" << "can not be read" << 1 << 0;
        QTest::newRow("the erase refused") << "eraseRefused" << "" << 0 << 0;
        QTest::newRow("tampered: output gain +60 dB") << "gain" << "outside the range" << 0 << 1;
        QTest::newRow("tampered: a set at 192 kHz") << "rate" << "192000 Hz" << 1 << 0;
        QTest::newRow("tampered: added setups") << "added" << "not part of the backup" << 0 << 0;
        QTest::newRow("tampered: another processor's") << "record" << "processor 17" << 4 << 2;
        QTest::newRow("tampered: a record that lists no file") << "emptyRecord" << "lists no file" << 4 << 2;
        // Tried once with the checks of a configuration folder, then kept under another name.
        QTest::newRow("an earlier version's folder, without a record") << "earlier" << "earlier version" << 0 << 0;
        QTest::newRow("the set's file unreadable, back in a setup") << "carriedUnreadable" << "" << 0 << 0;
        QTest::newRow("the folder can not be removed") << "immutable" << "by hand" << 0 << 0;
        QTest::newRow("the disk full") << "diskFull" << "" << 0 << 0;
        QTest::newRow("the disk full for the record alone") << "diskFullRecord" << "" << 0 << 0;
        // A connection whose flash directory has not come yet: nothing to back up is known.
        QTest::newRow("the flash not read yet") << "unread" << "" << 0 << 0;
    }
    void garbageCollectionPutsEverythingBack()
    {
        QFETCH(QString, fault);
        QFETCH(QString, named);
        QFETCH(int, lostSets);
        QFETCH(int, lostSetups);
        const bool diskFull = fault.startsWith(QLatin1String("diskFull"));
        // The configuration folder on a disk of its own, filled before the collection.
        std::unique_ptr<ZunSmallDisk> disk;
        if (diskFull) {
            disk = std::make_unique<ZunSmallDisk>(m_config->path(), 16);
            if (!disk->ok())
                QSKIP("A disk of the test's own needs root.");
        }
        start();
        if (fault == QLatin1String("unread")) {
            fillFlash();
            const QString held = field(state(), "setups") + " " + field(state(), "filters");
            const QString refuse = QStringLiteral("refuse %1 %2").arg(nr("Cmd_MemCopy")).arg(nr("CmdS_CopyMemDir2RxTxBuf"));
            m_zun.reset();
            QVERIFY(m_sim->control(refuse));
            m_zun.reset(new CZun(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>()));
            m_zun->SetPort(m_sim->tcpPort());
            QStringList boxes;
            connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
            ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
            m_zun->connect(true);
            QVERIFY(waitUntil([&]() { return !m_zun->GetGarbageCollectionFolder().isEmpty(); }, 30000));
            m_zun->doGarbageCollection();
            QVERIFY(!erased.wait(1000));
            QVERIFY2(boxes.filter("has not been read").size() == 1, qPrintable(boxes.join(" / ")));
            QVERIFY(!QDir(m_zun->GetGarbageCollectionFolder()).exists());
            QVERIFY(m_sim->control(QStringLiteral("refuse off")));
            QCOMPARE(field(state(), "setups") + " " + field(state(), "filters"), held);
            return;
        }
        if (fault == QLatin1String("outOfRange"))
            QVERIFY(m_sim->control(QStringLiteral("set %1 250").arg(nr("Cmd_0_MasterGainOfs"))));
        fillFlash();
        const QString thru = QString::number(m_zun->GetActiveFilterIndex(1), 16);
        if (fault != QLatin1String("carriedUnreadable"))
            QVERIFY(runOwnSets() != 0);
        const QList<int> running = runningSets();
        const QStringList before = flashContents();
        const int sets = field(state(), "filters").toInt();
        ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
        // What the operator is shown: the device's boxes, and a success as the window shows it.
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        connect(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished, this, [&](bool ok, QString text) {
            if (ok)
                boxes << text;
        });
        if (fault == QLatin1String("eraseRefused"))
            QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(nr("Cmd_BulkEraseF"))));
        int fewestUploads = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this,
                [&]() { fewestUploads = qMin(fewestUploads, m_zun->GetSetupManager()->pendingUploads()); });
        watch.start(1);
        if (diskFull) {
            // One box that says the disk is full and what could not be written; nothing
            // erased, no backup left. Mended: it named no reason.
            const QString held = field(state(), "setups") + " " + field(state(), "filters");
            // Room for the backup's files alone, as a first backup takes it.
            qint64 files = 0;
            if (fault == QLatin1String("diskFullRecord")) {
                const QString probe = QDir(m_config->path()).filePath(QStringLiteral("probe"));
                files = disk->freeBytes();
                QVERIFY(QDir().mkpath(probe));
                m_zun->BackupToDir(probe);
                files -= disk->freeBytes();
                QVERIFY(QDir(probe).removeRecursively());
            }
            QVERIFY(disk->fill(files));
            m_zun->doGarbageCollection();
            QVERIFY(waitUntil([&]() { return !boxes.isEmpty() && !m_zun->IsRestorePending(); }));
            QCOMPARE(boxes.size(), 1);
            const QString told = boxes.first();
            qInfo().noquote() << "told:" << told;
            if (files) {
                QVERIFY2(told.contains("Nothing was erased") && told.contains("record of its backup")
                             && told.contains("No space left on device"),
                         qPrintable(told));
                QCOMPARE(erased.count(), 0);
                QVERIFY(!QDir(m_zun->GetGarbageCollectionFolder()).exists());
                QCOMPARE(field(state(), "setups") + " " + field(state(), "filters"), held);
                return;
            }
            QVERIFY2(told.contains("Nothing was erased") && told.contains("its disk has 0 kB free")
                         && told.contains("No space left on device") && told.contains(".fir") && told.contains("Set01_"),
                     qPrintable(told));
            QCOMPARE(erased.count(), 0);
            QVERIFY(!m_zun->IsRestorePending());
            QVERIFY(!QDir(m_zun->GetGarbageCollectionFolder()).exists());
            QCOMPARE(field(state(), "setups") + " " + field(state(), "filters"), held);
            // A setup stored meanwhile is listed; its copy in the device folder, which can
            // not be written, goes to the log, not into a box at every download.
            ZunSignalSpy logged(m_zun.get(), &CZun::signal_LogMessage);
            m_zun->SaveSetup(3, QStringLiteral("Delta"));
            settle();
            QVERIFY(waitUntil([&]() { return m_zun->GetSetupManager()->GetSetup(3) != nullptr; }));
            settle();
            QCOMPARE(boxes.size(), 1);
            QVERIFY(waitUntil([&]() {
                for (const QList<QVariant>& line : logged)
                    if (line.at(0).toString().contains("Set03_Delta") && line.at(0).toString().contains("No space left"))
                        return true;
                return false;
            }));
            return;
        }
        // The backup and its record reach the disk without the GUI thread waiting for them.
        // Mended: five syncs of the GUI thread in one collection.
        const int flushes = ZunDiskFlushProbe::guiFlushes();
        ZunSignalSpy started(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Started);
        m_zun->doGarbageCollection();
        const QString folder = m_zun->GetGarbageCollectionFolder();
        const QDir dir(folder);
        QVERIFY(waitUntil([&]() { return started.count() > 0 || !m_zun->IsRestorePending(); }));
        if (fault == QLatin1String("outOfRange")) {
            // Refused before the erase, naming each setup that holds the word.
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes.first().contains(named) && boxes.first().contains("Set01_"), qPrintable(boxes.first()));
            QVERIFY(!dir.exists());
            QVERIFY(!erased.wait(1000));
            QCOMPARE(flashContents(), before);
            QVERIFY(!m_zun->IsRestorePending());
            return;
        }
        QVERIFY(dir.exists());
        const QStringList setFiles = dir.entryList({QStringLiteral("*.fir")}, QDir::Files, QDir::Name);
        const QStringList setupFiles = dir.entryList({QStringLiteral("Set*.zun")}, QDir::Files, QDir::Name);
        // The first in the restore's (name) order of the sets no setup carries back and the
        // DSPs do not run: another comes after it, and depends on the restore going on.
        const QString active = QString::number(m_zun->GetActiveFilterIndex(1), 16);
        QString loose;
        for (const QString& f : setFiles)
            if (loose.isEmpty() && !f.contains(active) && !f.contains(thru))
                loose = f;
        QString file; // the one the box names
        if (fault == QLatin1String("unstorable") || fault == QLatin1String("gain")) {
            file = setupFiles.value(fault == QLatin1String("gain") ? 1 : 0);
            ZunSetup edited(nullptr, dir.filePath(file));
            if (fault == QLatin1String("gain"))
                edited.setValue(94, 600); // an output gain of +60 dB, the limit is +12 dB
            else
                edited.setValue(nr("Cmd_0_DSP_ID"), 0xF123);
            edited.toFile(folder, ZunSetup::numberFromFileName(file), QShPtrFLE(), QShPtrFLE());
        } else if (fault == QLatin1String("unreadableSet") || fault == QLatin1String("carriedUnreadable")) {
            file = fault == QLatin1String("unreadableSet") ? loose : setFiles.filter(thru).value(0);
            QFile f(dir.filePath(file));
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.resize(f.size() / 2);
        } else if (fault == QLatin1String("rate")) {
            file = loose;
            const QShPtrFLE set = m_zun->GetFIRLimManager()->CreateThruFIRFilter(192000.0, 0);
            QVERIFY(QFile::remove(dir.filePath(file)));
            set->toFile(folder, false);
            QVERIFY(QFile::rename(dir.filePath(set->makeFileName(false)), dir.filePath(file)));
        } else if (fault == QLatin1String("added")) {
            file = QStringLiteral("Set99_Far.zun");
            QVERIFY(QFile::copy(dir.filePath(setupFiles.first()), dir.filePath(QStringLiteral("Set05_Added.zun"))));
            QVERIFY(QFile::copy(dir.filePath(setupFiles.first()), dir.filePath(file)));
        } else if (fault == QLatin1String("record")) {
            // Another processor's folder renamed to this one's number.
            file = QDir::toNativeSeparators(folder);
            const QString record = dir.entryList(QDir::Files).filter(QStringLiteral(".json")).value(0);
            QFile f(dir.filePath(record));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray text = f.readAll().replace("42", "17");
                f.close();
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(text);
            }
        } else if (fault == QLatin1String("emptyRecord") || fault == QLatin1String("earlier")) {
            file = QDir::toNativeSeparators(folder);
            QVERIFY(QFile::remove(dir.filePath(QString::fromLatin1(ZunBackupRecord::FileName))));
            QFile f(dir.filePath(QString::fromLatin1(ZunBackupRecord::FileName)));
            if (fault == QLatin1String("emptyRecord"))
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write("{\"processor\": 42, \"files\": []}") > 0);
        } else if (fault == QLatin1String("immutable")) {
            file = QDir::toNativeSeparators(folder);
            if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) != 0)
                QSKIP("chattr +i is not available here");
        }
        QVERIFY(erased.count() > 0 || erased.wait(20000));
        if (fault == QLatin1String("eraseRefused")) {
            QVERIFY(!erased.first().at(0).toBool());
            QVERIFY(m_sim->control(QStringLiteral("refuse off")));
            // The operator's next store stays: no backup is put over it.
            m_zun->SaveSetup(1, QStringLiteral("Delta"));
            settle();
            m_zun->RefreshMemDir();
            settle();
            QVERIFY(!m_zun->IsRestorePending());
            const ZunSetup* stored = m_zun->GetSetupManager()->GetSetup(1);
            QVERIFY(stored && stored->GetSetupName().startsWith(QStringLiteral("Delta")));
            QCOMPARE(runningSets(), running);
            QVERIFY(!QDir(folder).exists()); // nothing was erased: the collection is over
            return;
        }
        QVERIFY2(waitUntil([&]() { return !m_zun->IsRestorePending(); }, 30000), qPrintable(boxes.join(" / ")));
        if (fault.isEmpty()) // the other rows write into the folder themselves
            QCOMPARE(ZunDiskFlushProbe::guiFlushes() - flushes, 0);
        QVERIFY(m_zun->IsTcpCheckOn());
        const QString s = state();
        QCOMPARE(field(s, "setups").toInt(), 2 - lostSetups);
        QCOMPARE(field(s, "filters").toInt(), sets - lostSets);
        QCOMPARE(field(s, "deleted"), QStringLiteral("0"));
        settle();
        QCOMPARE(runningSets(), running);
        if (fault.isEmpty()) {
            // A directory that arrives while a setup is on its way (a slow processor) does
            // not count that upload off before it ends.
            QVERIFY(m_sim->control(QStringLiteral("delay 200")));
            m_zun->RefreshMemDir();
            const QDir cache(m_zun->GetLogFolder());
            m_zun->UploadSetup(cache.filePath(cache.entryList({QStringLiteral("Set01_*.zun")}).value(0)), 3);
            settle();
            QVERIFY(m_sim->control(QStringLiteral("delay 0")));
        }
        // Every upload is counted off once: none is left, none is owed.
        QCOMPARE(fewestUploads, 0);
        QCOMPARE(m_zun->GetSetupManager()->pendingUploads(), 0);
        if (named.isEmpty()) {
            // Gone only once the directory shows them back, and nothing to tell.
            QVERIFY(waitUntil([&]() { return !QDir(folder).exists(); }, 30000));
            if (!fault.isEmpty())
                QCOMPARE(flashContents(), before);
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, 5000);
            QVERIFY2(boxes.first().startsWith(QStringLiteral("The garbage collection is complete"))
                         && !boxes.first().contains(QStringLiteral(".fir")),
                     qPrintable(boxes.join(" / ")));
            // Mended: the collection kept the link's loss report, so a later loss had no box.
            takenIsBack([&]() { return int(boxes.size()); });
            return;
        }
        // One box, the file with its reason, and where the backup is kept.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, 5000);
        const QRegularExpression line(QStringLiteral("%1[^\n]*(%2)").arg(QRegularExpression::escape(file), named));
        QVERIFY2(boxes.first().contains(line), qPrintable(boxes.first()));
        QVERIFY2(!boxes.first().contains(QStringLiteral("Upload Config")), qPrintable(boxes.first()));
        qInfo().noquote() << "told:" << QString(boxes.first()).replace('\n', QStringLiteral(" // "));
        const QStringList archives =
            QDir(m_config->path()).entryList({QStringLiteral("42_gc-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
        if (fault == QLatin1String("immutable")) {
            QVERIFY(dir.exists());
        } else {
            QVERIFY(!dir.exists());
            QCOMPARE(archives.size(), 1);
            QVERIFY2(boxes.first().contains(archives.first()), qPrintable(boxes.first()));
        }
        // A setup removed on purpose stays removed over the next connection, and nothing
        // more is told.
        const bool foreign = fault == QLatin1String("record") || fault == QLatin1String("emptyRecord");
        const int removed = foreign ? -1 : 2 - (lostSetups && file.startsWith("Set02") ? 1 : 0);
        if (removed >= 0) {
            m_zun->RemoveSetup(removed);
            QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->setupIdAt(removed) == 0; }));
        }
        const QString kept = state();
        m_zun->disconnect();
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }));
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        settle();
        QTest::qWait(1500);
        settle();
        QCOMPARE(field(state(), "setups"), field(kept, "setups"));
        QCOMPARE(boxes.size(), 1);
        if (foreign)
            return; // an empty flash under running crossovers: a later collection is no case here
        if (fault == QLatin1String("immutable")) {
            // The folder stays, no record any more: a new collection asks for it to go.
            m_zun->doGarbageCollection();
            QCOMPARE(boxes.size(), 2);
            QVERIFY2(boxes.last().contains(QDir::toNativeSeparators(folder)), qPrintable(boxes.last()));
            return;
        }
        // A new collection runs.
        m_zun->doGarbageCollection();
        QVERIFY(QDir(folder).exists());
        QVERIFY2(waitUntil([&]() { return !QDir(folder).exists(); }, 30000), qPrintable(boxes.join(" / ")));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 2, 5000);
        QVERIFY2(boxes.last().startsWith(QStringLiteral("The garbage collection is complete")), qPrintable(boxes.last()));
        QCOMPARE(field(state(), "setups"), field(kept, "setups"));
    }

    // The collection is one transaction: the link cut or the program restarted at the
    // erase or at a restore upload, the processor ends with what it held (the DSPs on the
    // set they ran, no pass-through set over the pending backup), the backup goes only
    // then, and the operator is told once. An erase that never ran ends the collection: a
    // later erase is not followed by the old backup.
    void garbageCollectionSurvivesACut_data()
    {
        QTest::addColumn<QString>("step"); // "erase" (not run), "erase reply" (run, reply lost), "upload N"
        QTest::addColumn<QString>("cut");  // droplink, silent, restart (a new device object)
        for (const char* cut : {"droplink", "silent", "restart"})
            for (const char* step : {"erase", "erase reply", "upload 1", "upload 4"})
                if (QByteArray(step) != "erase reply" || QByteArray(cut) != "silent")
                    QTest::addRow("%s x %s", step, cut) << QString::fromLatin1(step) << QString::fromLatin1(cut);
        // The link dropped, and another program (another configuration folder: no backup)
        // connects before this one comes back.
        QTest::addRow("erase reply x second program") << QStringLiteral("erase reply") << QStringLiteral("second program");
        QTest::addRow("erase reply x second program, DSP 2 apart")
            << QStringLiteral("erase reply") << QStringLiteral("second program, DSP 2 apart");
        // The restore's link is lost too (a slow processor, a loaded computer), and the
        // program connects again at once: the loss's own report, handled after that, ends
        // nothing of the new connection and is no box of its own; that connection puts the
        // rest back.
        QTest::addRow("upload 1 x silent, restore cut") << QStringLiteral("upload 1") << QStringLiteral("silent twice");
        // The backup moved elsewhere and linked back before the next connection: at the end
        // only what the collection wrote goes, not what the link's target holds besides.
        QTest::addRow("erase reply x droplink, the folder a link") << QStringLiteral("erase reply")
                                                                    << QStringLiteral("droplink, folder linked");
        // Everything is back, and the program is killed before the collection's end: the
        // next connection tells that collection's end as it happened. Mended: it said the
        // collection "had not erased the processor".
        QTest::addRow("upload all x restart") << QStringLiteral("upload all") << QStringLiteral("restart");
        // The configuration folder can not be changed then: the folder stays. Mended: the
        // message said the backup was removed, and that it could not be.
        QTest::addRow("upload all x restart, folder immutable") << QStringLiteral("upload all")
                                                                << QStringLiteral("restart, folder immutable");
    }
    void garbageCollectionSurvivesACut()
    {
        QFETCH(QString, step);
        QFETCH(QString, cut);
        const ZunLogCapture log;
        const bool dsp2Apart = cut.endsWith(QLatin1String("DSP 2 apart")); // two boards
        start(dsp2Apart ? QStringList{"--hardware", "0xFF94"} : QStringList());
        fillFlash();
        QVERIFY(runOwnSets(dsp2Apart) != 0);
        const QStringList before = flashContents();
        const QList<int> running = runningSets();
        QStringList boxes, ends;
        auto listen = [&]() {
            connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
            connect(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished, this,
                    [&](bool, QString text) { ends << text; });
        };
        listen();
        const bool restart = cut.startsWith(QLatin1String("restart"));
        const bool immutable = cut.endsWith(QLatin1String("immutable"));
        const bool twice = cut.endsWith(QLatin1String(" twice"));
        const QString fault = cut.startsWith(QLatin1String("silent")) ? QStringLiteral("silent") : QStringLiteral("droplink");
        const bool all = step == QLatin1String("upload all");
        const int upload = all ? before.size() : step.startsWith(QLatin1String("upload")) ? step.section(' ', 1).toInt() : 0;
        if (step == QLatin1String("erase reply"))
            QVERIFY(m_sim->control(QStringLiteral("droplink reply %1").arg(nr("Cmd_BulkEraseF"))));
        else if (step == QLatin1String("erase") && !restart)
            QVERIFY(m_sim->control(fault));
        else if (upload == 1 && fault == QLatin1String("droplink") && !restart)
            QVERIFY(m_sim->control(QStringLiteral("droplink block")));
        else if (upload)
            QVERIFY(m_sim->control(QStringLiteral("delay 40"))); // the test can stop it between uploads
        ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
        m_zun->doGarbageCollection();
        const QString folder = m_zun->GetGarbageCollectionFolder();
        QVERIFY(QDir(folder).exists());
        const QTemporaryDir elsewhere;
        const QString moved = elsewhere.filePath(QStringLiteral("backup")); // where a linked folder's backup is
        if (upload) {
            QVERIFY(erased.count() > 0 || erased.wait(20000));
            QVERIFY(waitUntil([&]() {
                const QString s = state();
                return field(s, "filters").toInt() + field(s, "setups").toInt() >= upload - (all ? 0 : 1);
            }, 30000));
            if (all) // the collection's last directory read never comes: killed before its end
                QVERIFY(m_sim->control(QStringLiteral("silent")));
            if (!restart && (upload > 1 || fault == QLatin1String("silent")))
                QVERIFY(m_sim->control(fault));
        }
        if (restart) {
            m_zun.reset(); // the program quits at this step, and starts again
            if (immutable && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) != 0)
                QSKIP("chattr +i is not available here");
            // A transfer cut by the quit leaves no lock held.
            QVERIFY(!log.logged(QStringLiteral("destroying locked mutex")));
            QVERIFY(m_sim->control(QStringLiteral("delay 0")));
            QVERIFY(m_sim->control(QStringLiteral("silent off")));
            attach(nullptr, all ? std::function<void()>(listen) : nullptr);
            if (!all)
                listen();
        } else {
            QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }, 40000));
            // One box for the cut, naming the backup.
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, 5000);
            QVERIFY2(boxes.first().contains(QDir::toNativeSeparators(folder)), qPrintable(boxes.first()));
            // What the processor stored before the cut the next directory tells: the box
            // lists no file as not back.
            QVERIFY2(!boxes.first().contains(QStringLiteral(".fir")) && !boxes.first().contains(QStringLiteral(".zun")),
                     qPrintable(boxes.first()));
            QVERIFY(m_sim->control(QStringLiteral("silent off")));
            QVERIFY(m_sim->control(QStringLiteral("delay 0")));
            if (cut.endsWith(QLatin1String("linked"))) {
                QVERIFY(QDir().rename(folder, moved));
                QVERIFY(QDir(moved).mkpath(QStringLiteral("notes")));
                QFile note(QDir(moved).filePath(QStringLiteral("notes/show.txt")));
                QVERIFY(note.open(QIODevice::WriteOnly) && note.write("not the collection's") > 0);
                QVERIFY(QFile::link(moved, folder));
            }
            if (cut.startsWith(QLatin1String("second program"))) {
                secondProgramLeavesTheDSPs(running);
                if (QTest::currentTestFailed())
                    return;
            }
            if (twice) {
                // The restore's first upload loses the link again; the connect follows at
                // once, before this thread has handled that loss.
                QVERIFY(m_sim->control(QStringLiteral("droplink block")));
                const quint64 losses = m_zun->GetLink()->lossesReported();
                m_zun->connect(true);
                QVERIFY(waitUntil([&]() { return m_zun->GetLink()->lossesReported() > losses; }, 40000));
                QVERIFY(QDir(folder).exists());
            }
            m_zun->connect(true);
        }
        if (immutable)
            QVERIFY(waitUntil([&]() { return !ends.isEmpty(); }, 60000));
        else
            QVERIFY2(waitUntil([&]() { return !QDir(folder).exists(); }, 60000), qPrintable(boxes.join(" / ")));
        if (cut.endsWith(QLatin1String("linked"))) {
            QCOMPARE(QDir(moved).entryList(QDir::Files), QStringList());
            QVERIFY(QFileInfo::exists(QDir(moved).filePath(QStringLiteral("notes/show.txt"))));
        }
        QCOMPARE(flashContents(), before);
        QCOMPARE(runningSets(), running);
        // The window lists each setup the processor holds, and no transfer stays counted.
        for (const int p : {1, 2})
            QVERIFY(waitUntil([&]() { return m_zun->GetSetupManager()->GetSetup(p) != nullptr; }));
        QVERIFY(waitUntil([&]() {
            return m_zun->GetSetupManager()->pendingDownloads() == 0 && m_zun->GetFIRLimManager()->pendingDownloads() == 0;
        }));
        QVERIFY2(boxes.size() == (restart ? 0 : twice ? 2 : 1), qPrintable(boxes.join(QStringLiteral(" / "))));
        QVERIFY(!m_zun->IsRestorePending());
        qInfo().noquote() << "told:" << (boxes + ends).join(QStringLiteral(" | "));
        if (immutable) {
            QVERIFY2(ends.size() == 1 && ends[0].contains("could not be removed") && ends[0].contains("holds every")
                         && !ends[0].contains("was removed") && QDir(folder).exists(),
                     qPrintable(ends.join(" | ")));
            // Said once: a program started later logs it. Mended: a box at every start.
            m_zun.reset();
            QStringList logged;
            attach(nullptr, [&]() {
                listen();
                connect(m_zun.get(), &CZun::signal_LogMessage, this, [&](QString text) { logged << text; });
            });
            QVERIFY(waitUntil([&]() { return !logged.filter("could not be removed").isEmpty(); }, 30000));
            QVERIFY2(ends.size() == 1 && boxes.isEmpty(), qPrintable((boxes + ends).join(" | ")));
        }
        else if (all)
            QVERIFY2(ends.size() == 1 && ends[0].contains("did not reach its end") && ends[0].contains("holds every"),
                     qPrintable(ends.join(" | ")));
        // Mended: the loss report stayed with the collection (or the restore a connection
        // ran), and the keep-alive stayed off after an erase whose reply was lost.
        takenIsBack([&]() { return boxes.size(); });
        if (step != QLatin1String("erase") || restart)
            return;
        // The erase never ran: the operator's own erase is not followed by the old backup.
        eraseAndStayErased();
    }

    // A setup stored under older firmware is listed by the id of its old image and backed up
    // converted: the collection runs, and the setup comes back converted, as it is read.
    void garbageCollectionConvertsASetupOfOlderFirmware()
    {
        start();
        fillFlash();
        QVERIFY(m_sim->control(QStringLiteral("oldsetup 3 1077 Older")));
        m_zun->RefreshMemDir();
        auto older = [&]() {
            const ZunSetup* s = m_zun->GetSetupManager()->GetSetup(3);
            return s && s->GetSetupName().startsWith(QLatin1String("Older"));
        };
        QVERIFY(waitUntil(older, 30000));
        settle();
        const quint32 stored = m_zun->GetMemoryManager()->setupIdAt(3);
        const QList<int> running = runningSets();
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        m_zun->doGarbageCollection();
        const QString folder = m_zun->GetGarbageCollectionFolder();
        QVERIFY2(waitUntil([&]() { return !QDir(folder).exists(); }, 60000) && boxes.isEmpty(),
                 qPrintable(boxes.join(QStringLiteral(" / "))));
        const QString s = state();
        QCOMPARE(field(s, "setups"), QStringLiteral("3"));
        QCOMPARE(field(s, "deleted"), QStringLiteral("0"));
        QVERIFY(waitUntil(older, 30000));
        const quint32 converted = m_zun->GetMemoryManager()->setupIdAt(3);
        QVERIFY(converted != 0 && converted != stored);
        QCOMPARE(m_zun->GetSetupManager()->GetSetup(3)->GetCRC(), converted);
        QCOMPARE(runningSets(), running);
    }

    // A setup the program has not read from the processor yet (here: every read of it is
    // refused) is not in the backup: the collection erases nothing and says why.
    void garbageCollectionRefusalNamesWhatWasNotRead()
    {
        start();
        QVERIFY(m_sim->control(QStringLiteral("refuse %1 %2")
                                   .arg(nr("Cmd_MemCopy"))
                                   .arg(nr("ID_FAI_Ctrl_r") + nr("CmdS_CopyF2RxTxBuf"))));
        m_zun->SaveSetup(1, QStringLiteral("Alpha"));
        QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->setupIdAt(1) != 0; }));
        QVERIFY(DeviceTestRig::settle(m_zun.get()));
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        m_zun->doGarbageCollection();
        QVERIFY(waitUntil([&]() { return !m_zun->IsRestorePending(); }));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("setup 1: not read from the processor yet")), qPrintable(boxes.first()));
        QVERIFY(m_sim->control(QStringLiteral("refuse off")));
        QCOMPARE(field(state(), "setups"), QStringLiteral("1"));
        QVERIFY(!QDir(m_zun->GetGarbageCollectionFolder()).exists());
    }

    // A setup stored since the erase (by another program, at the front panel) is newer
    // than its backup: the restore leaves it in its place.
    void restoreKeepsASetupStoredSinceTheErase()
    {
        start();
        fillFlash();
        QVERIFY(m_sim->control(QStringLiteral("droplink reply %1").arg(nr("Cmd_BulkEraseF"))));
        ZunSignalSpy cut(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished);
        m_zun->doGarbageCollection();
        QVERIFY(cut.wait(40000)); // the link lost right after the erase
        QCOMPARE(field(state(), "setups"), QStringLiteral("0"));
        QVERIFY(m_sim->control(QStringLiteral("oldsetup 1 1080 Newer")));
        m_zun->connect(true);
        QVERIFY2(waitUntil([&]() { return field(state(), "setups") == QLatin1String("2"); }, 30000), qPrintable(state()));
        settle();
        QVERIFY(waitUntil([&]() {
            ZunSetup* s = m_zun->GetSetupManager()->GetSetup(1);
            return s && s->GetCRC() == m_zun->GetMemoryManager()->setupIdAt(1);
        }, 30000));
        QVERIFY2(m_zun->GetSetupManager()->GetSetup(1)->GetSetupName().startsWith(QLatin1String("Newer")),
                 qPrintable(m_zun->GetSetupManager()->GetSetup(1)->GetSetupName()));
    }

    // The operator's erase while the backup of an earlier collection waits (a folder an
    // earlier run left) ends that collection: the folder is kept under another name, and
    // nothing of it is put back over the erase.
    void operatorEraseSetsAPendingBackupAside()
    {
        start();
        fillFlash();
        const QString folder = m_zun->GetGarbageCollectionFolder();
        QVERIFY(QDir().mkpath(folder));
        m_zun->BackupToDir(folder);
        QMap<QString, QString> unfit;
        QString error;
        QVERIFY(ZunBackupRecord::ofFolder(m_zun.get(), folder, &unfit).write(folder, &error));
        eraseAndStayErased();
        QVERIFY(!QDir(folder).exists());
        const QStringList kept = QDir(m_config->path()).entryList({QStringLiteral("42_gc-*")}, QDir::Dirs);
        QCOMPARE(kept.size(), 1);
        QVERIFY(QDir(QDir(m_config->path()).filePath(kept.first())).removeRecursively());
    }

    // The operator's Erase All over a running crossover ends at factory state, and nothing
    // says a set is unstored: not after the erase, not at the next start. Mended: an erase
    // the processor refused left its mark, so that a flash another program emptied later
    // got the pass-through set, activated over the crossover the DSPs ran.
    void operatorEraseEndsAtFactoryState_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("answered") << false;
        QTest::newRow("refused, the flash emptied later by another program") << true;
    }
    void operatorEraseEndsAtFactoryState()
    {
        QFETCH(bool, refused);
        start();
        fillFlash();
        QVERIFY(runOwnSets() != 0);
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        if (refused) {
            QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(nr("Cmd_BulkEraseF"))));
            ZunSignalSpy erased(m_zun.get(), &CZun::signal_FlashMemErased);
            m_zun->EraseFlashMemory();
            QVERIFY(erased.wait(20000));
            QVERIFY(!erased.first().at(0).toBool());
            settle();
            QVERIFY(m_sim->control(QStringLiteral("refuse off")));
            const QList<int> running = runningSets();
            QVERIFY(secondClientSends(m_sim->tcpPort(), nr("Cmd_BulkEraseF"), 0));
            QCOMPARE(field(state(), "filters"), QStringLiteral("0"));
            boxes.clear();
            QCOMPARE(flashContents(), QStringList());
            // The directory read names the crossover as unstored and activates nothing.
            QVERIFY2(waitUntil([&]() { return !boxes.isEmpty(); }), "no box after the directory read");
            settle();
            QCOMPARE(runningSets(), running);
            QCOMPARE(field(state(), "filters"), QStringLiteral("0"));
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes.first().contains(QStringLiteral("does not hold")), qPrintable(boxes.first()));
            return;
        }
        eraseAndStayErased();
        m_zun.reset();
        attach(&boxes);
        settle();
        QTest::qWait(500);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
        QCOMPARE(field(state(), "filters"), QStringLiteral("1"));
    }

    // An activation cut between its two set words (the link lost, the program killed, on a
    // processor with sets of its own or on an empty one at its first connection) leaves the
    // processor naming a set by half while the DSP runs what it ran (the load never went).
    // Mended: the next connection loaded the half-named set over the one that runs. Its words
    // are named again for the set that runs (the stored set that owns the high word left,
    // or none), nothing is loaded, the log says the activation did not happen, no box names
    // an unstored set, and a killed activation's box names what runs. Mended: the lost
    // link's word of the load it dropped, reaching the FIR/limiter manager once the next
    // connection was up, was taken for a block refused on that one: the words were named
    // again with a box that blamed a refused block, and the log said nothing.
    void aCutActivationIsNamedAgainForTheSetThatRuns_data()
    {
        // "link" (the same program connects again; "late": the lost link's reports reach the
        // FIR/limiter manager once the next connection is up) or "kill"
        QTest::addColumn<QString>("cut");
        QTest::addColumn<bool>("empty");  // the first connection to an empty processor
        QTest::addColumn<bool>("shared"); // two stored sets have the low word sent
        QTest::newRow("link lost") << QStringLiteral("link") << false << false;
        QTest::newRow("link lost, told late") << QStringLiteral("late") << false << false;
        QTest::newRow("killed") << QStringLiteral("kill") << false << false;
        QTest::newRow("killed at the first connection") << QStringLiteral("kill") << true << false;
        QTest::newRow("two stored sets share the low word") << QStringLiteral("link") << false << true;
    }
    void aCutActivationIsNamedAgainForTheSetThatRuns()
    {
        QFETCH(QString, cut);
        QFETCH(bool, empty);
        QFETCH(bool, shared);
        const QString cutAtLowWord = QStringLiteral("droplink reply %1");
        QStringList boxes, log;
        const auto hold = QSharedPointer<QSemaphore>::create();
        auto listen = [&]() {
            connect(m_zun.get(), &CZun::signal_LogMessage, this, [&](QString text, bool) { log << text; });
        };
        quint32 target = 0, before = 0; // the set activated, the set the DSP ran
        if (empty) {
            m_sim.reset(new TcpSimProcess);
            QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080"}), qPrintable(m_sim->error()));
            QVERIFY(m_sim->control(cutAtLowWord.arg(map(1080)->getCmdNr("Cmd_0_FIR_ID0"))));
            attach(&boxes);
            target = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0)->getKey();
        } else {
            start();
            connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
            before = runOwnSets();
            QVERIFY(before != 0);
            const QStringList sets = flashContents().filter(QStringLiteral("set "));
            for (const QString& s : sets)
                if (s.section(' ', 1).toUInt(nullptr, 16) >> 16 != before >> 16)
                    target = s.section(' ', 1).toUInt(nullptr, 16);
            if (shared) {
                // Names tried in turn until two sets have one low word.
                const QShPtrFLE probe = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
                QHash<quint16, QString> named;
                QStringList pair;
                for (int n = 0; pair.isEmpty(); ++n) {
                    probe->SetName(QStringLiteral("L%1").arg(n));
                    const quint32 key = probe->computeKey();
                    if (key >> 16 == before >> 16)
                        continue;
                    if (named.contains(quint16(key)))
                        pair = QStringList{named.value(quint16(key)), probe->GetName()};
                    named.insert(quint16(key), probe->GetName());
                }
                for (const QString& name : pair) {
                    const QShPtrFLE set = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
                    set->SetName(name);
                    target = set->computeKey();
                    m_zun->UploadFIRFilter(set, 0);
                }
                settle();
                QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->hasFilterId(target); }));
            }
            QVERIFY(target != 0);
            QVERIFY(m_sim->control(cutAtLowWord.arg(nr("Cmd_0_FIR_ID0"))));
            // The operator's choice, as the window records it.
            m_zun->GetOperations()->journal()->add(ZunLongOperation::FirChoice);
            if (cut == QLatin1String("late")) {
                // The manager's thread is held once the load is sent, until the link is up again.
                connect(m_zun->GetFIRLimManager(), &CZunFIRLimManager::signal_ActivationSent, this,
                        [hold]() { hold->tryAcquire(1, 30000); }, Qt::DirectConnection);
            }
            m_zun->InvokeActivateFIRFilter(target, ZunC::NoCopies, target, ZunC::NoCopies);
        }
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }, 30000));
        // The processor names the new set's low word beside the high word of before.
        const QList<int> runs = {int(before & 0xFFFF), int(before >> 16)};
        QCOMPARE(runningSets().mid(0, 2), QList<int>({int(target & 0xFFFF), runs.at(1)}));
        if (cut == QLatin1String("kill")) {
            QFile record(QDir(m_config->path()).filePath(QStringLiteral("42_operations.json")));
            const QByteArray killed = record.open(QIODevice::ReadOnly) ? record.readAll() : QByteArray();
            record.close();
            m_zun.reset();
            if (!killed.isEmpty()) {
                QVERIFY(record.open(QIODevice::WriteOnly));
                record.write(killed);
                record.close();
            }
            attach(&boxes, listen);
        } else {
            listen();
            m_zun->connect(true);
            QVERIFY(waitUntil([&]() { return m_zun->IsConnected(); }, 30000));
            hold->release();
            QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        }
        QVERIFY(waitUntil([&]() { return runningSets().mid(0, 2) == runs; }));
        settle();
        QTest::qWait(500);
        settle();
        QCOMPARE(runningSets().mid(0, 2), runs);
        QCOMPARE(m_zun->GetActiveFilterIndex(1), before);
        QVERIFY2(log.filter(QStringLiteral("did not happen")).size() == 1, qPrintable(log.join(QStringLiteral(" / "))));
        QVERIFY2(boxes.filter(QStringLiteral("does not hold")).isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
        QVERIFY2(boxes.filter(QStringLiteral("refused a block")).isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
        const QString hex = QStringLiteral("%1").arg(before, 8, 16, QLatin1Char('0'));
        if (cut == QLatin1String("kill") && !empty) {
            const QStringList told = boxes.filter(QStringLiteral("did not reach their end"));
            const QString named = m_zun->GetHardwareInfo().isDoubleBoard() ? QStringLiteral("the sets %1 and %1")
                                                                            : QStringLiteral("the set %1");
            QVERIFY2(told.size() == 1 && told.first().contains(named.arg(hex)),
                     qPrintable(boxes.join(QStringLiteral(" / "))));
        }
    }

    // Mended: a block the processor refused (damaged on the way) just before the operator's
    // activation emptied the link's queue, the load among it: the words named no stored set,
    // the activation counted as in flight for ever, and a set the flash lacks that another
    // program ran later was never told. The dropped load ends the wait for its answer, the
    // words name the set that runs, and the operator is told.
    void aDroppedActivationIsUndoneAndTold()
    {
        start();
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        const quint32 before = runOwnSets();
        QVERIFY(before != 0);
        quint32 target = 0;
        for (const QString& s : flashContents().filter(QStringLiteral("set ")))
            if (s.section(' ', 1).toUInt(nullptr, 16) != before)
                target = s.section(' ', 1).toUInt(nullptr, 16);
        // A slow processor: the refusal of the damaged block comes after the activation was
        // queued behind it, and the queue is emptied while the first command of it is answered.
        QVERIFY(m_sim->control(QStringLiteral("corrupt 1")));
        QVERIFY(m_sim->control(QStringLiteral("delay 300")));
        m_zun->GetStatusBuffer()->UploadImage();
        m_zun->InvokeActivateFIRFilter(target, ZunC::NoCopies, target, ZunC::NoCopies);
        const QList<int> runs = {int(before & 0xFFFF), int(before >> 16)};
        QVERIFY2(waitUntil([&]() { return !boxes.filter(QStringLiteral("not activated")).isEmpty(); }, 30000),
                 qPrintable(boxes.join(QStringLiteral(" / "))));
        QVERIFY(m_sim->control(QStringLiteral("delay 0")));
        settle();
        QVERIFY(waitUntil([&]() { return runningSets().mid(0, 2) == runs; }));
        QVERIFY2(boxes.filter(QStringLiteral("not activated")).size() == 1, qPrintable(boxes.join(QStringLiteral(" / "))));
        // Another program runs a set the flash lacks: the next directory tells it.
        QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_0_FIR_ID1")).arg(0xBEEF)));
        QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_0_FIR_ID0")).arg(0xBEEF)));
        QVERIFY(waitUntil([&]() { return m_zun->GetActiveFilterIndex(1) == 0xBEEFBEEF; }));
        m_zun->RefreshMemDir();
        QVERIFY2(waitUntil([&]() { return !boxes.filter(QStringLiteral("does not hold")).isEmpty(); }),
                 qPrintable(boxes.join(QStringLiteral(" / "))));
    }

    // Mended: a set the DSPs run that the flash lacks was replaced at the next connection by
    // the stored set that shares its low word, taken for the end of a cut activation. Only
    // the high word of a stored set (the one run before) or none marks such a cut.
    void anUnstoredSetSharingALowWordIsLeftRunning()
    {
        start();
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        const quint32 running = runOwnSets();
        QVERIFY(running != 0);
        quint32 other = 0;
        QSet<quint32> highs;
        for (const QString& s : flashContents().filter(QStringLiteral("set "))) {
            const quint32 id = s.section(' ', 1).toUInt(nullptr, 16);
            highs << (id >> 16);
            if (id != running)
                other = id;
        }
        quint32 high = 0xBEEF;
        while (highs.contains(high))
            ++high;
        m_zun->disconnect();
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }));
        // Another program ran a set it did not store, whose low word is that of a stored set.
        for (const char* word : {"Cmd_0_FIR_ID0", "Cmd_1_FIR_ID0"})
            QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr(word)).arg(other & 0xFFFF)));
        for (const char* word : {"Cmd_0_FIR_ID1", "Cmd_1_FIR_ID1"})
            QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr(word)).arg(high)));
        const QList<int> unstored = {int(other & 0xFFFF), int(high), int(other & 0xFFFF), int(high)};
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        settle();
        QTest::qWait(500);
        QCOMPARE(runningSets(), unstored);
        QCOMPARE(boxes.filter(QStringLiteral("does not hold")).size(), 1);
        // Nothing in the processor tells an erase or a collection.
        QVERIFY2(boxes.filter(QStringLiteral("erase")).isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
    }

    // Mended: at a first connection the program's own activation of the pass-through set,
    // answered for its low word alone when the FIR/limiter manager's start ended, was taken
    // for a set the flash lacks, with a box that blamed an erase.
    void theProgramsOwnActivationIsNoUnstoredSet()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080"}), qPrintable(m_sim->error()));
        QVERIFY(m_sim->control(QStringLiteral("hold reply %1").arg(map(1080)->getCmdNr("Cmd_0_FIR_ID0"))));
        QStringList boxes;
        attach(&boxes);
        QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1"); }, 30000));
        QVERIFY(waitUntil([&]() { return m_zun->GetActiveFilterIndex(1) != 0; }));
        QMetaObject::invokeMethod(m_zun.get(), "onFirLimManagerInitialized");
        QVERIFY(m_sim->control(QStringLiteral("release")));
        const quint32 thru = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0)->getKey();
        QVERIFY(waitUntil([&]() { return m_zun->GetActiveFilterIndex(1) == thru; }));
        settle();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
    }

    // Mended: the operator's Disconnect while the first connection stored the pass-through
    // set of its own gave a box: "Filter Thru was not uploaded: the device is not
    // connected". The store ends quietly, and the next connection stores and runs the set.
    void aDisconnectEndsTheProgramsOwnStoreQuietly()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080"}), qPrintable(m_sim->error()));
        QStringList boxes;
        bool pressed = false;
        // The operator presses Disconnect as the set's program is made sure of, just before
        // the set is stored.
        attach(&boxes, [&]() {
            connect(m_zun.get(), &CZun::signal_UploadDSPProgram, this, [&]() {
                if (!std::exchange(pressed, true))
                    m_zun->disconnect();
            }, Qt::DirectConnection);
        });
        QVERIFY(pressed);
        QVERIFY(!m_zun->IsConnected());
        // The activation that followed the store ends without a link.
        QVERIFY(waitUntil([&]() { return !m_zun->GetFIRLimManager()->activationInFlight(); }));
        QCOMPARE(field(state(), "filters"), QStringLiteral("0"));
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        const quint32 thru = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0)->getKey();
        QVERIFY(waitUntil([&]() { return runningSets().mid(0, 2) == QList<int>({int(thru & 0xFFFF), int(thru >> 16)}); }));
        settle();
        QCOMPARE(field(state(), "filters"), QStringLiteral("1"));
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
    }

    // A second program's read or block lands in the processor's one transfer buffer between
    // this program's block write and its store, which so stores the second program's bytes
    // or is refused for them (a FIR/limiter set upload, a setup upload as a configuration
    // load sends it, a collection's restore): the store counts only once the processor
    // lists what was sent, so it is sent again. The FIR
    // entry made of the wrong bytes is offered for removal and does not stop a
    // collection, which leaves it out. Mended: a set stored as something else at every try
    // was sent for ever, each answered store counting its tries from naught; it is sent
    // three times, then named.
    void aStoreCountsOnceTheProcessorListsIt_data()
    {
        QTest::addColumn<QString>("store"); // "set", "setup", or the restore of a collection
        QTest::newRow("FIR set") << QStringLiteral("set");
        QTest::newRow("FIR set, spoiled at every try") << QStringLiteral("set at every try");
        QTest::newRow("setup") << QStringLiteral("setup");
        // The second program writes a block: the store is refused for what the buffer holds.
        QTest::newRow("setup, refused") << QStringLiteral("setup refused");
        QTest::newRow("DSP program") << QStringLiteral("program");
        // Mended: a processor that keeps something else than the checksum of the bytes in the
        // low half of a program's id got each program three times, two dead entries and a
        // false box. What counts is the id's upper half and the flash the entry spans.
        QTest::newRow("DSP program, another low half") << QStringLiteral("program, another low half");
        // A whole second program (another configuration folder) connects meanwhile.
        QTest::newRow("a collection's restore, a second program connecting") << QStringLiteral("restore");
        // Mended: the entry that held the image stayed beside the set sent again, and the
        // collection said it was complete.
        QTest::newRow("a collection's restore, the image read meanwhile") << QStringLiteral("restore image");
    }
    void aStoreCountsOnceTheProcessorListsIt()
    {
        QFETCH(QString, store);
        const bool setup = store.startsWith(QLatin1String("setup"));
        const bool program = store.startsWith(QLatin1String("program"));
        start(store.endsWith(QLatin1String("low half")) ? QStringList{"--program-id-low", "0x1234"} : QStringList());
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        QString listed;
        QStringList before;
        if (store.startsWith(QLatin1String("restore"))) {
            fillFlash();
            QVERIFY(runOwnSets() != 0);
            before = flashContents();
            QVERIFY(m_sim->control(QStringLiteral("hold block")));
            m_zun->doGarbageCollection();
        } else if (program) {
            settle();
            if (store == QLatin1String("program"))
                QVERIFY(m_sim->control(QStringLiteral("hold block")));
            m_zun->UploadDSPProgram(Program);
        } else if (setup) {
            fillFlash();
            const QTemporaryDir backup;
            m_zun->BackupToDir(backup.path());
            const QString file = QDir(backup.path()).entryList({QStringLiteral("Set01*.zun")}).value(0);
            QVERIFY(!file.isEmpty());
            listed = QStringLiteral("setup 3: %1").arg(m_zun->GetMemoryManager()->setupIdAt(1), 0, 16);
            QVERIFY(m_sim->control(QStringLiteral("hold block")));
            m_zun->UploadSetup(QDir(backup.path()).filePath(file), 3);
        } else {
            settle();
            QVERIFY(m_sim->control(QStringLiteral("hold block")));
            const QShPtrFLE set = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
            set->setAmpGain(9.0, 0);
            listed = QStringLiteral("set %1").arg(set->computeKey(), 0, 16);
            m_zun->UploadFIRFilter(set, 0);
        }
        if (store != QLatin1String("program, another low half"))
            QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1"); }, 30000));
        if (store == QLatin1String("restore image")) {
            QStringList told;
            connect(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Finished, this,
                    [&told](bool, QString text) { told << text; });
            QVERIFY(secondClientReadsTheImage(m_sim->tcpPort(), nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")));
            QVERIFY(m_sim->control(QStringLiteral("release")));
            QVERIFY(waitUntil([&]() { return !told.isEmpty(); }, 60000));
            QCOMPARE(flashContents(), before);
            QVERIFY2(told.first().contains(QStringLiteral("complete")) && told.first().contains(QStringLiteral("removed")),
                     qPrintable(told.first()));
            return;
        }
        if (store == QLatin1String("restore")) {
            QTemporaryDir otherFolder;
            QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
            settings.setValue(QStringLiteral("ConfigDir"), otherFolder.path());
            CZun other(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>());
            other.SetPort(m_sim->tcpPort());
            other.connect(true);
            // Released once it has read the directory: its reads go on beside the restore.
            const bool read = waitUntil([&]() { return other.GetMemoryManager()->isValid(); }, 30000);
            QVERIFY(m_sim->control(QStringLiteral("release")));
            const bool settled = settleTransfers(&other);
            settings.setValue(QStringLiteral("ConfigDir"), m_config->path());
            QVERIFY(read && settled);
            other.disconnect();
            // A machine so slow that the held link passed its reply deadline: the restore goes
            // on at the next connection.
            const QString folder = m_zun->GetGarbageCollectionFolder();
            if (!waitUntil([&]() { return !QDir(folder).exists() || !m_zun->IsConnected(); }, 60000) || !m_zun->IsConnected())
                m_zun->connect(true);
            QVERIFY(waitUntil([&]() { return !QDir(folder).exists(); }, 60000));
            QCOMPARE(flashContents(), before);
            return;
        }
        if (store == QLatin1String("set at every try")) {
            QStringList boxes;
            connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
            for (int tried = 1; tried <= 3; ++tried) {
                QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1"); }, 30000));
                QVERIFY(secondClientReadsTheImage(m_sim->tcpPort(), nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")));
                if (tried < 3)
                    QVERIFY(m_sim->control(QStringLiteral("hold block"))); // the next try's block
                QVERIFY(m_sim->control(QStringLiteral("release")));
            }
            const auto named = [&]() { return boxes.filter(QStringLiteral("sent to the processor three times")).size(); };
            QVERIFY(waitUntil([&]() { return named() > 0; }, 30000));
            settle();
            QVERIFY(!flashContents().contains(listed));
            QCOMPARE(named(), 1);
            return;
        }
        if (store == QLatin1String("setup refused"))
            QVERIFY(secondClientWritesABlock(m_sim->tcpPort(), QByteArray(1001, 'x')));
        else if (store != QLatin1String("program, another low half"))
            QVERIFY(secondClientReadsTheImage(m_sim->tcpPort(), nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")));
        QVERIFY(m_sim->control(QStringLiteral("release")));
        if (program) {
            // An entry behind the program's shows how much flash it spans.
            QVERIFY(waitUntil([&]() { return m_zun->GetDSPProgramManager()->pendingUploads() == 0; }, 30000));
            settle();
            const QShPtrFLE behind = m_zun->GetFIRLimManager()->CreateThruFIRFilter(m_zun->GetSampleRate(), 0);
            behind->setAmpGain(3.0, 0);
            behind->computeKey();
            m_zun->UploadFIRFilter(behind, 0);
            // Listed once; the entry a spoiled store left is removed, and no other.
            const CMemoryManager* mem = m_zun->GetMemoryManager();
            auto listings = [&]() {
                int n = 0;
                for (int p = 0; p < mem->dspProgramListSize(); ++p)
                    n += mem->dspProgramIdAt(p) == Program ? 1 : 0;
                return n;
            };
            const int spoiled = store == QLatin1String("program") ? 1 : 0;
            QVERIFY(waitUntil([&]() {
                flashContents();
                return listings() == 1 && field(state(), "deleted").toInt() == spoiled;
            }, 30000));
            QTest::qWait(300);
            flashContents();
            settle();
            QCOMPARE(listings(), 1);
            QCOMPARE(field(state(), "deleted").toInt(), spoiled);
            QVERIFY2(boxes.filter(QStringLiteral("DSP program")).isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
            return;
        }
        QVERIFY2(waitUntil([&]() { return flashContents().contains(listed); }, 30000), qPrintable(flashContents().join(' ')));
        if (setup)
            return;
        QVERIFY(waitUntil([&]() { return m_zun->GetFIRLimManager()->unreadableEntries().size() == 1; }));
        const QString garbage = QStringLiteral("set %1").arg(m_zun->GetFIRLimManager()->unreadableEntries().firstKey(), 0, 16);
        QVERIFY(flashContents().contains(garbage));
        // The collection runs, and puts back every set but that entry.
        boxes.clear();
        QStringList expected = flashContents();
        expected.removeAll(garbage);
        m_zun->doGarbageCollection();
        QVERIFY2(m_zun->IsRestorePending(), qPrintable(boxes.join(QStringLiteral(" / "))));
        const QString folder = m_zun->GetGarbageCollectionFolder();
        QVERIFY2(waitUntil([&]() { return !QDir(folder).exists(); }, 60000), qPrintable(boxes.join(" / ")));
        QCOMPARE(flashContents(), expected);
        QVERIFY(m_zun->GetFIRLimManager()->unreadableEntries().isEmpty());
    }

    // A second program's block write lands in the processor's one transfer buffer between
    // this program's copy into it and its block read, which so brings the second program's
    // bytes: what was not asked for is read again (the directory, a FIR/limiter set, a
    // setup, the parameter image), and each is read as the processor holds it. At a
    // connection beside another program's long run of blocks (a restore, a load), the
    // rereads are spaced so that they outlast it; when they do not, the operator is told.
    void aReadThatBringsWhatWasNotAskedForIsReadAgain_data()
    {
        QTest::addColumn<QString>("read");
        QTest::addColumn<int>("times"); // reads that bring the other's block; 0: every read
        QTest::newRow("directory") << QStringLiteral("directory") << 1;
        QTest::newRow("FIR set") << QStringLiteral("set") << 1;
        QTest::newRow("setup") << QStringLiteral("setup") << 1;
        // Mended: three reads straight after each other, then the connection never got
        // ready (the directory) or the window stayed without its image, with no word.
        QTest::newRow("directory at a connection, five times") << QStringLiteral("directory") << 5;
        QTest::newRow("image at a connection, five times") << QStringLiteral("image") << 5;
        QTest::newRow("directory at a connection, every time") << QStringLiteral("directory") << 0;
    }
    void aReadThatBringsWhatWasNotAskedForIsReadAgain()
    {
        QFETCH(QString, read);
        QFETCH(int, times);
        start();
        if (read == QLatin1String("setup"))
            m_zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        const quint32 thru = m_zun->GetActiveFilterIndex(1);
        const quint16 copy = read == QLatin1String("directory") ? nr("CmdS_CopyMemDir2RxTxBuf")
                           : read == QLatin1String("image")     ? nr("CmdS_CopyDSPVar2RxTxBuf")
                                                                : quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"));
        const QString hold = QStringLiteral("hold reply %1 %2 %3").arg(nr("Cmd_MemCopy")).arg(copy).arg(times == 0 ? 99 : times);
        QStringList boxes;
        if (read == QLatin1String("directory") && times == 1) {
            QVERIFY(m_sim->control(hold));
            m_zun->RefreshMemDir();
        } else {
            // The program starts again without its copies of what the flash holds.
            m_zun.reset();
            for (const QString& f : QDir(m_config->path() + QStringLiteral("/42")).entryList(QDir::Files))
                if (f.endsWith(read == QLatin1String("set") ? QLatin1String(".fir") : QLatin1String(".zun")))
                    QVERIFY(QFile::remove(m_config->path() + QStringLiteral("/42/") + f));
            QVERIFY(m_sim->control(hold));
            m_zun.reset(new CZun(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>()));
            connect(m_zun.get(), &CZun::signal_exception, this, [&boxes](QString text, QString) { boxes << text; });
            m_zun->SetPort(m_sim->tcpPort());
            m_zun->connect(true);
        }
        ZunSignalSpy directories(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        for (int i = 0; times == 0 ? boxes.isEmpty() : i < times; ++i) {
            QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1") || (times == 0 && !boxes.isEmpty()); }, 30000));
            if (times == 0 && !boxes.isEmpty())
                break;
            QVERIFY(secondClientWritesABlock(m_sim->tcpPort(), QByteArray(1001, 'x')));
            QVERIFY(m_sim->control(QStringLiteral("release")));
        }
        if (times == 0) {
            // Nothing is shown as if the processor held nothing, and the box says why.
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].contains("could not be read") && boxes[0].contains("another program"), qPrintable(boxes[0]));
            QVERIFY(!m_zun->IsFIRManagerReady());
            return;
        }
        if (read == QLatin1String("directory"))
            QVERIFY(directories.count() > 0 || directories.wait(30000));
        else if (read == QLatin1String("image"))
            QVERIFY(waitUntil([&]() { return m_zun->HasImage(); }, 30000));
        else if (read == QLatin1String("set"))
            QVERIFY(waitUntil([&]() { return m_zun->GetFIRLimManager()->GetFIRFilter(thru) != nullptr; }));
        else
            QVERIFY(waitUntil([&]() {
                const ZunSetup* s = m_zun->GetSetupManager()->GetSetup(1);
                return s && s->GetSetupName().startsWith(QLatin1String("Alpha"));
            }));
        QVERIFY(m_zun->GetFIRLimManager()->unreadableEntries().isEmpty());
        if (times > 1) {
            // The connection gets ready, with its lists and image, and without a box.
            QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady() && m_zun->HasImage(); }, 30000));
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
        }
    }

    // A setup stored after the erase (by another program, this one's link cut) is newer
    // than its backup: the restore names it once and closes the record, and the next
    // connections leave it where it is.
    void garbageCollectionKeepsWhatIsStoredSince()
    {
        start();
        fillFlash();
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        QVERIFY(m_sim->control(QStringLiteral("droplink reply %1").arg(nr("Cmd_BulkEraseF"))));
        m_zun->doGarbageCollection();
        const QString folder = m_zun->GetGarbageCollectionFolder();
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }, 40000));
        QVERIFY(waitUntil([&]() { return field(state(), "setups") == QLatin1String("0"); }));
        // Another program, without this one's backup folder.
        const QString aside = folder + QStringLiteral("-elsewhere");
        QVERIFY(QDir().rename(folder, aside));
        {
            CZun other(record(1080, 42), map(1080), QSharedPointer<CRoutingLibrary>());
            other.SetPassThroughOnEmptyFlash(false);
            other.SetPort(m_sim->tcpPort());
            other.connect(true);
            QVERIFY(waitUntil([&]() { return other.IsFIRManagerReady(); }, 30000));
            other.SaveSetup(2, QStringLiteral("Delta"));
            QVERIFY(waitUntil([&]() { return field(state(), "setups") == QLatin1String("1"); }));
            QVERIFY(settleTransfers(&other));
            other.disconnect();
        }
        QVERIFY(QDir().rename(aside, folder));
        auto deltaAt2 = [&]() {
            const ZunSetup* s = m_zun->GetSetupManager()->GetSetup(2);
            return s && s->GetSetupName().startsWith(QStringLiteral("Delta"));
        };
        for (int connection = 0; connection < 2; ++connection) {
            m_zun->connect(true);
            QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
            QVERIFY2(waitUntil([&]() { return !QDir(folder).exists(); }, 60000), qPrintable(boxes.join(" / ")));
            settle();
            QTest::qWait(1000);
            QVERIFY(waitUntil(deltaAt2));
            QCOMPARE(field(state(), "setups"), QStringLiteral("2"));
            // The cut's box, and the restore's: once.
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 2, 5000);
            QVERIFY2(boxes.last().contains(QRegularExpression(QStringLiteral("Set02_[^\n]*stored since"))),
                     qPrintable(boxes.last()));
            m_zun->disconnect();
            QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }));
        }
    }

    // Every upload of the restore refused by the processor: the one box names each file
    // with that reason, and the backup is kept whole under another name.
    void backupStaysWhenTheRestoreFails()
    {
        start();
        fillFlash();
        QStringList boxes;
        connect(m_zun.get(), &CZun::signal_exception, this, [&](QString text, QString) { boxes << text; });
        ZunSignalSpy started(m_zun->GetGarbageCollection(), &ZunGarbageCollection::signal_Started);
        m_zun->doGarbageCollection();
        QVERIFY(started.wait(20000));
        const QString folder = m_zun->GetGarbageCollectionFolder();
        const QStringList files = QDir(folder).entryList({QStringLiteral("*.fir"), QStringLiteral("*.zun")}, QDir::Files);
        QVERIFY(files.size() >= 3);
        QVERIFY(m_sim->control(QStringLiteral("failupload")));
        QVERIFY(waitUntil([&]() { return !m_zun->IsRestorePending(); }, 30000));
        QTest::qWait(1500);
        settle();
        m_zun->RefreshMemDir();
        QTest::qWait(1000);
        QCOMPARE(field(state(), "setups"), QStringLiteral("0"));
        QCOMPARE(boxes.size(), 1);
        for (const QString& f : files)
            QVERIFY2(boxes.first().contains(f + QStringLiteral(": sent, but the processor did not store it")),
                     qPrintable(boxes.first()));
        // The DSPs run a set the flash lacks now: said in that box, with the file that stores it.
        const QString running = QStringLiteral("%1").arg(m_zun->GetActiveFilterIndex(1), 8, 16, QLatin1Char('0'));
        QVERIFY2(boxes.first().contains(QRegularExpression(
                     QStringLiteral("set %1, which the processor's flash does not hold[^\n]*%2[^\n]*Upload to Zun")
                         .arg(running, QRegularExpression::escape(files.filter(running.mid(1)).value(0, "-"))))),
                 qPrintable(boxes.first()));
        const QStringList archives =
            QDir(m_config->path()).entryList({QStringLiteral("42_gc-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(archives.size(), 1);
        QCOMPARE(QDir(m_config->path()).filePath(archives.first()) == folder, false);
        QCOMPARE(QDir(QDir(m_config->path()).filePath(archives.first()))
                     .entryList({QStringLiteral("*.fir"), QStringLiteral("*.zun")}, QDir::Files),
                 files);
        // With its backup closed, a later lost link still has its own box.
        QVERIFY(m_sim->control(QStringLiteral("failupload off")));
        takenIsBack([&]() { return int(boxes.size()); });
        QCOMPARE(boxes.size(), 2); // the loss's, and no second word of the set
    }

    // Master gains down, the defaults with the masters down again in their group, clock,
    // routing, external clock, the pass-through set and the final re-initialisation, in this
    // order.
    void fullRoutingConfigurationInOrder()
    {
        start();
        m_zun->SetRoutingPauseMs(20);
        const QSharedPointer<CCmdMap> map = m_zun->GetCmdMap();
        QStringList names = map->getKeysBeginningWith(QStringLiteral("Inf_FR_")).values();
        names.sort();
        QVERIFY(!names.isEmpty());
        const CZunFullRoutingPreset full(map, names.first());
        const quint32 before = m_zun->GetActiveFilterIndex(1);
        QVERIFY(before != 0); // the pass-through set of the first connection
        m_sent.clear();
        m_zun->ApplyFullRoutingPreset(1, 0, 0, 0, 0, full, CZunRoutingPreset(), CZunInputPreset(), QString(),
                                      QString(), ZunC::NoCopies, ZunC::NoCopies, false);
        QVERIFY(waitUntil([&]() { return !m_zun->IsApplyingRouting(); }));
        const auto sent = m_sent.commands();
        auto at = [&](const char* name, int from = 0) {
            for (int i = from; i < sent.size(); ++i)
                if (sent[i].first == nr(name))
                    return i;
            return -1;
        };
        const int defaults = at("Cmd_SetupSelect");
        QCOMPARE(sent[defaults].second, quint16(254));
        const int gain0 = at("Cmd_0_MasterGain");
        const int gain1 = at("Cmd_1_MasterGain");
        QCOMPARE(sent[gain0].second, quint16(qint16(-400)));
        const int clock = at("Cmd_ClockSel");
        QCOMPARE(sent[clock].second, quint16(1));
        const int routing = at("Cmd_DSP_FullRouting0");
        const int ext = at("Cmd_ExtClockSel");
        const int spi = at("Cmd_SPI_InitAllPar");
        const int dsp = at("Cmd_DSP_InitAll");
        QVERIFY(gain0 >= 0 && gain0 < gain1 && gain1 < defaults && at("Cmd_0_MasterGain", defaults) == defaults + 1
                && at("Cmd_1_MasterGain", defaults) == defaults + 2 && defaults + 2 < clock && clock < routing
                && routing < ext && ext < spi && spi + 1 == dsp);
        for (const CZunMetaCmd& g : m_sent.groups())
            if (g.commands().first().getCmd() == nr("Cmd_SPI_InitAllPar"))
                QVERIFY(!g.supersede());
        // The pass-through set at 48 kHz (another set than the one at 96 kHz) becomes active.
        QVERIFY(waitUntil([&]() {
            const quint32 now = m_zun->GetActiveFilterIndex(1);
            return now != 0 && now != before;
        }, 30000));
        QCOMPARE(field(state(), "filters"), QStringLiteral("2"));
    }

    // A FIR configuration with a file for each DSP: each DSP boots the program its own set
    // needs (a longer filter on DSP 2 needs another), and a boot the processor refuses
    // reaches the operator.
    void firConfigurationBootsTheProgramEachSetNeeds_data()
    {
        // The emulator's fault while the sets and their programs go up, and the one box it
        // gives (none: the programs run).
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("box");
        QTest::newRow("booted") << QString() << QString();
        QTest::newRow("boot refused") << QStringLiteral("refuse Cmd_DSP_Boot")
                                      << QStringLiteral("refused to start the DSP programs");
        QTest::newRow("corrupt") << QStringLiteral("corrupt") << QString();
        QTest::newRow("silent") << QStringLiteral("silent") << QStringLiteral("did not answer in time");
        // The link's own box; the program and set queued behind the cut block are logged.
        QTest::newRow("droplink block") << QStringLiteral("droplink block") << QStringLiteral("closed");
        // Cut (and reported) before the configuration starts: the configuration's own box, once.
        QTest::newRow("started without a link") << QStringLiteral("droplink") << QStringLiteral("not connected");
    }
    void firConfigurationBootsTheProgramEachSetNeeds()
    {
        QFETCH(QString, fault);
        QFETCH(QString, box);
        start({"--hardware", "0x0F80"});
        m_zun->SetRoutingPauseMs(20);
        QTemporaryDir dir;
        quint16 expected[2];
        QString files[2];
        for (int d = 0; d < 2; ++d) {
            FilterLimiterEWS set(QString(), 48000.0);
            for (int o = 0; o < 4; ++o)
                set.setOutput(o, QVector<qint32>(o == 0 && d == 1 ? 512 : 64, 2000 * (o + 1)), 10, o);
            set.SetName(QStringLiteral("DSP %1").arg(d + 1));
            files[d] = dir.filePath(QStringLiteral("dsp%1.fir").arg(d + 1));
            set.toFile(files[d]);
            CBlockFIR probe = set;
            probe.checkFilterResources();
            ZunDSPProgramInfo program(probe.dspProgramId(), 1080);
            program.setDSPType(m_zun->GetDSPType());
            expected[d] = program.progID();
        }
        QVERIFY(expected[0] != expected[1]);
        if (!fault.isEmpty())
            QVERIFY(m_sim->control(fault.replace(QStringLiteral("Cmd_DSP_Boot"), QString::number(nr("Cmd_DSP_Boot")))));
        if (fault == QLatin1String("droplink")) {
            // The link is down before it reports the loss: the loss's own box is waited
            // for, so that the configuration starts after it.
            ZunSignalSpy loss(m_zun.get(), &CZun::signal_exception);
            m_zun->requestCmdStatus(nr("Cmd_KeyLock"));
            QVERIFY(waitUntil([&]() { return !m_zun->IsConnected() && !loss.isEmpty(); }));
        }
        QStringList boxes;
        QObject listening; // ends with the list: a late report finds no dangling list
        connect(m_zun.get(), &CZun::signal_exception, &listening, [&](QString text, QString) { boxes << text; });
        const CRoutingManager* routing = m_zun->GetRoutingManager();
        m_zun->ApplyRoutingPreset(1, 0, 0, 0, 1, routing->GetSPIRouting(), files[0], files[1], routing->GetDSPRouting(),
                                  ZunC::NoCopies, ZunC::NoCopies, true);
        if (!box.isEmpty()) {
            // One failure, one box: what it kept from the processor goes to the log.
            QVERIFY(waitUntil([&]() { return !boxes.isEmpty() && !m_zun->IsApplyingRouting(); }, 30000));
            settle();
            QVERIFY2(boxes.size() == 1 && boxes.first().contains(box), qPrintable(boxes.join(" / ")));
            return;
        }
        const bool booted = waitUntil([&]() {
            return held("Cmd_0_DSP_ID") == expected[0] && held("Cmd_1_DSP_ID") == expected[1];
        }, 30000);
        QVERIFY2(booted, qPrintable(QStringLiteral("DSPs run %1 %2, expected %3 %4")
                                        .arg(held("Cmd_0_DSP_ID")).arg(held("Cmd_1_DSP_ID"))
                                        .arg(expected[0]).arg(expected[1])));
        settle();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" / ")));
    }

    // The device server's setup upload and selection over three processors, one of them
    // unreachable: each reachable one gets the setup and then runs it; the unreachable
    // one is reported; all are disconnected at the end.
    void setupUploadAndSelectionOverThreeProcessors()
    {
        TcpSimProcess a, b;
        QVERIFY2(a.start({"--serial", "71", "--firmware", "1080"}), qPrintable(a.error()));
        QVERIFY2(b.start({"--serial", "72", "--firmware", "1080"}), qPrintable(b.error()));
        const RefusingPort dead;
        QVERIFY(dead.port() != 0);
        QVERIFY(!QTcpServer().listen(QHostAddress::Any, dead.port())); // nothing else can take it
        // A setup file: the default parameters with a master gain of -12 dB.
        QTemporaryDir dir;
        const QSharedPointer<CCmdMap> m = map(1080);
        const quint16 gainNr = m->getCmdNr("Cmd_0_MasterGain");
        QString file;
        {
            CZun maker(record(1080, 70), m, QSharedPointer<CRoutingLibrary>());
            QByteArray image = CZunImageDefaults::defaultImageBytes(1080);
            ZunSetup setup(&maker, image);
            setup.setValue(gainNr, quint16(qint16(-120)));
            setup.SetSetupName(QStringLiteral("Tour"));
            setup.toFile(dir.path(), 4);
            const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.zun")}, QDir::Files);
            QCOMPARE(files.size(), 1);
            file = QDir(dir.path()).filePath(files.first());
        }

        CZunServer server;
        CCmdMapServer maps;
        server.setConnectPolls(10);
        server.setReadyTimeoutMs(20000);
        QStringList reports;
        connect(&server, &CZunServer::signal_information, this, [&](QString, QString t) { reports << t; });
        const QList<quint16> ports = {a.tcpPort(), b.tcpPort(), dead.port()};
        for (int i = 0; i < 3; ++i) {
            const quint16 serial = quint16(71 + i);
            server.newCZun(record(1080, serial), maps.getMap(1080), QSharedPointer<CRoutingLibrary>());
            server.getZun(serial)->SetPort(ports[i]);
            // The reachable processors report nothing else.
            if (i < 2)
                connect(server.getZun(serial).data(), &CZun::signal_exception, this,
                        [&reports](QString t, QString) { reports << t; });
        }
        server.doSetupUpload({71, 72, 73}, file, 4);
        // One report, naming what each processor did.
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().contains(QStringLiteral("done on 2 of 3"))
                     && reports.first().contains(QStringLiteral("Zun nr 73: NOT stored: it could not be connected.")),
                 qPrintable(reports.join('|')));
        for (TcpSimProcess* sim : {&a, &b})
            QCOMPARE(field(sim->query(QStringLiteral("state"), QStringLiteral("state ")), "setups"), QStringLiteral("1"));
        QVERIFY(!server.getZun(71)->IsConnected() && !server.getZun(72)->IsConnected());

        reports.clear();
        server.doSelectSetup({71, 72, 73}, 4);
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().contains(QStringLiteral("done on 2 of 3"))
                     && reports.first().contains(QStringLiteral("Zun nr 73: NOT recalled: it could not be connected.")),
                 qPrintable(reports.join('|')));
        // Each processor runs the setup: its master gain is the setup's.
        for (quint16 serial : {71, 72}) {
            const QSharedPointer<CZun> zun = server.getZun(serial);
            QCOMPARE(zun->GetActiveSetup(), quint16(4));
            QCOMPARE(zun->GetMasterGain(1), -12.0f);
        }
    }
};

int main(int argc, char** argv)
{
    // Before any thread: the small disk's mount is the process's own.
    ZunSmallDisk::enterPrivateMounts();
    QGuiApplication app(argc, argv);
    TestMaintenanceE2E tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_maintenance_e2e.moc"
