#include "ZunWindowMetaTypes.h"

#include "AudioIOStatus.h"
#include "CZunException.h"
#include "ZunFilterParams.h"
#include "ZunMetaTypes.h"

#include <QMetaType>
#include <QModelIndex>
#include <QTextCursor>

void registerWindowMetaTypes()
{
    // CZunBiquad*, the channel and response pointers and QShPtrFLE are the device library's.
    registerZunMetaTypes();
    qRegisterMetaType<CZunException>("CZunException");
    qRegisterMetaType<QModelIndex>("QModelIndex");
    qRegisterMetaType<QTextCursor>("QTextCursor");
    qRegisterMetaType<AudioIOStatus*>("AudioIOStatus*");
    qRegisterMetaType<HO_FILTER_PARAMS>("HO_FILTER_PARAMS");
    qRegisterMetaType<EQ_PARAMS>("EQ_PARAMS");
}
