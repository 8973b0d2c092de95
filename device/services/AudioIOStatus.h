#pragma once

#include "CZunRoutingRecord.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVarLengthArray>
#include <QtEndian>

#include <atomic>

class CCmdMap;
class CZun;

// The decoded status of one processor: the latest status record of its UDP status
// stream (also the DSP status block of the TCP link). The record is kept as received;
// the getters convert on demand. Word indexes come from the "Stat_" names of the
// processor's firmware (the layout moved by one word in 1077).
//
// "Stat_Mute" (from 1077): bits 0-7 the input paths A-H (by the keypad path index of
// the routing slot), bits 8-15 the outputs 0-7.
//
// Lives in the GUI thread. The device object connects (queued) ZunFrontPanelChanged to
// CZun::requestCmdStatus, signal_ZunOutOfSync to CZun::RefreshStatusBuffer,
// signal_CyclesSamplingRateChanged to CZun::UpdateProcessingPower and signal_toLogFile
// to CZun::printToLog.
class AudioIOStatus : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 ImageWords = 1700;
    static constexpr double NoInputLevel = -88.5;

    // Throws CCmdMap::invalid_cmd when the map lacks a status name.
    explicit AudioIOStatus(QSharedPointer<CCmdMap> map, QObject* parent = nullptr);
    ~AudioIOStatus() override;

    // Takes the record layout of the map's firmware; the record becomes zeros of the
    // new size. "Stat_Mute" may be missing (firmware before 1077); any other missing
    // name throws CCmdMap::invalid_cmd.
    void initConstants(QSharedPointer<CCmdMap> map);
    QSharedPointer<CCmdMap> GetCmdMap() const { return m_map; }
    // The firmware version whose layout initConstants last took.
    quint16 GetLayoutVersion() const { return m_layoutVersion; }
    quint32 GetRecordSize() const { return m_recordSize; }
    // A copy of the record.
    QByteArray GetRecord() const;

    // Takes a status datagram (4-byte header, then the record). A datagram that does not
    // begin with the status id or is shorter than header + record is dropped with a
    // debug line; returns whether it was taken.
    //
    // holdEvents: the datagram follows others of the same batch, which are shown together
    // (the meters are painted once after the batch). What could flash for one datagram
    // then stays in the record: limiter flags are ORed, levels, gain reductions and
    // temperatures keep their peaks. Every other word is the datagram's own.
    //
    // notify: refreshed() is emitted; a batch's taker emits it once a record after the
    // batch instead, so that the readers see the held events once, not every datagram.
    bool refresh(const QByteArray& datagram, bool holdEvents = false, bool notify = true)
    {
        return refresh(datagram.constData(), datagram.size(), holdEvents, notify);
    }
    // The same for a datagram in place (a status batch's buffer).
    bool refresh(const char* datagram, int size, bool holdEvents, bool notify);
    // Whether anything may listen to refreshed(): a batch's taker tells a record only then.
    // Kept by connectNotify, without Qt's walk through the record's connections. Never
    // false while a reader listens; after a disconnection from every signal at once it may
    // stay true with none.
    bool hasRefreshReaders() const { return m_refreshReaders.load(std::memory_order_relaxed) > 0; }

    // The routing of the processor's announced routing word, and of the one read with its
    // image (attachDevice). The form that takes the discovery record (ZunDeviceStats)
    // forwards its routing word here. A word whose presets the map lacks leaves the
    // routing as it was and returns false.
    bool SetRouting(quint16 routingWord);
    const CZunRoutingRecord& GetRouting() const { return m_routing; }

    // Levels in dB (65535 is 0 dB, 0 gives -100). Input getters take a routing source
    // id; a source that no slot carries gives -88.5 dB / no overload.
    double GetOutputLevel(int output) const;
    double GetInputLevel(int source) const;
    bool IsOverload(int source) const;
    // Positive dB of reduction (32512 is none, 0 gives 100).
    double GetGainReduction(int output) const;
    // The raw temperature word.
    double GetTemperature(int output) const;
    // n 0-11: outputs 0-7, then 8-11 for the second flag bits of the two DSPs.
    bool IsPeakLimiting(int n) const;
    bool IsThermalLimiting(int n) const;
    // The names the gain page's meters use for the two per-output limiter bits.
    bool GetLimiterStatusBit(int output) const { return IsPeakLimiting(output); }
    bool GetTemperatureStatusBit(int output) const { return IsThermalLimiting(output); }
    bool IsOutputMuted(int output) const;
    bool IsInputMuted(int source) const;
    bool IsMasterMuted() const;
    // The digital-lock bit, without the change log of onDigitalLockChanged.
    bool IsDigitalInputLocked() const { return IsDigitalLocked(); }

    // Wires the processor's reports to its device object (queued): a parameter changed on
    // the processor is read back (CZun::requestCmdStatus), an out-of-sync report re-reads
    // the whole image, log lines go to its log. The processing-power report waits for the
    // device object's processing-power slot. Each image read brings its routing word.
    void attachDevice(CZun* zun);

    // The digital-lock bit; logs a change since the last call for this processor.
    bool onDigitalLockChanged();

