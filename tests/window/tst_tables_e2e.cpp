// The EQ and crossover tables against the emulated processor on loopback: rows dropped into
// a channel, edited, bypassed and deleted through the models reach the processor as record
// words and come back into the tables; crossover order and characteristic changes take and
// give back sections; a full re-read rebuilds the models.
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunOutput.h"
#include "TcpSimProcess.h"
#include "CEQManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunBaseComm.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QtTest>

using namespace DeviceTestRig;

class TestTablesE2E : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;
    SendLog m_sent;
    std::unique_ptr<ZunEQModel> m_eqs;
    std::unique_ptr<ZunHOFModel> m_hofs;

    CEQManager* eq() const { return m_zun->GetEQManager(); }
    quint16 word(int c) const { return m_zun->GetStatusBuffer()->getValue(quint16(c)); }

    void start()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", "42", "--firmware", "1080", "--hardware", "0x0F80"}), qPrintable(m_sim->error()));
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.get());
        m_eqs.reset(new ZunEQModel(m_zun));
        m_hofs.reset(new ZunHOFModel(m_zun));
        reread();
    }
    void settle()
    {
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QTest::qWait(50);
        QCoreApplication::processEvents();
    }
    // The first time, the connection's own read.
    void reread()
    {
        QSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->IsConnected() ? m_zun->RefreshStatusBuffer() : m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    // A channel page's proxy: the rows of the output's slot.
    CZunOutput* show(QSortFilterProxyModel& proxy, QAbstractItemModel* model, int output)
    {
        CZunOutput* channel = m_zun->GetRoutingManager()->GetOutput(output);
        proxy.setSourceModel(model);
        proxy.setFilterKeyColumn(2);
        proxy.setFilterRegExp(QString("%1").arg(channel->GetSlot(), 2));
        return channel;
    }
    static QModelIndex source(const QSortFilterProxyModel& proxy, int row, int column)
    {
        return proxy.mapToSource(proxy.index(row, column));
    }
    static EQ_PARAMS peak(double frequency, double gain) { return EQ_PARAMS{0, 7, frequency, gain, 2.0, 4, true, false, false}; }
    void drop(QSortFilterProxyModel& proxy, const QMimeData& payload, int rows)
    {
        QVERIFY(proxy.dropMimeData(&payload, Qt::CopyAction, 0, 0, QModelIndex()));
        QTRY_COMPARE(proxy.rowCount(), rows);
        settle();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        qRegisterMetaType<CZunBiquad*>();
        qRegisterMetaType<CZunHighOrderFilter*>();
        qRegisterMetaType<EQ_PARAMS>();
        qRegisterMetaType<HO_FILTER_PARAMS>();
    }
    void cleanup()
    {
        m_eqs.reset();
        m_hofs.reset();
        m_zun.reset();
        m_sim.reset();
    }

    void eqEditsReachTheProcessorAndComeBack()
    {
        start();
        ZunEQProxyModel proxy; // wired to its channel as the page wires it
        connect(&proxy, &ZunEQProxyModel::signal_NewZunBiquad, show(proxy, m_eqs.get(), 2), &CZunOutput::allocateNewZunBiquad,
                Qt::QueuedConnection);
        ZunEQMimeData rows;
        rows.appendEQ(peak(250.0, -6.0));
        drop(proxy, rows, 1);
        const int n = proxy.index(0, 0).data().toInt();
        const quint16 base = eq()->eqRecordBase(n);
        QCOMPARE((QList<quint16>{quint16(word(base) & 0x7FFF), word(base + 1), word(base + 2), word(base + 3), word(base + 4)}),
                 (QList<quint16>{4, 500, 800, 0xFFC4, 2}));
        struct Edit { int column; QVariant value; int word; quint16 expected; QVariant shown; };
        for (const Edit& e : QList<Edit>{{4, 1000, 1, 2000, 1000.0}, {5, -3.0, 3, 0xFFE2, -3.0}, {6, 4.0, 2, 1600, 4.0},
                                         // another type: the processor gets its neutral record (gain 0)
                                         {3, 6, 3, 0, 6}, {5, 1.5, 3, 15, 1.5},
                                         // bypass is bit 14 of the type word
                                         {7, false, 0, 0xC006, false}, {7, true, 0, 0x8006, true}}) {
            m_sent.clear();
            QVERIFY(m_eqs->setData(source(proxy, 0, e.column), e.value));
            QVERIFY2(m_sent.contains(quint16(base + e.word), e.expected), qPrintable(QString::number(e.column)));
            settle();
            QCOMPARE(word(base + e.word), e.expected);
            QCOMPARE(proxy.index(0, e.column).data(), e.shown);
        }
        // a full re-read rebuilds the rows, whose new objects still follow the processor
        QSignalSpy reset(m_eqs.get(), &QAbstractItemModel::modelReset);
        reread();
        QVERIFY(reset.count() > 0);
        QCOMPARE(proxy.index(0, ZunEQModel::ColFrequency).data().toDouble(), 1000.0);
        QVERIFY(m_eqs->setData(source(proxy, 0, ZunEQModel::ColGain), -4.0));
        settle();
        QCOMPARE(proxy.index(0, ZunEQModel::ColGain).data().toDouble(), -4.0);
        // delete: the row goes and the processor's record is free again
        eq()->DeleteZunBiquad(eq()->GetZunBiquad(n), true);
        settle();
        QCOMPARE(proxy.rowCount(), 0);
        reread();
        QVERIFY(!eq()->IsEQUsed(n));
        QCOMPARE(m_eqs->rowCount(), 0);
    }

    void crossoverChangesReallocateSections()
    {
        start();
        ZunHOFProxyModel proxy;
        connect(&proxy, &ZunHOFProxyModel::signal_NewHighOrderFilter, show(proxy, m_hofs.get(), 3),
                &CZunOutput::allocateNewHighOrderFilter, Qt::QueuedConnection);
        ZunHOFMimeData rows;
        HO_FILTER_PARAMS lr; // a 24 dB/Oct Linkwitz-Riley low pass at 1 kHz
        lr.frequency = 1000.0;
        lr.active = true;
        rows.appendFilter(lr);
        drop(proxy, rows, 1);
        const int m = proxy.index(0, 0).data().toInt();
        const quint16 base = eq()->filterRecordBase(m);
        // the record's section numbers as the processor holds them (-1: the object differs)
        auto sections = [&]() {
            QList<int> s{word(base + 2) & 0xFF, word(base + 2) >> 8, word(base + 3) & 0xFF, word(base + 3) >> 8};
            s.removeAll(0xFF);
            if (eq()->GetZunHighOrderFilter(m)->sections().size() != s.size())
                s << -1;
            return s;
        };
        const QList<int> four = sections();
        QCOMPARE(four.size(), 2);
        // 48 dB/Oct: two sections more
        QVERIFY(m_hofs->setData(source(proxy, 0, ZunHOFModel::ColOrder), 8));
        settle();
        const QList<int> eight = sections();
        QCOMPARE(eight.mid(0, 2), four);
        QCOMPARE(eight.size(), 4);
        // Butterworth of order 3: two sections, the other two go back to the pool
        QVERIFY(m_hofs->setData(source(proxy, 0, ZunHOFModel::ColCharacter), 2));
        QVERIFY(m_hofs->setData(source(proxy, 0, ZunHOFModel::ColOrder), 3));
        settle();
        QCOMPARE(sections(), four);
        QVERIFY(!eq()->IsEQUsed(eight[2]) && !eq()->IsEQUsed(eight[3]));
        QCOMPARE(word(base) & 0xFF, 0x32);
        // the processor holds it: a full re-read gives the same row
        reread();
        QCOMPARE(proxy.rowCount(), 1);
        QCOMPARE(proxy.index(0, ZunHOFModel::ColOrder).data().toInt(), 3);
        QCOMPARE(sections(), four);
    }
};

QTEST_MAIN(TestTablesE2E)
#include "tst_tables_e2e.moc"
