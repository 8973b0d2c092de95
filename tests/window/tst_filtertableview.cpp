// The filter table view of the channel pages: its actions and their enabling, shortcuts
// that act on the focused table only, copy and paste, drag and drop between the tables of
// one channel and of another, and the CSV import.
#include "support/TableRig.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFMimeData.h"
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
    std::unique_ptr<ZunHOFModel> m_filters;
    std::unique_ptr<QWidget> m_page;
    // EQ tables of slots 2 and 3, and the filter table of slot 2
    ZunFilterTableView* m_a = nullptr;
    ZunFilterTableView* m_b = nullptr;
    ZunFilterTableView* m_x = nullptr;
    ZunEQProxyModel* m_proxyA = nullptr;
    ZunEQProxyModel* m_proxyB = nullptr;
    ZunHOFProxyModel* m_proxyX = nullptr;

    static void setImport(const QVariant& on)
    {
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        if (on.isValid())
            s.setValue("importEqs", on);
        else
            s.remove("importEqs");
    }
    template<class Proxy> Proxy* channel(ZunFilterTableView* view, QAbstractItemModel* source, int slot)
    {
        auto* proxy = new Proxy(view);
        proxy->setSourceModel(source);
        proxy->setFilterKeyColumn(2);
        proxy->setFilterRegExp(QString("%1").arg(slot, 2));
        view->setModel(proxy);
        return proxy;
    }
    void focus(QWidget* w)
    {
        w->setFocus();
        QTRY_VERIFY(w->hasFocus());
    }
    static QDragEnterEvent enter(const QMimeData* data)
    {
        return QDragEnterEvent(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
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
        m_filters.reset(new ZunHOFModel(m_rig->zun));
        setImport(QVariant());
        m_page.reset(new QWidget);
        auto* layout = new QHBoxLayout(m_page.get());
        for (ZunFilterTableView** v : {&m_a, &m_b, &m_x}) {
            *v = new ZunFilterTableView(m_page.get());
            layout->addWidget(*v);
        }
        m_proxyA = channel<ZunEQProxyModel>(m_a, m_eqs.get(), 2);
        m_proxyB = channel<ZunEQProxyModel>(m_b, m_eqs.get(), 3);
        m_proxyX = channel<ZunHOFProxyModel>(m_x, m_filters.get(), 2);
        m_page->show();
        QApplication::setActiveWindow(m_page.get());
        QVERIFY(QTest::qWaitForWindowActive(m_page.get()));
        QApplication::clipboard()->clear();
    }
    void cleanup()
    {
        m_page.reset();
        m_eqs.reset();
        m_filters.reset();
        m_rig->zun.reset();
    }

    void actionsFollowTheImportSetting_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<QStringList>("texts");
        const QStringList three{"&Copy", "&Paste", "Select &All"};
        QTest::newRow("absent") << QVariant() << three;
        QTest::newRow("off") << QVariant(false) << three;
        QTest::newRow("on") << QVariant(true) << (three + QStringList{"&Import ..."});
    }
    void actionsFollowTheImportSetting()
    {
        QFETCH(QVariant, setting);
        QFETCH(QStringList, texts);
        setImport(setting);
        ZunFilterTableView view;
        QStringList shown;
        for (QAction* a : view.actions()) {
            shown << a->text();
            QCOMPARE(a->shortcutContext(), Qt::WidgetWithChildrenShortcut);
        }
        QCOMPARE(shown, texts);
        QCOMPARE(view.contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(view.pasteAction()->shortcut(), QKeySequence("Ctrl+V"));
        QCOMPARE(view.importAction() != nullptr, texts.size() == 4);
    }

    void shortcutsActOnTheFocusedTable()
    {
        // copy the first EQ of slot 2
        m_a->selectRow(0);
        m_a->copy();
        QVERIFY(qobject_cast<const ZunEQMimeData*>(QApplication::clipboard()->mimeData()));
        QSignalSpy intoA(m_proxyA, &ZunEQProxyModel::signal_NewZunBiquad);
        QSignalSpy intoB(m_proxyB, &ZunEQProxyModel::signal_NewZunBiquad);
        focus(m_b);
        QTest::keyClick(m_b, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(intoB.count(), 1);
        QCOMPARE(intoA.count(), 0);
        focus(m_a);
        QTest::keyClick(m_a, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(intoA.count(), 1);
        QCOMPARE(intoB.count(), 1);
        // select all acts on the focused table only
        m_b->clearSelection();
        QTest::keyClick(m_a, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_a->selectionModel()->selectedRows().size(), 2);
        QVERIFY(m_b->selectionModel()->selectedRows().isEmpty());
        // Ctrl+C in the focused table copies its own rows
        QTest::keyClick(m_a, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(qobject_cast<const ZunEQMimeData*>(QApplication::clipboard()->mimeData())->count(), 2);
    }

    void actionStatesHoldFromTheLastRightPress()
    {
        // before the first right press every action is enabled
        for (ZunFilterTableView* v : {m_a, m_x})
            for (QAction* a : v->actions())
                QVERIFY(a->isEnabled());
        // nothing selected, EQ rows on the clipboard
        std::unique_ptr<QMimeData> rows(m_proxyA->mimeData({m_proxyA->index(0, 0)}));
        QApplication::clipboard()->setMimeData(rows.release());
        for (ZunFilterTableView* v : {m_a, m_x})
            QTest::mousePress(v->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(200, 200));
        QVERIFY(!m_a->copyAction()->isEnabled());
        QVERIFY(m_a->selectAllAction()->isEnabled());
        QVERIFY(m_a->pasteAction()->isEnabled());
        // EQ rows do not paste into a filter table
        QVERIFY(!m_x->pasteAction()->isEnabled());
        // an empty table: nothing to select or copy; any filter payload pastes there
        m_proxyX->setFilterRegExp(QString("11"));
        QApplication::clipboard()->setMimeData(new ZunHOFMimeData);
        m_x->validateActions();
        QVERIFY(!m_x->selectAllAction()->isEnabled());
        QVERIFY(!m_x->copyAction()->isEnabled());
        QVERIFY(m_x->pasteAction()->isEnabled());
        m_a->selectRow(0);
        m_a->validateActions();
        QVERIFY(m_a->copyAction()->isEnabled());
        QVERIFY(!m_a->pasteAction()->isEnabled());
    }

    void dropsBetweenTablesOfOneAndOfAnotherChannel()
    {
        std::unique_ptr<QMimeData> eqRows(m_proxyA->mimeData({m_proxyA->index(1, 3), m_proxyA->index(1, 4)}));
        std::unique_ptr<QMimeData> filterRows(m_proxyX->mimeData({m_proxyX->index(0, 6)}));
        QSignalSpy intoA(m_proxyA, &ZunEQProxyModel::signal_NewZunBiquad);
        QSignalSpy intoB(m_proxyB, &ZunEQProxyModel::signal_NewZunBiquad);
        QSignalSpy intoX(m_proxyX, &ZunHOFProxyModel::signal_NewHighOrderFilter);
        for (auto [view, data, accepted] : {std::make_tuple(m_a, eqRows.get(), true), std::make_tuple(m_b, eqRows.get(), true),
                                            std::make_tuple(m_x, eqRows.get(), false), std::make_tuple(m_b, filterRows.get(), false),
                                            std::make_tuple(m_x, filterRows.get(), true)}) {
            QDragEnterEvent e = enter(data);
            QApplication::sendEvent(view->viewport(), &e);
            QCOMPARE(e.isAccepted(), accepted);
            // the toolkit drops only where the enter was accepted
            if (!accepted)
                continue;
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &drop);
            QVERIFY(drop.isAccepted());
        }
        // the same channel duplicates the row, another channel gets a copy
        QCOMPARE(intoA.count(), 1);
        QCOMPARE(intoB.count(), 1);
        for (const QSignalSpy* spy : {&intoA, &intoB}) {
            const EQ_PARAMS p = spy->at(0).at(0).value<EQ_PARAMS>();
            QCOMPARE(p.frequency, 1000.0);
            QCOMPARE(p.gain, 3.0);
        }
        QCOMPARE(intoX.count(), 1);
        QCOMPARE(intoX.at(0).at(0).value<HO_FILTER_PARAMS>().sections[0], HO_FILTER_PARAMS::NoSection);
        // an empty payload is not accepted
        ZunEQMimeData none;
        QDragEnterEvent e = enter(&none);
        QApplication::sendEvent(m_a->viewport(), &e);
        QVERIFY(!e.isAccepted());
    }

    void csvImportTakesEachTablesKind()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("list.csv");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Low;peq;100;3;1\rMid;peq;1000;-2;2\rXO;lp;80;8;4\rBad;peq;loud;1;1\r");
        f.close();
        QSignalSpy eqs(m_proxyB, &ZunEQProxyModel::signal_NewZunBiquad);
        QSignalSpy filters(m_proxyX, &ZunHOFProxyModel::signal_NewHighOrderFilter);
        QSignalSpy refusedB(m_b, &ZunFilterTableView::signal_exception);
        m_b->importFile(file);
        m_x->importFile(file);
        QCOMPARE(eqs.count(), 2);
        QCOMPARE(eqs.at(1).at(0).value<EQ_PARAMS>().frequency, 1000.0);
        QCOMPARE(filters.count(), 1);
        QCOMPARE(filters.at(0).at(0).value<HO_FILTER_PARAMS>().order, quint16(4));
        // the row that could not be read is named, not dropped in silence
        QCOMPARE(refusedB.count(), 1);
        QVERIFY(refusedB.at(0).at(0).toString().contains("line 4"));
        // a file that is no CSV list adds nothing
        m_b->importFile(dir.filePath("missing.csv"));
        QCOMPARE(eqs.count(), 2);
    }
};

QTEST_MAIN(TestFilterTableView)
#include "tst_filtertableview.moc"
