#pragma once

#include "FilterLimiterEWS.h"
#include "ZunCrc16.h"

#include <QVector>

// Deterministic coefficient lists and sets for the filter tests.
inline QVector<qint32> testCoefficients(int count, int seed)
{
    QVector<qint32> c(count);
    quint32 x = 0x9E3779B9u ^ static_cast<quint32>(seed);
    for (int i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        c[i] = static_cast<qint32>((x >> 8) & 0xFFFFFF) - 0x800000;   // full 24-bit range
    }
    return c;
}

// A named set at 48 kHz with FIR blocks of the given sizes on outputs 0-3 (0 = default
// crossover), output 3 sharing output 2's limiter path and some limiter values changed.
inline FilterLimiterEWS* makeTestSet(const QString& name, int n0 = 300, int n1 = 200, int n2 = 64, int n3 = 0,
                                     double rate = 48000.0)
{
    auto* set = new FilterLimiterEWS(QString(), rate);
    set->SetName(name);
    const int sizes[4] = {n0, n1, n2, n3};
    for (int o = 0; o < 4; ++o)
        set->setOutput(o, testCoefficients(sizes[o], o + 1), static_cast<quint16>(sizes[o] / 2), o == 3 ? 2 : o);
    set->setAmpGain(32.0, 1);
    set->setImpedance(4.0, 2);
    set->setSurgeDuration(0.25, 0);
    set->setMultipathMode(0);
    set->setPathFlagByte(1, 1);
    set->computeKey();
    return set;
}

// Patches a serialised image and fixes its parameter CRC, so only the intended fault remains.
inline QByteArray withParamCrc(QByteArray image)
{
    image[CBlockFIR::OffParamCrc] = 0;
    image[CBlockFIR::OffParamCrc + 1] = 0;
    const quint16 crc = Crc16_8BB7(image.constData(), CBlockFIR::ParamAreaSize);
    image[CBlockFIR::OffParamCrc] = static_cast<char>(crc & 0xFF);
    image[CBlockFIR::OffParamCrc + 1] = static_cast<char>(crc >> 8);
    return image;
}
