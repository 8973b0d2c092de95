// The reply dispatcher fed with crafted commands, branch by branch.
#include "CMemoryManager.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunCmdNumbers.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QtEndian>
#include <QtTest>

using namespace DeviceTestRig;

namespace
{
QByteArray words(std::initializer_list<quint16> list)
{
    QByteArray b;
    for (quint16 w : list) {
        char c[2];
        qToLittleEndian<quint16>(w, c);
        b.append(c, 2);
    }
    return b;
}

enum Outcome { Done, Refused, NotSent, TimedOut, Superseded };

CZunCmd reply(quint16 id, quint16 value, const QByteArray& payload, Outcome o = Done)
{
    CZunCmd c(id, value);
    c.setReply(payload);
    if (o == Refused)
        c.setError();
    if (o == NotSent)
        c.setNotSent();
    else if (o == TimedOut)
        c.setTimedOut();
    else if (o == Superseded)
        c.setSuperseded();
    else
        c.setDone();
    return c;
}
} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;
    quint16 m_fw = 1080;

    CZunStatusBuffer* img() const { return m_zun->GetStatusBuffer(); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    quint16 word(const char* name) const { return img()->getValue(nr(name)); }

    void feed(const CZunCmd& cmd)
    {
        QVERIFY(QMetaObject::invokeMethod(img(), "cmdCallback", Qt::BlockingQueuedConnection, Q_ARG(CZunCmd, cmd)));
        ZunSignalSpy::takeQueued();
    }
    // A plain parameter reply: the processor now holds value.
    void store(const char* name, quint16 value) { feed(reply(nr(name), value, words({value}))); }
    void flashBlock(const QByteArray& data) { feed(reply(nr("ID_TX_Block"), nr("ID_Block_Flash"), data)); }
    void statusBlock(quint16 status, int size = 108)
    {
        QByteArray b(size, '\0');
        qToLittleEndian<quint16>(status, reinterpret_cast<uchar*>(b.data()) + 2 * nr("Stat_Status"));
        feed(reply(nr("ID_TX_Block"), nr("ID_Block_DSP_Stat"), b));
    }

    void makeDevice(quint16 fw, quint32 hardware = 0)
    {
        m_fw = fw;
        m_zun.reset(new CZun(record(fw, 42, 0, hardware), map(fw), QSharedPointer<CRoutingLibrary>()));
        QMetaObject::invokeMethod(m_zun->GetLink(), []() {}, Qt::BlockingQueuedConnection);
        // The device folder comes from the connection sequence (nothing goes out: there is
        // no connection); let its unsent commands come back before the test starts.
        m_zun->on_connected();
        QVERIFY(waitUntil([&]() { return !m_zun->IsRefreshPending(); }));
        QTest::qWait(20);
        m_sent.clear();
        m_sent.attach(m_zun.get());
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }
    void init() { makeDevice(1080); }
    void cleanup() { m_zun.reset(); }

    void plainRepliesAreStoredUnlessRefusedOrUnsent()
    {
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        ZunSignalSpy checked(img(), &CZunStatusBuffer::signal_TcpChecked);
        store("Cmd_0_ChGain2", 0xFFDF);
        QCOMPARE(word("Cmd_0_ChGain2"), quint16(0xFFDF));
        feed(reply(nr("Cmd_0_ChGain2"), 5, words({0xE002, nr("Cmd_0_ChGain2"), 5}), Refused));
        QCOMPARE(word("Cmd_0_ChGain2"), quint16(0xFFDF));
        QCOMPARE(log.count(), 1);
        QCOMPARE(log.at(0).at(0).toString(), QStringLiteral("Internal error e002 at Cmd:%1, Val:5\n").arg(nr("Cmd_0_ChGain2")));
        QCOMPARE(log.at(0).at(1).toBool(), true);
        feed(reply(nr("Cmd_0_ChGain2"), 7, QByteArray(), NotSent));
        for (Outcome o : {TimedOut, Superseded}) // no reply either, whatever they carry
            feed(reply(nr("Cmd_0_ChGain2"), 7, words({7}), o));
        feed(reply(nr("Cmd_0_ChGain2"), 7, QByteArray(1, '\7'))); // too short to hold a word
        QCOMPARE(word("Cmd_0_ChGain2"), quint16(0xFFDF));
        QCOMPARE(checked.count(), 3); // every reply that came back, not the unsent one
        // the early chain leaves master gains and the key lock to the generic rule for now
        store("Cmd_0_MasterGain", 12);
        store("Cmd_KeyLock", 1);
        QVERIFY(m_zun->IsKeyLocked());
        QCOMPARE(word("Cmd_0_MasterGain"), quint16(12));
        // the close time's reply checks the link once more
        checked.clear();
        store("Cmd_TCPCloseTime", 15);
        QCOMPARE(checked.count(), 2);
    }

    // The dispatcher knows a command by its number in the map as the map is now: after the
    // map took another firmware's table, a name the old one lacked is found at its number.
    void commandNumbersFollowTheMap()
    {
        CCmdMap map;
        ZunCmdNumbers numbers;
        map.setVersion(1079);
        QCOMPARE(numbers.number(map, "Cmd_String2App"), ZunCmdNumbers::Missing);
        QCOMPARE(numbers.number(map, "Cmd_SetupFlags"), 14);
        map.setVersion(1080);
        QCOMPARE(numbers.number(map, "Cmd_String2App"), 15);
        QCOMPARE(numbers.number(map, "Cmd_SetupFlags"), 14);
    }

    void directoryBlockGoesToTheMemoryManagerAndItsDump()
    {
        ZunSignalSpy changed(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        ZunSignalSpy flash(img(), &CZunStatusBuffer::signal_Block_ID_Flash);
        store("Cmd_MemCopy", nr("CmdS_CopyMemDir2RxTxBuf"));
        QByteArray dir(20, '\0');
        qToLittleEndian<quint32>(0x1000, reinterpret_cast<uchar*>(dir.data()));
        qToLittleEndian<quint32>(0xABCD0001, reinterpret_cast<uchar*>(dir.data()) + 4);
        dir[8] = 1; // a setup
        dir[9] = 3; // in slot 3
        dir[18] = 2;
        dir[19] = char(254); // a deleted filter
        flashBlock(dir);
        QCOMPARE(flash.count(), 1);
        QVERIFY(changed.count() > 0 || changed.wait());
        QCOMPARE(m_zun->GetMemoryManager()->setupIdAt(3), 0xABCD0001u);
        QCOMPARE(m_zun->GetMemoryManager()->deletedCount(), quint16(1));
        QFile dump(m_config->path() + QStringLiteral("/42/MemDir_42.bin"));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        QCOMPARE(dump.readAll(), dir);
    }

    void malformedBlocksAreDropped()
    {
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        ZunSignalSpy changed(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        ZunSignalSpy imageChanged(img(), &CZunStatusBuffer::signal_StatusBufferChanged);
        store("Cmd_MemCopy", nr("CmdS_CopyMemDir2RxTxBuf"));
        flashBlock(QByteArray(25, '\0'));              // not a whole number of entries
        flashBlock(QByteArray(10 * 220, '\0'));        // more entries than a directory holds
        QByteArray unknown(10, '\0');
        unknown[8] = char(0x7F);                       // an entry of no known type
        flashBlock(unknown);
        store("Cmd_MemCopy", nr("CmdS_CopyDSPVar2RxTxBuf"));
        m_zun->RefreshStatusBuffer();
        QVERIFY(m_zun->IsRefreshPending());
        flashBlock(QByteArray(3398, '\1'));
        statusBlock(nr("Msg_CmdChangeN"), 60);          // shorter than a status record
        QTest::qWait(50);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(imageChanged.count(), 0);
        QCOMPARE(log.count(), 5);
        for (const QList<QVariant>& line : log)
            QVERIFY(line.at(0).toString().contains(QStringLiteral("dropped")));
        // a dropped image read-back does not block the next refresh
        QVERIFY(waitUntil([&]() { return !m_zun->IsRefreshPending(); }));
    }

    void imageBlockReplacesTheImage()
    {
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        store("Cmd_MemCopy", nr("CmdS_CopyDSPVar2RxTxBuf"));
        QByteArray image(3400, '\0');
        qToLittleEndian<quint16>(0x22, reinterpret_cast<uchar*>(image.data()) + 2 * nr("Cmd_1_ChGain0"));
        qToLittleEndian<quint16>(nr("CmdS_CopyDSPVar2RxTxBuf"), reinterpret_cast<uchar*>(image.data()) + 2 * nr("Cmd_MemCopy"));
        flashBlock(image);
        QCOMPARE(img()->toByteArray(), image);
        QVERIFY(status.count() > 0 || status.wait());
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output4), float(0.1f * 0x22));
        QVERIFY(QFile::exists(m_config->path() + QStringLiteral("/42/DSPVarDump_42.zun")));
    }

    void refusedImageReadBackClearsThePendingFlag()
    {
        m_zun->RefreshStatusBuffer();
        QVERIFY(m_zun->IsRefreshPending());
        feed(reply(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf"), words({0xE006, 0, 0}), Refused));
        QVERIFY(waitUntil([&]() { return !m_zun->IsRefreshPending(); }));
    }

    void flashEntryBlocksByListKind()
    {
        ZunSignalSpy setup(img(), &CZunStatusBuffer::signal_SetupDownloaded);
        ZunSignalSpy fir(img(), &CZunStatusBuffer::signal_FIRDownloaded);
        store("Cmd_MemCopy", quint16(nr("ID_FAI_Ctrl_r") + nr("CmdS_CopyF2RxTxBuf")));
        store("Cmd_MemID0", 4);
        store("Cmd_MemID2", nr("ID_List_Setup"));
        flashBlock("setup");
        store("Cmd_MemID2", nr("ID_List_Filter"));
        flashBlock("fir");
        store("Cmd_MemID2", nr("ID_List_SetupEQ"));
        flashBlock("eq");
        store("Cmd_MemID2", nr("ID_List_DSP_Prog"));
        flashBlock("prog");
        QCOMPARE(setup.count(), 1);
        QCOMPARE(setup.at(0).at(0).toInt(), 4);
        QCOMPARE(setup.at(0).at(1).toByteArray(), QByteArray("setup"));
        QCOMPARE(fir.count(), 1);
        QCOMPARE(fir.at(0).at(1).toByteArray(), QByteArray("fir"));
        QVERIFY(QFile::exists(m_config->path() + QStringLiteral("/42/eqsetup_4.eq2")));
    }

    void flashBlockWithoutACopyIsReportedNotThrown()
    {
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        ZunSignalSpy flash(img(), &CZunStatusBuffer::signal_Block_ID_Flash);
        store("Cmd_MemCopy", 0x1234);
        flashBlock("x");
        QCOMPARE(flash.count(), 0);
        QCOMPARE(exception.count(), 1);
        QCOMPARE(exception.at(0).at(0).toString(), QStringLiteral("CZun::cmdCallback(): Invalid value in usLastMemCopy"));
        QCOMPARE(exception.at(0).at(1).toString(), QStringLiteral("ZunControl"));
    }

    void statusBlockAsksForTheChangedParameter()
    {
        ZunSignalSpy outOfSync(img(), &CZunStatusBuffer::signal_ZunOutOfSync);
        statusBlock(nr("Msg_StatusIdle"));
        statusBlock(1700);
        QVERIFY(m_sent.groups().isEmpty());
        statusBlock(1699);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{0xFF0B, 1699}}));
        QVERIFY(!m_sent.groups().first().supersede());
        m_sent.clear();
        statusBlock(nr("Cmd_0_MasterGain"));
        QCOMPARE(m_sent.groups().size(), 2);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{0xFF0B, nr("Cmd_0_MasterGain")},
                                                                     {0xFF0B, nr("Cmd_1_MasterGain")}}));
        m_sent.clear();
        statusBlock(nr("Msg_CmdChangeN"));
        QCOMPARE(outOfSync.count(), 1);
        // the device object re-reads the whole image
        QVERIFY(waitUntil([&]() { return m_sent.contains(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")); }));
    }

    void statusWordReply()
    {
        const quint16 status = nr("ID_TX_Status");
        feed(reply(status, 0, words({nr("Msg_CmdChangeN")})));
        feed(reply(status, 0, words({nr("Msg_StatusIdle")})));
        feed(reply(status, 0, words({1800})));
        QVERIFY(m_sent.groups().isEmpty());
        feed(reply(status, 0, words({nr("Cmd_0_MasterGain")})));
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{0xFF0B, nr("Cmd_0_MasterGain")}}));
    }

    void programNameBlock()
    {
        ZunSignalSpy entry(img(), &CZunStatusBuffer::signal_DSPProgramListEntry);
        store("Cmd_MemID2", nr("ID_List_DSP_Prog"));
        store("Cmd_MemID0", 2);
        feed(reply(nr("ID_TX_Block"), nr("ID_Block_SetupName"), QByteArray("2121_307\0junk", 13)));
        QCOMPARE(entry.count(), 1);
        QCOMPARE(entry.at(0).at(0).toUInt(), 2u);
        QCOMPARE(entry.at(0).at(1).toString(), QStringLiteral("2121_307"));
    }

    void hardwareReply()
    {
        ZunSignalSpy hw(m_zun.get(), &CZun::signal_HardwareInfoUpdated);
        feed(reply(nr("ID_TX_Hardware"), 0, QByteArray("\x94\xFF\x00", 3)));
        QTest::qWait(20);
        QCOMPARE(hw.count(), 0);
        QByteArray p(6, '\0');
        qToLittleEndian<quint32>(0x1FF94, reinterpret_cast<uchar*>(p.data()));
        qToLittleEndian<quint16>(9, reinterpret_cast<uchar*>(p.data()) + 4);
        feed(reply(nr("ID_TX_Hardware"), 0, p));
        QTRY_COMPARE(hw.count(), 1);
        QCOMPARE(m_zun->GetHardwareInfo().hardwareWord(), 0x1FF94u);
        QCOMPARE(m_zun->GetHardwareInfo().extraWord(), 9u);
    }

    void blockWriteEnd()
    {
        ZunSignalSpy finished(img(), &CZunStatusBuffer::signal_BlockTransferFinished);
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        feed(reply(0xFF00, 3400, words({3400, 3400, 0})));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toUInt(), 3400u);
        feed(reply(0xFF00, 10, words({0xE003, 0xFF00, 10}), Refused));
        QCOMPARE(exception.count(), 1);
        QCOMPARE(exception.at(0).at(0).toString(), QStringLiteral("The processor refused a block of 10 bytes (Block "
                                                                  "checksum error). The transfer was stopped; please "
                                                                  "try again."));
    }

    void flashSteps()
    {
        ZunSignalSpy prog(img(), &CZunStatusBuffer::signal_DSPProgUploaded);
        ZunSignalSpy fir(img(), &CZunStatusBuffer::signal_FIRUploaded);
        ZunSignalSpy setup(img(), &CZunStatusBuffer::signal_SetupUploaded);
        ZunSignalSpy bar(img(), &CZunStatusBuffer::signal_StatusBarMessage);
        ZunSignalSpy setupRemoved(img(), &CZunStatusBuffer::signal_SetupRemoved);
        ZunSignalSpy firRemoved(img(), &CZunStatusBuffer::signal_FIRFilterRemoved);
        ZunSignalSpy piece(img(), &CZunStatusBuffer::signal_MemCopyFinished);
        const quint16 store2F = quint16(nr("ID_FAI_Ctrl_w_RxTxBuf") + nr("CmdS_CopyRxTxBuf2F"));
        store("Cmd_MemID0", 7);
        store("Cmd_MemID1", 0x1234);
        store("Cmd_MemID2", nr("ID_List_DSP_Prog"));
        store("Cmd_MemCopy", store2F);
        store("Cmd_MemID2", nr("ID_List_Filter"));
        feed(reply(nr("Cmd_MemCopy"), store2F, words({0xE005, 0, 0}), Refused));
        store("Cmd_MemID2", nr("ID_List_Setup"));
        store("Cmd_MemCopy", store2F);
        store("Cmd_MemCopy", nr("CmdS_DeleteInF"));
        store("Cmd_MemID2", nr("ID_List_Filter"));
        store("Cmd_MemCopy", nr("CmdS_DeleteInF"));
        store("Cmd_MemCopy", quint16(nr("CmdS_CopyRxTxBuf2F_Raw") + (3 << 4)));
        QCOMPARE(prog.count(), 1);
        QCOMPARE(prog.at(0).at(0).toBool(), true);
        QCOMPARE(fir.count(), 1);
        QCOMPARE(fir.at(0).at(0).toBool(), false);
        QCOMPARE(setup.count(), 1);
        QCOMPARE(setup.at(0).at(1).toInt(), 7);
        QCOMPARE(bar.at(0).at(0).toString(), QStringLiteral("Setup uploaded to pos. 7"));
        QCOMPARE(setupRemoved.count(), 1);
        QCOMPARE(firRemoved.count(), 1);
        QCOMPARE(firRemoved.at(0).at(0).toUInt(), (0x1234u << 16) + 7u);
        QCOMPARE(piece.count(), 1);
        // the memory-copy word is stored, so the next block is read by it
        QCOMPARE(word("Cmd_MemCopy"), quint16(nr("CmdS_CopyRxTxBuf2F_Raw") + (3 << 4)));
    }

    void checks()
    {
        ZunSignalSpy block(img(), &CZunStatusBuffer::signal_BlockCheckFinished);
        ZunSignalSpy firmware(img(), &CZunStatusBuffer::signal_FirmwareCheckFinished);
        store("Cmd_CheckBlockF", 1);
        store("Cmd_CheckFirmware", 0);
        QCOMPARE(block.at(0).at(0).toBool(), true);
        QCOMPARE(firmware.at(0).at(0).toBool(), false);
        // An update whose check never came back has no verdict (mended: it counted as a file
        // the processor refused); a superseded check is still on its way.
        ZunSignalSpy unanswered(img(), &CZunStatusBuffer::signal_FirmwareCheckUnanswered);
        store("Cmd_CheckFirmware", 1);
        feed(reply(nr("Cmd_CheckFirmware"), 3, QByteArray(), TimedOut));
        feed(reply(nr("Cmd_CheckFirmware"), 3, QByteArray(), Superseded));
        QCOMPARE(firmware.count(), 2);
        QCOMPARE(firmware.at(1).at(0).toBool(), true);
        QCOMPARE(unanswered.count(), 1);
    }

    void setupSelection()
    {
        ZunSignalSpy restored(img(), &CZunStatusBuffer::signal_DefaultSettingsRestored);
        ZunSignalSpy selected(img(), &CZunStatusBuffer::signal_SetupSelect);
        m_zun->EnableTcpCheck(false);
        m_sent.clear();
        store("Cmd_0_ChGain0", 1);
        QVERIFY(img()->isModified());
        store("Cmd_SetupSelect", 0xFF);
        QCOMPARE(word("Cmd_SetupSelect"), quint16(0xCDEF));
        QVERIFY(!img()->isModified());
        QCOMPARE(restored.count(), 1);
        QCOMPARE(selected.count(), 0);
        store("Cmd_SetupSelect", 3);
        QCOMPARE(word("Cmd_SetupSelect"), quint16(3));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(1).toInt(), 3);
        // the keep-alive comes back in the GUI thread
        QVERIFY(waitUntil([&]() { return m_zun->IsTcpCheckOn(); }));
        QVERIFY(m_sent.contains(nr("Cmd_TCPCloseTime"), 15));
    }

    void dspBootAndInitialisation()
    {
        makeDevice(1080, 0x80); // two boards
        ZunSignalSpy init(img(), &CZunStatusBuffer::signal_DSPInitialized);
        store("Cmd_0_DSP_ID", 2121);
        store("Cmd_1_DSP_ID", 2122);
        store("Cmd_0_DSP_ID", 3000);
        store("Cmd_1_DSP_ID", 3001);
        feed(reply(nr("Cmd_DSP_Boot"), 1, words({0xE006, 0, 0}), Refused));
        QCOMPARE(word("Cmd_0_DSP_ID"), quint16(2121));
        QCOMPARE(word("Cmd_1_DSP_ID"), quint16(2122));
        QCOMPARE(init.count(), 1);
        QCOMPARE(init.at(0), (QList<QVariant>{false, quint16(0), quint16(2121)}));
        ZunSignalSpy select(m_zun.get(), &CZun::signal_DSPProgramSelect);
        store("Cmd_DSP_InitAllPar", 0);
        QCOMPARE(init.count(), 3);
        QCOMPARE(init.at(1), (QList<QVariant>{true, quint16(1), quint16(2121)}));
        QCOMPARE(init.at(2), (QList<QVariant>{true, quint16(2), quint16(2122)}));
        QVERIFY(select.count() > 0 || select.wait());
    }

    void firLoadOnASingleBoard()
    {
        ZunSignalSpy select(img(), &CZunStatusBuffer::signal_FIRFilterSelect);
        store("Cmd_1_FIR_ID0", 5);
        store("Cmd_1_FIR_ID1", 6);
        store("Cmd_1_FIR_ID0", 50);
        store("Cmd_1_FIR_ID1", 60);
        store("Cmd_0_FIR_ID0", 2);
        store("Cmd_0_FIR_ID1", 1);
        m_sent.clear();
        feed(reply(nr("Cmd_1_DSP_LoadKoef"), 254, words({0xE006, 0, 0}), Refused));
        QCOMPARE(word("Cmd_1_FIR_ID0"), quint16(5));
        QCOMPARE(word("Cmd_1_FIR_ID1"), quint16(6));
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_1_FIR_ID0"), 5}, {nr("Cmd_1_FIR_ID1"), 6}}));
        QCOMPARE(select.count(), 0); // single board: nothing for DSP 1
        store("Cmd_0_DSP_LoadKoef", 254);
        QCOMPARE(select.count(), 1);
        QCOMPARE(select.at(0), (QList<QVariant>{true, 1, 65538u}));
    }

    void eraseAndRouting()
    {
        ZunSignalSpy reset(img(), &CZunStatusBuffer::signal_FactoryReset);
        ZunSignalSpy routing(img(), &CZunStatusBuffer::signal_RoutingPreset);
        store("Cmd_BulkEraseF", nr("Inf_EraseOnly128K"));
        QCOMPARE(reset.count(), 0);
        store("Cmd_BulkEraseF", 0);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(word("Cmd_BulkEraseF"), quint16(0)); // handled: not stored
        store("Cmd_SPI_Routing", 0x1191);
        QCOMPARE(word("Cmd_SPI_Routing"), quint16(0x1191));
        QCOMPARE(routing.at(0), (QList<QVariant>{true, 0x1191}));
        // a routing preset makes the device object re-read the image
        QVERIFY(waitUntil([&]() { return m_sent.contains(nr("Cmd_MemCopy"), nr("CmdS_CopyDSPVar2RxTxBuf")); }));
    }

    // A reply the link hands over without a read (a command it could not send) reaches
    // the dispatcher too, and in its turn: the unsent store is reported as failed.
    void replyWithoutAReadIsHandled()
    {
        ZunSignalSpy stored(img(), &CZunStatusBuffer::signal_SetupStored);
        m_zun->SendCmd(nr("Cmd_SetupStore"), 2); // no connection: it comes back unsent
        QVERIFY(waitUntil([&]() { return stored.size() == 1; }));
        QCOMPARE(stored.at(0).at(0).toBool(), false);
    }

    void setupStoreAndPin()
    {
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        store("Cmd_0_ChGain0", 9);
        ZunSignalSpy stored(img(), &CZunStatusBuffer::signal_SetupStored);
        // A refused store saved nothing: the image stays modified, and who waits learns it.
        feed(reply(nr("Cmd_SetupStore"), 2, words({0xE005, 0, 0}), Refused));
        QVERIFY(img()->isModified());
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.at(0).at(0).toBool(), false);
        QVERIFY(waitUntil([&]() { return m_sent.contains(nr("Cmd_MemCopy"), nr("CmdS_CopyMemDir2RxTxBuf")); }));
        store("Cmd_SetupStore", 2);
        QVERIFY(!img()->isModified());
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored.at(1).at(0).toBool(), true);
        m_sent.clear();
        log.clear();
        img()->setPendingPin(0x5678);
        store("Cmd_Pin", 1);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_Pin"), 0x5678}}));
        store("Cmd_Pin", 2);
        store("Cmd_Pin", 0);
        QCOMPARE(log.count(), 2);
        QCOMPARE(log.at(0), (QList<QVariant>{QStringLiteral("PIN changed successfully"), false}));
        QCOMPARE(log.at(1), (QList<QVariant>{QStringLiteral("Invalid PIN. PIN has not been changed."), false}));
        QCOMPARE(word("Cmd_Pin"), quint16(0));
    }

    void listLayoutDirectoryBeforeFirmware1077()
    {
        makeDevice(1076);
        ZunSignalSpy changed(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
        ZunSignalSpy log(m_zun.get(), &CZun::signal_LogMessage);
        store("Cmd_MemCopy", nr("CmdS_CopyMemDir2RxTxBuf"));
        flashBlock(QByteArray(590, '\0'));
        QByteArray dir(4 * 101 + 190, char(255));
        dir.replace(0, 4, QByteArray(4, '\0'));
        flashBlock(dir);
        QVERIFY(changed.count() > 0 || changed.wait());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(log.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
