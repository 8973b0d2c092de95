#pragma once

#include <QByteArray>
#include <QtGlobal>

// Checksums of parameter images, setups, FIR/limiter sets and of the blocks of the
// processor's filter image.
//
// The base is the CRC-16 with polynomial 0x8BB7, most significant bit first, register
// starting at 0, no final xor (CRC-16/T10-DIF, check value 0xD0DB for "123456789").

// The 256-entry table of that CRC. Built once on first use (thread-safe); the pointer
// stays valid for the life of the program.
const quint16* Crc16Table8BB7();

// The plain CRC-16 of size bytes, continuing from crc (0 for a fresh start).
quint16 Crc16_8BB7(const char* data, qsizetype size, quint16 crc = 0);

// 32-bit checksum: the high half is the CRC-16 of the bytes in reverse order, the low
// half the CRC-16 of the bytes in order.
quint32 ZunCrc16(const QByteArray& data);

// ZunCrc16 with the top bit cleared: the key of setups and FIR/limiter sets, so that a
// key never collides with the "keep the current set" marker 0xFFFFFFFF.
quint32 ZunCrc16Data(const QByteArray& data);
