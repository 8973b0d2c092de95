#include "MainWindow.h"
#include "ZunWaitQuestion.h"

#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "CCmdMapServer.h"
#include "CZun.h"
#include "CZunNetwork.h"
#include "CZunNetworkScanDlg.h"
#include "CZunServer.h"
#include "CZunStatusMonitorDialog.h"
#include "RoutingServer.h"
#include "ZunDeviceStats.h"
#include "ZunDeviceStatsModel.h"
#include "ZunManagerThread.h"
#include "ZunListReport.h"
#include "ZunNetworkTableView.h"
#include "ZunOperatorMessage.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunControlDlg.h"
#include "ZunRecallQuestion.h"
#include "ZunSystemWidget.h"
#include "CMemoryManager.h"
#include "ZunMaintenanceActions.h"
#include "ZunStatusDisplay.h"
#include "ZunSettingsWriter.h"
#include "ZunVersionProbe.h"
#include "ZunFirmwareUpdate.h"
#include "ZunOperations.h"
#include "ZunStartup.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalMapper>
#include <QTimer>
#include <QStatusBar>
#include <QUrl>
#include <QWhatsThis>

#include <algorithm>
#include <numeric>
#include <utility>
#include <exception>

namespace {
const Qt::WindowFlags MonitorFlags = Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint;
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(tr("ZunControl V2"));
    setWindowIcon(QIcon(QStringLiteral(":/favicon.ico")));

