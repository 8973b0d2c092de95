#include "CZunHardwareInfo.h"

#include <QTextStream>

QString CZunHardwareInfo::toHtml() const
{
    auto yesNo = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
    QString html;
    QTextStream out(&html);
    out << "<qt><b>Zun hardware information</b><br>";
    out << "<b>Device:</b> Zun " << (isDoubleBoard() ? "double" : "single") << "-board "
        << (hasFrontPanel() ? "with" : "without") << " front panel" << "<br>";
    out << "<b>Nr. of AD converters:</b> " << adConverterCount() << "<br>";
    out << "<b>Nr. of DA converters:</b> " << daConverterCount() << "<br>";
    out << "<b>Nr. of single range analog inputs:</b> " << analogInputCount() << "<br>";
    out << "<b>Nr. of analog outputs:</b> " << analogOutputCount() << "<br>";
    out << "<b>AES receiver:</b> " << yesNo(hasAESReceiver()) << "<br>";
    out << "<b>AES transmitter:</b> " << yesNo(hasAESTransmitter()) << "<br>";
    out << "<b>Samplerate converter:</b> " << yesNo(hasSampleRateConverter()) << "<br>";
    out << "<b>Dante enabled:</b> " << yesNo(isDanteEnabled()) << "<br>";
    out.flush();
    return html;
}

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
