#include "ZunMetaTypes.h"

#include "CZunDelay.h"
#include "CZunHardwareInfo.h"
#include "FilterLimiterEWS.h"
#include "ZunC.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunRoutingMetaTypes.h"

#include <QMap>
#include <QMetaType>
#include <QStringList>

void registerZunMetaTypes()
{
    registerProtocolMetaTypes();
    registerRoutingMetaTypes();
    qRegisterMetaType<CZunDelay>("CZunDelay");
    qRegisterMetaType<CZunHardwareInfo>("CZunHardwareInfo");
    qRegisterMetaType<QShPtrFLE>("QShPtrFLE");
    qRegisterMetaType<ZunC::AnalogOutputs>("ZunC::AnalogOutputs");
    qRegisterMetaType<ZunC::InputPaths>("ZunC::InputPaths");
    qRegisterMetaType<ZunC::Units>("ZunC::Units");
    qRegisterMetaType<ZunC::LimiterReference>("ZunC::LimiterReference");
    qRegisterMetaType<ZunC::CopyFIRCoeffsMode>("ZunC::CopyFIRCoeffsMode");
    qRegisterMetaType<QMap<quint32, QStringList>>("QMap<quint32,QStringList>");
}
