// The channel page against a device object that is not connected: its layout, the curves of
// its channel's EQs and filters (also when they are deleted while the page is shown), the
// New and Remove buttons with the device's capacity, and what the page owns.
#include "CZunInput.h"
#include "PlotWidget.h"
#include "ZunEQModel.h"
#include "ZunHOFModel.h"
#include "ZunInputDlg.h"
#include "ZunOutputDlg.h"
#include "support/OfflineDevice.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QtTest>

namespace {

// Just the columns the page reads of the window's EQ model: the number, the bank in two
// characters and the frequency, for every EQ of the device.
class DeviceEQColumns : public ZunEQModel
{
public:
    explicit DeviceEQColumns(QSharedPointer<CZun> zun) : ZunEQModel(zun), m_zun(zun)
    {
        connect(zun->GetEQManager(), &CEQManager::signal_NewEQ, this, &ZunEQModel::reloadModel);
        connect(zun->GetEQManager(), &CEQManager::signal_EQDeleted, this, &ZunEQModel::reloadModel);
    }
    int rowCount(const QModelIndex& = QModelIndex()) const override { return eqs().size(); }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 8; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const QList<QPointer<CZunBiquad>> all = eqs();
        if (role != Qt::DisplayRole || index.row() >= all.size() || !all[index.row()])
            return QVariant();
        CZunBiquad* b = all[index.row()];
        switch (index.column()) {
        case 0: return int(b->getNumber());
        case 2: return QString("%1").arg(b->getBank(), 2);
        case 4: return b->getFrequency();
        default: return QVariant();
        }
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

    CZunOutput* out(int i) const { return m_dev->out(i); }

    // As the control window builds a page.
    template <typename Page, typename Channel>
    std::unique_ptr<Page> page(Channel* channel, ZunEQModel* eqModel, ZunHOFModel* hofModel)
    {
        auto p = std::make_unique<Page>(channel);
        p->setEQModel(eqModel);
        p->setHOFModel(hofModel);
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
    static QString failure(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::logic_error& e) {
            return QString::fromStdString(e.what());
        }
        return QString();
    }

private slots:
    void initTestCase() { m_config.reset(new DeviceTestRig::Config); }
    void init() { m_dev.reset(new OfflineDevice); }
    void cleanup() { m_dev.reset(); }

    void inputAndOutputPagesLookTheSame()
    {
        ZunEQModel eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        CZunInput* in = m_dev->zun->GetRoutingManager()->GetInputs().first();
        auto input = page<ZunInputDlg>(in, &eqs, &hofs);
        auto output = page<ZunOutputDlg>(out(0), &eqs, &hofs);
        for (ZunAbstractInOutputDlg* p : {static_cast<ZunAbstractInOutputDlg*>(input.get()),
                                          static_cast<ZunAbstractInOutputDlg*>(output.get())}) {
            QStringList groups, buttons, boxes;
            for (auto* g : p->findChildren<QGroupBox*>())
                groups << g->title();
            for (auto* b : p->findChildren<QPushButton*>())
                buttons << b->text();
            for (auto* c : p->findChildren<QCheckBox*>())
                boxes << c->text() + (c->isChecked() ? "+" : "-");
            QCOMPARE(groups, (QStringList{"EQs", "Filters"}));
            QCOMPARE(buttons, (QStringList{"New", "Remove", "New", "Remove"}));
            QCOMPARE(boxes, (QStringList{"Show phase curves+", "Show EQ curves+", "Show filter curves+"}));
            QCOMPARE(p->plot()->curves().size(), 2);
            QCOMPARE(p->plot()->curves()[0]->title().text(), QStringLiteral("Magnitude"));
            QCOMPARE(p->plot()->curves()[1]->title().text(), QStringLiteral("Phase"));
            QCOMPARE(p->eqTable()->minimumWidth(), 320);
            QCOMPARE(p->hofTable()->maximumWidth(), 420);
        }
        QCOMPARE(output->eqProxy()->filterRegularExpression().pattern(), QStringLiteral(" 0"));
        QCOMPARE(ZunAbstractInOutputDlg::slotFilter(10), QStringLiteral("10"));
    }