signals:
    void refreshed();
    void ZunFrontPanelChanged(quint16);
    void signal_ZunOutOfSync();
    void signal_CyclesSamplingRateChanged(int, int, int, int);
    void signal_toLogFile(QString);

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    // The slot and input path of each source id the routing names (1-26), worked out when
    // the routing is set; any other id is looked up at the call.
    static constexpr int PlacedSources = 32;
    struct InputPlace
    {
        quint8 slot = 8; // 0-7, 8 when on no slot
        quint8 path = 8; // 0-7, 8 when none
    };

    // Every index a getter reads was checked against the record when the layout was set:
    // one outside it reads the zero word kept after the record.
    quint16 word(quint16 index) const { return qFromLittleEndian<quint16>(m_words.constData() + 2 * index); }
    // Merges the event words of the record before into the record just taken.
    void holdEvents(const uchar* held);
    bool IsDigitalLocked() const;
    InputPlace placeInput(int source) const;
    InputPlace inputPlace(int source) const
    {
        return source >= 0 && source < PlacedSources ? m_inputs[source] : placeInput(source);
    }

    // What a refresh and the readers of a refresh touch comes first, together: with a
    // hundred processors a record is touched a few times a second, mostly out of cache.
    //
    // The record as received, then the zero word.
    QVarLengthArray<uchar, 128> m_words;
    quint16 m_levelIn[8] = {};
    quint16 m_levelOut[8] = {};
    quint16 m_gainRed[8] = {};
    quint16 m_temp[8] = {};
    quint16 m_limStat[12] = {};
    quint16 m_header = 0;
    quint16 m_status = 0;
    quint16 m_status2 = 0;
    quint16 m_mute = 0; // the zero word when the firmware has none
    quint16 m_cycMain[2] = {};
    quint16 m_sr[2] = {};
    quint16 m_statusIdle = 0;
    quint16 m_cmdChangeN = 0;
    quint16 m_zeroWord = 0; // its index
    quint32 m_recordSize = 0;
    std::atomic<int> m_refreshReaders {0};
    int m_cycles[4] = {};
    InputPlace m_inputs[PlacedSources];

    QSharedPointer<CCmdMap> m_map;
    quint16 m_layoutVersion = 0;
    CZunRoutingRecord m_routing;
    quint16 m_mpMode[2] = {};
    quint16 m_imp0[2] = {};
    quint16 m_imp1[2] = {};
    quint16 m_ampOut0[2] = {};
    quint16 m_ampOut1[2] = {};
    quint16 m_cycFull[2] = {};
    quint16 m_cycFIR[2] = {};
    bool m_lastDigitalLock = true;
};

Q_DECLARE_METATYPE(QSharedPointer<AudioIOStatus>)
