#pragma once

#include <QMetaType>

namespace ZunC {

// How the FIR path of one DSP is split into ways; carried between the configuration
// wizard, the routing picture and the device model.
enum MultipathMode {
    MP_None = 0,    // "None"
    MP_MidHi = 1,   // "Mid+Hi"
    MP_LoMid = 2,   // "Lo+Mid"
    MP_LoMidHi = 3, // "Lo+Mid+Hi"
    MP_2xMidHi = 4  // "2 x Mid+High"
};

} // namespace ZunC

Q_DECLARE_METATYPE(ZunC::MultipathMode)
