#pragma once

#include <QtGlobal>

// Fixed numbers of the TCP control link. They are the same in every firmware version (the
// command tables carry them as ID_RX_Block_Start, ID_TX_Block, ID_TX_Version,
// ID_TX_CmdReq and ID_Error; a test keeps the two in step). The framing needs them
// before a command map is known, so they live here as constants.
namespace ZunWire
{
constexpr quint16 BlockWrite = 0xFF00;   // block transfer to the processor
constexpr quint16 BlockRead = 0xFF04;    // block transfer from the processor
constexpr quint16 Version = 0xFF0A;      // version request
constexpr quint16 ParRead = 0xFF0B;      // read one parameter
constexpr quint16 Refusal = 0xFFFF;      // the processor refused a command

constexpr int HeaderSize = 4;            // id word + value/length word
constexpr int ChunkSize = 4096;          // data bytes per block chunk
constexpr int BlockStartSize = 8;        // 00 FF, low 16 bits of the length, u32 length
constexpr int BlockAckSize = 6;          // payload of a block-write acknowledgement
constexpr int RefusalSize = 6;           // payload of a refusal: code, id, value
constexpr int ParReplySize = 4;          // payload of a parameter read: value, number
constexpr int BlockChunkOverhead = 10;   // kind, chunk index, u32 total, ..., sum
constexpr int MaxReplyPayload = 64;      // longest payload of an ordinary reply
constexpr int ImageWords = 1700;         // parameter numbers below this are image words
// The processor's transfer buffer: no block, in either direction, is longer (twice the
// flash, so a flash entry, the directory and the parameter image all fit).
constexpr quint32 MaxBlockSize = 4 * 1024 * 1024;

// The 16-bit sum of a chunk's bytes (each byte taken unsigned, the sum modulo 65536).
inline quint16 byteSum(const char* data, int size)
{
    quint32 sum = 0;
    for (int i = 0; i < size; ++i)
        sum += quint8(data[i]);
    return quint16(sum);
}
} // namespace ZunWire
