#pragma once

#include <QMetaType>
#include <QtGlobal>

// The decoded EQ record of the parameter image, passed between the EQ tables, the EQ
// manager, the filter objects and the CSV import.
struct EQ_PARAMS
{
    quint16 number = 0;
    quint16 bank = 0;        // channel slot 0-11
    double frequency = 0.0;  // Hz
    double gain = 0.0;       // dB
    double quality = 0.0;
    quint16 type = 0;
    bool active = false;
    bool flag = false;       // record flag (bit 15 of the type word)
    bool section = false;    // a section of a high-order filter; not stored in the record
};

// The decoded high-order (crossover) filter record.
struct HO_FILTER_PARAMS
{
    static constexpr quint16 NoSection = 255;

    quint16 number = 0;
    quint16 bank = 0;        // channel slot 0-11, 0xFFFF = none
    bool active = false;     // not stored in the record
    bool flag = false;
    quint16 passband = 0;    // 0 low pass, 1 high pass, 2 all pass
    quint16 characteristic = 8;
    double frequency = 100.0;
    quint16 order = 4;
    double ripple = 0.1;     // dB
    quint16 sections[5] = {NoSection, NoSection, NoSection, NoSection, NoSection};

    // The values of a new filter; a bank above 11 becomes "none".
    void setDefaults()
    {
        passband = 0;
        characteristic = 8;
        order = 4;
        frequency = 100.0;
        ripple = 0.1;
        for (quint16& s : sections)
            s = NoSection;
        if (bank > 11)
            bank = 0xFFFF;
    }
};

Q_DECLARE_METATYPE(EQ_PARAMS)
Q_DECLARE_METATYPE(HO_FILTER_PARAMS)
