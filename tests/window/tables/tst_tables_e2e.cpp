// A channel page's EQ and crossover tables against the emulated processor on loopback: EQs
// added on the page, edited in its cells' editors, bypassed and deleted reach the processor
// as record words and come back into the table and the plot; crossover order and
// characteristic changes take and give back sections; a full re-read rebuilds the tables,
// each still showing its own channel.
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunOutput.h"
#include "TcpSimProcess.h"
#include "CEQManager.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "PlotWidget.h"
#include "ZunBaseComm.h"
#include "ZunEQModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunOutputDlg.h"
#include "ZunSignalSpy.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
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
    std::unique_ptr<ZunOutputDlg> m_page;

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
    void settle() { QVERIFY(DeviceTestRig::settle(m_zun.data())); }
    // The first time, the connection's own read.
    void reread()
    {
        if (m_zun->IsConnected()) {
            QVERIFY(DeviceTestRig::reread(m_zun.data()));
            return;
        }
        ZunSignalSpy status(m_zun.get(), &CZun::signal_ZunStatusChanged);
        m_zun->connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    // An output's page, built and shown as the control window does it.
    ZunOutputDlg* page(int output)
    {
        m_page.reset(new ZunOutputDlg(m_zun->GetRoutingManager()->GetOutput(output)));
        m_page->setEQModel(m_eqs.get());
        m_page->setHOFModel(m_hofs.get());
        m_page->setPointerCZun(m_zun);
        m_page->resize(1100, 700);
        m_page->show();
        return QTest::qWaitForWindowExposed(m_page.get()) ? m_page.get() : nullptr;
    }
    // Sets a cell through its editor as the operator does: a pick in a combo, a value in a
    // spin box (typed and entered), a click on an "Active" check box.
    static void edit(ZunFilterTableView* table, int row, int column, const QVariant& value)
    {
        const QModelIndex i = table->model()->index(row, column);
        if (!table->indexWidget(i))
            table->edit(i);
        QWidget* editor = table->indexWidget(i);
        QVERIFY2(editor, qPrintable(QString("no editor in column %1").arg(column)));
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            const int k = combo->findData(value);
            combo->setCurrentIndex(k);
            emit combo->activated(k); // commits and closes
            return;
        }
        if (auto* box = qobject_cast<QAbstractSpinBox*>(editor)) {
            // typed over and entered: the view commits and closes the editor
            auto* dbox = qobject_cast<QDoubleSpinBox*>(box);
            box->selectAll();
            QTest::keyClicks(box, dbox ? box->locale().toString(value.toDouble(), 'f', dbox->decimals())
                                       : QString::number(value.toInt()));
            QTest::keyClick(box, Qt::Key_Return);
            QCoreApplication::processEvents(); // the queued commit
            QVERIFY(!table->indexWidget(i));
            return;
        }
        if (auto* box = qobject_cast<QCheckBox*>(editor))
            box->setChecked(value.toBool());
        QCoreApplication::processEvents(); // the queued commit
    }
    static CZunPlotCurve* curveOf(PlotWidget* plot, CZunBiquad* b)
    {
        for (CZunPlotCurve* c : plot->curves())
            if (c->response() == b)
                return c;
        return nullptr;
    }
    // The peak of an EQ's curve on the plot, in tenths of a dB.
    static int curvePeak(PlotWidget* plot, CZunBiquad* b)
    {
        double peak = 0.0;
        for (size_t i = 0; curveOf(plot, b) && i < curveOf(plot, b)->dataSize(); ++i)
            peak = qMax(peak, qAbs(curveOf(plot, b)->sample(i).y()));
        return qRound(peak * 10);
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
        m_page.reset();
        m_eqs.reset();
        m_hofs.reset();
        m_zun.reset();
        m_sim.reset();
    }

    void eqEditsReachTheProcessorAndComeBack()
    {
        start();
        ZunOutputDlg* p = page(2);
        QVERIFY(p);
        ZunFilterTableView* table = p->eqTable();
        // an EQ of Output 4, in the processor only: another channel's, never on this page
        const quint16 other = eq()->eqRecordBase(7);
        for (const auto& w : QList<QPair<int, int>>{{other + 4, 3}, {other, 4}, {other + 1, 3000}, {other + 3, 0xFFC4}})
            QVERIFY(m_sim->control(QString("set %1 %2").arg(w.first).arg(w.second)));
        p->findChildren<QPushButton*>()[0]->click(); // "New"
        QTRY_COMPARE(table->model()->rowCount(), 1);
        settle();
        const int n = table->model()->index(0, 0).data().toInt();
        CZunBiquad* b = eq()->GetZunBiquad(n);
        const quint16 base = eq()->eqRecordBase(n);
        struct Edit { int column; QVariant value; int word; quint16 expected; QVariant shown; };
        // a new EQ is a neutral peak at 1 kHz, Q 4, switched off; bypass is bit 14 of the
        // type word, another type gives the processor its neutral record (gain 0)
        for (const Edit& e : QList<Edit>{{4, 250, 1, 500, 250.0}, {7, true, 0, 0x8004, true}, {5, -3.0, 3, 0xFFE2, -3.0},
                                         {6, 2.0, 2, 800, 2.0}, {3, 6, 3, 0, 6}, {5, 1.5, 3, 15, 1.5},
                                         {7, false, 0, 0xC006, false}, {7, true, 0, 0x8006, true}}) {
            m_sent.clear();
            edit(table, 0, e.column, e.value);
            QVERIFY2(m_sent.contains(quint16(base + e.word), e.expected), qPrintable(QString::number(e.column)));
            settle();
            QCOMPARE(word(base + e.word), e.expected);
            QCOMPARE(table->model()->index(0, e.column).data(), e.shown);
            if (e.column == 5)
                QCOMPARE(curvePeak(p->plot(), b), qRound(qAbs(e.value.toDouble()) * 10));
        }
        // an arrow step is written at once, the editor stays open
        const QModelIndex freq = table->model()->index(0, ZunEQModel::ColFrequency);
        table->edit(freq);
        auto* box = qobject_cast<QSpinBox*>(table->indexWidget(freq));
        QVERIFY(box);
        m_sent.clear();
        QTest::keyClick(box, Qt::Key_Up);
        QVERIFY(box->value() > 250);
        QTRY_VERIFY(m_sent.count(quint16(base + 1)) == 1);
        const int stepped = box->value();
        QCOMPARE(freq.data().toInt(), stepped);
        emit table->itemDelegate()->closeEditor(box);
        settle();
        // a full re-read rebuilds the table and the curves from new objects, still of this
        // channel only, and they still follow the processor
        ZunSignalSpy reset(m_eqs.get(), &QAbstractItemModel::modelReset);
        QPointer<CZunPlotCurve> old = curveOf(p->plot(), b);
        reread();
        QVERIFY(reset.count() > 0 && eq()->IsEQUsed(7) && old.isNull());
        QCOMPARE(table->model()->rowCount(), 1);
        QVERIFY(table->isColumnHidden(ZunEQModel::ColBank));
        QCOMPARE(table->model()->index(0, ZunEQModel::ColFrequency).data().toInt(), stepped);
        b = eq()->GetZunBiquad(n);
        QCOMPARE(p->plot()->curves().size(), 3);
        edit(table, 0, ZunEQModel::ColGain, -4.0);
        settle();
        QCOMPARE(table->model()->index(0, ZunEQModel::ColGain).data().toDouble(), -4.0);
        QCOMPARE(curvePeak(p->plot(), b), 40);
        // Remove on the page: the row and the curve go, the processor's record is free again
        table->selectionModel()->select(table->model()->index(0, 3), QItemSelectionModel::Select);
        p->findChildren<QPushButton*>()[1]->click();
        settle();
        QCOMPARE(table->model()->rowCount(), 0);
        QCOMPARE(p->plot()->curves().size(), 2);
        reread();
        QVERIFY(!eq()->IsEQUsed(n) && eq()->IsEQUsed(7));
        QCOMPARE(table->model()->rowCount(), 0);
    }

    void crossoverChangesReallocateSections()
    {
        start();
        ZunOutputDlg* p = page(3);
        QVERIFY(p);
        ZunFilterTableView* table = p->hofTable();
        auto* clip = new ZunHOFMimeData; // pasted: a 24 dB/Oct Linkwitz-Riley low pass at 1 kHz
        HO_FILTER_PARAMS lr;
        lr.frequency = 1000.0;
        lr.active = true;
        clip->appendFilter(lr);
        QApplication::clipboard()->setMimeData(clip);
        table->setFocus();
        table->pasteAction()->trigger();
        QTRY_COMPARE(table->model()->rowCount(), 1);
        settle();
        const int m = table->model()->index(0, 0).data().toInt();
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
        edit(table, 0, ZunHOFModel::ColOrder, 8);
        settle();
        const QList<int> eight = sections();
        QCOMPARE(eight.mid(0, 2), four);
        QCOMPARE(eight.size(), 4);
        // Butterworth of order 3: two sections, the other two go back to the pool
        edit(table, 0, ZunHOFModel::ColCharacter, 2);
        edit(table, 0, ZunHOFModel::ColOrder, 3);
        settle();
        QCOMPARE(sections(), four);
        QVERIFY(!eq()->IsEQUsed(eight[2]) && !eq()->IsEQUsed(eight[3]));
        QCOMPARE(word(base) & 0xFF, 0x32);
        // the processor holds it: a full re-read gives the same row
        reread();
        QCOMPARE(table->model()->rowCount(), 1);
        QCOMPARE(table->model()->index(0, ZunHOFModel::ColOrder).data().toInt(), 3);
        QCOMPARE(sections(), four);
    }
};

QTEST_MAIN(TestTablesE2E)
#include "tst_tables_e2e.moc"