    m_mdiArea = new QMdiArea;
    // Windows that Tile lays past the area's edge (their minimums do not fit side by side)
    // stay within reach.
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &MainWindow::updateMenus);
    m_windowMapper = new QSignalMapper(this);
    connect(m_windowMapper, &QSignalMapper::mappedWidget, this, &MainWindow::setActiveSubWindow);

    createActions();
    createMenus();
    updateMenus();
    statusBar()->showMessage(tr("Ready"));

    m_cmdMapServer = new CCmdMapServer;
    m_zunServer = new CZunServer;
    m_managerThread = new ZunManagerThread;
    m_managerThread->start(QThread::InheritPriority);
    m_zunServer->moveToThread(m_managerThread);
    m_audioStatusServer = new AudioIOStatusServer;
    m_routingServer = new RoutingServer;

    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    m_networkScanDlg = new CZunNetworkScanDlg(m_mdiArea);
    QMdiSubWindow* sub = m_mdiArea->addSubWindow(m_networkScanDlg, MonitorFlags);
    // The monitors live as long as the main window: closing one (as the main window's
    // close does) must not delete it under the registrations still queued for it.
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    placeSubWindow(sub, settings.value(QStringLiteral("NetworkMonitor/frameSize")),
                   settings.value(QStringLiteral("NetworkMonitor/pos")));
    // Fitted into the area once it has its size (showEvent).
    m_placeNetworkMonitor = settings.contains(QStringLiteral("NetworkMonitor/frameSize"));
    if (!m_placeNetworkMonitor) {
        // First start: wide enough for every column, with room for the columns to widen to
        // their texts ("not locked", long names) once processors are listed.
        const ZunNetworkTableView* view = m_networkScanDlg->tableView();
        const int width = view->horizontalHeader()->length() + view->verticalHeader()->sizeHint().width()
                          + view->verticalScrollBar()->sizeHint().width() + 120;
        sub->resize(qMax(sub->width(), width), qMax(sub->height(), 340));
    }
    m_networkScanDlg->show();

    m_statusMonitor = new CZunStatusMonitorDialog(m_mdiArea);
    sub = m_mdiArea->addSubWindow(m_statusMonitor, MonitorFlags);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    if (settings.contains(QStringLiteral("StatusMonitor/frameSize"))) {
        placeSubWindow(sub, settings.value(QStringLiteral("StatusMonitor/frameSize")),
                       settings.value(QStringLiteral("StatusMonitor/pos")));
        // Placed again once the area has its size (showEvent).
        m_placeStatusMonitor = true;
    } else
        // First start: beside the network monitor, two columns of five tiles in view (a
        // narrow monitor under the network monitor would be cut off by a usual window).
        placeSubWindow(sub, QSize(2 * 215 + 40, 5 * 117 + 50),
                       QPoint(m_mdiArea->subWindowList().constFirst()->frameGeometry().right() + 1, 0));
    m_statusMonitor->show();
    // First start: room for both monitors; a stored geometry replaces it (main()).
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(firstSize(screen->availableGeometry().size()));

    CZunNetwork* net = m_networkScanDlg->network();
    ZunNetworkTableView* table = m_networkScanDlg->tableView();
    connect(m_networkScanDlg, &CZunNetworkScanDlg::identificationRequest, m_statusMonitor,
            &CZunStatusMonitorDialog::animate);
    connect(m_statusMonitor, &CZunStatusMonitorDialog::signal_statusTxTimeOut, net, &CZunNetwork::triggerStatusTxOf);
    m_statusMonitor->followStatusServer(m_audioStatusServer);
    connect(net, &CZunNetwork::zunDetected, this, &MainWindow::allocateNewCZun, Qt::QueuedConnection);
    connect(net, &CZunNetwork::zunDetected, m_cmdMapServer, &CCmdMapServer::newCmdMap, Qt::QueuedConnection);
    connect(net, &CZunNetwork::routingChanged, m_audioStatusServer,
            QOverload<QSharedPointer<ZunDeviceStats>>::of(&AudioIOStatusServer::onRoutingChanged),
            Qt::QueuedConnection);
    connect(net, &CZunNetwork::firmwareChanged, this, &MainWindow::onFirmwareUpdated, Qt::QueuedConnection);
    connect(m_audioStatusServer, &AudioIOStatusServer::masterMuteStatusChanged, m_networkScanDlg,
            &CZunNetworkScanDlg::setMasterMuteStatus, Qt::QueuedConnection);
    connect(m_networkScanDlg, &CZunNetworkScanDlg::connectionRequest, this, &MainWindow::newDevice);
    connect(net, &CZunNetwork::zunStatusBatchReceived, m_audioStatusServer, &AudioIOStatusServer::setStatusBatch,
            Qt::QueuedConnection);
    connect(net, &CZunNetwork::signal_exception, this, &MainWindow::displayMsgBox);
    connect(net, &CZunNetwork::timeoutTcpCheck, m_zunServer, &CZunServer::triggerTcpCheck);
    connect(m_zunServer, &CZunServer::hardwareInfoUpdated, net, &CZunNetwork::setHardwareInfo, Qt::QueuedConnection);
    connect(table, &ZunNetworkTableView::requestFwUpdate, m_zunServer, &CZunServer::doFirmwareUpdate,
            Qt::QueuedConnection);
    connect(table, &ZunNetworkTableView::requestSetupUpload, m_zunServer, &CZunServer::doSetupUpload,
            Qt::QueuedConnection);
    connect(table, &ZunNetworkTableView::requestSelectSetup, this, &MainWindow::selectSetupOnList);
    connect(table, &ZunNetworkTableView::requestSendUdpCommand, net, &CZunNetwork::sendUdpCmd, Qt::QueuedConnection);
    // The device server's own failures and the reports of the list's operations are
    // announced in the manager thread; a report that all was done is no warning.
    connect(m_zunServer, &CZunServer::signal_information, this,
            [this](QString caption, QString text) {
                if (!ZunListReport::saysAllDone(text))
                    displayMsgBox(text, caption);
                else
                    QMessageBox::information(nullptr, caption, ZunOperatorMessage::text(text), QMessageBox::Ok);
            },
            Qt::QueuedConnection);
    // A collection the program left unfinished (quit, killed) is put back only when its
    // processor connects, and another operation is named then: the operator is told once,
    // at the start.
    const QString configDir = settings.value(QStringLiteral("ConfigDir")).toString();
    QStringList notices {ZunStartup::unfinishedCollections(configDir), ZunStartup::unfinishedOperations(configDir)};
    notices.removeAll(QString());
    const QString unfinished = notices.join(QStringLiteral("\n\n"));
    if (!unfinished.isEmpty())
        QTimer::singleShot(0, this, [this, unfinished]() { displayMsgBox(unfinished, QStringLiteral("ZunControl")); });
}

MainWindow::~MainWindow()
{
    // The services stay (others may still hold them); only the manager thread's event loop
    // ends, so that no thread runs on while the application object goes.
    m_managerThread->quit();
    m_managerThread->wait();
}

