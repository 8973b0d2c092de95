// The advanced tab's maintenance actions against an emulated processor on loopback: what
// the operator answers reaches the processor as it should, refusals send nothing, and
// every long operation ends, in success and in failure.
#include "CRoutingLibrary.h"
#include "CZunConfigWizard.h"
#include "CZunFIRLimManager.h"
#include "CZunSetupManager.h"
#include "CMemoryManager.h"
#include "DeviceTestRig.h"
#include "FilterLimiterEWS.h"
#include "PromptAnswers.h"
#include "SimDeviceRig.h"
#include "TcpSimProcess.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunDiskFlushProbe.h"
#include "CRoutingManager.h"
#include "CZunStatusBuffer.h"
#include "ZunKeepAliveRest.h"
#include "ZunMaintenanceActions.h"
#include "ZunOperationJournal.h"
#include "ZunOperations.h"
#include "ZunTimedSteps.h"
#include "ZunSignalSpy.h"
#include "ZunSmallDisk.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

using namespace DeviceTestRig;


class TestMaintenanceActions : public QObject
{
    Q_OBJECT

    SimDeviceRig m_rig;
    std::unique_ptr<QWidget> m_tab;
    ZunMaintenanceActions* m_actions = nullptr;
    PromptAnswers* m_answers = nullptr;

    quint16 nr(const char* name) const { return m_rig.nr(name); }
    QString state() { return m_rig.state(); }
    static QString field(const QString& state, const QString& name) { return stateField(state, name); }
    void settle() { QVERIFY(settleTransfers(m_rig.zun.data())); }
    void start()
    {
        QString error;
        QVERIFY2(m_rig.start(QSharedPointer<CRoutingLibrary>::create(map(1080)), &error), qPrintable(error));
        m_tab.reset(new QWidget);
        m_actions = new ZunMaintenanceActions(m_rig.zun, m_tab.get());
        m_answers = PromptAnswers::install(m_actions);
    }

private slots:
    void cleanup()
    {
        m_tab.reset();
        m_rig.stop();
    }

    // Name and PIN reach the processor; an address is checked before anything is sent. The
    // name field takes no more than the processor keeps, and the window names the
    // processor as it holds the name (a longer name was cut there while the title kept it).
    void nameAndPinAndAddress()
    {
        start();
        m_answers->textChoice = QStringLiteral("Stage_left_main_hang_over_the_pit");
        m_actions->onSetDeviceName();
        QCOMPARE(m_answers->textLimit, CZun::DeviceNameLength);
        m_answers->oldPin = CZun::pinWord(1, 2, 3, 4);
        m_answers->newPin = CZun::pinWord(4, 3, 2, 1);
        m_actions->onChangeSecurityPIN();
        QVERIFY(waitUntil([&]() {
            const QString s = state();
            return field(s, "name") == QLatin1String("Stage_left_main_hang_ov") && field(s, "pin") == QStringLiteral("0x4321");
        }));
        QCOMPARE(m_rig.zun->GetName(), QStringLiteral("Stage_left_main_hang_ov"));

        for (const char* bad : {"::1", "0.0.0.0", "255.255.255.255", "224.0.0.5", "127.0.0.1", "10.1.2", "10.1.2.256",
                                "10.1.2.3.4", "ten.1.2.3"}) {
            m_rig.sent.clear();
            m_answers->shown.clear();
            m_answers->textChoice = QString::fromLatin1(bad);
            m_actions->onSetIP();
            // The field always proposes the same address, not the processor's own.
            QCOMPARE(m_answers->shown, QStringList({"192.168.1.15", "Invalid entry, try again."}));
            QCOMPARE(m_rig.sent.count(nr("Cmd_IP_Hi")), 0);
        }
        // Mended: a refused half was reported as transferred, and left a mixed address. The
        // next address is the one asked or the old one (the upper half of the running
        // address put back), and the box names the refused command and value.
        const struct { const char* refused; const char* next; const char* said; } rows[] = {
            {"Cmd_IP_Hi", "none", "Cmd_IP_Hi (4) = 2638"},
            {"Cmd_IP_Lo", "127.0.0.0", "Cmd_IP_Lo (5) = 300"},
            {nullptr, "10.78.1.44", "IP address 10.78.1.44 transferred"},
        };
        for (const auto& row : rows) {
            QVERIFY(m_rig.sim->control(row.refused ? QStringLiteral("refuse %1").arg(nr(row.refused))
                                                   : QStringLiteral("refuse off")));
            m_answers->shown.clear();
            m_answers->textChoice = QStringLiteral("10.78.1.44");
            m_actions->onSetIP();
            QVERIFY(waitUntil([&]() { return m_answers->shown.size() == 3; }));
            // The question shows the address the processor has and the new one.
            QVERIFY2(m_answers->shown.at(1).contains(m_rig.zun->GetIpAddress().toString())
                         && m_answers->shown.at(1).contains(QLatin1String("10.78.1.44")),
                     qPrintable(m_answers->shown.at(1)));
            QVERIFY2(m_answers->shown.last().contains(QLatin1String(row.said)), qPrintable(m_answers->shown.last()));
            QCOMPARE(m_answers->shown.last().contains(QLatin1String("refused")), row.refused != nullptr);
            QCOMPARE(field(state(), "nextip"), QString::fromLatin1(row.next));
        }
    }

