#pragma once

#include "CZunHardwareInfo.h"

#include <QList>
#include <QString>

// What a routing or a selector needs of a processor, checked against its hardware word:
// each answer is the reason the processor cannot run the choice (shown to the operator
// beside a choice that is not offered), or empty when it can. While the hardware word is
// unknown (0) nothing counts as missing: the processor may well have every part.
class ZunHardwareNeeds
{
public:
    // A full routing, by its pattern: digital inputs need the AES receiver, and with
    // sample-rate conversion the converter as well.
    static QString missingForPattern(const CZunHardwareInfo& hardware, quint32 pattern);
    // An input preset, by its sources: the AES inputs need the AES receiver.
    static QString missingForSources(const CZunHardwareInfo& hardware, const QList<int>& sources);
    // The AES jack selectors.
    static QString missingForAESInput(const CZunHardwareInfo& hardware);
    static QString missingForAESOutput(const CZunHardwareInfo& hardware);
    // The link of outputs 1-4 with outputs 5-8, which live on the second board.
    static QString missingForStereoLink(const CZunHardwareInfo& hardware);
};
