#pragma once

#include <QGraphicsView>
#include <QList>
#include <QMap>
#include <QSharedPointer>

class AudioIOStatus;
class QGraphicsScene;
class QTimer;
class ZunDeviceStats;
class ZunStatusDisplay;
class ZunStatusProxyWidget;

// The status monitor: one status tile per processor (firmware 1077 on) on a scene where
// the tiles can be dragged. While shown, every listed processor is asked for its status
// stream every 2300 ms (statusTxTimeOut, interval 100 ms).
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

signals:
    void statusTxTimeOut(quint16 serial, int intervalMs);

public slots:
    void addStatusWindow(QSharedPointer<ZunDeviceStats> stats, QSharedPointer<AudioIOStatus> audioStatus);
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
    bool m_shown = false;
};
