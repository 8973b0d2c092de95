// The channel page against a device object that is not connected: the curves of its
// channel's EQs and filters (also when they are deleted while the page is shown), the New
// and Remove buttons with the device's capacity, and what the page owns.
#include "CZunInput.h"
#include "PlotWidget.h"
#include "ZunEQModel.h"
#include "ZunHOFModel.h"
#include "ZunInputDlg.h"
#include "ZunOutputDlg.h"
#include "support/OfflineDevice.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QtTest>

namespace {

// The columns the page reads of the window's EQ model (number, bank in two characters),
// for every EQ of the device.
class DeviceEQColumns : public ZunEQModel
{
public:
    explicit DeviceEQColumns(QSharedPointer<CZun> zun) : ZunEQModel(zun), m_zun(zun)
    {
        connect(zun->GetEQManager(), &CEQManager::signal_NewEQ, this, &ZunEQModel::reloadModel);
    }
    int rowCount(const QModelIndex& = QModelIndex()) const override { return eqs().size(); }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 8; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        CZunBiquad* b = index.row() < eqs().size() ? eqs()[index.row()].data() : nullptr;
        if (role != Qt::DisplayRole || !b)
            return QVariant();
        return index.column() == 0 ? QVariant(int(b->getNumber()))
             : index.column() == 2 ? QVariant(QString("%1").arg(b->getBank(), 2)) : QVariant();
    }

private:
    QList<QPointer<CZunBiquad>> eqs() const
    {
        QList<QPointer<CZunBiquad>> all;
        for (int slot = 0; slot < 12; ++slot)
            all += m_zun->GetEQManager()->GetEQsOfChannel(slot);
        return all;
    }
    QSharedPointer<CZun> m_zun;
};

} // namespace

class TestChannelPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeviceTestRig::Config> m_config;
    std::unique_ptr<OfflineDevice> m_dev;
    ZunHOFModel m_hofs{QSharedPointer<CZun>()};

    CZunOutput* out(int i) const { return m_dev->out(i); }

    // As the control window builds a page.
    template <typename Page, typename Channel>
    std::unique_ptr<Page> page(Channel* channel, ZunEQModel* eqModel)
    {
        auto p = std::make_unique<Page>(channel);
        p->setEQModel(eqModel);
        p->setHOFModel(&m_hofs);
        p->setPointerCZun(m_dev->zun);
        return p;
    }
    static int curvesOf(PlotWidget* plot, CZunAbstractFrequencyResponse* r)
    {
        int n = 0;
        for (CZunPlotCurve* c : plot->curves())
            n += c->response() == r ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase() { m_config.reset(new DeviceTestRig::Config); }
    void init() { m_dev.reset(new OfflineDevice); }
    void cleanup() { m_dev.reset(); }

    void curvesFollowTheChannelsEQsAndFilters()
    {
        ZunEQModel eqs(m_dev->zun);
        CZunBiquad* before = out(2)->NewEQ();
        auto p = page<ZunOutputDlg>(out(2), &eqs);
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.get()));
        QCOMPARE(curvesOf(p->plot(), before), 1);
        p->setPointerCZun(m_dev->zun); // a second device pointer plots nothing twice
        QCOMPARE(p->plot()->curves().size(), 3);
        // New adds an EQ or a filter on the channel's slot, and its curve
        const QList<QPushButton*> buttons = p->findChildren<QPushButton*>();
        buttons[0]->click();
        buttons[2]->click();
        QPointer<CZunBiquad> added = out(2)->GetEQList().last();
        QPointer<CZunHighOrderFilter> filter = out(2)->GetHighOrderFilterList().first();
        QVERIFY(curvesOf(p->plot(), added) == 1 && curvesOf(p->plot(), filter) == 1);
        out(3)->NewEQ(); // another channel's
        QCOMPARE(p->plot()->curves().size(), 5);
        // "Show EQ curves" hides the EQs only
        p->findChildren<QCheckBox*>()[1]->click();
        for (CZunPlotCurve* c : p->plot()->curves())
            QCOMPARE(c->style(), c->kind() == CZunPlotCurve::EQBiquad ? QwtPlotCurve::NoCurve : QwtPlotCurve::Lines);
        // deleting EQs and filters while the page is shown takes their curves along
        m_dev->eq()->DeleteZunBiquad(added, true);
        m_dev->eq()->DeleteHighOrderFilter(filter, true);
        OfflineDevice::flushDeletes();
        QVERIFY(added.isNull() && filter.isNull());
        QCOMPARE(p->plot()->curves().size(), 3);
        p->plot()->repaint();
        before->setGain(-4.0f);
        QCOMPARE(p->plot()->curves()[0]->sample(200).y(), out(2)->getMagnitude()->at(200));
    }

    void newStopsAtTheDevicesCapacity()
    {
        ZunEQModel eqs(m_dev->zun);
        CZunInput* in = m_dev->zun->GetRoutingManager()->GetInputs().first();
        auto p = page<ZunInputDlg>(in, &eqs);
        QString refused;
        int made = 0;
        while (refused.isEmpty() && made < 200) {
            refused = DeviceTestRig::failure([&] { p->onButtonNewEQ(); });
            made += refused.isEmpty() ? 1 : 0;
        }
        QCOMPARE(refused, QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
        QCOMPARE(p->plot()->curves().size(), made + 2);
        // a crossover filter needs free EQs for its sections: refused, nothing of it stays
        QCOMPARE(DeviceTestRig::failure([&] { p->onButtonNewHOF(); }), refused);
        OfflineDevice::flushDeletes();
        QCOMPARE(m_dev->eq()->CountHighOrderFilters(-1), 0);
        QCOMPARE(p->plot()->curves().size(), made + 2);
    }

    void removeDeletesTheSelectedRowsOfItsChannel()
    {
        DeviceEQColumns eqs(m_dev->zun);
        QList<int> numbers;
        for (int i = 0; i < 4; ++i)
            numbers << out(1)->NewEQ()->getNumber();
        for (int slot : {6, 10, 11}) { // slot 1 (Output 2) shows none of these
            bool section = false;
            m_dev->eq()->CreateEQ(slot, section);
        }
        auto p = page<ZunOutputDlg>(out(1), &eqs);
        QCOMPARE(p->eqProxy()->rowCount(), 4);
        p->onButtonRemoveEQ(); // nothing selected
        QCOMPARE(out(1)->GetEQList().size(), 4);
        // three rows, several cells each
        QList<int> chosen;
        for (int row : {0, 2, 3}) {
            chosen << p->eqProxy()->index(row, 0).data().toInt();
            for (int col : {3, 4, 5})
                p->eqTable()->selectionModel()->select(p->eqProxy()->index(row, col), QItemSelectionModel::Select);
        }
        p->findChildren<QPushButton*>()[1]->click();
        OfflineDevice::flushDeletes();
        QCOMPARE(out(1)->GetEQList().size(), 1);
        QVERIFY(!chosen.contains(out(1)->GetEQList().first()->getNumber()));
        QCOMPARE(p->plot()->curves().size(), 3);
        QCOMPARE(m_dev->eq()->CountActiveEQs(-1), 4);
        // a model reset (every new EQ) keeps "Nr", "Name" and "Bank" hidden
        out(1)->NewEQ();
        QCOMPARE(p->eqProxy()->rowCount(), 2);
        for (int col : {0, 1, 2})
            QVERIFY(p->eqTable()->isColumnHidden(col));
        QVERIFY(!p->eqTable()->isColumnHidden(3));
    }

    void proxiesGoWithThePage()
    {
        ZunEQModel eqs(m_dev->zun);
        auto p = page<ZunOutputDlg>(out(0), &eqs);
        QPointer<QSortFilterProxyModel> first = p->eqProxy();
        p->setEQModel(&eqs); // a second model replaces the proxy
        QVERIFY(first.isNull());
        QPointer<QSortFilterProxyModel> eqProxy = p->eqProxy(), hofProxy = p->hofProxy();
        p.reset();
        QVERIFY(eqProxy.isNull() && hofProxy.isNull());
    }
};

QTEST_MAIN(TestChannelPage)
#include "tst_channelpage.moc"
