#pragma once

#include "CIpAddr.h"
#include "CMacAddr.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The datagrams of the processors' UDP port (1234), built and checked in one place so
// that the application and the emulator agree byte for byte. docs/protocol.md ("UDP (port 1234)") is the
// reference. Every 16-bit word is little-endian. Every decoder checks the length first and
// never reads past the end; a false return carries the reason in *why.
class ZunUdpDatagram
{
public:
    static constexpr quint16 Port = 1234;

    static constexpr quint16 IdStatus = 0xFF04;        // status datagram (the block id of the status record)
    static constexpr quint16 IdStatusRequest = 0xFF10; // 10 FF interval count
    static constexpr quint16 IdCommand = 0xFF11;       // 11 FF command value
    static constexpr quint16 IdPing = 0xFF12;          // 12 FF 00 00

    static constexpr int AnnounceSize = 49;
    static constexpr int NameSize = 24;
    static constexpr int PingSize = 4;
    static constexpr int StatusRequestSize = 6;
    static constexpr int CommandSize = 6;
    static constexpr int StatusHeaderSize = 4;
    // The status record sizes of the known firmware families (1075-1076 and 1077-1080).
    static constexpr int StatusRecordSmall = 106;
    static constexpr int StatusRecordLarge = 108;

    // The master-mute commands sent by UDP: DSP 1's word (116, "Cmd_0_MasterMute") mutes
    // outputs 1-4 only; DSP 2's (886, "Cmd_1_MasterMute") outputs 5-8 of a two-board processor.
    static constexpr quint16 CmdMasterMute = 116;
    static constexpr quint16 CmdMasterMuteDsp2 = 886;

    struct Announce
    {
        CMacAddr mac;
        quint8 routingByte = 0;
        quint16 versionWord = 0;   // bits 0-11 firmware, 12-15 second version field
        quint16 routingWord = 0;
        quint32 hardwareWord = 0;
        QString name;              // at most 24 bytes of Latin-1
        CIpAddr ip;
        quint16 status = 0;
        quint16 flags = 0;
        quint16 linkState = 0;

        quint16 firmware() const { return versionWord & 0x0FFF; }
        quint16 revision() const { return versionWord >> 12; }
    };

    static QByteArray ping();
    static bool isPing(const QByteArray& d);

    static QByteArray encodeAnnounce(const Announce& a);
    // Exactly 49 bytes beginning with the processor prefix 5A 75 6E 00.
    static bool decodeAnnounce(const QByteArray& d, Announce* out, QString* why = nullptr);

    static QByteArray statusRequest(quint16 intervalMs, quint16 count);
    static bool decodeStatusRequest(const QByteArray& d, quint16* intervalMs, quint16* count, QString* why = nullptr);

    static QByteArray command(quint16 cmd, quint16 value);
    static bool decodeCommand(const QByteArray& d, quint16* cmd, quint16* value, QString* why = nullptr);
    static QByteArray masterMute(bool mute);
    // What mutes (or unmutes) every output: DSP 1's datagram, then DSP 2's when the
    // processor has a second DSP.
    static QList<QByteArray> masterMuteAll(bool mute, bool secondDsp);

    // Header 04 FF, record length, then the record.
    static QByteArray statusDatagram(const QByteArray& record);
    // A datagram whose first word is 0xFF04 (a status datagram, perhaps malformed).
    static bool isStatus(const QByteArray& d);
    // A status datagram whose record has one of the known sizes.
    static bool checkStatus(const QByteArray& d, QString* why = nullptr);

    static quint16 word(const QByteArray& d, int offset); // caller checks the length
};