void MainWindow::createActions()
{
    auto make = [this](const QString& text, const QString& tip) {
        auto* a = new QAction(text, this);
        a->setStatusTip(tip);
        return a;
    };
    m_closeAct = make(tr("Cl&ose"), tr("Close the active window"));
    m_closeAct->setShortcut(QKeySequence(QStringLiteral("Ctrl+F4")));
    connect(m_closeAct, &QAction::triggered, m_mdiArea, &QMdiArea::closeActiveSubWindow);
    m_closeAllAct = make(tr("Close &All"), tr("Close all the windows"));
    connect(m_closeAllAct, &QAction::triggered, m_mdiArea, &QMdiArea::closeAllSubWindows);
    m_tileAct = make(tr("&Tile"), tr("Tile the windows"));
    connect(m_tileAct, &QAction::triggered, this, &MainWindow::tileSubWindows);
    m_cascadeAct = make(tr("&Cascade"), tr("Cascade the windows"));
    connect(m_cascadeAct, &QAction::triggered, this, &MainWindow::cascadeSubWindows);
    m_nextAct = make(tr("Ne&xt"), tr("Move the focus to the next window"));
    connect(m_nextAct, &QAction::triggered, m_mdiArea, &QMdiArea::activateNextSubWindow);
    m_previousAct = make(tr("Pre&vious"), tr("Move the focus to the previous window"));
    connect(m_previousAct, &QAction::triggered, m_mdiArea, &QMdiArea::activatePreviousSubWindow);
    m_separatorAct = new QAction(this);
    m_separatorAct->setSeparator(true);
    m_onlineHelpAct = make(tr("Online &help"), tr("Open online help browser"));
    connect(m_onlineHelpAct, &QAction::triggered, this, &MainWindow::help);
    m_aboutAct = make(tr("About ZunControl"), tr("Show information about this software"));
    connect(m_aboutAct, &QAction::triggered, this, &MainWindow::about);
}

void MainWindow::createMenus()
{
    m_windowMenu = menuBar()->addMenu(tr("&Window"));
    updateWindowMenu();
    connect(m_windowMenu, &QMenu::aboutToShow, this, &MainWindow::updateWindowMenu);
    menuBar()->addSeparator();
    m_helpMenu = menuBar()->addMenu(tr("&Help"));
    m_helpMenu->addAction(m_onlineHelpAct);
    m_helpMenu->addAction(QWhatsThis::createAction(this));
    m_helpMenu->addAction(m_aboutAct);
}

void MainWindow::updateMenus()
{
    // The window commands apply to control windows only.
    const QMdiSubWindow* active = m_mdiArea->activeSubWindow();
    const bool hasControlWindow = active && qobject_cast<ZunControlDlg*>(active->widget());
    m_tileAct->setEnabled(hasControlWindow);
    m_cascadeAct->setEnabled(hasControlWindow);
    m_nextAct->setEnabled(hasControlWindow);
    m_previousAct->setEnabled(hasControlWindow);
    m_separatorAct->setVisible(hasControlWindow);
}

void MainWindow::updateWindowMenu()
{
    m_windowMenu->clear();
    m_windowMenu->addAction(m_tileAct);
    m_windowMenu->addAction(m_cascadeAct);
    m_windowMenu->addSeparator();
    m_windowMenu->addAction(m_nextAct);
    m_windowMenu->addAction(m_previousAct);
    m_windowMenu->addAction(m_separatorAct);
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    m_separatorAct->setVisible(!windows.isEmpty());
    for (QMdiSubWindow* sub : windows) {
        QString text;
        if (const auto* dlg = qobject_cast<ZunControlDlg*>(sub->widget()))
            text = dlg->getDisplayName();
        else if (sub->widget() == m_networkScanDlg)
            text = tr("Zun Network Monitor");
        else if (sub->widget() == m_statusMonitor)
            text = tr("Zun Status Monitor");
        else
            continue;
        QAction* a = m_windowMenu->addAction(text);
        a->setCheckable(true);
        a->setChecked(sub == m_mdiArea->activeSubWindow());
        connect(a, &QAction::triggered, m_windowMapper, QOverload<>::of(&QSignalMapper::map));
        m_windowMapper->setMapping(a, sub);
    }
}

void MainWindow::setActiveSubWindow(QWidget* window)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window))
        bringForward(m_mdiArea, sub);
}

void MainWindow::placeSubWindow(QMdiSubWindow* sub, const QVariant& size, const QVariant& pos)
{
    const QSize s = size.isValid() ? size.toSize() : QSize();
    const QPoint p = pos.isValid() ? pos.toPoint() : QPoint(0, 0);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->geometry().contains(p))
        sub->move(p);
    if (s.isValid() && !s.isNull())
        sub->resize(s);
    const QMdiArea* area = sub->mdiArea();
    if (area && area->isVisible() && s.isValid() && !s.isNull())
        sub->setGeometry(fittedFrame(sub->geometry(), area->viewport()->rect(), sub->minimumSize()));
}

