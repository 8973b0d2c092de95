#pragma once

#include "FilterLimiterEWS.h"

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

    // The listed set with that id; null when there is none.
    QShPtrFLE GetFIRFilter(uint id) const;

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
