// The emulator's flash and maintenance commands through the real link on loopback; its
// directory blocks are read by the flash directory manager in both layouts.
#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CZunImageDefaults.h"
#include "ZunBaseComm.h"
#include "ZunCrc16.h"
#include "ZunProtocolMetaTypes.h"

#include "TcpSimProcess.h"
#include "ZunSignalSpy.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <memory>

// The emulator process helper lives with the protocol tests.

#define VERIFY_OK(expr)                                                                            \
    do {                                                                                           \
        const CZunCmd answered_ = (expr);                                                          \
        QVERIFY2(okay(answered_), describe(answered_).constData());                               \
    } while (0)

class CmdLog : public QObject
{
    Q_OBJECT
public:
    QList<CZunCmd> cmds;
public slots:
    void on_Cmd(CZunCmd cmd) { cmds << cmd; }
};

class TestZunSimFlash : public QObject
{
    Q_OBJECT
private:
    quint16 m_fw = 1080;
    std::unique_ptr<TcpSimProcess> m_sim;
    std::unique_ptr<ZunBaseComm> m_link;
    std::unique_ptr<CmdLog> m_log;
    QSharedPointer<CCmdMap> m_map;

    quint16 nr(const char* name) { return m_map->getCmdNr(name); }
    // Answered and not refused (a command that never came back is neither).
    static bool okay(const CZunCmd& c) { return c.isDone() && !c.isError(); }
    static QByteArray describe(const CZunCmd& c)
    {
        return QStringLiteral("cmd 0x%1 value 0x%2: done %3, refused %4, not sent %5, reply word 0x%6")
            .arg(c.getCmd(), 0, 16).arg(c.getValue(), 0, 16).arg(c.isDone()).arg(c.isError()).arg(c.isNotSent())
            .arg(c.replyWord(), 0, 16).toLatin1();
    }

    static bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }

    bool start(quint16 fw)
    {
        m_fw = fw;
        m_map = QSharedPointer<CCmdMap>::create();
        m_map->setVersion(fw);
        m_sim.reset(new TcpSimProcess);
        if (!m_sim->start({"--firmware", QString::number(fw)}))
            return false;
        m_link.reset(new ZunBaseComm(QHostAddress(QHostAddress::LocalHost), 1, fw, m_map));
        m_link->setPort(m_sim->tcpPort());
        m_log.reset(new CmdLog);
        connect(m_link.get(), &ZunBaseComm::signal_CmdProcessed, m_log.get(), &CmdLog::on_Cmd);
        bool created = false;
        connect(m_link.get(), &ZunBaseComm::signal_SocketCreated, m_log.get(), [&created]() { created = true; });
        m_link->start();
        if (!waitUntil([&]() { return created; }))
            return false;
        QMetaObject::invokeMethod(m_link.get(), "connectZun", Qt::BlockingQueuedConnection);
        return waitUntil([this]() { return m_link->isConnected(); });
    }

    // Sends a group and returns its commands as they came back.
    QList<CZunCmd> run(const CZunMetaCmd& group)
    {
        const int before = m_log->cmds.size();
        if (m_link->sendMetaCmd(group) != 0 || !waitUntil([&]() { return m_log->cmds.size() >= before + group.size(); }))
            return {};
        return m_log->cmds.mid(before);
    }
    CZunCmd one(quint16 id, quint16 value) { return run(CZunMetaCmd(id, value)).value(0); }

    CZunCmd upload(const char* list, quint16 slot, const QByteArray& data, quint16 programId = 0)
    {
        CZunMetaCmd g(nr("ID_RX_Block_Start"), quint16(data.size()), data);
        g.appendCmd(nr("Cmd_MemID2"), nr(list));
        g.appendCmd(nr("Cmd_MemID0"), slot);
        g.appendCmd(nr("Cmd_Block_ID"), programId);
        g.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2F") + nr("ID_FAI_Ctrl_w_RxTxBuf"));
        return run(g).value(4);
    }
    // The block read after the copy: its data, or the refused copy / read.
    QList<CZunCmd> download(const char* list, quint16 slot)
    {
        CZunMetaCmd g(nr("Cmd_MemID2"), nr(list));
        g.appendCmd(nr("Cmd_MemID0"), slot);
        g.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r"));
        g.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
        return run(g).mid(2);
    }
    CZunCmd remove(const char* list, quint16 slot)
    {
        CZunMetaCmd g(nr("Cmd_MemID2"), nr(list));
        g.appendCmd(nr("Cmd_MemID0"), slot);
        g.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_DeleteInF"));
        return run(g).value(2);
    }
    QByteArray readBack(const char* op)
    {
        CZunMetaCmd g(nr("Cmd_MemCopy"), nr(op));
        g.appendCmd(nr("ID_TX_Block"), nr("ID_Block_Flash"));
        return run(g).value(1).getReply();
    }
    // The directory as the device model's manager reads it.
    std::unique_ptr<CMemoryManager> directory()
    {
        auto mm = std::make_unique<CMemoryManager>();
        mm->initConstants(m_map, m_fw);
        ZunSignalSpy changed(mm.get(), &CMemoryManager::signal_MemDirChanged);
        mm->SetMemDir(readBack("CmdS_CopyMemDir2RxTxBuf"));
        return changed.count() == 1 ? std::move(mm) : nullptr;
    }
    quint16 imageWord(const QByteArray& image, const char* name)
    {
        return qFromLittleEndian<quint16>(image.constData() + 2 * nr(name));
    }
    static QByteArray bytes(int n, char seed) { QByteArray b(n, seed); b[0] = char(n); return b; }
    QByteArray setupImage(char fill) { QByteArray b = CZunImageDefaults::defaultImageBytes(m_fw); b[3376] = fill; return b; }