    // A good file ends after the finish delay with the address handed on; a file the
    // processor refuses ends the long operation at once.
    void firmwareUpdateEndsEitherWay()
    {
        start();
        QTemporaryDir dir;
        m_answers->firmware = PromptAnswers::writeFirmware(dir.path());
        ZunSignalSpy log(m_actions, &ZunMaintenanceActions::signal_log);
        ZunSignalSpy finished(m_actions, &ZunMaintenanceActions::longOperationFinished);
        ZunSignalSpy address(m_actions, &ZunMaintenanceActions::ipChanged);

        m_actions->setFirmwareFinishDelayMs(200);
        m_actions->updateFirmware();
        QVERIFY(waitUntil([&]() { return m_actions->isFirmwareFinishPending(); }, 30000));
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait(20000));
        QCOMPARE(address.count(), 1);
        QStringList lines;
        for (const auto& l : log)
            lines << l.at(0).toString();
        QVERIFY(lines.join('|').contains("Checking data: ok."));
        QCOMPARE(lines.last(), QStringLiteral("Trying to reconnect..."));
        // Mended: each outcome was only logged. One box for each.
        QCOMPARE(m_answers->shown.filter(QStringLiteral("firmware was updated")).size(), 1);

        settle();
        QVERIFY(m_rig.sim->control(QStringLiteral("failcheck")));
        log.clear();
        m_answers->shown.clear();
        m_actions->updateFirmware();
        // Mended: a FIR set written behind the update (as a processor without any gets the
        // pass-through set when it connects) was logged as a piece of it, after its last line
        // ("Copying to flash mem ..." for good). This thread is held until the processor holds
        // the set: the calls of every reply then wait here, the set's block behind the check.
        const QString filters = field(state(), "filters");
        m_rig.zun->UploadFIRFilter(m_rig.zun->GetFIRLimManager()->CreateThruFIRFilter(48000.0, 1), 0);
        QElapsedTimer held;
        held.start();
        while (field(state(), "filters") == filters && held.elapsed() < 20000)
            QThread::msleep(20);
        QVERIFY(field(state(), "filters") != filters);
        QVERIFY(waitUntil([&]() { return finished.count() == 2; }, 30000));
        settle();
        QVERIFY(!m_actions->isFirmwareFinishPending());
        QCOMPARE(address.count(), 1);
        QCOMPARE(log.last().at(0).toString(), QStringLiteral("Firmware uploaded.\n Checking data: invalid firmware.\nUpdate failed."));
        QCOMPARE(m_answers->shown.size(), 1);
        QVERIFY2(m_answers->shown.last().contains(QLatin1String("refused the firmware file")),
                 qPrintable(m_answers->shown.last()));

        // Mended: a block the processor refused gave a second box, blaming a link that stayed up.
        QVERIFY(m_rig.sim->control(QStringLiteral("failcheck off")));
        QVERIFY(m_rig.sim->control(QStringLiteral("corrupt")));
        ZunSignalSpy failed(m_rig.zun.data(), &CZun::signal_exception);
        m_answers->shown.clear();
        m_actions->updateFirmware();
        QVERIFY(waitUntil([&]() { return finished.count() == 3; }, 30000));
        QTest::qWait(1500); // time for a second box
        const QStringList told = m_answers->shown + (failed.isEmpty() ? QStringList() : QStringList{failed.first().at(0).toString()});
        QVERIFY2(told.size() == 1 && failed.isEmpty() && told.first().contains(QLatin1String("refused a block"))
                     && !told.first().contains(QLatin1String("link")),
                 qPrintable(told.join(" / ") + QStringLiteral(" (%1 device boxes)").arg(failed.count())));
        QVERIFY(m_rig.zun->IsConnected());
        settle();

