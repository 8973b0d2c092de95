#include "ZunProtocolMetaTypes.h"

#include "CZunCmd.h"

#include <QAbstractSocket>
#include <QMetaType>

void registerProtocolMetaTypes()
{
    qRegisterMetaType<CZunCmd>("CZunCmd");
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
}
