// The limiter table (model and delegate) and the limiter tab of a device object that is
// not connected: columns by hardware, copied paths, units and reference points, what an
// edit stores and what it reports.
#include "CZunDoubleSpinBox.h"
#include "CZunFIRLimManager.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "LimTableDelegate.h"
#include "LimiterWidget.h"
#include "ZunLimModel.h"
#include "ZunSignalSpy.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace DeviceTestRig;

// A model shown in a view with the limiter delegate.
struct Table
{
    explicit Table(QSharedPointer<CZun> zun) : model(zun), delegate(zun, &view) { view.setModel(&model); }
    // Minimum, maximum and decimals of the cell's editor.
    QVector<double> range(const QModelIndex& cell)
    {
        std::unique_ptr<QWidget> w(delegate.createEditor(&view, QStyleOptionViewItem(), cell));
        auto* box = qobject_cast<QDoubleSpinBox*>(w.get());
        return box ? QVector<double>({box->minimum(), box->maximum(), double(box->decimals())}) : QVector<double>();
    }
    ZunLimModel model;
    QTableView view;
    LimTableDelegate delegate;
};

class TestLimiter : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    QSharedPointer<CZun> m_zun;
    QShPtrFLE m_set0, m_set1;

    void make(quint32 hardware)
    {
        m_zun.reset(new CZun(record(1080, 42, 0, hardware), map(1080), QSharedPointer<CRoutingLibrary>()));
        m_set0 = QShPtrFLE::create(QString(), 48000.0);
        m_set1 = QShPtrFLE::create(QString(), 48000.0);
        // Every path with thermal and peak limits of its own.
        for (int o = 0; o < 4; ++o) {
            m_set0->setPathFlagByte(o, 1);
            m_set1->setPathFlagByte(o, 1);
        }
    }
    void image(const char* name, quint16 value)
    {
        m_zun->GetStatusBuffer()->setValue(m_zun->GetCmdMap()->getCmdNr(name), value);
    }
    void feed(ZunLimModel& model)
    {
        model.on_FIRFilterChanged(1, m_set0, 0);
        model.on_FIRFilterChanged(2, m_set1, 1);
    }