        // Mended: an update the link cut blamed the file ("invalid firmware").
        QVERIFY(m_rig.sim->control(QStringLiteral("droplink block")));
        log.clear();
        m_answers->shown.clear();
        m_actions->updateFirmware();
        QVERIFY(waitUntil([&]() { return finished.count() == 4; }, 30000));
        QCOMPARE(address.count(), 1);
        QVERIFY(!log.last().at(0).toString().contains(QLatin1String("invalid")));
        QCOMPARE(m_answers->shown.size(), 1);
        QVERIFY2(m_answers->shown.last().contains(QLatin1String("cut by the link")), qPrintable(m_answers->shown.last()));
        m_rig.zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_rig.zun->IsConnected(); }, 20000));
        // Mended: the keep-alive stayed off through every reconnect after an update the link cut.
        settle();
        const quint16 closeTime = m_rig.zun->GetCmdMap()->getCmdNr("Cmd_TCPCloseTime");
        QCOMPARE(m_rig.sim->query(QStringLiteral("get %1").arg(closeTime), QStringLiteral("word ")).section(' ', 2, 2).toInt(),
                 15);
        QVERIFY(m_rig.zun->IsTcpCheckOn());

        // A finish still pending when the tab goes away never runs.
        settle();
        QVERIFY(m_rig.sim->control(QStringLiteral("failcheck off")));
        m_actions->setFirmwareFinishDelayMs(100);
        m_actions->updateFirmware();
        QVERIFY(waitUntil([&]() { return m_actions->isFirmwareFinishPending(); }, 30000));
        m_tab.reset();
        QTest::qWait(200);
    }

    // A garbage collection on a slow processor shows that it runs (the tab's long
    // operation), how far it is, and its end in one message.
    void garbageCollectionShowsItsProgress()
    {
        start();
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        // Read back before the collection saves it: one not read yet would be refused.
        QVERIFY(waitUntil([&]() { return m_rig.zun->GetSetupManager()->GetSetup(1) != nullptr; }, 30000));
        settle();
        QVERIFY(m_rig.sim->control(QStringLiteral("delay 150")));
        QList<ZunLongOperation> started, finished;
        QStringList lines;
        connect(m_actions, &ZunMaintenanceActions::longOperationStarted, this, [&](ZunLongOperation o) { started << o; });
        connect(m_actions, &ZunMaintenanceActions::longOperationFinished, this, [&](ZunLongOperation o) { finished << o; });
        // A second directory read asked for at the erase, the GUI thread busy (a loaded
        // computer) from the restore's start until the processor has stored everything: the
        // stores' confirmations are handled before that directory, which lists none.
        connect(m_rig.zun.data(), &CZun::signal_FlashMemErased, this, [&]() { m_rig.zun->RefreshMemDir(); });
        const QString full = field(state(), "filters") + " " + field(state(), "setups");
        connect(m_actions, &ZunMaintenanceActions::signal_log, this, [&](QString line) {
            lines << line;
            QElapsedTimer busy;
            busy.start();
            while (line.startsWith(QStringLiteral("Garbage collection: 0 of 2 "))
                   && field(state(), "filters") + " " + field(state(), "setups") != full && !busy.hasExpired(10000))
                QThread::msleep(20);
        });
        m_answers->collect = true;
        m_actions->on_LowFlashMemory();
        QVERIFY(waitUntil([&]() { return !started.isEmpty(); }));
        QCOMPARE(started, QList<ZunLongOperation>{ZunLongOperation::GarbageCollection});
        QVERIFY(waitUntil([&]() { return !finished.isEmpty(); }, 60000));
        QCOMPARE(finished, QList<ZunLongOperation>{ZunLongOperation::GarbageCollection});
        // How far it is, while the restore runs. Mended: the count stayed at "0 of 2" while
        // the restore stored (only the directory read at its end counted).
        QVERIFY2(!lines.filter(QStringLiteral("Garbage collection: 1 of 2 ")).isEmpty(), qPrintable(lines.join('|')));
        // Mended: a directory asked for before the last stores were confirmed took the count
        // back ("2 of 2", "1 of 2", "2 of 2").
        int back = -1;
        for (const QString& line : lines.filter(QRegularExpression("^Garbage collection: \\d+ of "))) {
            const int now = line.section(' ', 2, 2).toInt();
            QVERIFY2(now > back, qPrintable(lines.join('|')));
            back = now;
        }
        QCOMPARE(m_answers->shown.size(), 1);
        QVERIFY2(m_answers->shown.first().contains(QStringLiteral("complete")), qPrintable(m_answers->shown.first()));
        QVERIFY(m_rig.sim->control(QStringLiteral("delay 0")));
    }

    // Erase asks first; the saved configuration comes back whole after it.
    void eraseThenLoadTheSavedConfiguration()
    {
        start();
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        m_rig.zun->SaveSetup(2, QStringLiteral("Beta"));
        settle();
        QVERIFY(waitUntil([&]() { return m_rig.zun->GetMemoryManager()->setupCount() == 2; }));
        const QString before = state();

        QTemporaryDir folder;
        m_answers->folderChoice = folder.path();
        m_actions->onSaveConfig();
        const int saved = QDir(folder.path()).entryList(QDir::Files).size();
        QCOMPARE(saved, 3); // the pass-through set and two setups
        // Mended: "1 of 1 FIR/limiter sets".
        QVERIFY2(m_answers->shown.last().contains(QLatin1String(": 1 of 1 FIR/limiter set and 2 of 2 setups the")),
                 qPrintable(m_answers->shown.last()));
        {
            // Mended: a device object that had not read the processor's lists yet (just
            // connected, or its link lost before) said "0 of 0 setups", as if all were saved.
            QWidget otherTab;
            PromptAnswers* answers = PromptAnswers::install(new ZunMaintenanceActions(m_rig.newDevice({}), &otherTab));
            QTemporaryDir unread;
            answers->folderChoice = unread.path();
            otherTab.findChild<ZunMaintenanceActions*>()->onSaveConfig();
            QCOMPARE(answers->shown.size(), 1);
            QVERIFY2(answers->shown[0].contains(QLatin1String("lists were not read yet")), qPrintable(answers->shown[0]));
        }

        m_answers->yes = false;
        m_rig.sent.clear();
        m_actions->eraseFlashMemory();
        m_actions->onSaveConfig(); // a folder that is no longer empty: refused too
        QCOMPARE(m_rig.sent.count(nr("Cmd_BulkEraseF")), 0);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), saved);

        m_answers->yes = true;
        ZunSignalSpy erased(m_rig.zun.data(), &CZun::signal_FlashMemErased);
        m_actions->eraseFlashMemory();
        QVERIFY(erased.wait(20000));
        QVERIFY(waitUntil([&]() { return field(state(), "setups") == QLatin1String("0"); }));
        settle();

        bool ended = false;
        connect(m_actions, &ZunMaintenanceActions::longOperationFinished, this,
                [&ended](ZunLongOperation operation) { ended = ended || operation == ZunLongOperation::ConfigLoad; });
        // The folder is remembered at once, and the GUI thread never waits for it to reach the disk.
        const int flushes = ZunDiskFlushProbe::guiFlushes();
        m_actions->onLoadConfig();
        QCOMPARE(ZunDiskFlushProbe::guiFlushes() - flushes, 0);
        QCOMPARE(QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value("SaveConfigDir").toString(),
                 folder.path());
        QVERIFY(waitUntil([&]() {
            const QString s = state();
            return field(s, "setups") == field(before, "setups") && field(s, "filters") == field(before, "filters");
        }, 30000));
        // The load reports its end after the flash has settled, which on a loaded machine
        // may come after the emulator shows everything: a load still waiting when the test
        // ends would outlive its processor and hold the test's exit.
        QVERIFY(waitUntil([&]() { return ended; }, 30000));
    }

    // Saving to a full disk: one box, naming the folder, the disk's free space and each file
    // not saved with the system's reason. Mended: a box with the class that failed, then a
    // second that claimed a save and blamed the link.
    void savingToAFullDiskIsOneBox()
    {
        QTemporaryDir base;
        ZunSmallDisk disk(base.path(), 1);
        if (!disk.ok())
            QSKIP("A disk of the test's own needs root.");
        start();
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        QVERIFY(waitUntil([&]() { return m_rig.zun->GetMemoryManager()->setupCount() == 1; }));
        const QString folder = base.path() + QStringLiteral("/config");
        QVERIFY(QDir().mkpath(folder) && disk.fill());
        ZunSignalSpy device(m_rig.zun.data(), &CZun::signal_exception);
        m_answers->folderChoice = folder;
        m_actions->onSaveConfig();
        QTest::qWait(200); // time for a box of the device's
        QCOMPARE(device.count(), 0);
        QCOMPARE(m_answers->shown.size(), 1);
        const QString told = m_answers->shown.first();
        qInfo().noquote() << "told:" << told;
        QVERIFY2(told.contains(folder) && told.contains("0 kB free") && told.contains(QRegularExpression(".fir: No space left on device"))
                     && told.contains(QRegularExpression("Set01_Alpha.zun: No space left on device"))
                     && !told.contains("::") && !told.contains("link"),
                 qPrintable(told));
    }

    // Mended: the load's warning about what it loaded though odd did not say which
    // processor it was about (windows of several may load at once).
    void theLoadsWarningNamesTheProcessor()
    {
        start();
        // At 48 kHz, an EQ at 25 kHz: above half the sample rate.
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 1").arg(nr("Cmd_ClockSel"))));
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 50000").arg(nr("Inf_DSP0_ParBaseEQ") + 1)));
        QVERIFY(reread(m_rig.zun.data()));
        m_rig.zun->SaveSetup(1, QStringLiteral("Odd"));
        settle();
        QVERIFY(waitUntil([&]() { return m_rig.zun->GetMemoryManager()->setupCount() == 1; }));
        QTemporaryDir folder;
        m_answers->folderChoice = folder.path();
        m_actions->onSaveConfig();
        m_answers->shown.clear();
        bool ended = false;
        connect(m_actions, &ZunMaintenanceActions::longOperationFinished, this,
                [&ended](ZunLongOperation operation) { ended = ended || operation == ZunLongOperation::ConfigLoad; });
        m_actions->onLoadConfig();
        QVERIFY(waitUntil([&]() { return ended; }, 60000));
        const QStringList warnings = m_answers->shown.filter(QStringLiteral("though they hold"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].startsWith(QStringLiteral("Configuration load to Zun nr %1 (").arg(m_rig.zun->GetNr())),
                 qPrintable(warnings[0]));
    }

    // What the emulator's flash lists: "set ID" / "setup POSITION:ID", sorted.
    QStringList flash()
    {
        QStringList held;
        const QStringList w = m_rig.sim->query(QStringLiteral("flash"), QStringLiteral("flash ")).split(QLatin1Char(' '));
        for (int i = 1; i + 1 < w.size() && w[i] != QLatin1String("deleted"); i += 2)
            held << (w[i] == QLatin1String("setup") ? w[i] + QLatin1Char(' ') + w[i + 1]
                                                    : w[i] + QLatin1Char(' ') + w[i + 1].section(QLatin1Char(':'), 1));
        held.sort();
        return held;
    }

    // A second program's reads at its connection pass through the processor's one transfer
    // buffer and its entry selectors, between a load's block write and its store. Mended: the
    // load left an entry that holds no set, stored the running set's slot over (the DSPs then
    // ran a set the flash lacked), left another setup's image at a position whose setup it
    // named as not stored, and reported before its resends. Now each resend waits for the
    // other's reads to end, the load removes what its own spoiled stores left and stores again
    // what they replaced before its report, which says what each loaded position holds.
    void aLoadLeavesOnlyWhatItMeantToStore_data()
    {
        QTest::addColumn<QString>("spoil");
        // The other program reads the parameter image: the set's store takes those bytes.
        QTest::newRow("a set stored as the image") << QStringLiteral("image");
        // The other program selects FIR slot 0 (the running set's) to read it.
        QTest::newRow("a set's store sent to the running set's slot") << QStringLiteral("slot");
        // The other program reads setup 1 at each of the three tries of setup 3.
        QTest::newRow("a setup stored as another, three times") << QStringLiteral("setup");
    }
    void aLoadLeavesOnlyWhatItMeantToStore()
    {
        QFETCH(QString, spoil);
        start();
        const quint32 thru = m_rig.zun->GetActiveFilterIndex(1);
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        m_rig.zun->SaveSetup(2, QStringLiteral("Beta"));
        settle();
        QVERIFY(waitUntil([&]() { return m_rig.zun->GetMemoryManager()->setupCount() == 2; }));
        QTemporaryDir folder;
        m_answers->folderChoice = folder.path();
        m_actions->onSaveConfig();
        // The folder holds the pass-through set (stored already) and what the row stores.
        QDir dir(folder.path());
        const QString beta = dir.entryList({"Set02*.zun"}).value(0);
        for (const QString& f : dir.entryList({"Set*.zun"}))
            QVERIFY(f == beta ? QFile::rename(dir.filePath(f), dir.filePath("Set03_Beta.zun")) : dir.remove(f));
        QStringList expected = flash();
        if (spoil == QLatin1String("setup")) {
            QVERIFY(dir.exists("Set03_Beta.zun"));
        } else {
            QVERIFY(dir.remove("Set03_Beta.zun"));
            FilterLimiterEWS set(QString(), 48000.0);
            for (int o = 0; o < 4; ++o)
                set.setOutput(o, QVector<qint32>(64, 900 * (o + 1)), 8, o);
            set.SetName(QStringLiteral("Top"));
            set.computeKey();
            set.toFile(folder.path(), false);
            expected << QStringLiteral("set %1").arg(set.getKey(), 8, 16, QLatin1Char('0'));
        }
        expected.sort();
        QString report;
        connect(m_actions, &ZunMaintenanceActions::signal_log, this, [&report](QString line) {
            if (line.startsWith(QStringLiteral("Configuration loaded")))
                report = line;
        });
        QStringList boxes;
        connect(m_rig.zun.data(), &CZun::signal_exception, this, [&boxes](QString text, QString) { boxes << text; });
        const quint16 memCopy = nr("Cmd_MemCopy");
        const quint16 readEntry = quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"));
        const int tries = spoil == QLatin1String("setup") ? 3 : 1;
        QVERIFY(m_rig.sim->control(spoil == QLatin1String("slot") ? QStringLiteral("hold reply %1 254").arg(nr("Cmd_MemID0"))
                                                                   : QStringLiteral("hold block")));
        m_actions->onLoadConfig();
        for (int t = 0; t < tries; ++t) {
            QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1"); }, 30000));
            const quint16 port = m_rig.sim->tcpPort();
            if (spoil == QLatin1String("image"))
                QVERIFY(secondClientSends(port, {{memCopy, nr("CmdS_CopyDSPVar2RxTxBuf")}}));
            else if (spoil == QLatin1String("slot"))
                QVERIFY(secondClientSends(port, {{nr("Cmd_MemID2"), nr("ID_List_Filter")}, {nr("Cmd_MemID0"), 0}}));
            else
                QVERIFY(secondClientSends(port, {{nr("Cmd_MemID2"), nr("ID_List_Setup")}, {nr("Cmd_MemID0"), 1},
                                                 {memCopy, readEntry}}));
            QVERIFY(m_rig.sim->control(QStringLiteral("release")));
            if (t + 1 < tries)
                QVERIFY(m_rig.sim->control(QStringLiteral("hold block")));
        }
        QVERIFY(waitUntil([&]() { return !report.isEmpty(); }, 90000));
        settle();
        QCOMPARE(flash(), expected);
        QCOMPARE(m_rig.zun->GetActiveFilterIndex(1), thru);
        // No erase is blamed for the running set a store of the load's own replaced.
        QVERIFY2(boxes.filter(QStringLiteral("does not hold")).isEmpty(), qPrintable(boxes.join(QStringLiteral(" / "))));
        if (spoil == QLatin1String("setup"))
            QVERIFY2(report.contains(QStringLiteral("only in part")) && report.contains(QStringLiteral("3: nothing")),
                     qPrintable(report));
        else
            QVERIFY2(report.contains(QStringLiteral(": 1 FIR set, 0 setups.")) && !report.contains("only in part"),
                     qPrintable(report));
    }

    // Mended: a set stored twice, or an entry that holds no set (each left by a store another
    // program spoiled), made every "Save config" say that the rest was not read yet and to
    // save again. The entry that holds no set is named, and not waited for.
    void aSaveIsNotStuckOnWhatASpoiledStoreLeft_data()
    {
        QTest::addColumn<bool>("twice");
        QTest::newRow("an entry that holds no set") << false;
        QTest::newRow("a set stored twice") << true;
    }
    void aSaveIsNotStuckOnWhatASpoiledStoreLeft()
    {
        QFETCH(bool, twice);
        start();
        const quint32 thru = m_rig.zun->GetActiveFilterIndex(1);
        const QShPtrFLE set = m_rig.zun->GetFIRLimManager()->CreateThruFIRFilter(m_rig.zun->GetSampleRate(), 0);
        set->setAmpGain(9.0, 0);
        set->computeKey();
        const QString id = QStringLiteral("set %1").arg(set->getKey(), 8, 16, QLatin1Char('0'));
        QVERIFY(m_rig.sim->control(QStringLiteral("hold block")));
        m_rig.zun->UploadFIRFilter(set, 0);
        QVERIFY(waitUntil([&]() { return field(state(), "held") == QLatin1String("1"); }, 30000));
        if (twice)
            QVERIFY(secondClientSends(m_rig.sim->tcpPort(), {{nr("Cmd_MemID2"), nr("ID_List_Filter")}, {nr("Cmd_MemID0"), 0},
                                                             {nr("Cmd_MemCopy"), quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"))}}));
        else
            QVERIFY(secondClientSends(m_rig.sim->tcpPort(), {{nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")}}));
        QVERIFY(m_rig.sim->control(QStringLiteral("release")));
        // The set sent again is stored, and its copy or the entry beside it stays.
        QVERIFY(waitUntil([&]() { return flash().contains(id); }, 30000));
        settle();
        if (twice)
            QCOMPARE(flash().count(QStringLiteral("set %1").arg(thru, 8, 16, QLatin1Char('0'))), 2);
        else
            QVERIFY(waitUntil([&]() { return m_rig.zun->GetFIRLimManager()->unreadableEntries().size() == 1; }));
        QTemporaryDir folder;
        m_answers->folderChoice = folder.path();
        m_answers->shown.clear();
        m_actions->onSaveConfig();
        QCOMPARE(m_answers->shown.size(), 1);
        const QString told = m_answers->shown.first();
        QVERIFY2(told.contains(QStringLiteral("2 of 2 FIR/limiter sets")) && !told.contains(QStringLiteral("Save again")),
                 qPrintable(told));
        QCOMPARE(told.contains(QStringLiteral("an entry that holds no FIR/limiter set")), !twice);
    }

    // A load the link takes with it ends with the link, says so, and leaves nothing counted.
    void configLoadEndsWithTheLink_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("droplink") << "droplink";
        QTest::newRow("silent") << "silent";
        // A damaged block read drops the link, which may be after the last store.
        QTest::newRow("hugeblock") << "hugeblock";
    }
    void configLoadEndsWithTheLink()
    {
        QFETCH(QString, fault);
        start();
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        QTemporaryDir folder;
        m_answers->folderChoice = folder.path();
        m_actions->onSaveConfig();
        const QDir dir(folder.path());
        QVERIFY(QFile::rename(dir.filePath(dir.entryList({"Set*.zun"}).value(0)), dir.filePath("Set03_Alpha.zun")));
        QVERIFY(QFile::copy(dir.filePath("Set03_Alpha.zun"), dir.filePath("Set04_Alpha.zun")));

        ZunSignalSpy log(m_actions, &ZunMaintenanceActions::signal_log);
        ZunSignalSpy finished(m_actions, &ZunMaintenanceActions::longOperationFinished);
        QVERIFY(m_rig.sim->control(fault));
        m_actions->onLoadConfig();
        QVERIFY(finished.wait(60000)); // a hang guard: the load ends with the link
        // Mended: it said the folder was not loaded completely, also when the link went
        // after the last store (a damaged block read), before the lists could show it.
        const QString told = log.last().at(0).toString();
        QVERIFY2(told.contains(QStringLiteral("the link to the processor was lost")) && told.contains("Check the lists")
                     && !told.contains(QStringLiteral("not loaded completely")),
                 qPrintable(told));
        QVERIFY(waitUntil([&]() {
            return m_rig.zun->GetSetupManager()->pendingUploads() == 0
                && m_rig.zun->GetMemoryManager()->pendingTransfers() == 0;
        }));
        if (fault != QLatin1String("hugeblock")) // the link went after the stores
            QCOMPARE(field(state(), "setups"), QStringLiteral("1"));
    }

    // Mended: while an operation held the keep-alive off (a firmware update, an erase), a
    // file choice that closed, a recall's answer, a restore's answer or an erase's end (its
    // answer, and the processor's timer it set again) turned it on again: the processor
    // could drop the link in the middle. Each keep-alive change goes through the list of
    // operations: off until its last holder ends.
    void theKeepAliveStaysOffWhileAnOperationHoldsIt_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("a file choice closes") << "choice";
        QTest::newRow("a recall's answer") << "recall";
        QTest::newRow("the default settings' answer") << "defaults";
        QTest::newRow("the wizard's last step") << "wizard";
        QTest::newRow("an erase's answer") << "erase";
    }
    void theKeepAliveStaysOffWhileAnOperationHoldsIt()
    {
        QFETCH(QString, event);
        start();
        const auto closeTime = [&]() {
            return m_rig.sim->query(QStringLiteral("get %1").arg(nr("Cmd_TCPCloseTime")), "word ").section(' ', 2, 2);
        };
        CZun* zun = m_rig.zun.data();
        if (event == "recall") {
            zun->SaveSetup(1, QStringLiteral("Alpha"));
            settle();
        }
        auto held = zun->GetOperations()->begin(ZunLongOperation::Firmware, ZunOperation::KeepAlive | ZunOperation::Unlisted);
        zun->EnableTcpCheck(false);
        if (event == "choice") {
            const ZunKeepAliveRest rest(zun);
        } else if (event == "recall") {
            ZunSignalSpy answer(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_SetupSelect);
            zun->SelectSetup(1);
            QVERIFY(answer.wait(20000));
        } else if (event == "defaults") {
            ZunSignalSpy answer(zun, &CZun::signal_DefaultSettingsRestored);
            zun->RestoreDefaultSettings(true);
            QVERIFY(answer.wait(20000));
        } else if (event == "erase") {
            ZunSignalSpy answer(zun, &CZun::signal_FlashMemErased);
            zun->EraseFlashMemory();
            QVERIFY(answer.wait(20000));
        } else {
            ZunSignalSpy steps(zun->GetRoutingSteps(), &ZunTimedSteps::signal_Finished);
            zun->ApplyFullRoutingPreset(1, 0, 0, 0, 0, zun->GetRoutingManager()->GetFullRouting(), {}, {}, {}, {},
                                        ZunC::NoCopies, ZunC::NoCopies, true);
            QVERIFY(steps.wait(30000));
        }
        settle();
        QTest::qWait(100); // a queued change of the keep-alive, had one been made
        settle();
        QVERIFY(!zun->IsTcpCheckOn());
        QCOMPARE(closeTime(), QStringLiteral("0"));
        held->finish(ZunOperation::Outcome::Done);
        QVERIFY(zun->IsTcpCheckOn());
        QVERIFY(waitUntil([&]() { return closeTime() == QLatin1String("15"); }));
    }

    // Mended: the wizard's Finish killed after its first write left DSP 1's master at -40 dB
    // and the keep-alive off, and the next start said nothing. What a kill leaves on disk
    // (the record of the operations running, taken here while the Finish runs, once it has
    // sent the defaults) makes the next start name the processor, and the next connection
    // the Finish with what the processor holds of it, in the order it came: the masters
    // down, then the defaults with every output unmuted (a box said nothing of that).
    void aKilledWizardFinishIsNamedAtTheNextConnection()
    {
        start();
        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.restart();
            while (w.nextId() != -1)
                w.next();
            return true;
        };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return m_rig.sent.count(nr("Cmd_SetupSelect")) > 0; }));
        const QByteArray killed = m_rig.readOperationsRecord();
        QVERIFY(!killed.isEmpty());
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        settle();
        m_tab.reset(); // the wizard's end: its entry goes
        QVERIFY(!QFileInfo::exists(m_rig.operationsRecord()));
        QVERIFY(m_rig.leaveOperationsRecord(killed));
        QCOMPARE(ZunOperationJournal::unfinishedIn(QFileInfo(m_rig.operationsRecord()).path()),
                 QStringList("Zun 42: the configuration wizard's changes."));
        QSharedPointer<CZun> next;
        const QString text = m_rig.connectNext("did not reach their end", &next);
        QVERIFY2(text.contains("The configuration wizard's changes") && text.contains("did not end")
                     && text.contains("DSP 1's master gain is -40.0 dB"),
                 qPrintable(text));
        const int down = text.indexOf("lowers the master gains to -40 dB"), defaults = text.indexOf("default settings, "
                                                                                                     "which unmute every output");
        QVERIFY2(down > 0 && defaults > down && text.indexOf("changes the clock") > defaults, qPrintable(text));
        QVERIFY(next->IsTcpCheckOn());
        QVERIFY(!QFileInfo::exists(m_rig.operationsRecord())); // named once
    }

    // Mended: a record of running operations that could not be read was deleted at the next
    // connection without a word. The connection's box says so, and where its bytes are kept.
    void aRecordThatCanNotBeReadIsSaidAtTheConnection()
    {
        start();
        m_tab.reset();
        const QByteArray cut = "{\"operations\":[{\"kind\":\"config-lo";
        QVERIFY(m_rig.leaveOperationsRecord(cut));
        QSharedPointer<CZun> next;
        const QString text = m_rig.connectNext("could not be read", &next);
        QVERIFY2(text.contains(QDir::toNativeSeparators(m_rig.operationsRecord()) + " could not be read")
                     && text.contains("It is kept in " + QDir::toNativeSeparators(m_rig.operationsRecord()) + "-"),
                 qPrintable(text));
        const QString kept = text.mid(text.indexOf("It is kept in ") + 14).chopped(1);
        QFile aside(kept);
        QVERIFY2(aside.open(QIODevice::ReadOnly) && aside.readAll() == cut, qPrintable(kept));
    }

    // Mended: a program killed after its Erase All was sent left the next connection an
    // empty flash while the DSPs ran the erased set, with a box that sent the operator to the
    // computer that ran a garbage collection (none ran). The record of the operations running
    // names the erase: the next connection ends it at factory state, as an erase that ended.
    void aKilledEraseEndsAtFactoryStateAtTheNextConnection()
    {
        start();
        m_rig.zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        // The processor erases; its answer never reaches the program, killed meanwhile.
        QVERIFY(m_rig.sim->control(QStringLiteral("droplink reply %1").arg(nr("Cmd_BulkEraseF"))));
        m_actions->eraseFlashMemory();
        const QByteArray killed = m_rig.readOperationsRecord();
        // Its end with the link takes its entry off the record: put back as the kill left it.
        QVERIFY(waitUntil([&]() { return field(state(), "filters") == "0" && !QFileInfo::exists(m_rig.operationsRecord()); }));
        QCOMPARE(field(state(), "setups"), QStringLiteral("0"));
        m_tab.reset();
        QVERIFY(m_rig.leaveOperationsRecord(killed));

        QSharedPointer<CZun> next;
        QStringList boxes;
        const QString text = m_rig.connectNext("did not reach their end", &next, &boxes);
        QVERIFY2(text.contains("The erase of the flash") && text.contains("finishes it at factory state"), qPrintable(text));
        QVERIFY2(boxes.filter("garbage collection").isEmpty(), qPrintable(boxes.join(" / ")));
        const quint32 thru = next->GetFIRLimManager()->CreateThruFIRFilter(next->GetSampleRate(), 0)->getKey();
        const auto word = [&](const QString& name) {
            return m_rig.sim->query(QStringLiteral("get %1").arg(next->GetCmdMap()->getCmdNr(name)), "word ")
                .section(' ', 2, 2)
                .toUInt();
        };
        QVERIFY(waitUntil([&]() {
            return field(state(), "filters") == "1" && next->GetMemoryManager()->hasFilterId(thru)
                && (word("Cmd_0_FIR_ID1") << 16 | word("Cmd_0_FIR_ID0")) == thru
                && (word("Cmd_1_FIR_ID1") << 16 | word("Cmd_1_FIR_ID0")) == thru;
        }, 30000));
    }

    // The wizard's answers reach the processor in both routing modes; IIR sends no files.
    void wizardAppliedInBothModes()
    {
        start();
        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.restart();
            while (w.currentId() != CZunConfigWizard::FullRouting)
                w.next();
            w.setField("FIRPath1", QStringLiteral("/left/over.fir")); // ignored for IIR
            w.next();
            while (w.nextId() != -1)
                w.next();
            return true;
        };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        settle();
        QVERIFY(m_rig.sent.count(nr("Cmd_DSP_FullRouting0")) == 1);
        QVERIFY(m_rig.sent.count(nr("Cmd_ClockSel")) == 1);
        QVERIFY(m_rig.zun->IsTcpCheckOn());

        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.restart();
            while (w.currentId() != CZunConfigWizard::FullRouting)
                w.next();
            w.setField("AdvancedMode", true);
            while (w.nextId() != -1)
                w.next();
            return w.field("RoutingPreset").isValid();
        };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        settle();
        QVERIFY(m_rig.sent.count(nr("Cmd_ClockSel")) == 1);
        QCOMPARE(m_rig.sent.count(nr("Cmd_DSP_FullRouting0")), 0);
        QCOMPARE(m_rig.sent.count(nr("Cmd_SPI_Routing")), 1);

        m_rig.zun->disconnect();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsConnected(); }));
        m_answers->shown.clear();
        m_actions->on_BttnRouting();
        QCOMPARE(m_answers->shown, QStringList("Please establish a connection first"));
    }
};

int main(int argc, char** argv)
{
    // Before any thread: the small disk's mount is the process's own.
    ZunSmallDisk::enterPrivateMounts();
    QApplication app(argc, argv);
    TestMaintenanceActions tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_maintenanceactions_e2e.moc"
