// The CSV import of EQ and crossover lists: nothing accepted lies outside the ranges or
// at or above half the sample rate.
#include "FuzzSupport.h"
#include "ZunFilterImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZunFuzz::init();
    if (size < 1)
        return 0;
    ZunFilterImport::Ranges ranges;
    const double rates[] = {44100.0, 48000.0, 96000.0};
    ranges.sampleRate = rates[data[0] % 3];
    const ZunFilterImport::Result r = ZunFilterImport::parse(ZunFuzz::bytes(data + 1, size - 1), ranges);
    for (const EQ_PARAMS& eq : r.eqs) {
        ZUN_FUZZ_CHECK(eq.frequency < ranges.sampleRate / 2 && eq.frequency >= ranges.minFrequency);
        ZUN_FUZZ_CHECK(eq.gain >= ranges.minGain && eq.gain <= ranges.maxGain);
        ZUN_FUZZ_CHECK(eq.quality >= ranges.minQuality && eq.quality <= ranges.maxQuality);
    }
    for (const HO_FILTER_PARAMS& f : r.filters) {
        ZUN_FUZZ_CHECK(f.frequency < ranges.sampleRate / 2 && f.frequency >= ranges.minFrequency);
        ZUN_FUZZ_CHECK(f.order >= 1 && f.order <= 10);
    }
    ZUN_FUZZ_CHECK(r.problems.size() == r.refused);
    return 0;
}
