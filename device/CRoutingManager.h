#pragma once

#include <QObject>
#include <QSharedPointer>

class CCmdMap;

class CZun;

// Inputs, outputs and routing tables of one device. Lives with its device object in the
// GUI thread. Only the part the device object calls exists yet.
class CRoutingManager : public QObject
{
    Q_OBJECT
public:
    explicit CRoutingManager(CZun* zun);

    // Rebuilds from a routing word; 0xFFFF reads the routing words from the image.
    void rebuild(quint16 routingWord);
    // While true, the channels' responses stop recalculating.
    void BlockRecalculation(bool block);
    quint16 lastRoutingWord() const { return m_routingWord; }

    // The routing word of a routing kind named by setups of older firmware.
    static quint16 GetRoutingPresetNumbers(quint16 kind, QSharedPointer<CCmdMap> map);

public slots:
    void updateFrequencyResponse();

private:
    CZun* m_zun;
    quint16 m_routingWord = 0;
    bool m_blocked = false;
};
