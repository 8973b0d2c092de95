#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>

class CZun;

// The setups stored in the device's flash. Lives in a worker thread of its device object.
// Only the slots and signals the device object wires exist yet.
class CZunSetupManager : public QObject
{
    Q_OBJECT
public:
    explicit CZunSetupManager(CZun* zun);

public slots:
    void initialize();
    void on_SetupRemoved(int position);

signals:
    void signal_MapFirSetupsRefreshed(QMap<quint32, QStringList> setupsByFir);

private:
    CZun* m_zun;
};
