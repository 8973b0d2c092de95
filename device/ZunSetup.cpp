#include "ZunSetup.h"

#include <stdexcept>

namespace
{
// Fixed words of a setup image.
constexpr quint16 FirLow0 = 146, FirHigh0 = 147, FirLow1 = 916, FirHigh1 = 917;
constexpr quint16 DSPProg0 = 103, DSPProg1 = 873;
} // namespace

quint32 ZunSetup::GetActiveFilterIndex(int dsp) const
{
    if (dsp == 0 || dsp == 1)
        return quint32(getValue(FirHigh0)) << 16 | getValue(FirLow0);
    if (dsp == 2)
        return quint32(getValue(FirHigh1)) << 16 | getValue(FirLow1);
    throw std::logic_error("CZun::GetActiveFilterIndex(): dsp must be 0, 1 or 2.");
}

void ZunSetup::SetFIRIndex(quint32 id, int dsp)
{
    if (dsp < 0 || dsp > 2)
        throw std::logic_error("CZun::SetFIRIndex(): dsp must be 0, 1 or 2.");
    const quint16 low = quint16(id & 0xFFFF), high = quint16(id >> 16);
    if (dsp != 2) {
        setValue(FirLow0, low);
        setValue(FirHigh0, high);
    }
    if (dsp != 1) {
        setValue(FirLow1, low);
        setValue(FirHigh1, high);
    }
}

quint16 ZunSetup::GetDSPProgID(int dsp) const
{
    if (dsp == 0 || dsp == 1)
        return getValue(DSPProg0);
    if (dsp == 2)
        return getValue(DSPProg1);
    throw std::logic_error("CZun::GetDSPProgID(): dsp must be 0, 1 or 2.");
}
