#pragma once

#include "CZunStatusBuffer.h"

// A stored setup: a parameter image with a name, in the layout of its own firmware. Only
// the readers of its fixed words exist yet; reading and writing setup files comes with
// the setup work.
class ZunSetup : public CZunStatusBuffer
{
    Q_OBJECT
public:
    ZunSetup() = default;
    explicit ZunSetup(const QByteArray& image) : CZunStatusBuffer(image) {}

    // The active FIR/limiter set id of DSP 0 (dsp 0 or 1) or DSP 1 (dsp 2).
    quint32 GetActiveFilterIndex(int dsp) const;
    // dsp 0 writes both DSPs' ids, 1 DSP 0's, 2 DSP 1's.
    void SetFIRIndex(quint32 id, int dsp);
    // The DSP program id of DSP 0 (dsp 0 or 1) or DSP 1 (dsp 2).
    quint16 GetDSPProgID(int dsp) const;
};
