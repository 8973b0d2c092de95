#pragma once

#include <QByteArray>
#include <QList>
#include <QTableView>

class QAction;

// The table of the network monitor. In developer mode it carries four context actions
// that act on every selected processor at once; each only collects the input and emits a
// request, which the main window hands to the device services.
class ZunNetworkTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ZunNetworkTableView(QWidget* parent = nullptr);

    void createActions();
    void initContextMenu();

    // The serials of the selected rows, once each, in selection order.
    QList<quint32> selectedSerials() const;

    // Checks the text of the UDP command dialog: on success the 6-byte command datagram
    // and an empty result; otherwise the title of the message to show.
    static QString parseUdpCommand(const QString& text, QByteArray* datagram);

    static bool isDeveloperMode();

    // The setup positions Recall Setup offers, as every list, log line and message counts
    // them (the upload form beside it reads "0: ---"): the numbers the processor uses.
    static constexpr int FirstRecallPosition = 0;
    static constexpr int LastRecallPosition = 29;

    QAction* fwUpdateAct = nullptr;
    QAction* uploadSetupAct = nullptr;
    QAction* selectSetupAct = nullptr;
    QAction* sendUdpCmdAct = nullptr;

signals:
    void requestFwUpdate(QList<quint32> serials, QString file);
    void requestSetupUpload(QList<quint32> serials, QString file, int position);
    void requestSelectSetup(QList<quint32> serials, quint16 setup);
    void requestSendUdpCommand(QList<quint32> serials, QByteArray datagram);

public slots:
    void fwUpdate();
    void uploadSetup();
    void selectSetup();
    void sendUdpCommand();
    void validateActions();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    // The actions follow the selection also when it changes by keyboard (the menu key).
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    QList<QAction*> actions_() const;
};
