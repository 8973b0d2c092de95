#include "CZunHardwareInfo.h"

QDataStream& operator<<(QDataStream& out, const CZunHardwareInfo& info)
{
    return out << quint32(info.hardwareWord()) << quint32(info.extraWord());
}

QDataStream& operator>>(QDataStream& in, CZunHardwareInfo& info)
{
    quint32 hw = 0, extra = 0;
    in >> hw >> extra;
    info = in.status() == QDataStream::Ok ? CZunHardwareInfo(hw, extra) : CZunHardwareInfo();
    return in;
}
