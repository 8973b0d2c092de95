#include "AudioIOStatusServer.h"

#include "CCmdMap.h"
#include "ZunDeviceStats.h"

#include <QVarLengthArray>


AudioIOStatusServer::AudioIOStatusServer(QObject* parent) : QObject(parent) {}

AudioIOStatusServer::~AudioIOStatusServer() = default;

QSharedPointer<AudioIOStatus> AudioIOStatusServer::addStatus(quint16 serial, QSharedPointer<CCmdMap> map,
                                                             quint16 routingWord)
{
    QSharedPointer<AudioIOStatus> record = recordOf(serial);
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
    m_records.insert(serial, Entry {record});
    return record;
}

void AudioIOStatusServer::removeStatus(quint16 serial)
{
    m_records.remove(serial);
}

QSharedPointer<AudioIOStatus> AudioIOStatusServer::getStatus(quint16 serial) const
{
    return recordOf(serial);
}

void AudioIOStatusServer::onRequest(quint16 serial)
{
    const QSharedPointer<AudioIOStatus> record = recordOf(serial);
    if (record)
        emit serveAudioStats(serial, record);
}

void AudioIOStatusServer::setStatusData(quint16 serial, QByteArray datagram)
{
    const QSharedPointer<AudioIOStatus> record = recordOf(serial);
    if (!record)
        return;
    if (record->refresh(datagram))
        evaluteMasterMuteStatus();
}

void AudioIOStatusServer::setStatusBatch(ZunStatusBatch batch)
{
    // The meters are painted once after the batch: a processor's later datagrams hold the
    // events of its earlier ones, so a clip or limit of one datagram is not overwritten
    // unseen, and its readers are told once, after its last datagram. Whether a record has
    // had a datagram of this batch is the batch's number on its entry: no search a datagram.
    QVarLengthArray<QSharedPointer<AudioIOStatus>, 256> seen; // on the stack up to 256 processors
    const quint64 number = ++m_batches;
    for (int i = 0; i < batch.size(); ++i) {
        const quint16 serial = batch.serial(i);
        const auto it = m_records.constFind(serial);
        if (it == m_records.cend())
            continue;
        const bool hold = it->batch == number;
        if (!it->record->refresh(batch.data(i), batch.length(i), hold, false) || hold)
            continue;
        // Found again: the refresh's readers may have changed the list meanwhile.
        const auto again = m_records.find(serial);
        if (again != m_records.end()) {
            again->batch = number;
            seen.append(again->record);
        }
    }
    for (const QSharedPointer<AudioIOStatus>& r : qAsConst(seen))
        emit r->refreshed();
    if (!seen.isEmpty())
        evaluteMasterMuteStatus();
}

void AudioIOStatusServer::onRoutingChanged(quint16 serial, quint16 routingWord)
{
    const QSharedPointer<AudioIOStatus> record = recordOf(serial);
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
    for (auto it = m_records.cbegin(); all && it != m_records.cend(); ++it)
        all = it->record->IsMasterMuted();
    if (all != m_masterMuted) {
        m_masterMuted = all;
        emit masterMuteStatusChanged(all);
    }
}
