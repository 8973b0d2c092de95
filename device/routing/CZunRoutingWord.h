#pragma once

#include <QtGlobal>

// The processor's 16-bit routing word ("Cmd_SPI_Routing", "Cmd_DSP_Routing", and the
// value of every "Inf_FR_" entry), decoded:
//   bits 0-6  routing-preset number (bits 4-6 its group)
//   bits 7-14 input-preset number (bits 11-13 its group)
//   bit 15    top flag, carried but not interpreted.
class CZunRoutingWord
{
public:
    // The decoding of 0x1291.
    CZunRoutingWord() { decode(DefaultWord); }
    explicit CZunRoutingWord(quint16 w) { decode(w); }

    void decode(quint16 w);

    // routing-preset number OR input-preset number << 7, cut to 16 bits.
    static quint16 compose(quint16 routingPresetNumber, quint16 inputPresetNumber)
    {
        return static_cast<quint16>(routingPresetNumber | (inputPresetNumber << 7));
    }

    bool operator==(const CZunRoutingWord& o) const { return word == o.word; }
    bool operator!=(const CZunRoutingWord& o) const { return word != o.word; }

    static constexpr quint16 DefaultWord = 0x1291;

    quint16 word = 0;
    quint16 rpNumber = 0;
    quint16 rpGroup = 0;
    quint16 irNumber = 0;
    quint16 irGroup = 0;
    quint16 topBit = 0;
};
