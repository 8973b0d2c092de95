#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>

class CZun;

// The FIR/limiter sets stored in the device's flash. Lives in a worker thread of its
// device object. Only the slots and signals the device object wires exist yet.
class CZunFIRLimManager : public QObject
{
    Q_OBJECT
public:
    explicit CZunFIRLimManager(CZun* zun);

public slots:
    void initialize();
    void on_ZunStatusChanged();
    void on_FIRFilterRemoved(unsigned int id);
    void UpdateFirModel(QMap<quint32, QStringList> setupsByFir);

signals:
    void signal_Initialized();

private:
    CZun* m_zun;
};
