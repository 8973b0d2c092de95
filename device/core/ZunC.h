#pragma once

#include "ZunMultipathMode.h"

#include <QObject>

// Enumerations carried by signals between the control window and the device model. Each
// has int as its fixed type, so a number outside the enumerators (a bad channel number
// from a caller) is a well-defined value that the device object's checks can refuse.
namespace ZunC
{
Q_NAMESPACE

// Outputs 0-3 belong to DSP 0, 4-7 to DSP 1.
enum AnalogOutputs : int { Output0 = 0, Output1, Output2, Output3, Output4, Output5, Output6, Output7 };
Q_ENUM_NS(AnalogOutputs)

// Input paths A-D belong to DSP 0, E-H to DSP 1; NoPath stands for an input that feeds none.
enum InputPaths : int { PathA = 0, PathB, PathC, PathD, PathE, PathF, PathG, PathH, NoPath = 99 };
Q_ENUM_NS(InputPaths)

enum Units : int { Watt = 0, VoltRms = 1, VoltPeak = 2, dBu = 3, dBV = 4, dB = 5 };
Q_ENUM_NS(Units)

enum LimiterReference : int { AmplifierOutput = 0, ControllerOutput = 1 };
Q_ENUM_NS(LimiterReference)

// The word of a DSP's FIR coefficient copy parameter; Unchanged is only given to setters.
enum CopyFIRCoeffsMode : int { Unchanged = -1, NoCopies = 0, CopyMidHighToSubLow = 1, CopyHighToSubLowMid = 3 };
Q_ENUM_NS(CopyFIRCoeffsMode)

} // namespace ZunC
