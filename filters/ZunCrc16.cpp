#include "ZunCrc16.h"

#include <array>

namespace {

std::array<quint16, 256> buildTable()
{
    std::array<quint16, 256> table{};
    for (int b = 0; b < 256; ++b) {
        quint16 reg = 0;
        for (int bit = 7; bit >= 0; --bit) {
            if (b & (1 << bit))
                reg ^= 0x8000;
            const bool top = reg & 0x8000;
            reg = static_cast<quint16>(reg << 1);
            if (top)
                reg ^= 0x8BB7;
        }
        table[static_cast<size_t>(b)] = reg;
    }
    return table;
}

} // namespace

const quint16* Crc16Table8BB7()
{
    // A function-local static is initialised exactly once, even with concurrent callers.
    static const std::array<quint16, 256> table = buildTable();
    return table.data();
}

quint16 Crc16_8BB7(const char* data, qsizetype size, quint16 crc)
{
    const quint16* table = Crc16Table8BB7();
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 b = static_cast<quint8>(data[i]);
        crc = static_cast<quint16>((crc << 8) ^ table[((crc >> 8) ^ b) & 0xFF]);
    }
    return crc;
}

quint32 ZunCrc16(const QByteArray& data)
{
    const quint16 low = Crc16_8BB7(data.constData(), data.size());
    // Same CRC over the bytes read backwards; no reversed copy needed.
    const quint16* table = Crc16Table8BB7();
    const char* bytes = data.constData();
    quint16 high = 0;
    for (qsizetype i = data.size() - 1; i >= 0; --i) {
        const quint8 b = static_cast<quint8>(bytes[i]);
        high = static_cast<quint16>((high << 8) ^ table[((high >> 8) ^ b) & 0xFF]);
    }
    return (static_cast<quint32>(high) << 16) | low;
}

quint32 ZunCrc16Data(const QByteArray& data)
{
    return ZunCrc16(data) & 0x7FFFFFFFu;
}
