#include "AudioIOStatusServer.h"

#include "CCmdMap.h"
#include "ZunDeviceStats.h"

#include <QVarLengthArray>

#include <algorithm>

AudioIOStatusServer::AudioIOStatusServer(QObject* parent) : QObject(parent) {}

AudioIOStatusServer::~AudioIOStatusServer() = default;

QSharedPointer<AudioIOStatus> AudioIOStatusServer::addStatus(quint16 serial, QSharedPointer<CCmdMap> map,
                                                             quint16 routingWord)
{
    QSharedPointer<AudioIOStatus> record = m_records.value(serial);
    if (record) {
        // After a firmware update the record layout may have changed (106 -> 108 bytes);
        // the windows keep the same record object.
        if (map && (record->GetCmdMap() != map || record->GetLayoutVersion() != map->version())) {
            record->initConstants(map);
            record->SetRouting(routingWord);
        }
        return record;
    }
    record = QSharedPointer<AudioIOStatus>::create(map, nullptr);
    // The discovery reports routing changes only; without this a processor whose routing
    // never changes would show no input levels.
    record->SetRouting(routingWord);
    m_records.insert(serial, record);
    return record;
}

void AudioIOStatusServer::removeStatus(quint16 serial)
{
    m_records.remove(serial);
}

QSharedPointer<AudioIOStatus> AudioIOStatusServer::getStatus(quint16 serial) const
{
    return m_records.value(serial);
}

void AudioIOStatusServer::onRequest(quint16 serial)
{
    const QSharedPointer<AudioIOStatus> record = m_records.value(serial);
    if (record)
        emit serveAudioStats(serial, record);
}

void AudioIOStatusServer::setStatusData(quint16 serial, QByteArray datagram)
{
    const QSharedPointer<AudioIOStatus> record = m_records.value(serial);
    if (!record)
        return;
    if (record->refresh(datagram))
        evaluteMasterMuteStatus();
}

void AudioIOStatusServer::setStatusBatch(ZunStatusBatch batch)
{
    // The meters are painted once after the batch: a processor's later datagrams hold the
    // events of its earlier ones, so a clip or limit of one datagram is not overwritten
    // unseen, and its readers are told once, after its last datagram.
    QVarLengthArray<QSharedPointer<AudioIOStatus>, 16> seen;
    quint16 lastSerial = 0;
    QSharedPointer<AudioIOStatus> record;
    for (const ZunStatusDatagram& d : qAsConst(batch)) {
        // Mostly runs of one processor: its record is looked up once a run.
        if (!record || d.serial != lastSerial) {
            record = m_records.value(d.serial);
            lastSerial = d.serial;
        }
        if (!record)
            continue;
        const bool hold = std::find(seen.cbegin(), seen.cend(), record) != seen.cend();
        if (record->refresh(d.bytes, hold, false) && !hold)
            seen.append(record);
    }
    for (const QSharedPointer<AudioIOStatus>& r : qAsConst(seen))
        emit r->refreshed();
    if (!seen.isEmpty())
        evaluteMasterMuteStatus();
}

void AudioIOStatusServer::onRoutingChanged(quint16 serial, quint16 routingWord)
{
    const QSharedPointer<AudioIOStatus> record = m_records.value(serial);
    if (record)
        record->SetRouting(routingWord);
}

QSharedPointer<AudioIOStatus> AudioIOStatusServer::addStatus(QSharedPointer<ZunDeviceStats> stats,
                                                             QSharedPointer<CCmdMap> map)
{
    return stats ? addStatus(stats->serial(), map, stats->routingWord()) : QSharedPointer<AudioIOStatus>();
}

void AudioIOStatusServer::onRoutingChanged(QSharedPointer<ZunDeviceStats> stats)
{
    if (stats)
        onRoutingChanged(stats->serial(), stats->routingWord());
}

void AudioIOStatusServer::evaluteMasterMuteStatus()
{
    // No processor at all is not "every processor muted".
    bool all = !m_records.isEmpty();
    for (const QSharedPointer<AudioIOStatus>& record : qAsConst(m_records))
        all = all && record->IsMasterMuted();
    if (all != m_masterMuted) {
        m_masterMuted = all;
        emit masterMuteStatusChanged(all);
    }
}
