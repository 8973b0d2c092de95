// The EQ and crossover tables against the emulated processor on loopback: rows added by a
// drop, edited, bypassed and deleted through the models reach the processor with the
// record words and come back into the tables; crossover order and characteristic changes
// take and give back sections; a full re-read rebuilds the models.
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunOutput.h"
#include "TcpSimProcess.h"
#include "support/TableRig.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QAbstractItemModelTester>
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
    std::unique_ptr<ZunHOFModel> m_filters;
    std::unique_ptr<QAbstractItemModelTester> m_eqTester, m_filterTester;

    CEQManager* eq() const { return m_zun->GetEQManager(); }
    quint16 word(int c) const { return m_zun->GetStatusBuffer()->getValue(quint16(c)); }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }

    void start()
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start(QStringList{"--serial", "42", "--firmware", "1080", "--hardware", "0x0F80"}),
                 qPrintable(m_sim->error()));
        auto m = map(1080);
        m_zun.reset(new CZun(record(1080, 42, 0, 0x0F80), m, QSharedPointer<CRoutingLibrary>::create(m)));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.get());
        m_eqs.reset(new ZunEQModel(m_zun));
        m_filters.reset(new ZunHOFModel(m_zun));
        m_eqTester.reset(new QAbstractItemModelTester(m_eqs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        m_filterTester.reset(new QAbstractItemModelTester(m_filters.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        QSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    void settle()
    {
        QVERIFY(waitUntil([&]() { return m_zun->GetLink()->getCmdBuffer()->isIdle(); }));
        QTest::qWait(50);
        QCoreApplication::processEvents();
    }
    void reread()
    {
        QSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->RefreshStatusBuffer();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    // A channel page's proxy over a model, wired to its output as the page wires it.
    template<class Proxy> std::unique_ptr<Proxy> page(QAbstractItemModel* model, int output)
    {
        auto proxy = std::make_unique<Proxy>();
        proxy->setSourceModel(model);
        proxy->setFilterKeyColumn(2);
        CZunOutput* channel = m_zun->GetRoutingManager()->GetOutput(output);
        if (!channel)
            return nullptr;
        proxy->setFilterRegExp(QString("%1").arg(channel->GetSlot(), 2));
        if constexpr (std::is_same_v<Proxy, ZunEQProxyModel>)
            connect(proxy.get(), &ZunEQProxyModel::signal_NewZunBiquad, channel, &CZunAbstractInOutput::allocateNewZunBiquad,
                    Qt::QueuedConnection);
        else
            connect(proxy.get(), &ZunHOFProxyModel::signal_NewHighOrderFilter, channel,
                    &CZunAbstractInOutput::allocateNewHighOrderFilter, Qt::QueuedConnection);
        return proxy;
    }
    QModelIndex source(const QSortFilterProxyModel& proxy, int row, int column) const
    {
        return proxy.mapToSource(proxy.index(row, column));
    }
    QList<quint16> words(int n) const
    {
        const quint16 b = eq()->eqRecordBase(n);
        return {word(b), word(b + 1), word(b + 2), word(b + 3), word(b + 4)};
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        TableRig::registerTypes();
    }
    void cleanup()
    {
        m_eqTester.reset();
        m_filterTester.reset();
        m_eqs.reset();
        m_filters.reset();
        m_zun.reset();
        m_sim.reset();
    }

    void eqEditsReachTheProcessorAndComeBack()
    {
        start();
        auto proxy = page<ZunEQProxyModel>(m_eqs.get(), 2);
        QVERIFY(proxy);
        QCOMPARE(proxy->rowCount(), 0);
        // a dropped EQ becomes the channel's own
        EQ_PARAMS p;
        p.type = 4;
        p.frequency = 250.0;
        p.gain = -6.0;
        p.quality = 2.0;
        p.active = true;
        p.bank = 7;
        ZunEQMimeData dropped;
        dropped.appendEQ(p);
        QVERIFY(proxy->dropMimeData(&dropped, Qt::CopyAction, 0, 0, QModelIndex()));
        QTRY_COMPARE(proxy->rowCount(), 1);
        settle();
        const int n = proxy->index(0, 0).data().toInt();
        const quint16 base = eq()->eqRecordBase(n);
        QCOMPARE(words(n).mid(1), (QList<quint16>{500, 800, 0xFFC4, 2}));
        QCOMPARE(word(base) & 0x7FFF, 4);

        struct Edit { int column; QVariant value; int word; quint16 expected; QVariant shown; };
        const QList<Edit> edits{
            {ZunEQModel::ColFrequency, 1000, 1, 2000, 1000.0},
            {ZunEQModel::ColGain, -3.0, 3, 0xFFE2, -3.0},
            {ZunEQModel::ColQuality, 4.0, 2, 1600, 4.0},
            // another type: the processor gets the neutral record of it (gain 0)
            {ZunEQModel::ColType, 6, 3, 0, 6},
        };
        for (const Edit& e : edits) {
            m_sent.clear();
            QVERIFY(m_eqs->setData(source(*proxy, 0, e.column), e.value));
            QVERIFY2(m_sent.contains(quint16(base + e.word), e.expected), qPrintable(QString::number(e.column)));
            settle();
            QCOMPARE(word(base + e.word), e.expected);
            QCOMPARE(proxy->index(0, e.column).data(), e.shown);
        }
        QCOMPARE(word(base) & 0x3FFF, 6);
        QCOMPARE(proxy->index(0, ZunEQModel::ColGain).data().toDouble(), 0.0);
        // bypass: bit 14 of the type word, and back
        QVERIFY(m_eqs->setData(source(*proxy, 0, ZunEQModel::ColActive), false));
        settle();
        QVERIFY(word(base) & 0x4000);
        QCOMPARE(proxy->index(0, ZunEQModel::ColActive).data().toBool(), false);
        QVERIFY(m_eqs->setData(source(*proxy, 0, ZunEQModel::ColActive), true));
        settle();
        QVERIFY(!(word(base) & 0x4000));
        QCOMPARE(proxy->index(0, ZunEQModel::ColActive).data().toBool(), true);
        // delete: the row goes and the processor's record is free again
        eq()->DeleteZunBiquad(eq()->GetZunBiquad(n), true);
        settle();
        QCOMPARE(proxy->rowCount(), 0);
        QVERIFY(!eq()->IsEQUsed(n));
        reread();
        QVERIFY(!eq()->IsEQUsed(n));
        QCOMPARE(m_eqs->rowCount(), 0);
    }

    void crossoverChangesReallocateSections()
    {
        start();
        auto proxy = page<ZunHOFProxyModel>(m_filters.get(), 3);
        QVERIFY(proxy);
        HO_FILTER_PARAMS p;
        p.passband = 0;
        p.characteristic = nr("Inf_Sel_Char_HOF_LinkRiley");
        p.order = 4;
        p.frequency = 1000.0;
        p.active = true;
        ZunHOFMimeData dropped;
        dropped.appendFilter(p);
        QVERIFY(proxy->dropMimeData(&dropped, Qt::CopyAction, 0, 0, QModelIndex()));
        QTRY_COMPARE(proxy->rowCount(), 1);
        settle();
        const int m = proxy->index(0, 0).data().toInt();
        CZunHighOrderFilter* f = eq()->GetZunHighOrderFilter(m);
        QCOMPARE(f->sections().size(), 2);
        const quint16 base = eq()->filterRecordBase(m);
        auto sectionsInRecord = [&]() {
            QList<int> s{word(base + 2) & 0xFF, word(base + 2) >> 8, word(base + 3) & 0xFF, word(base + 3) >> 8,
                         word(base + 4) & 0xFF};
            s.removeAll(0xFF);
            return s;
        };
        auto sectionsOfObject = [&]() {
            QList<int> s;
            for (CZunBiquad* b : eq()->GetZunHighOrderFilter(m)->sections())
                s << b->getNumber();
            return s;
        };
        const QList<int> four = sectionsOfObject();
        // 48 dB/Oct: two more sections
        QVERIFY(m_filters->setData(source(*proxy, 0, ZunHOFModel::ColOrder), 8));
        settle();
        QCOMPARE(sectionsInRecord().size(), 4);
        QCOMPARE(sectionsOfObject(), sectionsInRecord());
        QCOMPARE(sectionsOfObject().mid(0, 2), four);
        QCOMPARE(proxy->index(0, ZunHOFModel::ColOrder).data().toInt(), 8);
        const QList<int> eight = sectionsOfObject();
        // Butterworth of order 3: two sections, the other two go back to the pool
        QVERIFY(m_filters->setData(source(*proxy, 0, ZunHOFModel::ColCharacter), 2));
        QVERIFY(m_filters->setData(source(*proxy, 0, ZunHOFModel::ColOrder), 3));
        settle();
        QCOMPARE(sectionsInRecord(), eight.mid(0, 2));
        QVERIFY(!eq()->IsEQUsed(eight[2]) && !eq()->IsEQUsed(eight[3]));
        QCOMPARE(proxy->index(0, ZunHOFModel::ColCharacter).data().toInt(), 2);
        QCOMPARE(word(base) & 0xFF, 0x32);
        // the processor holds it: a full re-read gives the same row
        reread();
        QCOMPARE(proxy->rowCount(), 1);
        QCOMPARE(proxy->index(0, ZunHOFModel::ColOrder).data().toInt(), 3);
        QCOMPARE(proxy->index(0, ZunHOFModel::ColFrequency).data().toDouble(), 1000.0);
        QCOMPARE(sectionsOfObject(), eight.mid(0, 2));
    }

    void fullReloadRebuildsTheModels()
    {
        start();
        auto two = page<ZunEQProxyModel>(m_eqs.get(), 2);
        auto five = page<ZunEQProxyModel>(m_eqs.get(), 5);
        QVERIFY(two && five);
        EQ_PARAMS p;
        p.type = 4;
        p.gain = 2.0;
        p.quality = 1.0;
        p.active = true;
        for (double f : {100.0, 200.0}) {
            p.frequency = f;
            ZunEQMimeData d;
            d.appendEQ(p);
            two->dropMimeData(&d, Qt::CopyAction, 0, 0, QModelIndex());
        }
        p.frequency = 5000.0;
        ZunEQMimeData d;
        d.appendEQ(p);
        five->dropMimeData(&d, Qt::CopyAction, 0, 0, QModelIndex());
        QTRY_COMPARE(m_eqs->rowCount(), 3);
        settle();
        QSignalSpy reset(m_eqs.get(), &QAbstractItemModel::modelReset);
        reread();
        QVERIFY(reset.count() > 0);
        QCOMPARE(two->rowCount(), 2);
        QCOMPARE(five->rowCount(), 1);
        two->sort(ZunEQModel::ColFrequency);
        QCOMPARE(two->index(1, ZunEQModel::ColFrequency).data().toDouble(), 200.0);
        QCOMPARE(five->index(0, ZunEQModel::ColGain).data().toDouble(), 2.0);
        // rows of the rebuilt objects still follow the processor
        QVERIFY(m_eqs->setData(source(*five, 0, ZunEQModel::ColGain), -4.0));
        settle();
        QCOMPARE(five->index(0, ZunEQModel::ColGain).data().toDouble(), -4.0);
    }
};

QTEST_MAIN(TestTablesE2E)
#include "tst_tables_e2e.moc"
