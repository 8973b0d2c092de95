#pragma once

#include <QGraphicsView>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSharedPointer>
#include <QVector>

class AudioIOStatus;
class AudioIOStatusServer;
class QGraphicsScene;
class QTimer;
class ZunDeviceStats;
class ZunStatusDisplay;
class ZunStatusProxyWidget;

// The status monitor: one status tile per processor (firmware 1077 on) on a scene where
// the tiles can be dragged. While shown, every listed processor is asked for its status
// stream every 2300 ms (signal_statusTxTimeOut, all at once, interval 100 ms).
class CZunStatusMonitorDialog : public QGraphicsView
{
    Q_OBJECT
public:
    static constexpr int StatusTimerMs = 2300;
    static constexpr int StatusIntervalMs = 100;

    explicit CZunStatusMonitorDialog(QWidget* parent = nullptr);
    ~CZunStatusMonitorDialog() override;

    // The newest tile of the serial; null when it has none.
    ZunStatusDisplay* getStatusDisplay(quint32 serial) const;
    ZunStatusProxyWidget* proxyOf(quint32 serial) const { return m_tiles.value(serial); }
    const QList<quint32>& serials() const { return m_serials; }
    bool isStatusTimerActive() const;
    // The tiles are refreshed once a batch of the server's, tile after tile, instead of each
    // by its own record's signal: with a hundred processors that signal costs more than
    // the rest of a refresh. Tiles before and after the call follow the server.
    void followStatusServer(AudioIOStatusServer* server);

signals:
    void signal_statusTxTimeOut(QList<quint16> serials, int intervalMs);

public slots:
    void addStatusWindow(QSharedPointer<ZunDeviceStats> stats, QSharedPointer<AudioIOStatus> audioStatus);
    void on_BatchRefreshed(const QVector<quint16>& serials);
    void triggerStatusTx();
    void animate(quint32 serial);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QGraphicsScene* m_scene = nullptr;
    QList<quint32> m_serials;
    QTimer* m_timer = nullptr;
    QMap<quint32, ZunStatusProxyWidget*> m_tiles;
    // Every tile by serial, in serial order (a processor listed again has a tile more):
    // a batch looks up each of its serials here.
    QVector<QPair<quint16, ZunStatusDisplay*>> m_bySerial;
    bool m_followsServer = false;
    bool m_shown = false;
};