QRect MainWindow::fittedFrame(const QRect& frame, const QRect& area, const QSize& minimum)
{
    const QSize size = frame.size().boundedTo(area.size()).expandedTo(minimum);
    const int x = qMax(area.left(), qMin(frame.left(), area.right() + 1 - size.width()));
    const int y = qMax(area.top(), qMin(frame.top(), area.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}

QPoint MainWindow::scrollToShow(const QRect& frame, const QRect& view)
{
    const auto along = [](int start, int end, int viewStart, int viewEnd) {
        if (start < viewStart || end - start > viewEnd - viewStart)
            return start - viewStart;
        return end > viewEnd ? end - viewEnd : 0;
    };
    return QPoint(along(frame.left(), frame.right(), view.left(), view.right()),
                  along(frame.top(), frame.bottom(), view.top(), view.bottom()));
}

void MainWindow::bringForward(QMdiArea* area, QMdiSubWindow* sub)
{
    // A minimised window comes back as its own restore button brings it back.
    if (sub->isMinimized())
        sub->showNormal();
    area->setActiveSubWindow(sub);
    const QPoint by = scrollToShow(sub->geometry(), area->viewport()->rect());
    if (by.x() != 0)
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + by.x());
    if (by.y() != 0)
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + by.y());
}

QSize MainWindow::firstSize(const QSize& available)
{
    // The frame is not known before the window is shown: a title bar and borders of the
    // usual window managers fit in this.
    const QSize frame(16, 48);
    return (available - frame).boundedTo(QSize(1180, 760)).expandedTo(QSize(0, 0));
}

QSize MainWindow::controlWindowFirstSize(const QSize& own, const QSize& view)
{
    return own.boundedTo(view).expandedTo(ControlWindowMinimum);
}

QList<QRect> MainWindow::tileGeometries(const QRect& area, const QList<QSize>& minimums)
{
    QList<QRect> out;
    const int n = minimums.size();
    if (n == 0 || area.isEmpty())
        return out;
    // Rows in creation order, each with as many windows as fit the area's width side by
    // side (at least one): the monitors share the first row, and a control window, as wide
    // as most of the area, gets a row of its own below them. A grid of equal columns put
    // them all in one column, the monitors at their smallest.
    QVector<QVector<int>> rows;
    int used = 0;
    for (int i = 0; i < n; ++i) {
        const int w = minimums.at(i).width();
        if (rows.isEmpty() || used + w > area.width()) {
            rows.append(QVector<int>());
            used = 0;
        }
        rows.last().append(i);
        used += w;
    }
    // Grows the smallest part a pixel at a time until the room is used: the parts end as
    // equal as their minimums allow.
    const auto share = [](QVector<int>& sizes, int room) {
        int total = std::accumulate(sizes.cbegin(), sizes.cend(), 0);
        for (; total < room; ++total)
            ++*std::min_element(sizes.begin(), sizes.end());
    };
    QVector<int> heights;
    for (const QVector<int>& row : qAsConst(rows)) {
        int h = 0;
        for (int i : row)
            h = qMax(h, minimums.at(i).height());
        heights.append(h);
    }
    share(heights, area.height());
    QVector<QRect> rects(n);
    int top = area.top();
    for (int r = 0; r < rows.size(); ++r) {
        QVector<int> widths;
        for (int i : rows.at(r))
            widths.append(minimums.at(i).width());
        share(widths, area.width());
        int left = area.left();
        for (int k = 0; k < rows.at(r).size(); ++k) {
            rects[rows.at(r).at(k)] = QRect(left, top, widths.at(k), heights.at(r));
            left += widths.at(k);
        }
        top += heights.at(r);
    }
    for (const QRect& rect : qAsConst(rects))
        out.append(rect);
    return out;
}

QRect MainWindow::statusMonitorPlace(const QRect& networkMonitor, const QRect& statusMonitor, const QRect& area)
{
    const QSize size = statusMonitor.size().boundedTo(area.size());
    const auto within = [&](const QRect& r) { return area.contains(r); };
    if (!networkMonitor.intersects(statusMonitor) && within(statusMonitor))
        return statusMonitor;
    // Beside the network monitor as on a first start, narrower if need be but one column of
    // tiles wide; else below it; else where it fits in the area, over the least of it.
    const int besideWidth = qMin(size.width(), area.right() - networkMonitor.right());
    if (besideWidth >= StatusMonitorNarrowest)
        return QRect(networkMonitor.right() + 1, area.top(), besideWidth, size.height());
    const QRect below(QPoint(area.left(), networkMonitor.bottom() + 1), size);
    if (within(below))
        return below;
    return QRect(QPoint(area.right() + 1 - size.width(), area.top()), size);
}