private slots:
    void initTestCase() { m_config.reset(new Config); }
    void cleanup() { m_zun.reset(); }

    void columnsFollowTheHardware_data()
    {
        QTest::addColumn<quint32>("hardware");
        QTest::addColumn<int>("columns");
        QTest::newRow("two boards") << quint32(0xFF94) << 8;
        QTest::newRow("one board") << quint32(0xFF14) << 4;
        QTest::newRow("not yet known") << quint32(0) << 0;
    }
    void columnsFollowTheHardware()
    {
        QFETCH(quint32, hardware);
        QFETCH(int, columns);
        make(hardware);
        ZunLimModel model(m_zun);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.columnCount(), columns);
        QCOMPARE(model.rowCount(), 9);
        feed(model);
        QCOMPARE(model.columnCount(), columns);
        QCOMPARE(model.headerData(20, Qt::Horizontal).toString(), QStringLiteral("21")); // beyond the outputs
    }

    void copiedPathsAreMarkedAndReadOnly()
    {
        make(0xFF94);
        image("Cmd_0_FIRCopy", 1);
        ZunLimModel model(m_zun);
        feed(model);
        for (int row = 0; row < 9; ++row) {
            for (int col : {0, 1}) {
                QVERIFY(ZunLimModel::isCopiedPath(model.index(row, col)));
                QVERIFY(!model.flags(model.index(row, col)).testFlag(Qt::ItemIsEditable));
            }
            QVERIFY(!ZunLimModel::isCopiedPath(model.index(row, 2)));
            QCOMPARE(model.flags(model.index(row, 2)).testFlag(Qt::ItemIsEditable), row != 8);
        }
        // An output whose limiter path is another one's: the first four rows are marked.
        m_set0->setOutput(2, {}, 0, 3);
        model.reloadModel();
        QVERIFY(ZunLimModel::isCopiedPath(model.index(3, 2)));
        QVERIFY(!ZunLimModel::isCopiedPath(model.index(5, 2)));
        // A path without thermal and peak limits of its own: rows 4 to 6 are marked.
        m_set0->setPathFlagByte(3, 0);
        QVERIFY(ZunLimModel::isCopiedPath(model.index(4, 3)));
        QVERIFY(!ZunLimModel::isCopiedPath(model.index(3, 3)));
    }

    // Thresholds and their editors follow the unit; the surge duration is shown in ms
    // (0.0125 s as 13ms), edited as 12.5, and a 0.5 ms step is stored.
    void cellsAndEditorsFollowTheUnit()
    {
        make(0xFF14);
        Table t(m_zun);
        feed(t.model);
        const QModelIndex cell = t.model.index(ZunLimModel::RowContinuous, 0);
        QCOMPARE(t.delegate.cellText(cell), QStringLiteral("100W"));
        QCOMPARE(t.range(cell), QVector<double>({1.0, 15000.0, 0.0}));
        ZunSignalSpy reset(&t.model, &ZunLimModel::modelReset);
        t.model.setUnitAndReference(ZunC::dBu, ZunC::AmplifierOutput);
        QCOMPARE(reset.count(), 1);
        const double dbu = m_set0->limiterThreshold(CBlockFIR::RowContinuous, 0, ZunC::dBu, 0);
        QCOMPARE(t.delegate.cellText(cell), QLocale::system().toString(dbu, 'f', 1) + QStringLiteral("dBu"));
        QCOMPARE(t.range(cell), QVector<double>({-30.0, 60.0, 2.0}));
        t.model.setUnitAndReference(ZunC::Watt, ZunC::AmplifierOutput);
        QVERIFY(t.model.setData(cell, 350.9));
        QCOMPARE(t.delegate.cellText(cell), QStringLiteral("350W"));

        const QModelIndex surge = t.model.index(ZunLimModel::RowSurgeDuration, 1);
        QVERIFY(t.model.setData(surge, 0.0125));
        QCOMPARE(t.delegate.cellText(surge), QStringLiteral("13ms"));
        std::unique_ptr<QWidget> editor(t.delegate.createEditor(&t.view, QStyleOptionViewItem(), surge));
        auto* box = qobject_cast<CZunDoubleSpinBox*>(editor.get());
        QVERIFY(box);
        t.delegate.setEditorData(box, surge);
        QCOMPARE(box->value(), 12.5);
        box->setValue(13.0);
        t.delegate.setModelData(box, &t.model, surge);
        QCOMPARE(m_set0->surgeDuration(1), 0.013);
        // a step is committed at once, typed text when the edit ends
        connect(&t.delegate, &QAbstractItemDelegate::commitData, &t.view,
                [&](QWidget* w) { t.delegate.setModelData(w, &t.model, surge); });
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(m_set0->surgeDuration(1), 0.0125);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("40"));
        t.delegate.setModelData(box, &t.model, surge);
        QCOMPARE(m_set0->surgeDuration(1), 0.04);
    }

    void typedValuesReadBackInTheirUnit_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("reference");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<double>("maxOutput");
        for (int ref : {0, 1}) {
            const char* r = ref ? "Zun out" : "amp out";
            QTest::addRow("W %s", r) << 0 << ref << 350.0 << (ref ? 2.0 : 1500.0);
            QTest::addRow("V rms %s", r) << 1 << ref << 25.5 << (ref ? 4.5 : 80.5);
            QTest::addRow("V peak %s", r) << 2 << ref << 36.5 << (ref ? 6.5 : 120.5);
            QTest::addRow("dBu %s", r) << 3 << ref << 12.25 << (ref ? 15.75 : 40.25);
            QTest::addRow("dBV %s", r) << 4 << ref << -3.5 << (ref ? 12.5 : 38.75);
        }
    }
    void typedValuesReadBackInTheirUnit()
    {
        QFETCH(int, unit);
        QFETCH(int, reference);
        QFETCH(double, threshold);
        QFETCH(double, maxOutput);
        make(0xFF14);
        ZunLimModel model(m_zun);
        feed(model);
        model.setUnitAndReference(ZunC::Units(unit), ZunC::LimiterReference(reference));
        const double res = std::pow(10.0, -model.editorDecimals(1)) / 2;
        for (int row : {1, 2, 4, 6}) {
            const QModelIndex cell = model.index(row, 3);
            QVERIFY2(model.setData(cell, threshold), qPrintable(QString::number(row)));
            QVERIFY(qAbs(model.data(cell).toDouble() - threshold) < res);
        }
        const QModelIndex max = model.index(ZunLimModel::RowMaxOutput, 3);
        QVERIFY(model.setData(max, maxOutput));
        QVERIFY(qAbs(model.data(max).toDouble() - maxOutput) < res);
    }

    // Compared as the operator sees the value: in the unit and at the reference shown.
    void unchangedEntriesWriteNothing()
    {
        make(0xFF14);
        ZunLimModel model(m_zun);
        feed(model);
        model.setUnitAndReference(ZunC::dBu, ZunC::ControllerOutput);
        const QModelIndex cell = model.index(ZunLimModel::RowPeak, 0);
        ZunSignalSpy changed(&model, &ZunLimModel::dataChanged);
        const double shown = std::round(model.data(cell).toDouble() * 100.0) / 100.0;
        QVERIFY(!model.setData(cell, shown));
        QVERIFY(!model.setData(model.index(ZunLimModel::RowMaxOutput, 0), 18.0));
        QVERIFY(!m_set0->limiterModified());
        QCOMPARE(changed.count(), 0);
        // The value the other reference shows is a change here.
        const double atAmp = m_set0->limiterThreshold(CBlockFIR::RowPeak, 0, ZunC::dBu, 0);
        QVERIFY(model.setData(cell, atAmp));
        QVERIFY(qAbs(model.data(cell).toDouble() - atAmp) < 0.005);
        QCOMPARE(changed.count(), 1);
        QVERIFY(m_set0->limiterModified());
    }

    void refusedEditsAreNotReportedAsStored()
    {
        make(0xFF14);
        ZunLimModel model(m_zun);
        feed(model);
        QVERIFY(model.setData(model.index(ZunLimModel::RowGain, 0), 50.0));
        model.setUnitAndReference(ZunC::dBu, ZunC::ControllerOutput);
        const QModelIndex cell = model.index(ZunLimModel::RowSurge, 0);
        const double before = model.data(cell).toDouble();
        ZunSignalSpy changed(&model, &ZunLimModel::dataChanged);
        ZunSignalSpy failed(&model, &ZunLimModel::signal_exception);
        // 60 dBu at the controller output is far beyond any amplifier's power behind 50 dB.
        QVERIFY(!model.setData(cell, 60.0));
        QCOMPARE(model.data(cell).toDouble(), before);
        QCOMPARE(changed.count(), 0);
        // A value the set cannot hold at all is reported, nothing stored.
        QVERIFY(!model.setData(model.index(ZunLimModel::RowImpedance, 0), -1.0));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(m_set0->impedance(0), 8.0);
    }

    void tabUnitReferenceAndSubmit()
    {
        QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        settings.setValue(QStringLiteral("ColorButtonActive"), QColor(Qt::red));
        settings.setValue(QStringLiteral("ColorButtonInactive"), QColor(Qt::green));
        make(0xFF14);
        LimiterWidget tab(m_zun);
        QVERIFY(!tab.linkCheckBox()); // one board: nothing to link
        tab.model()->on_FIRFilterChanged(1, m_set0, 0);
        QVERIFY(!tab.submitButton()->isEnabled());
        // Mended: disabled, it was the alarm colour with dark red text. Now the plain button,
        // its text readable on it.
        QVERIFY(tab.submitButton()->styleSheet().startsWith("QPushButton {background-color: #00ff00;}"));
        QVERIFY(!tab.submitButton()->styleSheet().contains("#ff0000"));
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        const QImage submit = tab.submitButton()->grab().toImage();
        const QColor ground = submit.pixelColor(submit.width() / 8, submit.height() / 2);
        QVERIFY(qAbs(ground.red() - ground.green()) < 40); // no red
        int darkest = 255, lightest = 0;
        for (int y = 0; y < submit.height(); ++y)
            for (int x = 0; x < submit.width(); ++x) {
                darkest = qMin(darkest, submit.pixelColor(x, y).lightness());
                lightest = qMax(lightest, submit.pixelColor(x, y).lightness());
            }
        QVERIFY(qMax(lightest - ground.lightness(), ground.lightness() - darkest) >= 90);
        QVERIFY(!tab.referenceCombo()->isEnabled());
        // dBu at the Zun output: the model follows, without the amplifier gain.
        tab.referenceCombo()->setCurrentIndex(1);
        tab.unitCombo()->setCurrentIndex(1);
        QTRY_COMPARE(tab.model()->unit(), ZunC::dBu);
        QCOMPARE(tab.model()->reference(), ZunC::ControllerOutput);
        QVERIFY(tab.referenceCombo()->isEnabled());
        // Watts: the amplifier output, whatever the reference combo shows.
        tab.unitCombo()->setCurrentIndex(0);
        QTRY_COMPARE(tab.model()->unit(), ZunC::Watt);
        QCOMPARE(tab.model()->reference(), ZunC::AmplifierOutput);
        QVERIFY(!tab.referenceCombo()->isEnabled());

        QTRY_VERIFY(!tab.submitButton()->isEnabled());
        QVERIFY(tab.model()->setData(tab.model()->index(ZunLimModel::RowContinuous, 0), 120.0));
        QTRY_VERIFY(tab.submitButton()->isEnabled());
        tab.unitCombo()->setCurrentIndex(2);
        QTRY_VERIFY(!tab.submitButton()->isEnabled());
        make(0xFF94);
        QVERIFY(LimiterWidget(m_zun).linkCheckBox());
    }

    // Linked DSPs: one edit changes the output on both DSPs and both columns are named,
    // whether the DSPs share one object or the processor links two copies.
    void linkedEditsChangeBothColumns()
    {
        make(0xFF94);
        ZunLimModel model(m_zun);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.on_FIRFilterChanged(1, m_set0, 0);
        model.on_FIRFilterChanged(2, m_set0, 0);
        ZunSignalSpy changed(&model, &ZunLimModel::dataChanged);
        auto columns = [&]() {
            QSet<int> c;
            for (const QList<QVariant>& a : qAsConst(changed))
                for (int i : {0, 1})
                    c << a.at(i).toModelIndex().column();
            changed.clear();
            return c;
        };
        QVERIFY(model.setData(model.index(ZunLimModel::RowGain, 6), 30.0));
        QCOMPARE(columns(), QSet<int>({2, 6}));
        QCOMPARE(model.data(model.index(ZunLimModel::RowGain, 2)).toDouble(), 30.0);

        model.on_FIRFilterChanged(2, m_set1, 1);
        QVERIFY(model.setData(model.index(ZunLimModel::RowGain, 1), 31.0));
        QCOMPARE(columns(), QSet<int>({1})); // apart: the other DSP keeps its own
        QCOMPARE(m_set1->ampGain(1), 26.0);
        image("Cmd_SetupFlags", 2);
        QVERIFY(model.setData(model.index(ZunLimModel::RowImpedance, 5), 4.0));
        QCOMPARE(columns(), QSet<int>({1, 5}));
        QCOMPARE(m_set0->impedance(1), 4.0);
        QCOMPARE(m_set1->impedance(1), 4.0);
    }

    // A window opened while the manager keeps the DSPs' sets linked shows the box checked.
    void linkBoxStartsFromTheManager()
    {
        make(0xFF94);
        CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
        ZunSignalSpy linked(fir, &CZunFIRLimManager::signal_FirFiltersLinked);
        fir->SetFirFiltersLinked(true);
        QTRY_COMPARE_WITH_TIMEOUT(linked.count(), 1, 20000);
        LimiterWidget tab(m_zun);
        QVERIFY(tab.linkCheckBox()->isChecked());
        fir->SetFirFiltersLinked(false);
        QTRY_VERIFY(!tab.linkCheckBox()->isChecked());
    }

    // Edits typed after a submit stay with the same filter when the manager reports it
    // again (the stored result), and are dropped for another filter.
    void laterEditsFollowTheSameFilter()
    {
        make(0xFF14);
        ZunLimModel model(m_zun);
        feed(model);
        QVERIFY(model.setData(model.index(ZunLimModel::RowGain, 0), 20.0));
        model.submitted();
        QVERIFY(!model.carriesEdits());
        QVERIFY(model.setData(model.index(ZunLimModel::RowGain, 0), 18.0));
        model.setUnitAndReference(ZunC::dBu, ZunC::ControllerOutput);
        QVERIFY(model.setData(model.index(ZunLimModel::RowPeak, 1), 12.0));
        // The stored result: the submitted 20 dB, the later edits typed again.
        auto stored = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            stored->setPathFlagByte(o, 1);
        stored->setAmpGain(20.0, 0);
        stored->computeKey();
        model.on_FIRFilterChanged(1, stored, 0);
        QVERIFY(model.carriesEdits());
        QCOMPARE(stored->ampGain(0), 18.0);
        QVERIFY(qAbs(stored->limiterThreshold(CBlockFIR::RowPeak, 1, ZunC::dBu, 1) - 12.0) < 1e-9);
        QVERIFY(stored->limiterModified());
        // Another filter: nothing carried.
        auto other = QShPtrFLE::create(QString(), 48000.0);
        other->setOutput(0, QVector<qint32>(16, 5), 2, 0);
        model.on_FIRFilterChanged(1, other, 0);
        QVERIFY(!model.carriesEdits());
        QCOMPARE(other->ampGain(0), 26.0);
        model.on_FIRFilterChanged(1, stored, 0);
        QVERIFY(!model.carriesEdits());
    }
};

QTEST_MAIN(TestLimiter)
#include "tst_limiter.moc"
