// The EQ and crossover-filter table models over a device object that is not connected:
// every cell of both DSPs, the words an edit sends (linked or not), refused edits, the
// Linkwitz-Riley rule of the combos, the editors' ranges, and the payloads of copy and drop.
#include "support/TableRig.h"
#include "HOFTableDelegate.h"
#include "ZunChannelMimeData.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QSpinBox>
#include <QTableView>
#include <QtTest>

namespace
{
constexpr quint16 LR = 8, BW = 2, Cheb = 3;
QString failure(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return QString();
}
} // namespace

class TestFilterModels : public QObject
{
    Q_OBJECT

    std::unique_ptr<TableRig> m_rig;
    std::unique_ptr<ZunEQModel> m_eqs;
    std::unique_ptr<ZunHOFModel> m_hofs;
    std::unique_ptr<QAbstractItemModelTester> m_testEQs, m_testHOFs;
    QPointer<CZunHighOrderFilter> m_lr, m_cheb; // slot 3 (DSP 0), slot 8 (DSP 1)

    int N() const { return m_rig->eqCount(); }
    CEQManager* eq() const { return m_rig->eq(); }
    QModelIndex at(const CZunHighOrderFilter* f, int column) const
    {
        return m_hofs->index(m_hofs->match(m_hofs->index(0, 0), 0, int(f->getNumber())).value(0).row(), column);
    }
    QVariantList row(QAbstractItemModel* m, int r) const
    {
        QVariantList out;
        for (int c = 0; c < m->columnCount(); ++c)
            out << m->index(r, c).data();
        return out;
    }

private slots:
    void initTestCase() { m_rig.reset(new TableRig); }
    void init()
    {
        m_rig->makeDevice();
        // a peak on slot 2, a bypassed first-order low pass on slot 9, a second-order low pass on 7
        m_rig->putEQ(0, 0x0004, 500, 800, 0xFFC4, 2);
        m_rig->putEQ(N(), 0x4000, 2000, 400, 0, 3);
        m_rig->putEQ(N() + 1, 0x0001, 4000, 280, 0, 1);
        eq()->Rebuild();
        m_eqs.reset(new ZunEQModel(m_rig->zun));
        m_hofs.reset(new ZunHOFModel(m_rig->zun));
        m_testEQs.reset(new QAbstractItemModelTester(m_eqs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        m_testHOFs.reset(new QAbstractItemModelTester(m_hofs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        m_lr = m_rig->newFilter(3, 0, LR, 4, 1000.0f);
        m_cheb = m_rig->newFilter(8, 1, Cheb, 3, 200.0f);
        m_cheb->setRipple(1.0f);
        m_rig->sent.clear();
    }
    void cleanup()
    {
        m_testEQs.reset();
        m_testHOFs.reset();
        m_eqs.reset();
        m_hofs.reset();
        m_rig->zun.reset();
    }

    void cellsShowEveryRowOfBothDSPs()
    {
        const QString none("---");
        QCOMPARE(row(m_eqs.get(), 0), (QVariantList{0, m_eqs->biquad(0)->GetName(), " 2", 4, 250.0, -6.0, 2.0, true}));
        QCOMPARE(row(m_eqs.get(), 1), (QVariantList{N(), m_eqs->biquad(1)->GetName(), " 9", 0, 1000.0, none, none, false}));
        QCOMPARE(row(m_eqs.get(), 2).mid(2, 4), (QVariantList{" 7", 1, 2000.0, none}));
        QCOMPARE(row(m_hofs.get(), 0).mid(2), (QVariantList{" 3", 0, int(LR), 4, 1000.0, none, true}));
        QCOMPARE(row(m_hofs.get(), 1).mid(2), (QVariantList{" 8", 1, int(Cheb), 3, 200.0, 1.0, true}));
        QCOMPARE(m_hofs->index(1, 0).data().toInt(), int(m_cheb->getNumber()));
        // editable: EQ gain only for gain types, quality only for second-order types;
        // filter ripple only for Chebyshev
        const QList<QList<int>> editable{{1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4, 7}, {1, 2, 3, 4, 6, 7}};
        for (QAbstractItemModel* m : {static_cast<QAbstractItemModel*>(m_eqs.get()), static_cast<QAbstractItemModel*>(m_hofs.get())})
            for (int r = 0; r < m->rowCount(); ++r)
                for (int c = 0; c < m->columnCount(); ++c) {
                    const QModelIndex i = m->index(r, c);
                    QVERIFY(!i.data(Qt::EditRole).isValid()); // name and bank editors open empty
                    QCOMPARE(i.data(Qt::TextAlignmentRole).toInt(), 130);
                    const bool want = m == m_eqs.get() ? editable[r].contains(c) : c >= 3 && (c != 7 || r == 1);
                    QCOMPARE(bool(m->flags(i) & Qt::ItemIsEditable), want);
                }
        QCOMPARE(m_eqs->headerData(5, Qt::Horizontal).toString(), QString("Gain"));
        QCOMPARE(m_hofs->headerData(0, Qt::Vertical).toInt(), 1);
        QCOMPARE(m_hofs->index(0, 4).data(Qt::SizeHintRole).toSize(), QSize(80, 20));
        // an all-pass filter has no characteristic to choose
        QVERIFY(m_hofs->setData(at(m_lr, ZunHOFModel::ColType), 2));
        QCOMPARE(at(m_lr, ZunHOFModel::ColCharacter).data().toInt(), 7);
        QVERIFY(!(m_hofs->flags(at(m_lr, ZunHOFModel::ColCharacter)) & Qt::ItemIsEditable));
    }

    void eqEditsWriteTheRecord_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("wordIndex"); // the record word that carries the change
        QTest::addColumn<int>("word");
        for (bool linked : {false, true}) {
            const char* l = linked ? "linked" : "single";
            QTest::addRow("%s frequency", l) << linked << 0 << 4 << QVariant(1000) << 1 << 2000;
            QTest::addRow("%s gain", l) << linked << 0 << 5 << QVariant(3.5) << 3 << 35;
            QTest::addRow("%s bank", l) << linked << 0 << 2 << QVariant(5) << 4 << 5;
            QTest::addRow("%s DSP 1 quality", l) << linked << 2 << 6 << QVariant(1.0) << 2 << 400;
            // another type: the neutral record of it (gain 0)
            QTest::addRow("%s type", l) << linked << 0 << 3 << QVariant(6) << 0 << 6;
            // the switch (bit 14), then the record
            QTest::addRow("%s bypass", l) << linked << 0 << 7 << QVariant(false) << 0 << 0x4004;
        }
    }
    void eqEditsWriteTheRecord()
    {
        QFETCH(bool, linked);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(int, wordIndex);
        QFETCH(int, word);
        m_rig->link(linked);
        const QModelIndex cell = m_eqs->index(row, column);
        const int n = m_eqs->index(row, 0).data().toInt();
        QSignalSpy changed(m_eqs.get(), &QAbstractItemModel::dataChanged);
        // the delegate's double set: the display role changes nothing
        QVERIFY(!m_eqs->setData(cell, value, Qt::DisplayRole));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QVERIFY(m_eqs->setData(cell, value));
        QVERIFY(m_rig->sent.contains(quint16(eq()->eqRecordBase(n) + wordIndex), quint16(word)));
        const quint16 partner = eq()->eqRecordBase((n + N()) % (2 * N())) + wordIndex;
        QCOMPARE(m_rig->sent.contains(partner, quint16(word)), linked);
        QCOMPARE(m_rig->sent.groups().size(), column == 7 ? 2 : 1);
        QCOMPARE(changed.last().at(0).toModelIndex(), cell);
        // the same value again, or a change within a hundredth: nothing more
        m_rig->sent.clear();
        QVERIFY(!m_eqs->setData(cell, value));
        QVERIFY(!m_eqs->setData(m_eqs->index(0, 5), m_eqs->index(0, 5).data().toDouble() + 0.005));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void refusedEQEditsLeaveModelAndDevice()
    {
        // A shelf's stored corner lies beyond the shown one: at the top of the range the
        // manager refuses the record and the object takes the processor's values back.
        int shelf = 5;
        while (CEQManager::ShelfFrequencyToDevice(30000.0, 12.0, quint16(shelf), m_rig->zun->GetSampleRate()) <= 30000.0)
            QVERIFY(++shelf <= 8);
        m_rig->putEQ(1, quint16(shelf), 2000, 800, 120, 2);
        eq()->Rebuild();
        const QVariantList before = row(m_eqs.get(), 1);
        const QList<quint16> image = m_rig->eqWords(1);
        QSignalSpy failed(m_eqs.get(), &ZunEQModel::signal_exception);
        QVERIFY(!m_eqs->setData(m_eqs->index(1, ZunEQModel::ColFrequency), 30000));
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed.at(0).at(0).toString().startsWith("Frequency value of 30000 is out of bounds"));
        QCOMPARE(failed.at(0).at(1).toString(), QString("ZunControl"));
        // a value outside the setter's range leaves through its exception
        QCOMPARE(failure([&] { m_eqs->setData(m_eqs->index(1, ZunEQModel::ColFrequency), 40000); }),
                 QString("Frequency value of 40000 is out of bounds. Valid values are between 15 and 30000."));
        // (the reload names the object after the processor's record)
        QCOMPARE(row(m_eqs.get(), 1).mid(2), before.mid(2));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QCOMPARE(m_rig->eqWords(1), image);
    }

    void filterEditsRebuild_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("sections");
        QTest::addColumn<int>("recordWord"); // pass band << 12 | bank << 8 | order << 4 | characteristic
        for (bool linked : {false, true}) {
            const char* l = linked ? "linked" : "single";
            QTest::addRow("%s order", l) << linked << 5 << QVariant(8) << 4 << 0x0388;
            QTest::addRow("%s type", l) << linked << 3 << QVariant(1) << 2 << 0x1348;
            QTest::addRow("%s character", l) << linked << 4 << QVariant(int(BW)) << 2 << 0x0342;
            QTest::addRow("%s frequency", l) << linked << 6 << QVariant(2500) << 2 << 0x0348;
            QTest::addRow("%s active", l) << linked << 8 << QVariant(false) << 2 << 0x0348;
        }
    }
    void filterEditsRebuild()
    {
        QFETCH(bool, linked);
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(int, sections);
        QFETCH(int, recordWord);
        m_rig->link(linked);
        QVERIFY(!m_hofs->setData(at(m_lr, column), value, Qt::DisplayRole));
        QVERIFY(m_hofs->setData(at(m_lr, column), value));
        QCOMPARE(m_lr->sections().size(), sections);
        QVERIFY(m_rig->sent.contains(eq()->filterRecordBase(m_lr->getNumber()), quint16(recordWord)));
        // each section written to its own record only, linked or not
        for (CZunBiquad* s : m_lr->sections()) {
            QCOMPARE(m_rig->sent.count(eq()->eqRecordBase(s->getNumber())), 1);
            QCOMPARE(m_rig->sent.count(eq()->eqRecordBase((s->getNumber() + N()) % (2 * N()))), 0);
        }
        QCOMPARE(at(m_lr, column).data().toString(), value.toString());
        m_rig->sent.clear();
        QVERIFY(!m_hofs->setData(at(m_lr, column), value));
        QVERIFY(!m_hofs->setData(at(m_cheb, ZunHOFModel::ColRipple), 1.005));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void refusedRebuildsGiveThePreviousValuesBack_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("full"); // the channel has no EQ left
        QTest::addColumn<QString>("text");
        QTest::newRow("order beyond the record") << 5 << QVariant(11) << false << "CZunHighOrderFilter::rebuild(): invalid order: 11";
        QTest::newRow("no EQ for a section") << 6 << QVariant(2000) << true << "CEQManager::NewEQ(): No free EQ left.";
        QTest::newRow("pass band") << 3 << QVariant(2) << true << "CEQManager::NewEQ(): No free EQ left.";
    }
    void refusedRebuildsGiveThePreviousValuesBack()
    {
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(bool, full);
        QFETCH(QString, text);
        if (full) {
            for (int n = 0; n < CEQManager::MaxEQsPerChannel; ++n)
                m_rig->putEQ(n, 0x0004, 2000, 400, 30, 3);
            eq()->Rebuild();
            m_lr = m_rig->newFilter(3, 0, LR, 4, 1000.0f);
            m_rig->sent.clear();
        }
        const QVariantList before = row(m_hofs.get(), at(m_lr, 0).row());
        QSignalSpy failed(m_hofs.get(), &ZunHOFModel::signal_exception);
        QVERIFY(!m_hofs->setData(at(m_lr, column), value));
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.at(0).at(0).toString().startsWith(text), qPrintable(failed.at(0).at(0).toString()));
        // the object holds what the processor still has
        QCOMPARE(row(m_hofs.get(), at(m_lr, 0).row()), before);
        QCOMPARE(m_lr->params().characteristic, LR);
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void linkwitzRileyTakesEvenOrdersOnly()
    {
        QTableView view;
        view.setModel(m_hofs.get());
        HOFTableDelegate delegate(m_rig->zun, &view);
        std::unique_ptr<QComboBox> combo;
        // the texts of the combo's choices that can be taken
        auto offered = [&](const CZunHighOrderFilter* f, int column) {
            combo.reset(qobject_cast<QComboBox*>(delegate.createEditor(view.viewport(), QStyleOptionViewItem(), at(f, column))));
            delegate.setEditorData(combo.get(), at(f, column));
            QStringList texts;
            for (int r = 0; r < combo->count(); ++r)
                if (combo->model()->flags(combo->model()->index(r, 0)) & Qt::ItemIsEnabled)
                    texts << combo->itemText(r);
            return texts;
        };
        const QStringList others{"Critical", "Bessel", "Butterworth", "Chebyshev"};
        QCOMPARE(offered(m_cheb, ZunHOFModel::ColCharacter), others); // order 3
        QCOMPARE(combo->currentText(), QString("Chebyshev"));
        QCOMPARE(offered(m_lr, ZunHOFModel::ColCharacter), others + QStringList{"Linkwitz-Riley"}); // order 4
        QCOMPARE(offered(m_cheb, ZunHOFModel::ColOrder).size(), 10);
        QCOMPARE(offered(m_lr, ZunHOFModel::ColOrder), QStringList({"12 dB/Oct", "24 dB/Oct", "36 dB/Oct", "48 dB/Oct", "60 dB/Oct"}));
        QCOMPARE(combo->currentText(), QString("24 dB/Oct"));
        // the choice goes back as its number; loading again releases the previous choices
        combo->setCurrentIndex(combo->findData(8));
        delegate.setModelData(combo.get(), m_hofs.get(), at(m_lr, ZunHOFModel::ColOrder));
        QCOMPARE(m_lr->sections().size(), 4);
        QPointer<QAbstractItemModel> old = combo->model();
        delegate.setEditorData(combo.get(), at(m_lr, ZunHOFModel::ColOrder));
        QVERIFY(!old);
    }

    void frequencyEditorsEndAtHalfTheSampleRate()
    {
        QTableView view;
        HOFTableDelegate filters(m_rig->zun, &view);
        EQTableDelegate eqs(m_rig->zun, &view);
        for (auto [rate, maximum] : {std::make_pair(48000, 24000), std::make_pair(96000, 30000)}) {
            m_rig->rate(rate);
            for (auto [delegate, i] : {std::make_pair(static_cast<EQTableDelegate*>(&filters), at(m_lr, 6)),
                                       std::make_pair(&eqs, m_eqs->index(0, 4))}) {
                std::unique_ptr<QWidget> editor(delegate->createEditor(&view, QStyleOptionViewItem(), i));
                delegate->setEditorData(editor.get(), i);
                auto* box = qobject_cast<QSpinBox*>(editor.get());
                QCOMPARE(box->minimum(), 15);
                QCOMPARE(box->maximum(), maximum);
                QCOMPARE(box->value(), i.data().toInt());
            }
        }
    }

    void payloadsBecomeNewRowsOfAChannel()
    {
        // copied cells: one record per row, in order of appearance; the processor's records
        QVERIFY(m_hofs->setData(at(m_lr, ZunHOFModel::ColFrequency), 1200));
        m_rig->acceptSent();
        std::unique_ptr<QMimeData> eqRows(m_eqs->mimeData({m_eqs->index(2, 3), m_eqs->index(0, 1), m_eqs->index(2, 7)}));
        std::unique_ptr<QMimeData> filterRows(m_hofs->mimeData({at(m_lr, 3), at(m_lr, 5)}));
        const auto eqs = qobject_cast<ZunEQMimeData*>(eqRows.get())->getEQs();
        QCOMPARE(eqs.size(), 2);
        QCOMPARE(eqs[0].frequency, 2000.0);
        QCOMPARE(eqs[1].gain, -6.0);
        const auto filters = qobject_cast<ZunHOFMimeData*>(filterRows.get())->getFilters();
        QCOMPARE(filters.size(), 1);
        QCOMPARE(filters[0].sections[0], m_lr->sections()[0]->getNumber());
        // dropped into a channel's proxy: new EQs; new filters with sections of their own
        ZunEQProxyModel eqProxy;
        ZunHOFProxyModel filterProxy;
        eqProxy.setSourceModel(m_eqs.get());
        filterProxy.setSourceModel(m_hofs.get());
        QSignalSpy newEQs(&eqProxy, &ZunEQProxyModel::signal_NewZunBiquad);
        QSignalSpy newFilters(&filterProxy, &ZunHOFProxyModel::signal_NewHighOrderFilter);
        ZunChannelMimeData channel;
        channel.appendEQ(EQ_PARAMS());
        channel.appendFilter(filters[0]);
        QMimeData text;
        text.setText("1;peq;100;1;1");
        for (QSortFilterProxyModel* proxy : {static_cast<QSortFilterProxyModel*>(&eqProxy), static_cast<QSortFilterProxyModel*>(&filterProxy)}) {
            QCOMPARE(proxy->dropMimeData(eqRows.get(), Qt::CopyAction, 0, 0, {}), proxy == &eqProxy);
            QCOMPARE(proxy->dropMimeData(filterRows.get(), Qt::CopyAction, 0, 0, {}), proxy == &filterProxy);
            QVERIFY(proxy->dropMimeData(&channel, Qt::CopyAction, 0, 0, {}));
            QVERIFY(!proxy->dropMimeData(&text, Qt::CopyAction, 0, 0, {}));
        }
        QCOMPARE(newEQs.count(), 3);
        QCOMPARE(newEQs.at(0).at(0).value<EQ_PARAMS>().frequency, 2000.0);
        QCOMPARE(newFilters.count(), 2);
        for (const auto& args : newFilters) {
            const HO_FILTER_PARAMS p = args.at(0).value<HO_FILTER_PARAMS>();
            QCOMPARE(p.frequency, 1200.0);
            QCOMPARE(p.sections[0], HO_FILTER_PARAMS::NoSection);
        }
    }
};

QTEST_MAIN(TestFilterModels)
#include "tst_filtermodels.moc"