QMdiSubWindow* MainWindow::addControlWindow(QMdiArea* area, ZunControlDlg* dlg)
{
    QMdiSubWindow* sub = area->addSubWindow(dlg);
    sub->setMinimumSize(ControlWindowMinimum);
    sub->resize(controlWindowFirstSize(sub->sizeHint(), area->viewport()->size()));
    return sub;
}

QSize MainWindow::tileMinimum(const QMdiSubWindow* sub) const
{
    // At their bare minimums the network list showed one and a half rows and the status
    // monitor a sliver: the list gets its columns and four rows, the monitor a row of two
    // tiles (its first size holds two columns of five).
    if (sub->widget() == m_networkScanDlg) {
        const ZunNetworkTableView* view = m_networkScanDlg->tableView();
        const QSize around = sub->size() - view->size();
        const int frame = 2 * view->frameWidth();
        return around
               + QSize(view->horizontalHeader()->length() + view->verticalHeader()->width()
                           + view->verticalScrollBar()->sizeHint().width() + frame,
                       view->horizontalHeader()->height() + 4 * view->verticalHeader()->defaultSectionSize() + frame);
    }
    if (sub->widget() == m_statusMonitor)
        return QSize(2 * 215 + 40, 117 + 50);
    return QSize();
}

void MainWindow::tileSubWindows()
{
    // The area's own tiling grows the main window past the screen when the windows'
    // minimum sizes do not fit side by side.
    QList<QMdiSubWindow*> windows;
    QList<QSize> minimums;
    for (QMdiSubWindow* sub : m_mdiArea->subWindowList(QMdiArea::CreationOrder))
        if (sub->isVisible() && !sub->isMinimized()) {
            windows.append(sub);
            minimums.append(sub->minimumSize().expandedTo(sub->minimumSizeHint()).expandedTo(tileMinimum(sub)));
        }
    QRect area = m_mdiArea->viewport()->rect();
    QList<QRect> rects = tileGeometries(area, minimums);
    // Laid past the bottom, the area shows its scroll bar, which takes its width from the
    // view: the windows keep to what is left, else the bar covers their right edges.
    int bottom = area.bottom();
    for (const QRect& r : qAsConst(rects))
        bottom = qMax(bottom, r.bottom());
    if (bottom > area.bottom() && !m_mdiArea->verticalScrollBar()->isVisible()) {
        area.setWidth(area.width() - m_mdiArea->verticalScrollBar()->sizeHint().width());
        rects = tileGeometries(area, minimums);
    }
    for (int i = 0; i < windows.size(); ++i) {
        if (windows.at(i)->isMaximized())
            windows.at(i)->showNormal();
        windows.at(i)->setGeometry(rects.at(i));
    }
}

void MainWindow::displayMsgBox(QString text, QString caption)
{
    text = ZunOperatorMessage::text(text);
    QMessageBox::warning(nullptr, tr(caption.toLocal8Bit().constData()), tr(text.toLocal8Bit().constData()),
                         QMessageBox::Ok);
}

void MainWindow::about()
{
    QMessageBox::about(this, QStringLiteral("About %1").arg(QCoreApplication::applicationName()),
                       // The maker's name without a link: the project owns no address to give.
                       QStringLiteral("%1 %2 by Orvanta ")
                           .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
}

void MainWindow::help()
{
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("Zun_Manual.pdf"));
    // An absolute path starts with "/" here, which the "file:///" prefix already carries.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        // No download address: the project owns none that holds the manual.
        const QString text = QStringLiteral("The manual was not found at %1.<br> Put the manual \"Zun_Manual.pdf\" "
                                            "into %2, the folder the program is started from, and choose Help again.")
                                 .arg(path.toHtmlEscaped(), QDir::currentPath().toHtmlEscaped());
        QMessageBox::information(this, tr("Zun manual not found"), tr(text.toLocal8Bit().constData()),
                                 QMessageBox::Ok);
    }
}

ZunControlDlg* MainWindow::deviceWindow(quint16 serial) const
{
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* sub : windows)
        if (auto* dlg = qobject_cast<ZunControlDlg*>(sub->widget()); dlg && dlg->deviceNumber() == serial)
            return dlg;
    return nullptr;
}

void MainWindow::closeDeviceWindow(quint32 serial)
{
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* sub : windows) {
        auto* dlg = qobject_cast<ZunControlDlg*>(sub->widget());
        if (dlg && dlg->deviceNumber() == quint16(serial)) {
            // The program's own close (the processor runs another firmware): the window
            // built for the old one goes whatever runs; the next connection names it.
            dlg->setClosingAnyway();
            m_mdiArea->setActiveSubWindow(sub);
            m_mdiArea->closeActiveSubWindow();
        }
    }
}

