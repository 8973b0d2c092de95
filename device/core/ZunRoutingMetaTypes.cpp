#include "ZunRoutingMetaTypes.h"

#include "AudioIOStatus.h"
#include "CRoutingLibrary.h"
#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"
#include "ZunMultipathMode.h"

#include <QMetaType>

void registerRoutingMetaTypes()
{
    qRegisterMetaType<CZunRoutingPreset>("CZunRoutingPreset");
    qRegisterMetaType<CZunInputPreset>("CZunInputPreset");
    qRegisterMetaType<CZunFullRoutingPreset>("CZunFullRoutingPreset");
    qRegisterMetaType<ZunC::MultipathMode>("ZunC::MultipathMode");
    qRegisterMetaType<QSharedPointer<CRoutingLibrary>>("QSharedPointer<CRoutingLibrary>");
    qRegisterMetaType<QSharedPointer<AudioIOStatus>>("QSharedPointer<AudioIOStatus>");
}