    void curvesFollowTheChannelsEQsAndFilters()
    {
        ZunEQModel eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        CZunBiquad* before = out(2)->NewEQ();
        auto p = page<ZunOutputDlg>(out(2), &eqs, &hofs);
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.get()));
        QCOMPARE(curvesOf(p->plot(), before), 1);
        // a second device pointer plots nothing twice
        p->setPointerCZun(m_dev->zun);
        QCOMPARE(p->plot()->curves().size(), 3);
        // New adds an EQ on the channel's slot, and its curve
        p->findChildren<QPushButton*>()[0]->click();
        QCOMPARE(out(2)->GetEQList().size(), 2);
        QPointer<CZunBiquad> added = out(2)->GetEQList().last();
        QCOMPARE(curvesOf(p->plot(), added), 1);
        QCOMPARE(p->plot()->curves().last()->title().text(), added->GetName());
        p->findChildren<QPushButton*>()[2]->click();
        QPointer<CZunHighOrderFilter> filter = out(2)->GetHighOrderFilterList().first();
        QCOMPARE(curvesOf(p->plot(), filter), 1);
        // EQs of another channel stay off this plot
        out(3)->NewEQ();
        QCOMPARE(p->plot()->curves().size(), 5);
        // "Show EQ curves" hides the EQs only
        auto* eqBox = p->findChildren<QCheckBox*>()[1];
        eqBox->click();
        for (CZunPlotCurve* c : p->plot()->curves())
            QCOMPARE(c->style(), c->kind() == CZunPlotCurve::EQBiquad ? QwtPlotCurve::NoCurve : QwtPlotCurve::Lines);
        // deleting EQs and filters while the page is shown takes their curves along
        QPointer<CZunPlotCurve> eqCurve = p->plot()->curves()[3];
        QCOMPARE(eqCurve->response(), added.data());
        m_dev->eq()->DeleteZunBiquad(added, true);
        m_dev->eq()->DeleteHighOrderFilter(filter, true);
        OfflineDevice::flushDeletes();
        QVERIFY(added.isNull() && filter.isNull() && eqCurve.isNull());
        QCOMPARE(p->plot()->curves().size(), 3);
        p->plot()->replot();
        QCoreApplication::processEvents();
        // the channel's own curves follow the remaining EQ
        before->setGain(-4.0f);
        QCOMPARE(p->plot()->curves()[0]->sample(200).y(), out(2)->getMagnitude()->at(200));
    }

    void newStopsAtTheDevicesCapacity()
    {
        ZunEQModel eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        auto p = page<ZunOutputDlg>(out(1), &eqs, &hofs);
        QString refused;
        int made = 0;
        while (refused.isEmpty() && made < 200) {
            refused = failure([&] { p->onButtonNewEQ(); });
            made += refused.isEmpty() ? 1 : 0;
        }
        QCOMPARE(refused, QStringLiteral("CEQManager::NewEQ(): No free EQ left."));
        QCOMPARE(out(1)->GetEQList().size(), made);
        QCOMPARE(p->plot()->curves().size(), made + 2);
        // a crossover filter needs free EQs for its sections: refused, nothing of it stays
        QCOMPARE(failure([&] { p->onButtonNewHOF(); }), refused);
        OfflineDevice::flushDeletes();
        QCOMPARE(out(1)->GetHighOrderFilterList().size(), 0);
        QCOMPARE(p->plot()->curves().size(), made + 2);
        QCOMPARE(m_dev->eq()->CountHighOrderFilters(-1), 0);
    }

    void removeDeletesTheSelectedRowsOfItsChannel()
    {
        DeviceEQColumns eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        // slot 1 (Output 2) must not show slot 10 or 11
        QList<QPointer<CZunBiquad>> mine;
        for (int i = 0; i < 4; ++i)
            mine << out(1)->NewEQ();
        CZunBiquad* other = out(4)->NewEQ(); // slot 6
        int slot = 10;
        bool section = false;
        m_dev->eq()->CreateEQ(slot, section);
        auto p = page<ZunOutputDlg>(out(1), &eqs, &hofs);
        QCOMPARE(p->eqProxy()->rowCount(), 4);
        // nothing selected: nothing happens
        p->onButtonRemoveEQ();
        QCOMPARE(out(1)->GetEQList().size(), 4);
        // three rows, several cells each
        QItemSelectionModel* sel = p->eqTable()->selectionModel();
        for (int row : {0, 2, 3})
            for (int col : {3, 4, 5})
                sel->select(p->eqProxy()->index(row, col), QItemSelectionModel::Select);
        QList<int> chosen;
        for (int row : {0, 2, 3})
            chosen << p->eqProxy()->index(row, 0).data().toInt();
        p->findChildren<QPushButton*>()[1]->click();
        OfflineDevice::flushDeletes();
        QCOMPARE(out(1)->GetEQList().size(), 1);
        QVERIFY(!chosen.contains(out(1)->GetEQList().first()->getNumber()));
        QCOMPARE(p->plot()->curves().size(), 3);
        QVERIFY(m_dev->eq()->IsEQUsed(other->getNumber()));
    }

    void proxiesGoWithThePage()
    {
        ZunEQModel eqs(m_dev->zun);
        ZunHOFModel hofs(m_dev->zun);
        auto p = page<ZunOutputDlg>(out(0), &eqs, &hofs);
        QPointer<QSortFilterProxyModel> first = p->eqProxy();
        p->setEQModel(&eqs); // a second model call replaces the proxy
        QVERIFY(first.isNull());
        QPointer<QSortFilterProxyModel> eqProxy = p->eqProxy(), hofProxy = p->hofProxy();
        QVERIFY(eqProxy && hofProxy);
        p.reset();
        QVERIFY(eqProxy.isNull() && hofProxy.isNull());
    }
};

QTEST_MAIN(TestChannelPage)
#include "tst_channelpage.moc"