ZunControlDlg* MainWindow::findOrCreateDeviceWindow(quint16 serial)
{
    if (ZunControlDlg* dlg = deviceWindow(serial)) {
        bringForward(m_mdiArea, qobject_cast<QMdiSubWindow*>(dlg->parentWidget()));
        return dlg;
    }
    auto* dlg = new ZunControlDlg(serial, m_zunServer, m_audioStatusServer);
    CZunNetwork* net = m_networkScanDlg->network();
    // Runs in the discovery thread, with the stream's default interval.
    connect(dlg, &ZunControlDlg::statusTxTimeOut, net, [net](quint16 nr) { net->triggerStatusTx(nr); },
            Qt::QueuedConnection);
    connect(net, &CZunNetwork::zunNetworkChanged, dlg,
            QOverload<QSharedPointer<ZunDeviceStats>>::of(&ZunControlDlg::updateDisplayName), Qt::QueuedConnection);
    // Discovery keeps the window's processor: a duplicate serial never reloads or closes it.
    if (const QSharedPointer<ZunDeviceStats> record = net->findDevice(serial)) {
        record->setWindowOpen(true);
        connect(dlg, &QObject::destroyed, this, [record]() { record->setWindowOpen(false); });
    }
    QMdiSubWindow* sub = addControlWindow(m_mdiArea, dlg);
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    placeSubWindow(sub, settings.value(QStringLiteral("ZunControlDlgNr%1/frameSize").arg(serial)),
                   settings.value(QStringLiteral("ZunControlDlgNr%1/pos").arg(serial)));
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    return dlg;
}

void MainWindow::newDevice(quint32 serial)
{
    const quint16 nr = quint16(serial);
    if (const QSharedPointer<CZun> zun = m_zunServer->getZun(nr)) {
        ZunControlDlg* dlg = findOrCreateDeviceWindow(nr);
        dlg->show();
        bringForward(m_mdiArea, qobject_cast<QMdiSubWindow*>(dlg->parentWidget()));
        if (!zun->IsConnected())
            dlg->connectToZun();
        return;
    }
    // A listed processor without a device object: its registration failed (or still runs).
    // Never open anything on a missing device; try the registration again.
    const QSharedPointer<ZunDeviceStats> stats = m_networkScanDlg->network()->findDevice(nr);
    if (!stats) {
        qDebug() << "Connection request for unknown Zun nr" << serial;
        return;
    }
    // A firmware this program has no tables for stays unregistered: say so, nothing else.
    if (stats->firmware() != 0 && !CCmdMap::hasVersion(stats->firmware())) {
        displayMsgBox(unsupportedText(stats), QStringLiteral("ZunControl"));
        return;
    }
    const bool probing = m_probing.contains(nr);
    if (!probing)
        allocateNewCZun(stats);
    QMessageBox::information(this, tr("ZunControl"),
                             tr("Zun %1 is not registered yet (its version could not be read). "
                                "The registration is tried again; please retry in a moment.")
                                 .arg(serial));
}

void MainWindow::allocateNewCZun(QSharedPointer<ZunDeviceStats> stats)
{
    if (!stats)
        return;
    const quint16 serial = stats->serial();
    if (m_zunServer->getZun(serial) || m_probing.contains(serial))
        return;
    if (stats->firmware() != 0) {
        registerDevice(stats);
        return;
    }
    m_probing.insert(serial);
    auto* probe = new ZunVersionProbe(stats->getIpAddress(), m_probePort, this);
    connect(probe, &ZunVersionProbe::finished, this, [this, stats, serial](bool ok, quint16 word, QString error) {
        m_probing.remove(serial);
        if (!ok) {
            qDebug().noquote() << error;
            emit signal_registered(serial, false);
            return;
        }
        stats->setFirmware(word & 0x0FFF);
        stats->setRevision(word >> 12);
        m_networkScanDlg->model()->recordChanged(stats);
        registerDevice(stats);
    });
    probe->start();
}

