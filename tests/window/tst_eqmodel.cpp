// The EQ table's model, proxy and payload over a device object that is not connected:
// what each cell shows and lets edit, the words an edit sends (to one record, or to the
// linked partner's as well), refused edits, and the payloads of copy, drag and drop.
#include "support/TableRig.h"
#include "ZunChannelMimeData.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using Words = QList<quint16>;

class TestEQModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<TableRig> m_rig;
    std::unique_ptr<ZunEQModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    CEQManager* eq() const { return m_rig->eq(); }
    int N() const { return m_rig->eqCount(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return m_model->index(row, column).data(role);
    }
    int rowOf(int number) const
    {
        const QModelIndexList found = m_model->match(m_model->index(0, 0), Qt::DisplayRole, number);
        return found.isEmpty() ? -1 : found.first().row();
    }
    // Three EQs: a peak on slot 2 (DSP 0), a bypassed first-order low pass on slot 9 and a
    // second-order low pass on slot 7 (both DSP 1).
    void putThree()
    {
        m_rig->putEQ(0, 0x0004, 500, 800, 0xFFC4, 2);
        m_rig->putEQ(N(), 0x4000, 2000, 400, 0, 3);
        m_rig->putEQ(N() + 1, 0x0001, 4000, 280, 0, 1);
        eq()->Rebuild();
    }

private slots:
    void initTestCase() { m_rig.reset(new TableRig); }
    void init()
    {
        m_rig->makeDevice();
        m_model.reset(new ZunEQModel(m_rig->zun));
        m_tester.reset(new QAbstractItemModelTester(m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        putThree();
        m_rig->sent.clear();
    }
    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
        m_rig->zun.reset();
    }

    void cellsShowEveryEQOfBothDSPs()
    {
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(m_model->columnCount(), 8);
        // DSP 0's list first
        QCOMPARE(cell(0, 0).toInt(), 0);
        QCOMPARE(cell(1, 0).toInt(), N());
        QCOMPARE(cell(2, 0).toInt(), N() + 1);
        const QList<QVariantList> rows{
            {0, QString(" 2"), 4, 250.0, -6.0, 2.0, true},
            {N(), QString(" 9"), 0, 1000.0, QString("---"), QString("---"), false},
            {N() + 1, QString(" 7"), 1, 2000.0, QString("---"), 0.7, true},
        };
        for (int r = 0; r < 3; ++r) {
            const QVariantList& want = rows[r];
            QCOMPARE(cell(r, ZunEQModel::ColNr).toInt(), want[0].toInt());
            QCOMPARE(cell(r, ZunEQModel::ColName).toString(), m_model->biquad(r)->GetName());
            QCOMPARE(cell(r, ZunEQModel::ColBank).toString(), want[1].toString());
            QCOMPARE(cell(r, ZunEQModel::ColType).toInt(), want[2].toInt());
            QCOMPARE(cell(r, ZunEQModel::ColFrequency).toDouble(), want[3].toDouble());
            for (int c : {ZunEQModel::ColGain, ZunEQModel::ColQuality}) {
                const QVariant v = cell(r, c);
                if (want[c - 1].type() == QVariant::String)
                    QCOMPARE(v.toString(), want[c - 1].toString());
                else
                    QVERIFY2(qAbs(v.toDouble() - want[c - 1].toDouble()) < 1e-6, qPrintable(v.toString()));
            }
            QCOMPARE(cell(r, ZunEQModel::ColActive).toBool(), want[6].toBool());
            for (int c = 0; c < 8; ++c) {
                // the edit role is not answered: the name and bank editors open empty
                QVERIFY(!cell(r, c, Qt::EditRole).isValid());
                QCOMPARE(cell(r, c, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
            }
        }
        QCOMPARE(cell(0, ZunEQModel::ColType, Qt::SizeHintRole).toSize(), QSize(90, 20));
        QCOMPARE(m_model->headerData(5, Qt::Horizontal).toString(), QString("Gain"));
        QCOMPARE(m_model->headerData(0, Qt::Vertical).toInt(), 1);
        // editable cells: gain only for gain types, quality only for second-order types
        auto editable = [&](int r, int c) { return bool(m_model->flags(m_model->index(r, c)) & Qt::ItemIsEditable); };
        QVERIFY(!editable(0, ZunEQModel::ColNr));
        QVERIFY(editable(0, ZunEQModel::ColName) && editable(0, ZunEQModel::ColBank));
        QVERIFY(editable(0, ZunEQModel::ColGain) && editable(0, ZunEQModel::ColQuality));
        QVERIFY(!editable(1, ZunEQModel::ColGain) && !editable(1, ZunEQModel::ColQuality));
        QVERIFY(!editable(2, ZunEQModel::ColGain) && editable(2, ZunEQModel::ColQuality));
        QVERIFY(editable(1, ZunEQModel::ColActive) && editable(1, ZunEQModel::ColType));
    }

    void editsWriteTheRecord_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("wordIndex"); // the record word that carries the change
        QTest::addColumn<int>("word");
        for (bool linked : {false, true}) {
            const char* l = linked ? "linked" : "single";
            QTest::addRow("%s frequency", l) << linked << 0 << int(ZunEQModel::ColFrequency) << QVariant(1000) << 1 << 2000;
            QTest::addRow("%s gain", l) << linked << 0 << int(ZunEQModel::ColGain) << QVariant(3.5) << 3 << 35;
            QTest::addRow("%s quality", l) << linked << 0 << int(ZunEQModel::ColQuality) << QVariant(4.0) << 2 << 1600;
            QTest::addRow("%s bank", l) << linked << 0 << int(ZunEQModel::ColBank) << QVariant(5) << 4 << 5;
            QTest::addRow("%s DSP 1 quality", l) << linked << 2 << int(ZunEQModel::ColQuality) << QVariant(1.0) << 2 << 400;
            // a type change writes the neutral record (gain 0, quality about 0.7)
            QTest::addRow("%s type", l) << linked << 0 << int(ZunEQModel::ColType) << QVariant(6) << 0 << 6;
        }
    }
    void editsWriteTheRecord()
    {
        QFETCH(bool, linked);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QVariant, value);
        QFETCH(int, wordIndex);
        QFETCH(int, word);
        m_rig->link(linked);
        const int n = cell(row, 0).toInt();
        const quint16 base = eq()->eqRecordBase(n);
        const int partner = (n + N()) % (2 * N());
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy failed(m_model.get(), &ZunEQModel::signal_exception);
        // the delegate's double set: the display role changes nothing
        QVERIFY(!m_model->setData(m_model->index(row, column), value, Qt::DisplayRole));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QVERIFY(m_model->setData(m_model->index(row, column), value, Qt::EditRole));
        QCOMPARE(failed.count(), 0);
        QVERIFY(m_rig->sent.contains(quint16(base + wordIndex), quint16(word)));
        QCOMPARE(m_rig->sent.contains(quint16(eq()->eqRecordBase(partner) + wordIndex), quint16(word)), linked);
        QCOMPARE(m_rig->sent.groups().size(), 1);
        QVERIFY(!changed.isEmpty());
        const QModelIndex cellChanged = changed.last().at(0).toModelIndex();
        QCOMPARE(cellChanged.row(), row);
        QCOMPARE(cellChanged.column(), column);
        // the same value again: nothing more
        m_rig->sent.clear();
        QVERIFY(!m_model->setData(m_model->index(row, column), value, Qt::EditRole));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void smallChangesAndNamesWriteNothing()
    {
        const QModelIndex gain = m_model->index(0, ZunEQModel::ColGain);
        QVERIFY(!m_model->setData(gain, -6.0 + 0.005));
        QVERIFY(!m_model->setData(m_model->index(0, ZunEQModel::ColFrequency), 250));
        QVERIFY(m_rig->sent.commands().isEmpty());
        QVERIFY(m_model->setData(gain, -6.0 + 0.02));
        QCOMPARE(m_rig->sent.groups().size(), 1);
        // a name stays with the object
        m_rig->sent.clear();
        QVERIFY(m_model->setData(m_model->index(0, ZunEQModel::ColName), QString("Kick")));
        QCOMPARE(cell(0, ZunEQModel::ColName).toString(), QString("Kick"));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void bypassSwitchesTheEQ()
    {
        const quint16 base = eq()->eqRecordBase(0);
        QVERIFY(m_model->setData(m_model->index(0, ZunEQModel::ColActive), false));
        // the switch itself (bit 14 set), then the whole record
        QCOMPARE(m_rig->sent.groups().size(), 2);
        QVERIFY(m_rig->sent.contains(base, 0x4004));
        QVERIFY(!cell(0, ZunEQModel::ColActive).toBool());
        m_rig->sent.clear();
        QVERIFY(!m_model->setData(m_model->index(0, ZunEQModel::ColActive), false));
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void refusedEditsLeaveModelAndDevice()
    {
        // A shelf's stored corner lies beyond the shown one: at the top of the range the
        // manager refuses the record, and the object takes the processor's values back.
        const double rate = m_rig->zun->GetSampleRate();
        int shelf = -1;
        for (int type = 5; type <= 8 && shelf < 0; ++type)
            if (CEQManager::ShelfFrequencyToDevice(30000.0, 12.0, quint16(type), rate) > 30000.0)
                shelf = type;
        QVERIFY(shelf > 0);
        m_rig->putEQ(1, quint16(shelf), 2000, 800, 120, 2);
        eq()->Rebuild();
        const int row = rowOf(1);
        QVERIFY(row >= 0);
        const double shown = cell(row, ZunEQModel::ColFrequency).toDouble();
        const Words image = m_rig->eqWords(1);
        QSignalSpy failed(m_model.get(), &ZunEQModel::signal_exception);
        m_rig->sent.clear();
        QVERIFY(!m_model->setData(m_model->index(row, ZunEQModel::ColFrequency), 30000));
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.at(0).at(0).toString().startsWith("Frequency value of 30000 is out of bounds"),
                 qPrintable(failed.at(0).at(0).toString()));
        QCOMPARE(failed.at(0).at(1).toString(), QString("ZunControl"));
        QCOMPARE(cell(row, ZunEQModel::ColFrequency).toDouble(), shown);
        QCOMPARE(cell(row, ZunEQModel::ColType).toInt(), shelf);
        QVERIFY(m_rig->sent.commands().isEmpty());
        QCOMPARE(m_rig->eqWords(1), image);
        // a value outside the setter's range leaves through its exception, nothing changed
        QCOMPARE(TableRig::failure([&] { m_model->setData(m_model->index(row, ZunEQModel::ColFrequency), 40000); }),
                 QString("Frequency value of 40000 is out of bounds. Valid values are between 15 and 30000."));
        QCOMPARE(cell(row, ZunEQModel::ColFrequency).toDouble(), shown);
        QVERIFY(m_rig->sent.commands().isEmpty());
    }

    void rowsFollowNewChangedAndDeletedEQs()
    {
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        int slot = 4;
        bool section = false;
        QPointer<CZunBiquad> b = eq()->CreateEQ(slot, section);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(m_model->rowCount(), 4);
        // a change of the object (as a device reply makes) refreshes its whole row
        b->setGain(1.0f);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last().at(0).toModelIndex(), m_model->index(rowOf(b->getNumber()), 0));
        QCOMPARE(changed.last().at(1).toModelIndex().column(), 7);
        // an EQ that was there before the model is followed as well
        changed.clear();
        m_model->biquad(0)->setGain(-1.0f);
        QCOMPARE(changed.count(), 1);
        // a deleted EQ's row goes when its object goes, before the processor answers
        eq()->DeleteZunBiquad(b, true);
        QTRY_VERIFY(!b);
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(rowOf(b ? b->getNumber() : 0xFFFF), -1);
    }

    void payloadsCarryDistinctRows()
    {
        // three cells of one row and one of another: two records, in order of appearance
        const QModelIndexList cells{m_model->index(2, 3), m_model->index(2, 5), m_model->index(0, 1),
                                    m_model->index(2, 7)};
        std::unique_ptr<QMimeData> data(m_model->mimeData(cells));
        auto* eqs = qobject_cast<ZunEQMimeData*>(data.get());
        QVERIFY(eqs);
        QVERIFY(eqs->formats().isEmpty());
        QCOMPARE(eqs->count(), 2);
        QCOMPARE(int(eqs->getEQs()[0].number), N() + 1);
        QCOMPARE(eqs->getEQs()[0].frequency, 2000.0);
        QCOMPARE(int(eqs->getEQs()[1].number), 0);
        QCOMPARE(eqs->getEQs()[1].gain, -6.0);
    }

    void proxiesTurnDropsIntoNewEQs()
    {
        // one proxy per channel, filtered on the bank text as the channel pages do
        ZunEQProxyModel same, other;
        for (auto [proxy, slot] : {std::make_pair(&same, 2), std::make_pair(&other, 9)}) {
            proxy->setSourceModel(m_model.get());
            proxy->setFilterKeyColumn(ZunEQModel::ColBank);
            proxy->setFilterRegExp(QString("%1").arg(slot, 2));
        }
        QCOMPARE(same.rowCount(), 1);
        QCOMPARE(other.rowCount(), 1);
        QCOMPARE(same.headerData(0, Qt::Vertical).toInt(), 1);
        std::unique_ptr<QMimeData> copied(same.mimeData({same.index(0, 4)}));
        for (ZunEQProxyModel* target : {&same, &other}) {
            QSignalSpy created(target, &ZunEQProxyModel::signal_NewZunBiquad);
            QVERIFY(target->dropMimeData(copied.get(), Qt::CopyAction, 0, 0, QModelIndex()));
            QCOMPARE(created.count(), 1);
            const EQ_PARAMS p = created.at(0).at(0).value<EQ_PARAMS>();
            QCOMPARE(p.frequency, 250.0);
            QCOMPARE(p.gain, -6.0);
            QCOMPARE(p.quality, 2.0);
            QCOMPARE(p.type, quint16(4));
        }
        // a channel payload gives its EQs, not its filters; foreign data nothing
        ZunChannelMimeData channel;
        channel.appendEQ(EQ_PARAMS());
        channel.appendEQ(EQ_PARAMS());
        channel.appendFilter(HO_FILTER_PARAMS());
        QSignalSpy created(&other, &ZunEQProxyModel::signal_NewZunBiquad);
        QVERIFY(other.dropMimeData(&channel, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(created.count(), 2);
        QMimeData text;
        text.setText("4;peq;100;1;1");
        QVERIFY(!other.dropMimeData(&text, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(created.count(), 2);
        QVERIFY(!ZunEQProxyModel::isValidMimeData(&text));
        QVERIFY(!ZunEQProxyModel::isValidMimeData(std::make_unique<ZunEQMimeData>().get()));
    }

    void modelOfAnotherDeviceAndReload()
    {
        QSignalSpy pointer(m_model.get(), &ZunEQModel::pointerCZunChanged);
        m_model->setPointerCZun(QSharedPointer<CZun>());
        QCOMPARE(m_model->rowCount(), 0);
        QCOMPARE(pointer.count(), 1);
        m_model->setPointerCZun(m_rig->zun);
        QCOMPARE(m_model->rowCount(), 3);
        // a full re-read replaces every object: the model resets and shows the same EQs
        eq()->Rebuild();
        QCOMPARE(m_model->rowCount(), 3);
        QCOMPARE(cell(0, ZunEQModel::ColFrequency).toDouble(), 250.0);
    }
};

QTEST_MAIN(TestEQModel)
#include "tst_eqmodel.moc"
