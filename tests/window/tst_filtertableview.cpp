// The filter table view of the channel pages: its actions, shortcuts that act on the focused
// table only, action states, drops between tables of one and of another channel, CSV import.
#include "support/TableRig.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestFilterTableView : public QObject
{
    Q_OBJECT

    std::unique_ptr<TableRig> m_rig;
    std::unique_ptr<ZunEQModel> m_eqs;
    std::unique_ptr<ZunHOFModel> m_hofs;
    std::unique_ptr<QWidget> m_page;
    ZunFilterTableView *m_a = nullptr, *m_b = nullptr, *m_x = nullptr; // EQs of slots 2, 3; filters of 2
    QSortFilterProxyModel *m_proxyA = nullptr, *m_proxyB = nullptr, *m_proxyX = nullptr;

    template<class Proxy> QSortFilterProxyModel* table(ZunFilterTableView*& view, QAbstractItemModel* source, int slot)
    {
        view = new ZunFilterTableView(m_page.get());
        m_page->layout()->addWidget(view);
        auto* proxy = new Proxy(view);
        proxy->setSourceModel(source);
        proxy->setFilterKeyColumn(2);
        proxy->setFilterRegExp(QString("%1").arg(slot, 2));
        view->setModel(proxy);
        return proxy;
    }
    static void setImport(const QVariant& on)
    {
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        on.isValid() ? s.setValue("importEqs", on) : s.remove("importEqs");
    }

private slots:
    void initTestCase() { m_rig.reset(new TableRig); }
    void init()
    {
        m_rig->makeDevice();
        m_rig->putEQ(0, 0x0004, 500, 800, 0xFFC4, 2);
        m_rig->putEQ(1, 0x0004, 2000, 400, 30, 2);
        m_rig->putEQ(2, 0x0004, 8000, 400, 30, 3);
        m_rig->eq()->Rebuild();
        m_rig->newFilter(2, 0, 8, 4, 1000.0f);
        m_eqs.reset(new ZunEQModel(m_rig->zun));
        m_hofs.reset(new ZunHOFModel(m_rig->zun));
        setImport(QVariant());
        m_page.reset(new QWidget);
        new QHBoxLayout(m_page.get());
        m_proxyA = table<ZunEQProxyModel>(m_a, m_eqs.get(), 2);
        m_proxyB = table<ZunEQProxyModel>(m_b, m_eqs.get(), 3);
        m_proxyX = table<ZunHOFProxyModel>(m_x, m_hofs.get(), 2);
        m_page->show();
        QApplication::setActiveWindow(m_page.get());
        QVERIFY(QTest::qWaitForWindowActive(m_page.get()));
        QApplication::clipboard()->clear();
    }
    void cleanup()
    {
        m_page.reset();
        m_eqs.reset();
        m_hofs.reset();
        m_rig->zun.reset();
    }

    void actionsFollowTheImportSetting()
    {
        for (const QVariant& on : {QVariant(), QVariant(false), QVariant(true)}) {
            setImport(on);
            ZunFilterTableView view;
            QStringList texts;
            for (QAction* a : view.actions()) {
                texts << a->text();
                QCOMPARE(a->shortcutContext(), Qt::WidgetWithChildrenShortcut);
            }
            QCOMPARE(texts, QStringList({"&Copy", "&Paste", "Select &All"}) + (on.toBool() ? QStringList{"&Import ..."} : QStringList()));
        }
    }

    void shortcutsActOnTheFocusedTable()
    {
        m_a->selectRow(0);
        m_a->copy();
        QSignalSpy intoA(m_proxyA, SIGNAL(signal_NewZunBiquad(EQ_PARAMS)));
        QSignalSpy intoB(m_proxyB, SIGNAL(signal_NewZunBiquad(EQ_PARAMS)));
        for (auto [view, a, b] : {std::make_tuple(m_b, 0, 1), std::make_tuple(m_a, 1, 1)}) {
            view->setFocus();
            QTRY_VERIFY(view->hasFocus());
            QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(intoA.count(), a);
            QCOMPARE(intoB.count(), b);
        }
        QTest::keyClick(m_a, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_a->selectionModel()->selectedRows().size(), 2);
        QVERIFY(m_b->selectionModel()->selectedRows().isEmpty());
        QTest::keyClick(m_a, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(qobject_cast<const ZunEQMimeData*>(QApplication::clipboard()->mimeData())->count(), 2);
    }

    void actionStatesHoldFromTheLastRightPress()
    {
        for (QAction* a : m_x->actions() + m_a->actions())
            QVERIFY(a->isEnabled());
        QApplication::clipboard()->setMimeData(m_proxyA->mimeData({m_proxyA->index(0, 0)}));
        for (ZunFilterTableView* v : {m_a, m_x})
            QTest::mousePress(v->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(200, 200));
        // nothing selected; EQ rows paste into an EQ table, not into a filter table
        QVERIFY(!m_a->copyAction()->isEnabled() && m_a->selectAllAction()->isEnabled() && m_a->pasteAction()->isEnabled());
        QVERIFY(!m_x->pasteAction()->isEnabled());
        // an empty table: nothing to select or copy
        m_proxyX->setFilterRegExp(QString("11"));
        m_x->validateActions();
        QVERIFY(!m_x->selectAllAction()->isEnabled() && !m_x->copyAction()->isEnabled());
    }

    void dropsBetweenTablesOfOneAndOfAnotherChannel()
    {
        std::unique_ptr<QMimeData> eqRows(m_proxyA->mimeData({m_proxyA->index(1, 3), m_proxyA->index(1, 4)}));
        std::unique_ptr<QMimeData> filterRows(m_proxyX->mimeData({m_proxyX->index(0, 6)}));
        ZunEQMimeData none;
        QSignalSpy intoA(m_proxyA, SIGNAL(signal_NewZunBiquad(EQ_PARAMS)));
        QSignalSpy intoB(m_proxyB, SIGNAL(signal_NewZunBiquad(EQ_PARAMS)));
        QSignalSpy intoX(m_proxyX, SIGNAL(signal_NewHighOrderFilter(HO_FILTER_PARAMS)));
        for (auto [view, data, accepted] : {std::make_tuple(m_a, eqRows.get(), true), std::make_tuple(m_b, eqRows.get(), true),
                                            std::make_tuple(m_x, eqRows.get(), false), std::make_tuple(m_b, filterRows.get(), false),
                                            std::make_tuple(m_x, filterRows.get(), true),
                                            std::make_tuple(m_a, static_cast<QMimeData*>(&none), false)}) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &enter);
            QCOMPARE(enter.isAccepted(), accepted);
            if (!accepted) // the toolkit drops only where the enter was accepted
                continue;
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &drop);
            QVERIFY(drop.isAccepted());
        }
        // the same channel duplicates the row, another channel gets a copy of it
        for (const QSignalSpy* spy : {&intoA, &intoB}) {
            QCOMPARE(spy->count(), 1);
            QCOMPARE(spy->at(0).at(0).value<EQ_PARAMS>().frequency, 1000.0);
        }
        QCOMPARE(intoX.count(), 1);
    }

    void csvImportTakesEachTablesKind()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("list.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Low;peq;100;3;1\rMid;peq;1000;-2;2\rXO;lp;80;8;4\rBad;peq;loud;1;1\r");
        f.close();
        QSignalSpy eqs(m_proxyB, SIGNAL(signal_NewZunBiquad(EQ_PARAMS)));
        QSignalSpy filters(m_proxyX, SIGNAL(signal_NewHighOrderFilter(HO_FILTER_PARAMS)));
        QSignalSpy refused(m_b, &ZunFilterTableView::signal_exception);
        m_b->importFile(f.fileName());
        m_x->importFile(f.fileName());
        m_b->importFile(dir.filePath("missing.csv"));
        QCOMPARE(eqs.count(), 2);
        QCOMPARE(eqs.at(1).at(0).value<EQ_PARAMS>().frequency, 1000.0);
        QCOMPARE(filters.count(), 1);
        // the row that could not be read is named, not dropped in silence
        QCOMPARE(refused.count(), 1);
        QVERIFY(refused.at(0).at(0).toString().contains("line 4"));
    }
};

QTEST_MAIN(TestFilterTableView)
#include "tst_filtertableview.moc"
