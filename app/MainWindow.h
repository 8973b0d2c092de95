#pragma once

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QSet>
#include <QSharedPointer>

class AudioIOStatusServer;
class CCmdMapServer;
class CZunNetworkScanDlg;
class CZunServer;
class CZunStatusMonitorDialog;
class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSignalMapper;
class RoutingServer;
class ZunDeviceStats;
class ZunControlDlg;
class ZunManagerThread;

// The application's one top-level window: an MDI area holding the network monitor, the
// status monitor and one control window per processor. It creates the
// device services and the manager thread of the device server, wires discovery to them,
// registers every processor discovery reports (version probe when the announce carries
// no firmware, command map, audio status, device object and, from firmware 1077, a status
// tile) and shows a warning box for every failure the system reports.
//
// The services and the manager thread live until the process ends.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr quint16 FirstTileFirmware = 1077;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QMdiArea* mdiArea() const { return m_mdiArea; }
    CZunNetworkScanDlg* networkMonitor() const { return m_networkScanDlg; }
    CZunStatusMonitorDialog* statusMonitor() const { return m_statusMonitor; }
    CZunServer* deviceServer() const { return m_zunServer; }
    CCmdMapServer* cmdMapServer() const { return m_cmdMapServer; }
    AudioIOStatusServer* audioStatusServer() const { return m_audioStatusServer; }
    RoutingServer* routingServer() const { return m_routingServer; }
    QMenu* windowMenu() const { return m_windowMenu; }
    // Test seam: the TCP port of the version probe (5000).
    void setProbePort(quint16 port) { m_probePort = port; }

    // The processor's control window, null when none is open.
    ZunControlDlg* deviceWindow(quint16 serial) const;

    // Places a sub-window from stored geometry (size and position keys); in an area already
    // shown, fitted into it (fittedFrame).
    static void placeSubWindow(QMdiSubWindow* sub, const QVariant& size, const QVariant& pos);
    // A stored frame in the area it opens in: no larger than the area (never below the
    // window's minimum), and moved back until it lies inside, its title bar first. A place
    // stored on a larger screen otherwise put the close button past the area's edge.
    static QRect fittedFrame(const QRect& frame, const QRect& area, const QSize& minimum);
    // What the area scrolls by so that a frame lies in the view: none when it does, else
    // the least that shows it whole, or its top left where it is larger than the view.
    static QPoint scrollToShow(const QRect& frame, const QRect& view);
    // A sub-window brought forward (Window menu, a processor's row or tile): activated and
    // scrolled into view. After Tile a window may lie past the area's visible part.
    static void bringForward(QMdiArea* area, QMdiSubWindow* sub);

    // The smallest a control window's frame gets.
    static constexpr QSize ControlWindowMinimum {910, 520};
    // The main window's first size on a screen with the given free area: room for both
    // monitors, and the whole window with the frame the window manager adds (its status
    // bar) on the screen.
    static QSize firstSize(const QSize& available);
    // A control window's first frame size: its own, within the MDI area's view so that its
    // status bar shows, never below the minimum.
    static QSize controlWindowFirstSize(const QSize& own, const QSize& view);
    // Tile: a grid over the area, one cell per window, each window at least its minimum
    // size and none over another. When the minimums do not fit side by side the grid runs
    // past the area's right or bottom edge (the area scrolls; the main window keeps its
    // size), preferring a grid as wide as the area.
    static QList<QRect> tileGeometries(const QRect& area, const QList<QSize>& minimums);
    // Where the status monitor goes at start, in the area: where it was, unless that covers
    // the network monitor or runs past the area (as after Cascade), then beside the network
    // monitor as on a first start (narrower if need be), else below it.
    static QRect statusMonitorPlace(const QRect& networkMonitor, const QRect& statusMonitor, const QRect& area);
    // One column of status tiles.
    static constexpr int StatusMonitorNarrowest = 215 + 40;
    // Adds a control window to the area as a first opening does (no stored geometry).
    static QMdiSubWindow* addControlWindow(QMdiArea* area, ZunControlDlg* dlg);
    // What quitting asks first: the operations the control windows are writing to their
    // processors, each named; empty when none is.
    QString quitQuestion() const;

signals:
    // A registration finished: with a device object or (probe failed) without.
    void signal_registered(quint32 serial, bool withDevice);

public slots:
    void newDevice(quint32 serial);
    void displayMsgBox(QString text, QString caption);
    void updateMenus();
    void updateWindowMenu();
    void help();
    void about();
    void allocateNewCZun(QSharedPointer<ZunDeviceStats> stats);
    void onFirmwareUpdated(QSharedPointer<ZunDeviceStats> stats);
    // "Recall Setup" of the network list: asks first where an open window holds unsaved
    // changes, then hands the recall to the device server.
    void selectSetupOnList(QList<quint32> serials, quint16 number);
    void setActiveSubWindow(QWidget* window);
    // Window > Tile: the visible sub-windows side by side within the area.
    void tileSubWindows();
    // Window > Cascade: the area's own, and the area painted anew after it.
    void cascadeSubWindows();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createActions();
    void createMenus();
    void registerDevice(QSharedPointer<ZunDeviceStats> stats);
    void addStatusTile(QSharedPointer<ZunDeviceStats> stats);
    // The box text for a processor whose firmware this program has no tables for.
    static QString unsupportedText(const QSharedPointer<ZunDeviceStats>& stats);
    void closeDeviceWindow(quint32 serial);
    // What Tile gives a window at least beside its minimum size: a monitor room to show
    // what it is for.
    QSize tileMinimum(const QMdiSubWindow* sub) const;
    // Activates the processor's control window, or opens one.
    ZunControlDlg* findOrCreateDeviceWindow(quint16 serial);

    // The monitors' stored places are checked against the area at the first show.
    bool m_placeStatusMonitor = false;
    bool m_placeNetworkMonitor = false;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_aboutAct = nullptr;
    QAction* m_closeAct = nullptr;
    QAction* m_closeAllAct = nullptr;
    QAction* m_tileAct = nullptr;
    QAction* m_cascadeAct = nullptr;
    QAction* m_nextAct = nullptr;
    QAction* m_previousAct = nullptr;
    QAction* m_separatorAct = nullptr;
    QAction* m_onlineHelpAct = nullptr;
    CZunNetworkScanDlg* m_networkScanDlg = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QSignalMapper* m_windowMapper = nullptr;
    CCmdMapServer* m_cmdMapServer = nullptr;
    CZunServer* m_zunServer = nullptr;
    AudioIOStatusServer* m_audioStatusServer = nullptr;
    RoutingServer* m_routingServer = nullptr;
    CZunStatusMonitorDialog* m_statusMonitor = nullptr;
    ZunManagerThread* m_managerThread = nullptr;
    // Processors whose version probe runs: discovery may report one again meanwhile.
    QSet<quint16> m_probing;
    quint16 m_probePort = 5000;
};
