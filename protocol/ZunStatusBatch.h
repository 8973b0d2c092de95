#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QVector>

// A status datagram as the discovery hands it on: the processor's serial and the whole
// datagram, header included.
struct ZunStatusDatagram
{
    quint16 serial = 0;
    QByteArray bytes;
};

// The status datagrams read in one pass, in the order they arrived.
using ZunStatusBatch = QVector<ZunStatusDatagram>;
Q_DECLARE_METATYPE(ZunStatusBatch)