private slots:
    void initTestCase() { registerProtocolMetaTypes(); }
    void cleanup()
    {
        m_link.reset();
        m_sim.reset();
    }

    void entriesRoundTrip_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::newRow("list layout") << 1075;
        QTest::newRow("entry layout") << 1080;
    }
    void entriesRoundTrip()
    {
        QFETCH(int, firmware);
        QVERIFY(start(quint16(firmware)));
        const QByteArray fir = bytes(5000, 'f'), setup = setupImage('S'), program = bytes(21500, 'p');
        VERIFY_OK(upload("ID_List_Filter", nr("ID_ListAppend"), fir));
        VERIFY_OK(upload("ID_List_Setup", 3, setup));
        const CZunCmd prog = upload("ID_List_DSP_Prog", nr("ID_ListAppend"), program, 0x0451);
        VERIFY_OK(prog);
        QCOMPARE(prog.replyWord(), quint16(nr("CmdS_CopyRxTxBuf2F") + nr("ID_FAI_Ctrl_w_RxTxBuf")));

        auto dir = directory();
        QVERIFY(dir);
        QCOMPARE(dir->entryCount(), 3u);
        QCOMPARE(dir->filterIdAt(0), ZunCrc16Data(fir)); // the set's key
        QCOMPARE(dir->setupIdAt(3), ZunCrc16(setup));    // the setup's checksum
        QCOMPARE(dir->dspProgramIdAt(0), quint16(0x0451));
        QVERIFY(dir->GetMemPosAtFATEntry(1) >= dir->GetMemPosAtFATEntry(0) + quint32(fir.size()));

        QList<CZunCmd> got = download("ID_List_Filter", 0);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].replyWord(), quint16(nr("CmdS_CopyF2RxTxBuf") + nr("ID_FAI_Ctrl_r")));
        QCOMPARE(got[1].getReply(), fir);
        QCOMPARE(download("ID_List_Setup", 3).value(1).getReply(), setup);

        // Deleting leaves the entry in the flash, listed as deleted.
        const CZunCmd del = remove("ID_List_Filter", 0);
        VERIFY_OK(del);
        QCOMPARE(del.replyWord(), nr("CmdS_DeleteInF"));
        dir = directory();
        QCOMPARE(dir->filterIdAt(0), 0u);
        QCOMPARE(dir->deletedCount(), quint16(1));
        QCOMPARE(dir->entryCount(), 3u);

        // An empty slot: the copy and the block read after it are refused.
        got = download("ID_List_Filter", 0);
        QVERIFY(got.value(0).isError() && got.value(1).isError());
        QCOMPARE(got[1].replyWord(), nr("Msg_ErrFlash"));
        QVERIFY(remove("ID_List_Filter", 0).isError());

        // A new set takes the free slot and lies behind every earlier entry; a new setup in
        // an occupied slot replaces the old one, which stays as a deleted entry.
        VERIFY_OK(upload("ID_List_Filter", nr("ID_ListAppend"), bytes(100, 'g')));
        VERIFY_OK(upload("ID_List_Setup", 3, setupImage('T')));
        dir = directory();
        QCOMPARE(dir->entryCount(), 5u);
        QCOMPARE(dir->filterIdAt(0), ZunCrc16Data(bytes(100, 'g')));
        QCOMPARE(dir->setupIdAt(3), ZunCrc16(setupImage('T')));
        QCOMPARE(dir->deletedCount(), quint16(2));
        QVERIFY(dir->GetMemPosAtFATEntry(3) > dir->GetMemPosAtFATEntry(2));

        // Wrong kinds and sizes are refused.
        QVERIFY(upload("ID_List_Setup", 4, bytes(100, 's')).isError());
        QVERIFY(upload("ID_List_Filter", quint16(dir->filterListSize()), fir).isError());
    }

    void capacity_data()
    {
        QTest::addColumn<int>("firmware");
        QTest::newRow("list layout") << 1075;
        QTest::newRow("entry layout") << 1080;
    }
    void capacity()
    {
        QFETCH(int, firmware);
        QVERIFY(start(quint16(firmware)));
        // Entries: the list layout holds 50, whatever lists they are in; the entry
        // layout's filter list ends at its 100 slots.
        const int entries = firmware < 1077 ? 50 : 100;
        for (int i = 0; i < entries; ++i) {
            const bool filter = i % 2 || firmware >= 1077;
            const CZunCmd c = filter ? upload("ID_List_Filter", nr("ID_ListAppend"), bytes(64 + i, 'c'))
                                     : upload("ID_List_Setup", nr("ID_ListAppend"), setupImage(char(i)));
            QVERIFY2(okay(c), qPrintable(QString::number(i) + ": " + describe(c)));
        }
        const CZunCmd refused = upload("ID_List_Filter", nr("ID_ListAppend"), bytes(64, 'x'));
        QVERIFY(refused.isError());
        QCOMPARE(refused.replyWord(), nr("Msg_ErrFlash"));
        auto dir = directory();
        QCOMPARE(int(dir->entryCount()), entries);
        QVERIFY(dir->freeEntries() < 3 || firmware >= 1077);

        // Bytes: 2 MiB less the firmware area.
        VERIFY_OK(one(nr("Cmd_BulkEraseF"), 0));
        VERIFY_OK(upload("ID_List_Filter", 0, bytes(1024 * 1024, 'b')));
        QVERIFY(upload("ID_List_Filter", 1, bytes(1024 * 1024, 'b')).isError());
        VERIFY_OK(upload("ID_List_Filter", 1, bytes(512 * 1024, 'b')));
        dir = directory();
        QCOMPARE(dir->entryCount(), 2u);
    }

    void failedUploadOnRequest()
    {
        QVERIFY(start(1080));
        QVERIFY(m_sim->control("failupload"));
        const CZunCmd failed = upload("ID_List_Filter", nr("ID_ListAppend"), bytes(300, 'f'));
        QVERIFY(failed.isError());
        QCOMPARE(failed.replyWord(), nr("Msg_ErrFlash"));
        QCOMPARE(directory()->entryCount(), 0u);
        QVERIFY(m_sim->control("failupload off"));
        VERIFY_OK(upload("ID_List_Filter", nr("ID_ListAppend"), bytes(300, 'f')));
        QCOMPARE(directory()->filterCount(), quint16(1));
    }

    void setupsStoreSelectDefaults()
    {
        QVERIFY(start(1080));
        const quint16 word = nr("Cmd_0_DSP_WaitLoop");
        VERIFY_OK(one(word, 7));
        CZunMetaCmd store(nr("ID_RX_Block_Start"), 24, QByteArray("Main").leftJustified(24, ' '));
        store.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_SaveSetupName"));
        store.appendCmd(nr("Cmd_SetupStore"), 2);
        const QList<CZunCmd> stored = run(store);
        VERIFY_OK(stored.value(2));
        QCOMPARE(stored[2].replyWord(), quint16(2));

        const QByteArray setup = download("ID_List_Setup", 2).value(1).getReply();
        QCOMPARE(setup.size(), 3400);
        QCOMPARE(setup.mid(3376, 24), QByteArray("Main").leftJustified(24, ' '));
        QCOMPARE(imageWord(setup, "Cmd_0_DSP_WaitLoop"), quint16(7));
        QCOMPARE(directory()->setupIdAt(2), ZunCrc16(setup));

        // Recall: the image follows the setup and names it as selected.
        VERIFY_OK(one(word, 9));
        QCOMPARE(one(nr("Cmd_SetupSelect"), 2).replyWord(), quint16(2));
        QByteArray image = readBack("CmdS_CopyDSPVar2RxTxBuf");
        QCOMPARE(imageWord(image, "Cmd_0_DSP_WaitLoop"), quint16(7));
        QCOMPARE(imageWord(image, "Cmd_SetupSelect"), quint16(2));
        QVERIFY(one(nr("Cmd_SetupSelect"), 5).isError()); // nothing stored there

        // Defaults: the parameters of a fresh processor, no setup selected; the flash keeps
        // its setups.
        VERIFY_OK(one(nr("Cmd_ClockSel"), nr("Inf_Sel_Clk_48")));
        QCOMPARE(one(nr("Cmd_SetupSelect"), 254).replyWord(), quint16(254));
        image = readBack("CmdS_CopyDSPVar2RxTxBuf");
        QCOMPARE(imageWord(image, "Cmd_SetupSelect"), quint16(0xCDEF));
        QCOMPARE(imageWord(image, "Cmd_0_DSP_WaitLoop"), quint16(0));
        QCOMPARE(imageWord(image, "Cmd_ClockSel"), nr("Inf_Sel_Clk_48")); // kept by 254
        QCOMPARE(one(nr("Cmd_SetupSelect"), 255).replyWord(), quint16(255));
        image = readBack("CmdS_CopyDSPVar2RxTxBuf");
        const QByteArray fresh = CZunImageDefaults::defaultImageBytes(1080);
        QCOMPARE(imageWord(image, "Cmd_ClockSel"), imageWord(fresh, "Cmd_ClockSel"));
        QCOMPARE(directory()->setupCount(), quint16(1));

        // The parameter image written from the transfer buffer.
        QByteArray edited = fresh;
        qToLittleEndian<quint16>(11, edited.data() + 2 * word);
        CZunMetaCmd write(nr("ID_RX_Block_Start"), 3400, edited);
        write.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2DSPVar"));
        VERIFY_OK(run(write).value(1));
        QCOMPARE(imageWord(readBack("CmdS_CopyDSPVar2RxTxBuf"), "Cmd_0_DSP_WaitLoop"), quint16(11));
    }

    void firmwarePiecesAndErase()
    {
        QVERIFY(start(1080));
        VERIFY_OK(upload("ID_List_Filter", 0, bytes(300, 'f')));
        QTemporaryDir tmp;
        QFile file(tmp.filePath("fw.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes(2 * 16384 + 101, 'w')); // three pieces, odd size
        file.close();
        const int before = m_log->cmds.size();
        m_link->uploadFirmware(file.fileName());
        QVERIFY(waitUntil([&]() {
            return !m_log->cmds.isEmpty() && m_log->cmds.last().getCmd() == nr("Cmd_CheckFirmware");
        }));
        QCOMPARE(m_log->cmds.last().replyWord(), quint16(1));
        for (const CZunCmd& c : m_log->cmds.mid(before))
            VERIFY_OK(c);
        // The firmware erase keeps the entries.
        QCOMPARE(directory()->filterCount(), quint16(1));

        // A missing piece fails the check.
        CZunMetaCmd gap(nr("Cmd_BulkEraseF"), nr("Inf_EraseOnly128K"));
        gap.appendCmd(nr("ID_RX_Block_Start"), 16384, bytes(16384, 'a'));
        gap.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2F_Raw"));
        gap.appendCmd(nr("ID_RX_Block_Start"), 16384, bytes(16384, 'c'));
        gap.appendCmd(nr("Cmd_MemCopy"), nr("CmdS_CopyRxTxBuf2F_Raw") + (2 << 4));
        gap.appendCmd(nr("Cmd_CheckFirmware"), 3 * 8192);
        QCOMPARE(run(gap).value(5).replyWord(), quint16(0));

        // The full erase empties the flash.
        QCOMPARE(one(nr("Cmd_BulkEraseF"), 0).replyWord(), quint16(0));
        QCOMPARE(directory()->entryCount(), 0u);
    }

    void bootLoadPinAndConnection()
    {
        QVERIFY(start(1080));
        // The connection group of the device object.
        CZunMetaCmd group(19, 80);
        group.appendCmd(nr("Cmd_VerboseLevel"), 0);
        group.appendCmd(nr("Cmd_TCPCloseTime"), 15);
        group.appendCmd(nr("Cmd_BroadcastID"), 255);
        for (const CZunCmd& c : run(group))
            VERIFY_OK(c);

        // A program that is not in the flash is not booted; the words fall back.
        CZunMetaCmd boot(nr("Cmd_0_DSP_ID"), 0x0451);
        boot.appendCmd(nr("Cmd_DSP_Boot"), nr("ID_DSP_Prog_Over_ID"));
        QVERIFY(run(boot).value(1).isError());
        QCOMPARE(one(0xFF0B, nr("Cmd_0_DSP_ID")).getValue(), quint16(0));
        VERIFY_OK(upload("ID_List_DSP_Prog", nr("ID_ListAppend"), bytes(2000, 'p'), 0x0451));
        VERIFY_OK(run(boot).value(1));

        // FIR coefficients only of a set in the flash.
        const QByteArray fir = bytes(700, 'f');
        const quint32 key = ZunCrc16Data(fir);
        CZunMetaCmd load(nr("Cmd_1_FIR_ID0"), quint16(key & 0xFFFF));
        load.appendCmd(nr("Cmd_1_FIR_ID1"), quint16(key >> 16));
        load.appendCmd(nr("Cmd_1_DSP_LoadKoef"), nr("ID_FAI_Ctrl_r"));
        QVERIFY(run(load).value(2).isError());
        VERIFY_OK(upload("ID_List_Filter", nr("ID_ListAppend"), fir));
        QCOMPARE(run(load).value(2).replyWord(), nr("ID_FAI_Ctrl_r"));

        // PIN: the old one first (1 = accepted), then the new one (2 = changed).
        QCOMPARE(one(nr("Cmd_Pin"), 0x1111).replyWord(), quint16(0));
        QCOMPARE(one(nr("Cmd_Pin"), 0x1234).replyWord(), quint16(1));
        QCOMPARE(one(nr("Cmd_Pin"), 0x8765).replyWord(), quint16(2));
        QCOMPARE(one(nr("Cmd_Pin"), 0x1234).replyWord(), quint16(0));
        QCOMPARE(one(nr("Cmd_Pin"), 0x8765).replyWord(), quint16(1));
        QCOMPARE(one(nr("Cmd_Pin"), 0x1290).replyWord(), quint16(0)); // digits 1-8 only
    }
};

QTEST_GUILESS_MAIN(TestZunSimFlash)
#include "tst_zunsim_flash.moc"