void MainWindow::registerDevice(QSharedPointer<ZunDeviceStats> stats)
{
    const quint16 serial = stats->serial();
    const quint16 firmware = stats->firmware();
    if (!CCmdMap::hasVersion(firmware)) {
        emit signal_registered(serial, false);
        displayMsgBox(unsupportedText(stats), QStringLiteral("ZunControl"));
        return;
    }
    try {
        const QSharedPointer<CCmdMap> map = m_cmdMapServer->getMap(firmware);
        const QSharedPointer<AudioIOStatus> audio = m_audioStatusServer->addStatus(stats, map);
        m_routingServer->createLibrary(firmware, map);
        m_zunServer->newCZun(stats, map, m_routingServer->getLibrary(firmware));
        if (const QSharedPointer<CZun> zun = m_zunServer->getZun(serial)) {
            // An open control window shows its device's failures itself: one box each.
            connect(zun.data(), &CZun::signal_exception, this, [this, serial](QString text, QString caption) {
                if (!deviceWindow(serial))
                    displayMsgBox(text, caption);
            });
            if (audio)
                audio->attachDevice(zun.data());
        }
        if (firmware >= FirstTileFirmware)
            addStatusTile(stats);
    } catch (const std::exception& e) {
        emit signal_registered(serial, bool(m_zunServer->getZun(serial)));
        displayMsgBox(QStringLiteral("Zun %1 could not be registered: %2").arg(serial).arg(QString::fromLocal8Bit(e.what())),
                      QStringLiteral("ZunControl"));
        return;
    }
    emit signal_registered(serial, true);
}

QString MainWindow::unsupportedText(const QSharedPointer<ZunDeviceStats>& stats)
{
    return QStringLiteral("Zun %1 could not be registered: Firmware Version %2 is not supported")
        .arg(stats->serial())
        .arg(stats->firmware());
}

void MainWindow::addStatusTile(QSharedPointer<ZunDeviceStats> stats)
{
    const quint16 serial = stats->serial();
    m_statusMonitor->addStatusWindow(stats, m_audioStatusServer->getStatus(serial));
    ZunStatusDisplay* tile = m_statusMonitor->getStatusDisplay(serial);
    if (!tile)
        return;
    CZunNetwork* net = m_networkScanDlg->network();
    connect(net, &CZunNetwork::routingChanged, tile, &ZunStatusDisplay::onRoutingChanged, Qt::QueuedConnection);
    connect(net, &CZunNetwork::zunNetworkChanged, tile, &ZunStatusDisplay::onNetworkChanged, Qt::QueuedConnection);
    connect(tile, &ZunStatusDisplay::masterMuteTriggered, net, &CZunNetwork::masterMute);
    connect(tile, &ZunStatusDisplay::connectionRequest, this, &MainWindow::newDevice);
}

void MainWindow::selectSetupOnList(QList<quint32> serials, quint16 number)
{
    // A processor whose control window holds changes no setup holds asks what its own
    // recall asks; a cancelled one is left out.
    QList<quint32> recall, storeFirst;
    for (quint32 serial : qAsConst(serials)) {
        ZunControlDlg* dlg = deviceWindow(quint16(serial));
        const QSharedPointer<CZun> zun = m_zunServer->getZun(quint16(serial));
        // One that runs another long operation is refused by the recall, and its report names
        // what runs: nothing to ask first.
        const bool busy = zun && !zun->GetOperations()->running().isEmpty();
        if (dlg && zun && !busy && zun->IsConnected() && zun->IsSetupModified()) {
            bringForward(m_mdiArea, qobject_cast<QMdiSubWindow*>(dlg->parentWidget()));
            const bool canStore =
                ZunSystemWidget::isStorePosition(zun->GetActiveSetup(), zun->GetMemoryManager()->setupListSize());
            const ZunRecallQuestion::Answer answer = ZunRecallQuestion::ask(dlg, canStore);
            if (answer == ZunRecallQuestion::Cancel)
                continue;
            if (answer == ZunRecallQuestion::Store)
                storeFirst << serial;
        }
        recall << serial;
    }
    if (recall.isEmpty())
        return;
    CZunServer* server = m_zunServer;
    QMetaObject::invokeMethod(
        server, [server, recall, number, storeFirst]() { server->doSelectSetup(recall, number, storeFirst); },
        Qt::QueuedConnection);
}

