// The FIR/limiter and DSP-program managers of a device object that is not connected:
// what they send (recorded by the device's send observer) and what they refuse.
#include "CMemoryManager.h"
#include "CZunFIRLimManager.h"
#include "CZunParam.h"
#include "CZunStatusBuffer.h"
#include "ZunDSPProgramManager.h"
#include "DeviceTestRig.h"
#include "ZunSignalSpy.h"

#include <QStandardItemModel>
#include <QtTest>

using namespace DeviceTestRig;

class TestFirLimManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<CZun> m_zun;
    SendLog m_sent;

    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    CZunFIRLimManager* fir() const { return m_zun->GetFIRLimManager(); }
    void set(const char* name, quint16 value) { m_zun->GetStatusBuffer()->setValue(nr(name), value); }

    void make(quint16 fw, quint32 hardware)
    {
        m_zun.reset(new CZun(record(fw, 42, 0, hardware), map(fw), QSharedPointer<CRoutingLibrary>()));
        m_sent.clear();
        m_sent.attach(m_zun.get());
        set("Cmd_0_DSP_Type", 791);
    }

    // A listed set with outputs of n taps.
    QShPtrFLE listed(int taps, const QString& name)
    {
        auto s = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            s->setOutput(o, QVector<qint32>(taps, 5000), 10, o);
        s->SetName(name);
        s->computeKey();
        QMetaObject::invokeMethod(fir(), "AddFIRFilterToList", Qt::BlockingQueuedConnection, Q_ARG(QShPtrFLE, s));
        return s;
    }

    void activate(quint32 id0, int mode0, quint32 id1, int mode1)
    {
        QVERIFY(QMetaObject::invokeMethod(fir(), "ActivateFIRFilter", Qt::BlockingQueuedConnection,
                                          Q_ARG(quint32, id0), Q_ARG(ZunC::CopyFIRCoeffsMode, ZunC::CopyFIRCoeffsMode(mode0)),
                                          Q_ARG(quint32, id1), Q_ARG(ZunC::CopyFIRCoeffsMode, ZunC::CopyFIRCoeffsMode(mode1))));
    }

    static QList<QPair<quint16, quint16>> cmds(const CZunMetaCmd& g)
    {
        QList<QPair<quint16, quint16>> out;
        for (const CZunCmd& c : g.commands())
            out.append({c.getCmd(), c.getValue()});
        return out;
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }
    void cleanup() { m_zun.reset(); }

    void loadingASetOnOneOrBothDSPs()
    {
        make(1080, 0xFF94);
        const QShPtrFLE s = listed(300, QStringLiteral("A"));
        const quint32 id = s->getKey();
        QCoreApplication::processEvents();
        QCOMPARE(fir()->GetFirModel()->rowCount(), 1);
        QCOMPARE(fir()->GetFirModel()->item(0)->data(Qt::UserRole).toUInt(), id);
        QCOMPARE(s->manager(), static_cast<CFIRLimManagerInterface*>(fir()));

        QMetaObject::invokeMethod(fir(), "ActivateFIRFilter", Qt::BlockingQueuedConnection, Q_ARG(ulong, id),
                                  Q_ARG(quint16, 0));
        QCOMPARE(m_sent.groups().size(), 1);
        const quint16 lo = quint16(id & 0xFFFF), hi = quint16(id >> 16), r = nr("ID_FAI_Ctrl_r");
        QCOMPARE(cmds(m_sent.groups().first()),
                 (QList<QPair<quint16, quint16>>{{nr("Cmd_0_FIR_ID0"), lo}, {nr("Cmd_0_FIR_ID1"), hi},
                                                 {nr("Cmd_0_DSP_LoadKoef"), r}, {nr("Cmd_1_FIR_ID0"), lo},
                                                 {nr("Cmd_1_FIR_ID1"), hi}, {nr("Cmd_1_DSP_LoadKoef"), r}}));
        m_sent.clear();
        QMetaObject::invokeMethod(fir(), "ActivateFIRFilter", Qt::BlockingQueuedConnection, Q_ARG(ulong, id),
                                  Q_ARG(quint16, 2));
        QCOMPARE(cmds(m_sent.groups().first()),
                 (QList<QPair<quint16, quint16>>{{nr("Cmd_1_FIR_ID0"), lo}, {nr("Cmd_1_FIR_ID1"), hi},
                                                 {nr("Cmd_1_DSP_LoadKoef"), r}}));
        // A set that is not listed is not loaded.
        m_sent.clear();
        QMetaObject::invokeMethod(fir(), "ActivateFIRFilter", Qt::BlockingQueuedConnection, Q_ARG(ulong, id + 1),
                                  Q_ARG(quint16, 0));
        QCOMPARE(m_sent.groups().size(), 0);
    }

    // Program boot: both ids, boot, parameter init, memory read; nothing when running.
    void bootingPrograms()
    {
        make(1080, 0xFF94);
        m_zun->ActivateDSPProgram(0x0451, 0x0249);
        QCOMPARE(m_sent.groups().size(), 1);
        QCOMPARE(cmds(m_sent.groups().first()),
                 (QList<QPair<quint16, quint16>>{{nr("Cmd_0_DSP_ID"), 0x0451}, {nr("Cmd_1_DSP_ID"), 0x0249},
                                                 {nr("Cmd_DSP_Boot"), nr("ID_DSP_Prog_Over_ID")},
                                                 {nr("Cmd_DSP_InitAllPar"), 0}, {0xFF0B, nr("Cmd_0_DSP_Mem")}}));
        set("Cmd_0_DSP_ID", 0x0451);
        set("Cmd_1_DSP_ID", 0x0249);
        m_sent.clear();
        m_zun->ActivateDSPProgram(0x0451, 0x0249);
        // The 321 type runs the same digits as its variant 1.
        set("Cmd_0_DSP_Type", 4897);
        m_zun->ActivateDSPProgram(0x1451, 0x1249);
        QCOMPARE(m_sent.groups().size(), 1);
        QVERIFY(m_sent.contains(nr("Cmd_0_DSP_ID"), 0x1451));

        // A single board looks at DSP 0 only.
        make(1080, 0);
        set("Cmd_0_DSP_ID", 0x0451);
        m_zun->ActivateDSPProgram(0x0451, 0x0249);
        QCOMPARE(m_sent.groups().size(), 0);
        m_zun->ActivateDSPProgram(0x0249, 0x0249);
        QCOMPARE(cmds(m_sent.groups().first()).first(), qMakePair(nr("Cmd_0_DSP_ID"), quint16(0x0249)));
        QCOMPARE(m_sent.count(nr("Cmd_1_DSP_ID")), 0);
    }

    // Copy modes, the program the mode needs, the boot, then the sets.
    void activationOrderAndLinking()
    {
        make(1080, 0xFF94);
        const QShPtrFLE s = listed(300, QStringLiteral("A")); // needs 1111 = 0x0249
        const quint32 id = s->getKey();
        set("Cmd_0_FIR_ID0", quint16(id & 0xFFFF));
        set("Cmd_0_FIR_ID1", quint16(id >> 16));

        // All "keep": the set of DSP 0 again, DSP 1 has none; no copy mode is sent.
        activate(0xFFFFFFFF, -1, 0xFFFFFFFF, -1);
        QCOMPARE(m_sent.count(nr("Cmd_0_FIRCopy")) + m_sent.count(nr("Cmd_1_FIRCopy")), 0);
        QCOMPARE(m_sent.groups().size(), 2);
        QCOMPARE(m_sent.groups().at(0).commands().first().getValue(), quint16(0x0249)); // the boot first
        QCOMPARE(m_sent.groups().at(1).size(), 3);
        QCOMPARE(m_sent.groups().at(1).commands().first().getCmd(), nr("Cmd_0_FIR_ID0"));

        // Linked DSPs: DSP 1 takes DSP 0's set and mode; the mode decides the program
        // (copying the high path onto the others needs all four digits of output 3).
        auto b = QShPtrFLE::create(QString(), 48000.0);
        b->setOutput(1, QVector<qint32>(300, 5000), 10, 1);
        b->setOutput(2, QVector<qint32>(600, 5000), 10, 2);
        b->SetName(QStringLiteral("B"));
        const quint32 idB = b->computeKey();
        QMetaObject::invokeMethod(fir(), "AddFIRFilterToList", Qt::BlockingQueuedConnection, Q_ARG(QShPtrFLE, b));
        set("Cmd_SetupFlags", 2);
        m_sent.clear();
        activate(idB, ZunC::CopyHighToSubLowMid, id, ZunC::NoCopies);
        const QList<QPair<quint16, quint16>> all = m_sent.commands();
        QCOMPARE(all.first(), qMakePair(nr("Cmd_0_FIRCopy"), quint16(3)));
        QVERIFY(m_sent.contains(nr("Cmd_1_FIRCopy"), 3));
        QVERIFY(!m_sent.contains(nr("Cmd_1_FIRCopy"), 0));
        CBlockFIR probe = *b;
        probe.checkFilterResources();
        const quint16 shared = ZunDSPProgramInfo::linkedProgID(3, probe.dspProgramId());
        QVERIFY(shared != probe.dspProgramId());
        QVERIFY(m_sent.contains(nr("Cmd_0_DSP_ID"), shared));
        QVERIFY(m_sent.contains(nr("Cmd_1_DSP_ID"), shared));
        QVERIFY(m_sent.contains(nr("Cmd_0_FIR_ID0"), quint16(idB & 0xFFFF)));
        QVERIFY(m_sent.contains(nr("Cmd_1_FIR_ID0"), quint16(idB & 0xFFFF)));
        QVERIFY(!m_sent.contains(nr("Cmd_1_FIR_ID0"), quint16(id & 0xFFFF)));

        // A set no program can run is refused before anything is sent.
        const QShPtrFLE big = listed(4096, QStringLiteral("Big"));
        set("Cmd_SetupFlags", 0);
        m_sent.clear();
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        activate(big->getKey(), ZunC::CopyHighToSubLowMid, 0xFFFFFFFF, -1);
        ZunSignalSpy::takeQueued();
        QCOMPARE(exception.count(), 1);
        QCOMPARE(m_sent.groups().size(), 0);
    }

    void copyModesFollowLinkAndFirmware()
    {
        make(1080, 0xFF94);
        m_zun->SetCopyFIRCoeffs(2, ZunC::CopyMidHighToSubLow);
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_1_FIRCopy"), 1}}));
        set("Cmd_SetupFlags", 2);
        m_sent.clear();
        m_zun->SetCopyFIRCoeffs(2, ZunC::CopyMidHighToSubLow);
        QCOMPARE(m_sent.commands(),
                 (QList<QPair<quint16, quint16>>{{nr("Cmd_0_FIRCopy"), 1}, {nr("Cmd_1_FIRCopy"), 1}}));
        m_sent.clear();
        set("Cmd_1_FIRCopy", 1);
        m_zun->SetCopyFIRCoeffs(2, ZunC::CopyMidHighToSubLow); // already so
        m_zun->SetCopyFIRCoeffs(1, ZunC::Unchanged);
        QCOMPARE(m_sent.groups().size(), 0);
    }

    // Without a link nothing is listed, held or counted.
    void refusalsLeaveNoTrace()
    {
        make(1080, 0xFF94);
        ZunSignalSpy exception(m_zun.get(), &CZun::signal_exception);
        auto s = fir()->CreateThruFIRFilter(48000.0, 0);
        m_zun->UploadFIRFilter(s, 0);
        m_zun->RemoveFIRFilter(s->getKey());
        ZunSignalSpy::takeQueued();
        QCOMPARE(exception.count(), 2);
        QCOMPARE(exception.at(0).at(0).toString(),
                 QStringLiteral("Filter Thru was not uploaded: the device is not connected."));
        QCOMPARE(fir()->filterCount(), 0);
        QCOMPARE(fir()->pendingUploads(), 0u);
        QCOMPARE(m_zun->GetMemoryManager()->pendingTransfers(), quint16(0));
        QCOMPARE(m_sent.groups().size(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(fir()->GetFirModel()->rowCount(), 0);
        // A thru set of a multipath mode is named after it and keyed anew.
        auto mh = fir()->CreateThruFIRFilter(48000.0, 1);
        QVERIFY(mh->GetName().startsWith(QStringLiteral("Thru (MH)")));
        QVERIFY(mh->getKey() != s->getKey());
    }

    // A set that needs a program of the 321 family cannot run on the slower DSP type:
    // refused with its text, no program is asked for; the faster type runs it.
    void tooManyMipsIsRefused()
    {
        make(1080, 0xFF94);
        auto small = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            small->setOutput(o, QVector<qint32>(64, 5000), 10, o);
        // Blocks of 4096, 2048, 1024 and 512 taps: only a 321 program runs them at 48 kHz.
        auto big = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            big->setOutput(o, QVector<qint32>(4096 >> o, 5000), 10, o);
        CBlockFIR probe = *big;
        probe.checkFilterResources();
        QVERIFY(probe.dspProgramId() & 0x1000);
        ZunSignalSpy asked(m_zun.get(), &CZun::signal_UploadDSPProgram);
        set("Cmd_0_DSP_Type", nr("Inf_DSPTyp0"));
        try {
            m_zun->CheckFilterMIPS(big, 0);
            QFAIL("no refusal");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Filter can not be used with Zun. Too many MIPS required."));
        }
        QCOMPARE(asked.count(), 0);
        QCOMPARE(big->dspProgramId(), quint16(0)); // checked on a copy: the set is unchanged
        m_zun->CheckFilterMIPS(small, 0);
        QCOMPARE(asked.count(), 1);
        set("Cmd_0_DSP_Type", 4897);
        m_zun->CheckFilterMIPS(big, 0);
        QCOMPARE(asked.count(), 2);
    }

    void limiterRanges()
    {
        QCOMPARE(CZunFIRLimManager::LimGainRange().GetMax(), 50.0);
        QCOMPARE(CZunFIRLimManager::LimGainRange().StepUp(19.9, 1), 20.0);
        QCOMPARE(CZunFIRLimManager::LimPowerRangeW().GetMax(), 15000.0);
        QCOMPARE(CZunFIRLimManager::LimVoltageRange().GetMin(), 0.1);
        QCOMPARE(CZunFIRLimManager::LimLevelRangeDb().GetMin(), -30.0);
        QCOMPARE(CZunFIRLimManager::LimSurgeDurationRange().GetMax(), 5000.0);
        QVERIFY(&CZunFIRLimManager::LimRmsTimeRange() != &CZunFIRLimManager::LimSurgeDurationRange());
        QCOMPARE(CZunFIRLimManager::LimImpedanceRange().GetMax(), 100.0);
    }
};

QTEST_GUILESS_MAIN(TestFirLimManager)
#include "tst_firlimmanager.moc"
