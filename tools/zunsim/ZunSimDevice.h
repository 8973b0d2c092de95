#pragma once

#include "ZunSimFlash.h"
#include "ZunWire.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

// The state of one emulated processor, shared by the emulator's TCP and UDP sides.
// Everything is guarded by mutex(); both sides run in the emulator's one thread today,
// the lock keeps it honest if that changes.
class ZunSimDevice
{
public:
    struct Identity
    {
        quint16 serial = 1;
        quint16 firmware = 1080;      // 0 announces "unknown" so the version probe runs
        quint16 revision = 0;         // top 4 bits of the version word
        QString name;
        quint16 hardwareWord = 0;
        quint16 hardwareExtra = 0;
        quint16 routingWord = 0;
        quint8 routingByte = 0;       // announce offset 7
        quint16 flags = 0;
        // The low half of a stored DSP program's directory id: the CRC-16 of the bytes stored
        // (-1), or this word, as another processor may keep there.
        int programIdLow = -1;
        quint16 status = 0xFF70;
        bool announceFirmwareZero = false;
    };

    // Faults a test can switch on.
    struct Faults
    {
        bool silent = false;          // answers nothing at all (UDP and TCP)
        bool noBroadcastAnswer = false; // ignores the discovery ping (firmware < 1077)
        bool dropLink = false;        // closes the TCP link on the next command (once)
        bool dropLinkAtBlock = false; // ... at the start of the next block write (once)
        int dropReplyOf = -1;         // runs this command, then closes the link in place of its reply (once)
        int refuseCmd = -1;           // refuses this command number with an error frame
        int refuseValue = -1;         // ... only with this value (-1: any value)
        int corruptBlocks = 0;        // damages one chunk of each of the next N blocks in
                                      // either direction: a received chunk fails its sum,
                                      // a sent chunk carries a wrong byte
        int replyDelayMs = 0;         // delays every TCP reply
        bool hugeBlock = false;       // the next block read announces 2^31 bytes (once)
        bool failUpload = false;      // refuses every copy into the flash with Msg_ErrFlash
        bool failCheck = false;       // finds every uploaded firmware image damaged
        bool holdAtBlock = false;     // the connection that completes the next block write
                                      // reads nothing more of its client until released
                                      // (once): other clients use the transfer buffer meanwhile
        int holdReplyCmd = -1;        // ... or the connection that answers this command
        int holdReplyValue = -1;      // ... with this value (-1: any value)
        bool holding = false;         // a connection is held so
    };

    // What the processor keeps besides its parameter image and its flash entries.
    struct Maintenance
    {
        bool transferValid = true;    // false after a failed copy into the transfer buffer
        QByteArray setupName;         // name block of the next setup store
        QMap<int, QByteArray> firmwarePieces; // piece number -> bytes, since the last erase
        quint16 pin = 0x1234;         // four digits 1-8, first digit in bits 12-15
        bool pinAccepted = false;     // the old PIN was right: the next Cmd_Pin is the new one
        quint16 nextIpHi = 0, nextIpLo = 0; // address used from the next start
        bool nextIpSet = false;
        quint16 bootedProgram[2] = {0, 0};  // programs the DSPs run
        quint32 loadedFir[2] = {0, 0};      // FIR sets whose coefficients the DSPs hold
        quint16 nextFirmware = 0;     // firmware announced after a good firmware check (0: same)
    };

    explicit ZunSimDevice(const Identity& id);

    QMutex& mutex() { return m_mutex; }
    Identity& identity() { return m_id; }
    Faults& faults() { return m_faults; }
    QVector<quint16>& image() { return m_image; }
    // The processor's transfer buffer: block writes land here, block reads of
    // "ID_Block_Flash" send it, flash copies fill it.
    QByteArray& transferBuffer() { return m_transfer; }
    ZunSimFlash& flash() { return m_flash; }
    Maintenance& maintenance() { return m_maint; }
    // Status requests taken from any client since the start: a test sees whether the
    // program asked for the streams at all.
    int& statusRequests() { return m_statusRequests; }
    // Words a test watches ("watch WORD..."): after each command the processor takes over
    // TCP, one entry "MS CMD=VALUE W1 W2 ...": the milliseconds since the watch began and
    // the watched words as they then stand, what a client killed at that point leaves.
    void watch(const QVector<quint16>& words);
    void noteWatched(quint16 id, quint16 value);
    const QStringList& watched() const { return m_watched; }
    static constexpr int MaxWatched = 4096;
    // The largest block the transfer buffer takes.
    static constexpr int TransferBufferSize = int(ZunWire::MaxBlockSize);

    quint16 versionWord() const { return quint16((m_id.firmware & 0x0FFF) | (m_id.revision << 12)); }

private:
    QMutex m_mutex;
    Identity m_id;
    Faults m_faults;
    QVector<quint16> m_image;
    QByteArray m_transfer;
    ZunSimFlash m_flash;
    Maintenance m_maint;
    int m_statusRequests = 0;
    QVector<quint16> m_watchedWords;
    QElapsedTimer m_watchClock;
    QStringList m_watched;
};
