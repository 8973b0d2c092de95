#include "CZunStatusMonitorDialog.h"

#include "AudioIOStatus.h"
#include "AudioIOStatusServer.h"
#include "ZunDeviceStats.h"
#include "ZunStatusDisplay.h"
#include "ZunSettingsWriter.h"
#include "ZunStatusProxyWidget.h"

#include <QCloseEvent>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace {
// Where the next tile goes: one set for the whole program, only ever moving on.
int g_nextX = 3;
int g_nextY = 3;
// The widest tile of the current column: a tile with many outputs is wider than the
// column pitch and would lie under the next column (a taller one moves the next tile
// down the same way).
int g_columnWidth = 0;
} // namespace

CZunStatusMonitorDialog::CZunStatusMonitorDialog(QWidget* parent)
    : QGraphicsView(parent)
{
    m_timer = new QTimer(this);
    setWindowTitle(tr("Status Monitor"));
    QRect screen(0, 0, 1024, 768);
    if (QScreen* s = QGuiApplication::primaryScreen())
        screen = s->geometry();
    m_scene = new QGraphicsScene(QRectF(screen.left(), screen.top(), int(screen.width() * 0.7),
                                        int(screen.height() * 0.7)),
                                 this);
    m_scene->setItemIndexMethod(QGraphicsScene::NoIndex);
    setScene(m_scene);
    setCacheMode(QGraphicsView::CacheBackground);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setRenderHints(renderHints() | QPainter::Antialiasing);
    // Tiles start at the top left, where the placement counters begin.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(m_timer, &QTimer::timeout, this, &CZunStatusMonitorDialog::triggerStatusTx);
    m_timer->setInterval(StatusTimerMs);
}

CZunStatusMonitorDialog::~CZunStatusMonitorDialog()
{
    // The tiles go with the scene while this monitor's lists still stand (as a child the
    // scene would go after them, and the tiles' farewells would find them gone).
    delete m_scene;
}

ZunStatusDisplay* CZunStatusMonitorDialog::getStatusDisplay(quint32 serial) const
{
    ZunStatusProxyWidget* proxy = m_tiles.value(serial);
    return proxy ? qobject_cast<ZunStatusDisplay*>(proxy->widget()) : nullptr;
}

bool CZunStatusMonitorDialog::isStatusTimerActive() const
{
    return m_timer->isActive();
}

void CZunStatusMonitorDialog::addStatusWindow(QSharedPointer<ZunDeviceStats> stats,
                                              QSharedPointer<AudioIOStatus> audioStatus)
{
    if (!stats)
        return;
    const quint32 serial = stats->serial();
    m_serials << serial;
    auto* proxy = new ZunStatusProxyWidget;
    m_tiles.insert(serial, proxy);
    auto* tile = new ZunStatusDisplay(stats, audioStatus);
    if (m_followsServer)
        tile->followBatches();
    const auto byKey = [](const QPair<quint16, ZunStatusDisplay*>& a, const QPair<quint16, ZunStatusDisplay*>& b) {
        return a.first < b.first;
    };
    const QPair<quint16, ZunStatusDisplay*> entry(quint16(serial), tile);
    m_bySerial.insert(std::upper_bound(m_bySerial.begin(), m_bySerial.end(), entry, byKey), entry);
    // A tile that goes (its proxy deleted with it) is no longer refreshed nor found.
    connect(tile, &QObject::destroyed, this, [this, tile] {
        m_bySerial.erase(std::remove_if(m_bySerial.begin(), m_bySerial.end(),
                                        [tile](const QPair<quint16, ZunStatusDisplay*>& e) { return e.second == tile; }),
                         m_bySerial.end());
    });
    connect(proxy, &QObject::destroyed, this, [this, serial, proxy] {
        if (m_tiles.value(serial) == proxy)
            m_tiles.remove(serial);
    });
    proxy->setWidget(tile);
    m_scene->addItem(proxy);
    // On a small screen the scene (70 % of it) may end above the next place: it grows to
    // take the tile, rather than the tile being pushed onto the edge over its neighbours.
    const QRectF place(QPointF(g_nextX, g_nextY), proxy->size());
    if (!m_scene->sceneRect().contains(place))
        m_scene->setSceneRect(m_scene->sceneRect().united(place));
    proxy->setPos(g_nextX, g_nextY);
    g_columnWidth = qMax(g_columnWidth, int(proxy->size().width()) + 3);
    g_nextY += qMax(117, int(proxy->size().height()) + 3);
    if (g_nextY > 500) {
        g_nextX += qMax(215, g_columnWidth);
        g_nextY = 3;
        g_columnWidth = 0;
    }
}

void CZunStatusMonitorDialog::followStatusServer(AudioIOStatusServer* server)
{
    if (m_followsServer || !server)
        return;
    m_followsServer = true;
    for (const auto& entry : qAsConst(m_bySerial))
        entry.second->followBatches();
    connect(server, &AudioIOStatusServer::signal_batchRefreshed, this, &CZunStatusMonitorDialog::on_BatchRefreshed);
}

void CZunStatusMonitorDialog::on_BatchRefreshed(const QVector<quint16>& serials)
{
    for (const quint16 serial : serials) {
        auto it = std::lower_bound(m_bySerial.cbegin(), m_bySerial.cend(), serial,
                                   [](const QPair<quint16, ZunStatusDisplay*>& e, quint16 s) { return e.first < s; });
        for (; it != m_bySerial.cend() && it->first == serial; ++it)
            it->second->updateMeters();
    }
}

void CZunStatusMonitorDialog::triggerStatusTx()
{
    QList<quint16> serials;
    serials.reserve(m_serials.size());
    for (quint32 serial : qAsConst(m_serials))
        serials << quint16(serial);
    emit signal_statusTxTimeOut(serials, StatusIntervalMs);
}

void CZunStatusMonitorDialog::animate(quint32 serial)
{
    if (ZunStatusDisplay* tile = getStatusDisplay(serial))
        tile->animate();
}

void CZunStatusMonitorDialog::showEvent(QShowEvent* event)
{
    m_timer->start();
    QGraphicsView::showEvent(event);
    // The view would centre the larger scene: the tiles start at its top left.
    if (!m_shown) {
        m_shown = true;
        horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
        verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    }
}

void CZunStatusMonitorDialog::hideEvent(QHideEvent* event)
{
    m_timer->stop();
    QGraphicsView::hideEvent(event);
}

void CZunStatusMonitorDialog::closeEvent(QCloseEvent* event)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        ZunSettingsWriter::store({{QStringLiteral("StatusMonitor/frameSize"), sub->frameSize()},
                                  {QStringLiteral("StatusMonitor/pos"), sub->pos()}});
    }
    QGraphicsView::closeEvent(event);
}
