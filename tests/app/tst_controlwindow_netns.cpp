// The control window from the main window, end to end: an emulated processor as a host of
// a private network (ZunNetnsRig.h) is discovered and registered; a double click on its row
// in the network monitor opens its window, which connects and builds its tabs after the
// first image. A dropped link greys the tabs, a second double click brings the same window
// back with the link. Failures show one box, geometry is kept, a firmware change closes the
// window. Needs root; skips otherwise.
#include "CCmdMap.h"
#include "CZun.h"
#include "CZunNetwork.h"
#include "CZunNetworkScanDlg.h"
#include "CZunServer.h"
#include "MainWindow.h"
#include "QEditableTabWidget.h"
#include "ZunControlDlg.h"
#include "ZunMetaTypes.h"
#include "ZunNetnsRig.h"
#include "ZunNetworkTableView.h"

#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QtTest>

namespace {
enum : quint16 { Gamma = 0x0201 };
} // namespace

class TstControlWindowNetns : public QObject
{
    Q_OBJECT

    ZunNetnsRig m_rig;
    QTemporaryDir m_settingsDir;
    MainWindow* m_window = nullptr;
    QStringList m_boxes;
    QTimer m_boxCloser;

    QSharedPointer<CZun> zun() const { return m_window->deviceServer()->getZun(Gamma); }
    QMdiSubWindow* sub(ZunControlDlg* w) const { return qobject_cast<QMdiSubWindow*>(w->parentWidget()); }

    void doubleClickRow()
    {
        ZunNetworkTableView* view = m_window->networkMonitor()->tableView();
        for (int r = 0; r < view->model()->rowCount(); ++r) {
            const QModelIndex index = view->model()->index(r, 0);
            if (index.data().toInt() == Gamma) {
                const QPoint at = view->visualRect(index).center();
                QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
                QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
                return;
            }
        }
        QFAIL("the processor is not listed");
    }

    static bool tabsEnabled(const QTabWidget* tabs, bool on)
    {
        for (int i = 1; i < tabs->count(); ++i)
            if (tabs->isTabEnabled(i) != on)
                return false;
        return tabs->count() > 1;
    }

