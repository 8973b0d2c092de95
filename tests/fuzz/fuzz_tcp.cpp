// The byte stream of the TCP control link: frames in any cut, with a parameter read, a
// block read or a block write waiting for them (or nothing at all).
//
// Input: a selector byte (what waits: 0 nothing, 1 a parameter read, 2 a block read,
// 3 a block write; 4-7 a block read fed by block runs, below), a byte for the cut, then the
// stream. With selectors 4-7 the stream is records, each a byte that says what follows:
// even, raw bytes (a length byte, then that many); odd, a run of well-formed block chunks
// the target builds (u32 block length, u16 first chunk index, u16 number of chunks, up to
// 20 in all, a fill byte), each with its right length and sum, fed in cuts of the cut
// byte's size in KiB, so that the fuzzer reaches block lengths up to 2^32 and chunk
// indexes up to 65535, which it cannot spell out byte by byte.
#include "CZunMetaCmd.h"
#include "FuzzSupport.h"
#include "ZunCmdBuffer.h"
#include "ZunWire.h"

#include <QtEndian>

namespace {

constexpr quint16 Kind = 7;

class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    bool atEnd() const { return m_p >= m_end; }
    quint8 byte() { return atEnd() ? 0 : *m_p++; }
    quint16 word() { const quint8 lo = byte(); return quint16(lo | byte() << 8); }
    quint32 dword() { const quint16 lo = word(); return quint32(lo) | quint32(word()) << 16; }
    QByteArray take(size_t n)
    {
        n = qMin(n, size_t(m_end - m_p));
        const QByteArray out(reinterpret_cast<const char*>(m_p), int(n));
        m_p += n;
        return out;
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

QByteArray chunkFrame(quint16 index, quint32 total, char fill)
{
    const quint64 at = quint64(index) * ZunWire::ChunkSize;
    const int n = at >= total ? 0 : int(qMin<quint64>(ZunWire::ChunkSize, total - at));
    QByteArray f(ZunWire::HeaderSize + ZunWire::BlockChunkOverhead + n, fill);
    qToLittleEndian<quint16>(ZunWire::BlockRead, f.data());
    qToLittleEndian<quint16>(quint16(ZunWire::BlockChunkOverhead + n), f.data() + 2);
    qToLittleEndian<quint16>(Kind, f.data() + 4);
    qToLittleEndian<quint16>(index, f.data() + 6);
    qToLittleEndian<quint32>(total, f.data() + 8);
    qToLittleEndian<quint16>(quint16(quint8(fill) * n), f.data() + 12 + n);
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 2)
        return 0;
    ZunCmdBuffer buffer;
    int finished = 0;
    int longest = 0;
    QObject::connect(&buffer, &ZunCmdBuffer::cmdProcessed, [&](const CZunCmd& cmd) {
        ++finished;
        longest = qMax(longest, cmd.getReply().size());
    });
    const bool runs = data[0] % 8 >= 4;
    switch (data[0] % 4) {
    case 1: buffer.append(CZunMetaCmd(0xFF0B, 3)); break;                         // parameter read
    case 2: buffer.append(CZunMetaCmd(0xFF04, Kind)); break;                      // block read
    case 3: buffer.append(CZunMetaCmd(0xFF00, 5000, QByteArray(5000, 'x'))); break; // block write
    default: break;
    }
    if (runs && data[0] % 4 != 2)
        buffer.append(CZunMetaCmd(0xFF04, Kind));
    const size_t chunk = size_t(data[1]) + 1;
    if (!runs) {
        for (size_t at = 2; at < size; at += chunk)
            buffer.receive(ZunFuzz::bytes(data + at, std::min(chunk, size - at)));
    } else {
        Input in(data + 2, size - 2);
        // A block's length is checked at its first chunk, its data chunk by chunk: 20 chunks
        // an input (80 KiB, past the 16-bit lengths) reach every path; blocks of thousands
        // of chunks took seconds an input.
        int budget = 20;
        while (!in.atEnd() && budget > 0) {
            if (in.byte() % 2 == 0) {
                buffer.receive(in.take(in.byte()));
                continue;
            }
            const quint32 total = in.dword();
            const quint16 first = in.word();
            const int count = qMin(int(in.word() % 21), budget);
            budget -= count;
            const char fill = char(in.byte());
            QByteArray stream;
            for (int i = 0; i < count && quint32(first) + quint32(i) <= 0xFFFFu; ++i) {
                stream += chunkFrame(quint16(first + i), total, fill);
                // In cuts of the cut byte's size, as TCP may hand them over.
                if (stream.size() >= 64 * 1024 || i + 1 == count) {
                    for (int at = 0; at < stream.size(); at += int(chunk) * 1024)
                        buffer.receive(stream.mid(at, int(chunk) * 1024));
                    stream.clear();
                }
            }
        }
    }
    // No reply is longer than the longest block a transfer can be.
    ZUN_FUZZ_CHECK(longest <= int(ZunWire::MaxBlockSize));
    buffer.reset();
    buffer.abandonAll();
    ZUN_FUZZ_CHECK(buffer.isIdle());
    return 0;
}