void MainWindow::onFirmwareUpdated(QSharedPointer<ZunDeviceStats> stats)
{
    if (!stats)
        return;
    const quint16 serial = stats->serial();
    // The window is built for the old firmware's commands: it closes, and the operator is
    // told, unless the window's own update told it already.
    const ZunControlDlg* open = deviceWindow(serial);
    const ZunMaintenanceActions* actions =
        open && open->advancedTab() ? open->advancedTab()->maintenance() : nullptr;
    const QSharedPointer<CZun> zun = m_zunServer->getZun(serial);
    // An update still waiting for the processor's restart is done: this box is its one end.
    const bool ended = zun && zun->GetFirmwareUpdate()->endByAnnouncement();
    const bool wasOpen = open != nullptr, told = !ended && actions && actions->hasToldFirmwareUpdate();
    closeDeviceWindow(serial);
    if (!zun) {
        // Never registered (its probe failed): register it now with the new firmware.
        allocateNewCZun(stats);
        return;
    }
    const quint16 firmware = stats->firmware();
    try {
        const QSharedPointer<CCmdMap> map = m_cmdMapServer->getMap(firmware);
        m_routingServer->createLibrary(firmware, map);
        const quint16 oldFirmware = zun->GetFirmwareVersion();
        // Reports its own failure through the device object's signal_exception.
        m_zunServer->updateFirmwareVersion(stats, map, m_routingServer->getLibrary(firmware));
        // A failed take-over leaves the object's old number: the tile that an earlier
        // change added must not be added twice.
        if (oldFirmware < FirstTileFirmware && firmware >= FirstTileFirmware
            && !m_statusMonitor->getStatusDisplay(serial)) {
            m_audioStatusServer->removeStatus(serial);
            const QSharedPointer<AudioIOStatus> audio = m_audioStatusServer->addStatus(stats, map);
            if (audio)
                audio->attachDevice(zun.data());
            addStatusTile(stats);
        }
        if (wasOpen && !told && zun->GetFirmwareVersion() == firmware)
            QMessageBox::information(nullptr, tr("ZunControl"),
                                     tr("Zun %1 now runs firmware %2. Its control window was closed for the new "
                                        "firmware: open it again to reconnect.")
                                         .arg(serial)
                                         .arg(firmware));
    } catch (const std::exception& e) {
        displayMsgBox(QStringLiteral("Zun %1: the firmware change could not be taken over: %2")
                          .arg(serial)
                          .arg(QString::fromLocal8Bit(e.what())),
                      QStringLiteral("ZunControl"));
    }
    emit signal_registered(serial, true);
}

QString MainWindow::quitQuestion() const
{
    // Every processor's long operations, whoever started them (a control window, the
    // network list, a connection that puts a backup back).
    QStringList writing;
    for (quint16 serial : m_zunServer->serials())
        if (const QSharedPointer<CZun> zun = m_zunServer->getZun(serial))
            for (const QString& operation : zun->GetOperations()->runningTexts())
                writing << (zun->GetName().isEmpty() ? QStringLiteral("Zun %1: %2").arg(serial).arg(operation)
                                                      : QStringLiteral("Zun %1 (%2): %3").arg(serial).arg(zun->GetName(), operation));
    if (writing.isEmpty())
        return QString();
    return QStringLiteral("Still writing to the processors:\n\n%1\n\nQuitting now stops each of these and "
                          "leaves its processor part-written. Wait until they have ended, or quit anyway?")
        .arg(writing.join(QLatin1Char('\n')));
}

void MainWindow::cascadeSubWindows()
{
    m_mdiArea->cascadeSubWindows();
    // Windows that leave the area's scrolled part left their old frames on its background.
    m_mdiArea->viewport()->update();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    const QList<QMdiSubWindow*> subs = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    if (std::exchange(m_placeNetworkMonitor, false) && !subs.isEmpty())
        subs.at(0)->setGeometry(
            fittedFrame(subs.at(0)->geometry(), m_mdiArea->viewport()->rect(), subs.at(0)->minimumSize()));
    if (!m_placeStatusMonitor)
        return;
    m_placeStatusMonitor = false;
    if (subs.size() < 2)
        return;
    // Opened over the network monitor it would hide it (it opens on top); past the area's
    // edge (its place and size after Cascade) it is cut off.
    const QRect place = statusMonitorPlace(subs.at(0)->geometry(), subs.at(1)->geometry(), m_mdiArea->viewport()->rect());
    if (place != subs.at(1)->geometry())
        subs.at(1)->setGeometry(place);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Quitting stops what a window writes to a processor half-way: the operator decides.
    const QString question = quitQuestion();
    if (!question.isEmpty()) {
        if (!ZunWaitQuestion::anyway(this, question, tr("Quit anyway"))) {
            event->ignore();
            return;
        }
    }
    // Answered: the windows ask no more, and what the quit stops stays on record for the
    // next connection to name.
    if (!question.isEmpty())
        for (quint16 serial : m_zunServer->serials())
            if (const QSharedPointer<CZun> zun = m_zunServer->getZun(serial))
                zun->GetOperations()->markStopped();
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* sub : windows) {
        if (auto* dlg = qobject_cast<ZunControlDlg*>(sub->widget()))
            dlg->setClosingAnyway();
        sub->close();
    }
    ZunSettingsWriter::store(QStringLiteral("MainWindow/geometry"), saveGeometry());
    QWidget::closeEvent(event);
}
