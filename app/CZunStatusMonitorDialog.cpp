#include "CZunStatusMonitorDialog.h"

#include "AudioIOStatus.h"
#include "ZunDeviceStats.h"
#include "ZunStatusDisplay.h"
#include "ZunStatusProxyWidget.h"

#include <QCloseEvent>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace {
// Where the next tile goes: one set for the whole program, only ever moving on.
int g_nextX = 3;
int g_nextY = 3;
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

CZunStatusMonitorDialog::~CZunStatusMonitorDialog() = default;

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
    proxy->setWidget(new ZunStatusDisplay(stats, audioStatus));
    m_scene->addItem(proxy);
    proxy->setPos(g_nextX, g_nextY);
    g_nextY += 117;
    if (g_nextY > 500) {
        g_nextX += 215;
        g_nextY = 3;
    }
}

void CZunStatusMonitorDialog::triggerStatusTx()
{
    for (quint32 serial : qAsConst(m_serials))
        emit statusTxTimeOut(quint16(serial), StatusIntervalMs);
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
}

void CZunStatusMonitorDialog::hideEvent(QHideEvent* event)
{
    m_timer->stop();
    QGraphicsView::hideEvent(event);
}

void CZunStatusMonitorDialog::closeEvent(QCloseEvent* event)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        settings.setValue(QStringLiteral("StatusMonitor/frameSize"), sub->frameSize());
        settings.setValue(QStringLiteral("StatusMonitor/pos"), sub->pos());
        settings.sync();
    }
    QGraphicsView::closeEvent(event);
}
