#pragma once

#include <QObject>

// Enumerations carried by signals between the control window and the device model.
namespace ZunC
{
Q_NAMESPACE

// Outputs 0-3 belong to DSP 0, 4-7 to DSP 1.
enum AnalogOutputs { Output0 = 0, Output1, Output2, Output3, Output4, Output5, Output6, Output7 };
Q_ENUM_NS(AnalogOutputs)

// Input paths A-D belong to DSP 0, E-H to DSP 1; NoPath stands for an input that feeds none.
enum InputPaths { PathA = 0, PathB, PathC, PathD, PathE, PathF, PathG, PathH, NoPath = 99 };
Q_ENUM_NS(InputPaths)

enum Units { Watt = 0, VoltRms = 1, VoltPeak = 2, dBu = 3, dBV = 4, dB = 5 };
Q_ENUM_NS(Units)

enum LimiterReference { AmplifierOutput = 0, ControllerOutput = 1 };
Q_ENUM_NS(LimiterReference)

// The word of a DSP's FIR coefficient copy parameter; Unchanged is only given to setters.
enum CopyFIRCoeffsMode { Unchanged = -1, NoCopies = 0, CopyMidHighToSubLow = 1, CopyHighToSubLowMid = 3 };
Q_ENUM_NS(CopyFIRCoeffsMode)

enum MultipathMode { MultipathNone = 0, MultipathMidHi = 1, MultipathLoMid = 2, MultipathLoMidHi = 3,
                     MultipathDoubleMidHigh = 4 };
Q_ENUM_NS(MultipathMode)
} // namespace ZunC
