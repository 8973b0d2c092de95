// The crossover-filter table over a device object that is not connected: what each cell
// shows and lets edit, the rebuild an edit makes, refused rebuilds that give the filter its
// previous values back, the characteristic/order rule of the combos, the editors' ranges
// and the payloads of copy and drop.
#include "support/TableRig.h"
#include "ComboModelCharacter.h"
#include "ComboModelOrder.h"
#include "EQTableDelegate.h"
#include "HOFTableDelegate.h"
#include "ZunChannelMimeData.h"
#include "ZunEQModel.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTableView>
#include <QtTest>

namespace
{
constexpr quint16 LR = 8, BW = 2, Cheb = 3;
}

class TestHOFModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<TableRig> m_rig;
    std::unique_ptr<ZunHOFModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QPointer<CZunHighOrderFilter> m_lr;   // slot 3, DSP 0
    QPointer<CZunHighOrderFilter> m_cheb; // slot 8, DSP 1

    CEQManager* eq() const { return m_rig->eq(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return m_model->index(row, column).data(role);
    }
    int rowOf(const CZunHighOrderFilter* f) const
    {
        const QModelIndexList found = m_model->match(m_model->index(0, 0), Qt::DisplayRole, int(f->getNumber()));
        return found.isEmpty() ? -1 : found.first().row();
    }
    QModelIndex at(const CZunHighOrderFilter* f, int column) const { return m_model->index(rowOf(f), column); }
    bool editable(const QModelIndex& i) const { return m_model->flags(i) & Qt::ItemIsEditable; }

private slots:
    void initTestCase() { m_rig.reset(new TableRig); }
    void init()
    {
        m_rig->makeDevice();
        m_model.reset(new ZunHOFModel(m_rig->zun));
        m_tester.reset(new QAbstractItemModelTester(m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        m_lr = m_rig->newFilter(3, 0, LR, 4, 1000.0f);
        m_cheb = m_rig->newFilter(8, 1, Cheb, 3, 200.0f);
        m_cheb->setRipple(1.0f);
        m_rig->sent.clear();
    }
    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
        m_rig->zun.reset();
    }

    void cellsShowEveryFilterOfBothDSPs()
    {
        QCOMPARE(m_model->rowCount(), 2);
        QCOMPARE(m_model->columnCount(), 9);
        QCOMPARE(rowOf(m_lr), 0);
        QCOMPARE(rowOf(m_cheb), 1);
        const QList<QVariantList> rows{{QString(" 3"), 0, int(LR), 4, 1000.0, QString("---"), true},
                                       {QString(" 8"), 1, int(Cheb), 3, 200.0, 1.0, true}};
        for (int r = 0; r < 2; ++r) {
            const QVariantList& want = rows[r];
            QCOMPARE(cell(r, ZunHOFModel::ColNr).toInt(), int(m_model->filter(r)->getNumber()));
            QCOMPARE(cell(r, ZunHOFModel::ColName).toString(), m_model->filter(r)->GetName());
            QCOMPARE(cell(r, ZunHOFModel::ColBank).toString(), want[0].toString());
            QCOMPARE(cell(r, ZunHOFModel::ColType).toInt(), want[1].toInt());
            QCOMPARE(cell(r, ZunHOFModel::ColCharacter).toInt(), want[2].toInt());
            QCOMPARE(cell(r, ZunHOFModel::ColOrder).toInt(), want[3].toInt());
            QCOMPARE(cell(r, ZunHOFModel::ColFrequency).toDouble(), want[4].toDouble());
            QCOMPARE(cell(r, ZunHOFModel::ColRipple).toString(), want[5].toString());
            QCOMPARE(cell(r, ZunHOFModel::ColActive).toBool(), want[6].toBool());
            for (int c = 0; c < 9; ++c) {
                QVERIFY(!cell(r, c, Qt::EditRole).isValid());
                QCOMPARE(cell(r, c, Qt::TextAlignmentRole).toInt(), 130);
                QCOMPARE(editable(m_model->index(r, c)),
                         c >= ZunHOFModel::ColType && (c != ZunHOFModel::ColRipple || r == 1));
            }
        }
        QCOMPARE(m_model->headerData(4, Qt::Horizontal).toString(), QString("Character"));
        QCOMPARE(cell(0, ZunHOFModel::ColCharacter, Qt::SizeHintRole).toSize(), QSize(80, 20));
        // an all-pass filter has no characteristic to choose
        QVERIFY(m_model->setData(at(m_lr, ZunHOFModel::ColType), 2));
        QCOMPARE(cell(0, ZunHOFModel::ColCharacter).toInt(), 7);
        QVERIFY(!editable(at(m_lr, ZunHOFModel::ColCharacter)));
    }

    void editsRebuildTheFilter_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("sections");
        QTest::addColumn<int>("recordWord"); // the filter record's first word after the edit
        for (bool linked : {false, true}) {
            const char* l = linked ? "linked" : "single";
            // pass band << 12 | bank << 8 | order << 4 | characteristic
            QTest::addRow("%s order", l) << linked << int(ZunHOFModel::ColOrder) << QVariant(8) << 4 << 0x0388;
            QTest::addRow("%s type", l) << linked << int(ZunHOFModel::ColType) << QVariant(1) << 2 << 0x1348;
            QTest::addRow("%s character", l) << linked << int(ZunHOFModel::ColCharacter) << QVariant(int(BW)) << 2 << 0x0342;
            QTest::addRow("%s frequency", l) << linked << int(ZunHOFModel::ColFrequency) << QVariant(2500) << 2 << 0x0348;
            QTest::addRow("%s active", l) << linked << int(ZunHOFModel::ColActive) << QVariant(false) << 2 << 0x0348;
        }
    }
    void editsRebuildTheFilter()
    {
        QFETCH(bool, linked);
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(int, sections);
        QFETCH(int, recordWord);
        m_rig->link(linked);
        QSignalSpy failed(m_model.get(), &ZunHOFModel::signal_exception);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(!m_model->setData(at(m_lr, column), value, Qt::DisplayRole));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QVERIFY(m_model->setData(at(m_lr, column), value));
        QCOMPARE(failed.count(), 0);
        QCOMPARE(m_lr->sections().size(), sections);
        const quint16 base = eq()->filterRecordBase(m_lr->getNumber());
        QVERIFY(m_rig->sent.contains(base, quint16(recordWord)));
        // each section written to its own record only, also when linked
        for (CZunBiquad* s : m_lr->sections()) {
            QCOMPARE(m_rig->sent.count(eq()->eqRecordBase(s->getNumber())), 1);
            QCOMPARE(m_rig->sent.count(eq()->eqRecordBase((s->getNumber() + m_rig->eqCount()) % (2 * m_rig->eqCount()))), 0);
        }
        QCOMPARE(changed.last().at(0).toModelIndex(), at(m_lr, column));
        QCOMPARE(cell(rowOf(m_lr), column), value.type() == QVariant::Int ? QVariant(value.toInt() == 2500 ? QVariant(2500.0) : value) : value);
        // the same value again writes nothing
        m_rig->sent.clear();
        QVERIFY(!m_model->setData(at(m_lr, column), value));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void rippleChangesAboveAHundredth()
    {
        QVERIFY(!m_model->setData(at(m_cheb, ZunHOFModel::ColRipple), 1.005));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QVERIFY(m_model->setData(at(m_cheb, ZunHOFModel::ColRipple), 0.05));
        QCOMPARE(m_cheb->getRipple(), 0.1);
        QVERIFY(m_rig->sent.contains(quint16(eq()->filterRecordBase(m_cheb->getNumber()) + 4),
                                     quint16(1 << 8 | HO_FILTER_PARAMS::NoSection)));
    }

    void refusedRebuildsGiveThePreviousValuesBack_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("full"); // the channel has no EQ left
        QTest::addColumn<QString>("text");
        QTest::newRow("order beyond the record") << int(ZunHOFModel::ColOrder) << QVariant(11) << false
                                                 << "CZunHighOrderFilter::rebuild(): invalid order: 11";
        QTest::newRow("no EQ for a section") << int(ZunHOFModel::ColFrequency) << QVariant(2000) << true
                                             << "CEQManager::NewEQ(): No free EQ left.";
        QTest::newRow("pass band without sections") << int(ZunHOFModel::ColType) << QVariant(2) << true
                                                    << "CEQManager::NewEQ(): No free EQ left.";
    }
    void refusedRebuildsGiveThePreviousValuesBack()
    {
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(bool, full);
        QFETCH(QString, text);
        if (full) {
            // twenty EQs on slot 3: a channel's maximum
            for (int n = 0; n < CEQManager::MaxEQsPerChannel; ++n)
                m_rig->putEQ(n, 0x0004, 2000, 400, 30, 3);
            eq()->Rebuild();
            m_lr = m_rig->newFilter(3, 0, LR, 4, 1000.0f);
            m_rig->sent.clear();
        }
        const int row = rowOf(m_lr);
        QVariantList before;
        for (int c = 0; c < 9; ++c)
            before << cell(row, c);
        QSignalSpy failed(m_model.get(), &ZunHOFModel::signal_exception);
        QVERIFY(!m_model->setData(m_model->index(row, column), value));
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.at(0).at(0).toString().startsWith(text), qPrintable(failed.at(0).at(0).toString()));
        QCOMPARE(failed.at(0).at(1).toString(), QString("ZunControl"));
        // the object holds what the processor still has
        for (int c = 0; c < 9; ++c)
            QCOMPARE(cell(row, c), before[c]);
        QCOMPARE(m_lr->getOrder(), quint16(4));
        QCOMPARE(m_lr->getCharacteristic(), LR);
        QCOMPARE(m_lr->getFrequency(), 1000.0);
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void linkwitzRileyTakesEvenOrdersOnly_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("characteristic");
        for (int order = 1; order <= 10; ++order)
            for (int characteristic : {int(BW), int(LR)})
                QTest::addRow("order %d char %d", order, characteristic) << order << characteristic;
    }
    void linkwitzRileyTakesEvenOrdersOnly()
    {
        QFETCH(int, order);
        QFETCH(int, characteristic);
        const Qt::ItemFlags choosable = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        // the characteristic combo of a filter of this order
        ComboModelCharacter characters(order, LR);
        for (int c : {0, 1, 2, 3, int(LR)}) {
            auto* item = new QStandardItem(QString::number(c));
            item->setData(c, Qt::UserRole);
            characters.appendRow(item);
        }
        for (int r = 0; r < characters.rowCount(); ++r) {
            const bool refused = order % 2 == 1 && characters.item(r)->data(Qt::UserRole).toInt() == LR;
            QCOMPARE(characters.flags(characters.index(r, 0)), refused ? Qt::NoItemFlags : choosable);
        }
        // the order combo of a filter of this characteristic
        ComboModelOrder orders(characteristic, LR);
        for (int o = 1; o <= 10; ++o) {
            auto* item = new QStandardItem(QString::number(o));
            item->setData(o, Qt::UserRole);
            orders.appendRow(item);
        }
        const bool refused = characteristic == LR && order % 2 == 1;
        QCOMPARE(orders.flags(orders.index(order - 1, 0)), refused ? Qt::NoItemFlags : choosable);
    }

    void delegateCombosFollowTheRule()
    {
        QTableView view;
        view.setModel(m_model.get());
        HOFTableDelegate delegate(m_rig->zun, &view);
        QSignalSpy resized(&delegate, &HOFTableDelegate::colSizeChangedHOF);
        auto combo = [&](const QModelIndex& i) {
            QWidget* editor = delegate.createEditor(view.viewport(), QStyleOptionViewItem(), i);
            delegate.setEditorData(editor, i);
            return qobject_cast<QComboBox*>(editor);
        };
        // order 3: Linkwitz-Riley is listed but cannot be chosen
        QVERIFY(m_model->setData(at(m_cheb, ZunHOFModel::ColOrder), 3) || m_cheb->getOrder() == 3);
        std::unique_ptr<QComboBox> characters(combo(at(m_cheb, ZunHOFModel::ColCharacter)));
        QVERIFY(characters);
        QCOMPARE(characters->currentText(), QString("Chebyshev"));
        const int lr = characters->findText("Linkwitz-Riley");
        QVERIFY(lr >= 0);
        QCOMPARE(characters->findText("All pass"), -1);
        QCOMPARE(characters->model()->flags(characters->model()->index(lr, 0)), Qt::NoItemFlags);
        QCOMPARE(resized.last().at(0).toInt(), int(ZunHOFModel::ColCharacter));
        // a Linkwitz-Riley filter offers 12, 24, 36, 48 and 60 dB/Oct
        std::unique_ptr<QComboBox> orders(combo(at(m_lr, ZunHOFModel::ColOrder)));
        QCOMPARE(orders->count(), 10);
        QCOMPARE(orders->currentText(), QString("24 dB/Oct"));
        QStringList offered;
        for (int r = 0; r < orders->count(); ++r)
            if (orders->model()->flags(orders->model()->index(r, 0)) & Qt::ItemIsEnabled)
                offered << orders->itemText(r);
        QCOMPARE(offered, QStringList({"12 dB/Oct", "24 dB/Oct", "36 dB/Oct", "48 dB/Oct", "60 dB/Oct"}));
        // writing back takes the item's number
        orders->setCurrentIndex(orders->findData(8));
        delegate.setModelData(orders.get(), m_model.get(), at(m_lr, ZunHOFModel::ColOrder));
        QCOMPARE(m_lr->getOrder(), quint16(8));
        QCOMPARE(m_lr->sections().size(), 4);
        // loading the editor again replaces its choices and releases the old ones
        QPointer<QAbstractItemModel> old = orders->model();
        delegate.setEditorData(orders.get(), at(m_lr, ZunHOFModel::ColOrder));
        QVERIFY(!old);
    }

    void frequencyEditorsEndAtHalfTheSampleRate_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("maximum");
        QTest::newRow("48 kHz") << 48000 << 24000;
        QTest::newRow("96 kHz") << 96000 << 30000;
    }
    void frequencyEditorsEndAtHalfTheSampleRate()
    {
        QFETCH(int, rate);
        QFETCH(int, maximum);
        m_rig->rate(rate);
        ZunEQModel eqs(m_rig->zun);
        int slot = 3;
        bool section = false;
        eq()->CreateEQ(slot, section);
        QTableView view;
        HOFTableDelegate filters(m_rig->zun, &view);
        EQTableDelegate equalisers(m_rig->zun, &view);
        for (auto [delegate, index] : {std::make_pair(static_cast<EQTableDelegate*>(&filters), at(m_lr, ZunHOFModel::ColFrequency)),
                                       std::make_pair(&equalisers, eqs.index(0, ZunEQModel::ColFrequency))}) {
            std::unique_ptr<QWidget> editor(delegate->createEditor(&view, QStyleOptionViewItem(), index));
            delegate->setEditorData(editor.get(), index);
            auto* box = qobject_cast<QSpinBox*>(editor.get());
            QVERIFY(box);
            QCOMPARE(box->minimum(), 15);
            QCOMPARE(box->maximum(), maximum);
        }
        // the ripple editor
        std::unique_ptr<QWidget> editor(filters.createEditor(&view, QStyleOptionViewItem(), at(m_cheb, ZunHOFModel::ColRipple)));
        filters.setEditorData(editor.get(), at(m_cheb, ZunHOFModel::ColRipple));
        auto* ripple = qobject_cast<QDoubleSpinBox*>(editor.get());
        QCOMPARE(ripple->minimum(), 0.1);
        QCOMPARE(ripple->maximum(), 20.0);
        QCOMPARE(ripple->value(), 1.0);
    }

    void payloadsAndDropsTakeFreshSections()
    {
        QVERIFY(m_model->setData(at(m_lr, ZunHOFModel::ColFrequency), 1200));
        // the payload holds the processor's records
        m_rig->acceptSent();
        std::unique_ptr<QMimeData> data(
            m_model->mimeData({at(m_lr, 3), at(m_lr, 5), at(m_cheb, 6), at(m_lr, 8)}));
        auto* filters = qobject_cast<ZunHOFMimeData*>(data.get());
        QVERIFY(filters);
        QCOMPARE(filters->count(), 2);
        QCOMPARE(filters->getFilters()[0].number, m_lr->getNumber());
        QCOMPARE(filters->getFilters()[0].sections[0], m_lr->sections()[0]->getNumber());
        ZunHOFProxyModel proxy;
        proxy.setSourceModel(m_model.get());
        QSignalSpy created(&proxy, &ZunHOFProxyModel::signal_NewHighOrderFilter);
        QVERIFY(proxy.dropMimeData(filters, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(created.count(), 2);
        const HO_FILTER_PARAMS copy = created.at(0).at(0).value<HO_FILTER_PARAMS>();
        QCOMPARE(copy.frequency, 1200.0);
        QCOMPARE(copy.characteristic, LR);
        for (quint16 s : copy.sections)
            QCOMPARE(s, HO_FILTER_PARAMS::NoSection);
        // a channel payload gives its filters; an empty filter payload is still filter data
        ZunChannelMimeData channel;
        channel.appendEQ(EQ_PARAMS());
        channel.appendFilter(HO_FILTER_PARAMS());
        QVERIFY(proxy.dropMimeData(&channel, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(created.count(), 3);
        ZunHOFMimeData empty;
        QVERIFY(proxy.isValidMimeData(&empty));
        QVERIFY(!proxy.isValidMimeData(&channel));
        QMimeData text;
        QVERIFY(!proxy.dropMimeData(&text, Qt::CopyAction, 0, 0, QModelIndex()));
    }
};

QTEST_MAIN(TestHOFModel)
#include "tst_hofmodel.moc"
