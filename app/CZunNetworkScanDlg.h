#pragma once

#include <QFutureWatcher>
#include <QModelIndex>
#include <QWidget>

class CZunNetwork;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ZunDeviceStatsModel;
class ZunDeviceStatsProxyModel;
class ZunNetworkTableView;

// The network monitor: lists every processor found on the LAN. It creates and owns the
// discovery object and its thread, offers a subnet scan for processors that do not answer
// the broadcast and a "Mute all" button. A click on a row asks for identification of that
// processor, a double click for a connection.
class CZunNetworkScanDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CZunNetworkScanDlg(QWidget* parent = nullptr);
    ~CZunNetworkScanDlg() override;

    CZunNetwork* network() const { return m_network; }
    ZunNetworkTableView* tableView() const { return m_tableView; }
    ZunDeviceStatsModel* model() const { return m_model; }
    ZunDeviceStatsProxyModel* proxy() const { return m_proxy; }
    QPushButton* scanButton() const { return m_scanButton; }
    QPushButton* muteButton() const { return m_muteButton; }
    QLabel* statusLabel() const { return m_statusLabel; }
    // Shown while another program holds the processors' UDP port.
    QLabel* portNote() const { return m_portNote; }
    // A network scan is running (in the global thread pool).
    bool isScanning() const { return m_scan.isRunning(); }

signals:
    void connectionRequest(quint32 serial);
    void identificationRequest(quint32 serial);

public slots:
    void initScan();
    void onButtonScan();
    void onButtonMute(bool mute);
    void setMasterMuteStatus(bool allMuted);
    void onRowDoubleClicked(QModelIndex index);
    void onRowClicked(QModelIndex index);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void fitColumns();
    void onScanFinished();
    // Says plainly that this program listens on port, another holding the processors' one.
    void showPortOfItsOwn(quint16 port);

private:
    quint32 serialAt(const QModelIndex& proxyIndex, bool* ok) const;

    QVBoxLayout* m_layout;
    QLabel* m_label;
    ZunNetworkTableView* m_tableView;
    ZunDeviceStatsModel* m_model;
    ZunDeviceStatsProxyModel* m_proxy;
    QPushButton* m_scanButton;
    QPushButton* m_muteButton;
    QLabel* m_statusLabel;
    QLabel* m_portNote;
    CZunNetwork* m_network;
    QFutureWatcher<bool> m_scan;
};