    QString menuEntry(const QString& prefix)
    {
        m_window->updateWindowMenu();
        for (QAction* a : m_window->windowMenu()->actions())
            if (a->text().startsWith(prefix))
                return a->text();
        return QString();
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        registerZunMetaTypes();
        registerDiscoveryMetaTypes();
        connect(&m_boxCloser, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    m_boxes << box->text();
                    box->done(QMessageBox::Ok);
                }
        });
        m_boxCloser.start(20);

        QString why;
        QVERIFY2(m_rig.setUp(&why), qPrintable(why));
        QVERIFY2(m_rig.startSim(Gamma, {"--name", "Gamma", "--firmware", "1080", "--hardware", "0x0F80"}, &why),
                 qPrintable(why));
        m_window = new MainWindow;
        m_window->resize(1200, 800);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(zun(), CZunNetwork::TickMs + 5000);
    }

    void cleanupTestCase()
    {
        delete m_window;
        m_rig.tearDown();
    }

    void aDoubleClickOpensConnectsAndBuildsTheTabs()
    {
        QSignalSpy image(zun().data(), &CZun::signal_ZunStatusChanged);
        doubleClickRow();
        ZunControlDlg* w = m_window->deviceWindow(Gamma);
        QVERIFY(w);
        // First start: at the origin, at least its minimum size.
        QCOMPARE(sub(w)->pos(), QPoint(0, 0));
        QCOMPARE(sub(w)->minimumSize(), QSize(910, 520));
        QTRY_VERIFY_WITH_TIMEOUT(zun()->IsConnected(), 5000);
        QVERIFY(image.size() > 0 || image.wait(20000));
        // Two sources over eight outputs: system, gain page, limiter, 2 inputs, 8 outputs, plot.
        QTRY_COMPARE(w->tabWidget()->count(), 14);
        QTRY_VERIFY(tabsEnabled(w->tabWidget(), true));
        QVERIFY2(w->windowTitle().startsWith("Gamma connected"), qPrintable(w->windowTitle()));
        // The Window menu names it; the window commands apply while it is active.
        QCOMPARE(menuEntry("Zun 513"), QString("Zun 513 : Gamma"));
        m_window->mdiArea()->setActiveSubWindow(sub(w));
        m_window->updateMenus();
        for (QAction* a : m_window->windowMenu()->actions())
            if (a->text() == "&Tile")
                QVERIFY(a->isEnabled());
        QVERIFY(m_boxes.isEmpty());
    }

    void aDroppedLinkGreysTheTabsAndASecondDoubleClickBringsItBack()
    {
        ZunControlDlg* w = m_window->deviceWindow(Gamma);
        QSignalSpy disconnected(zun().data(), &CZun::signal_Disconnected);
        QVERIFY(m_rig.control(Gamma, "droplink"));
        // The processor drops the link at the next command it gets.
        QTRY_VERIFY_WITH_TIMEOUT(
            (zun()->requestCmdStatus(zun()->GetCmdMap()->getCmdNr("Cmd_KeyLock")), disconnected.size() > 0), 5000);
        QTRY_VERIFY(tabsEnabled(w->tabWidget(), false));
        QVERIFY2(w->windowTitle().startsWith("Zun 513 disconnected"), qPrintable(w->windowTitle()));
        QCOMPARE(menuEntry("Not connected"), QString("Not connected"));
        m_boxes.clear();

        const int windows = m_window->mdiArea()->subWindowList().size();
        doubleClickRow();
        QCOMPARE(m_window->mdiArea()->subWindowList().size(), windows);
        QCOMPARE(m_window->deviceWindow(Gamma), w);
        QCOMPARE(m_window->mdiArea()->activeSubWindow(), sub(w));
        QTRY_VERIFY_WITH_TIMEOUT(zun()->IsConnected(), 5000);
        QTRY_VERIFY(tabsEnabled(w->tabWidget(), true));
        QTRY_VERIFY(w->windowTitle().startsWith("Gamma connected"));
    }

    void aFailureShowsOneBox()
    {
        m_boxes.clear();
        // Both receivers run within the emission: every box has come and gone after it.
        emit zun()->signal_exception("Something failed", "ZunControl");
        QCOMPARE(m_boxes, QStringList {"Something failed"});
    }

    void closingKeepsTheGeometryAndEndsTheConnection()
    {
        ZunControlDlg* w = m_window->deviceWindow(Gamma);
        sub(w)->resize(960, 640);
        sub(w)->move(20, 30);
        QVERIFY(sub(w)->close());
        QTRY_VERIFY(!m_window->deviceWindow(Gamma));
        QTRY_VERIFY_WITH_TIMEOUT(!zun()->IsConnected(), 5000);
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        QCOMPARE(s.value("ZunControlDlgNr513/frameSize").toSize(), QSize(960, 640));
        QCOMPARE(s.value("ZunControlDlgNr513/pos").toPoint(), QPoint(20, 30));

        // Without a window the main window shows the device's failures.
        m_boxes.clear();
        emit zun()->signal_exception("Later failure", "ZunControl");
        QCOMPARE(m_boxes, QStringList {"Later failure"});

        // Opened again where it was left.
        doubleClickRow();
        w = m_window->deviceWindow(Gamma);
        QVERIFY(w);
        QCOMPARE(sub(w)->size(), QSize(960, 640));
        QCOMPARE(sub(w)->pos(), QPoint(20, 30));
        QTRY_VERIFY_WITH_TIMEOUT(zun()->IsConnected(), 5000);
    }

    void aFirmwareChangeClosesTheWindow()
    {
        QPointer<ZunControlDlg> w = m_window->deviceWindow(Gamma);
        QVERIFY(w);
        QVERIFY(m_rig.control(Gamma, "firmware 1079"));
        QTRY_VERIFY_WITH_TIMEOUT(!w, CZunNetwork::TickMs + 5000);
        QTRY_COMPARE_WITH_TIMEOUT(zun()->GetFirmwareVersion(), quint16(1079), 5000);
    }
};

int main(int argc, char** argv)
{
    ZunNetnsRig::enterPrivateNetns();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstControlWindowNetns tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_controlwindow_netns.moc"
