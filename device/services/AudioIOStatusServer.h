#pragma once

#include "AudioIOStatus.h"
#include "ZunStatusBatch.h"

#include <QByteArray>
#include <QObject>
#include <QSharedPointer>
#include <QVector>

class CCmdMap;
class ZunDeviceStats;

// One AudioIOStatus per processor, keyed by serial; routes every status datagram to its
// record and keeps the master-mute state over all processors. Lives in the GUI thread;
// datagrams (in batches) and routing changes arrive queued from the discovery thread.
//
// The forms that take the discovery record (ZunDeviceStats) forward its serial (the last
// two MAC bytes, most significant first) and its announced routing word to the forms
// here.
class AudioIOStatusServer : public QObject
{
    Q_OBJECT
public:
    explicit AudioIOStatusServer(QObject* parent = nullptr);
    ~AudioIOStatusServer() override;

    // The serial's record; a new one is made with the map and takes the announced
    // routing word. An existing record is returned as it is, except that a map of
    // another firmware (the processor was updated) re-reads its record layout.
    QSharedPointer<AudioIOStatus> addStatus(quint16 serial, QSharedPointer<CCmdMap> map, quint16 routingWord);
    // The same for a discovery record (its serial and announced routing word).
    QSharedPointer<AudioIOStatus> addStatus(QSharedPointer<ZunDeviceStats> stats, QSharedPointer<CCmdMap> map);
    void removeStatus(quint16 serial);
    // Null when unknown.
    QSharedPointer<AudioIOStatus> getStatus(quint16 serial) const;
    // The last announced master-mute state over all processors.
    bool masterMuteStatus() const { return m_masterMuted; }

public slots:
    void onRequest(quint16 serial);
    void setStatusData(quint16 serial, QByteArray datagram);
    // Every datagram of the batch in turn; the master-mute state once after them.
    void setStatusBatch(ZunStatusBatch batch);
    void onRoutingChanged(quint16 serial, quint16 routingWord);
    // The discovery's routingChanged: the record's serial and announced routing word.
    void onRoutingChanged(QSharedPointer<ZunDeviceStats> stats);
    void evaluteMasterMuteStatus();

signals:
    void serveAudioStats(quint16, QSharedPointer<AudioIOStatus>);
    // After each batch (or single datagram), once: the serials of the records it refreshed,
    // each once, in the order of their first datagram, after each record's refreshed(). For
    // a reader of many records (the status monitor's tiles): a record's own signal wakes
    // its readers record by record, which costs more than the record's refresh.
    void signal_batchRefreshed(const QVector<quint16>& serials);
    void masterMuteStatusChanged(bool);

private:
    struct Entry
    {
        QSharedPointer<AudioIOStatus> record;
        quint64 batch = 0; // the last batch that refreshed the record
    };
    // The entry's index, -1 when the serial has none.
    int indexOf(quint16 serial) const;
    QSharedPointer<AudioIOStatus> recordOf(quint16 serial) const
    {
        const int i = indexOf(serial);
        return i >= 0 ? m_entries.at(i).record : QSharedPointer<AudioIOStatus>();
    }

    // The serials in order, and their entries at the same places: a batch looks up every
    // datagram's serial, and a hundred serials lie in a few cache lines.
    QVector<quint16> m_serials;
    QVector<Entry> m_entries;
    quint64 m_changes = 0; // entries added or removed, ever
    QVector<quint16> m_refreshed; // the last batch's, kept for its room
    quint64 m_batches = 0;
    bool m_masterMuted = false;
};
