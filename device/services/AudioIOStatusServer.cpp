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
    const int at = int(std::lower_bound(m_serials.cbegin(), m_serials.cend(), serial) - m_serials.cbegin());
    m_serials.insert(at, serial);
    m_entries.insert(at, Entry {record});
    ++m_changes;
    return record;
}

void AudioIOStatusServer::removeStatus(quint16 serial)
{
    const int i = indexOf(serial);
    if (i < 0)
        return;
    m_serials.remove(i);
    m_entries.remove(i);
    ++m_changes;
}

int AudioIOStatusServer::indexOf(quint16 serial) const
{
    const auto it = std::lower_bound(m_serials.cbegin(), m_serials.cend(), serial);
    return it != m_serials.cend() && *it == serial ? int(it - m_serials.cbegin()) : -1;
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
    if (!record->refresh(datagram))
        return;
    m_refreshed = {serial};
    emit signal_batchRefreshed(QVector<quint16>(m_refreshed));
    evaluteMasterMuteStatus();
}

void AudioIOStatusServer::setStatusBatch(ZunStatusBatch batch)
{
    // The meters are painted once after the batch: a processor's later datagrams hold the
    // events of its earlier ones, so a clip or limit of one datagram is not overwritten
    // unseen, and its readers are told once, after its last datagram. Whether a record has
    // had a datagram of this batch is the batch's number on its entry: no search a datagram.
    QVarLengthArray<QSharedPointer<AudioIOStatus>, 256> seen; // on the stack up to 256 processors
    m_refreshed.clear();
    const quint64 number = ++m_batches;
    for (int i = 0; i < batch.size(); ++i) {
        const int at = indexOf(batch.serial(i));
        if (at < 0)
            continue;
        const bool hold = m_entries.at(at).batch == number;
        const quint64 changes = m_changes;
        if (!m_entries.at(at).record->refresh(batch.data(i), batch.length(i), hold, false) || hold)
            continue;
        // Found again if the refresh's readers (a processor's front-panel change, say)
        // changed the list meanwhile.
        const int again = changes == m_changes ? at : indexOf(batch.serial(i));
        if (again >= 0) {
            Entry& entry = m_entries[again];
            entry.batch = number;
            if (entry.record->hasRefreshReaders())
                seen.append(entry.record);
            m_refreshed.append(batch.serial(i));
        }
    }
    if (m_refreshed.isEmpty())
        return;
    for (const QSharedPointer<AudioIOStatus>& r : qAsConst(seen))
        emit r->refreshed();
    // A copy: a reader that waits in an event loop may see the next batch meanwhile.
    emit signal_batchRefreshed(QVector<quint16>(m_refreshed));
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
    bool all = !m_entries.isEmpty();
    for (auto it = m_entries.cbegin(); all && it != m_entries.cend(); ++it)
        all = it->record->IsMasterMuted();
    if (all != m_masterMuted) {
        m_masterMuted = all;
        emit masterMuteStatusChanged(all);
    }
}
