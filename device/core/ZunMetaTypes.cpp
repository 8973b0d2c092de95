#include "ZunMetaTypes.h"

#include "CCmdMap.h"
#include "CZunBiquad.h"
#include "CZunDelay.h"
#include "CZunHighOrderFilter.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunHardwareInfo.h"
#include "FilterLimiterEWS.h"
#include "ZunC.h"
#include "ZunDeviceStats.h"
#include "ZunDSPProgramInfo.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunRoutingMetaTypes.h"

#include <QMap>
#include <QMetaType>
#include <QStringList>

void registerZunMetaTypes()
{
    registerProtocolMetaTypes();
    registerRoutingMetaTypes();
    ZunDSPProgramInfo::registerMetaType();
    qRegisterMetaType<CZunDelay>("CZunDelay");
    qRegisterMetaType<CZunHardwareInfo>("CZunHardwareInfo");
    qRegisterMetaType<QShPtrFLE>("QShPtrFLE");
    qRegisterMetaType<ZunC::AnalogOutputs>("ZunC::AnalogOutputs");
    qRegisterMetaType<ZunC::InputPaths>("ZunC::InputPaths");
    qRegisterMetaType<ZunC::Units>("ZunC::Units");
    qRegisterMetaType<ZunC::LimiterReference>("ZunC::LimiterReference");
    qRegisterMetaType<ZunC::CopyFIRCoeffsMode>("ZunC::CopyFIRCoeffsMode");
    qRegisterMetaType<QMap<quint32, QStringList>>("QMap<quint32,QStringList>");
    qRegisterMetaType<CZunBiquad*>("CZunBiquad*");
    qRegisterMetaType<CZunHighOrderFilter*>("CZunHighOrderFilter*");
    qRegisterMetaType<QSharedPointer<ZunDeviceStats>>("QSharedPointer<ZunDeviceStats>");
    qRegisterMetaType<QSharedPointer<CCmdMap>>("QSharedPointer<CCmdMap>");
    qRegisterMetaType<CZunOutput*>("CZunOutput*");
    qRegisterMetaType<CZunInput*>("CZunInput*");
    qRegisterMetaType<CZunAbstractInOutput*>("CZunAbstractInOutput*");
    qRegisterMetaType<CZunAbstractFrequencyResponse*>("CZunAbstractFrequencyResponse*");
    qRegisterMetaType<QList<quint32>>("QList<quint32>");
}
