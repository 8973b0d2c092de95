#include "ZunDSPProgramInfo.h"

#include "ZunDeviceResources.h"

#include <QFile>

#include <stdexcept>

namespace {

const char* const kWrongDSPType = "ZunDSPProgramInfo::fromProgID() : wrong DSP type specified";
const QString kSystemFolder = QStringLiteral(":/resources/System/");

QByteArray readWhole(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::logic_error(QStringLiteral("Could not read DSP program %1.").arg(path).toStdString());
    return f.readAll();
}

} // namespace

ZunDSPProgramInfo::ZunDSPProgramInfo(quint16 progID, quint16 firmware)
    : m_firmware(firmware)
{
    fromProgID(progID, firmware, DSPTypeFromId);
}

void ZunDSPProgramInfo::fromProgID(quint16 id, quint16 firmware, quint16 dspType)
{
    // Decide everything before touching the record, so a refused type leaves it whole.
    int variant;
    switch (dspType) {
    case DSPTypeFromId:
        variant = id >> 12;
        break;
    case DSPType307:
        variant = 0;
        break;
    case DSPType321:
        variant = m_subVariant == 0 ? 1 : 2;
        break;
    default:
        throw std::logic_error(kWrongDSPType);
    }
    if (variant > 2)
        throw std::logic_error(kWrongDSPType);

    m_digit[3] = id & 7;
    m_digit[2] = (id >> 3) & 7;
    m_digit[1] = (id >> 6) & 7;
    m_digit[0] = (id >> 9) & 7;
    m_variant = static_cast<quint16>(variant);
    m_family = variant == 0 ? 307 : 321;
    m_subVariant = variant == 2 ? 1 : 0;
    m_progID = static_cast<quint16>((id & 0xFFF) | (variant << 12));
    // The path names the folder of the firmware the record is made for.
    m_firmware = firmware;
}

QString ZunDSPProgramInfo::displayText() const
{
    QString text = QString::number(m_family);
    for (quint16 d : m_digit)
        text += QLatin1Char(' ') + QString::number(1 << d);
    return text;
}

QString ZunDSPProgramInfo::resourcePath() const
{
    return kSystemFolder + QString::number(m_firmware) + QLatin1Char('/') + fileName();
}

void ZunDSPProgramInfo::setDSPType(quint16 dspType)
{
    fromProgID(m_progID, m_firmware, dspType);
}

QString ZunDSPProgramInfo::fileName() const
{
    QString name;
    for (quint16 d : m_digit)
        name += QString::number(d);
    return name + QStringLiteral("_%1_%2.dsp").arg(m_family).arg(m_subVariant);
}

quint16 ZunDSPProgramInfo::digit(int index) const
{
    if (index < 0 || index > 3)
        throw std::out_of_range("ZunDSPProgramInfo::digit(): index must be 0 to 3");
    return m_digit[index];
}

QByteArray ZunDSPProgramInfo::readProgram() const
{
    initDeviceResources();
    const QString own = resourcePath();
    if (QFile::exists(own))
        return readWhole(own);

    // A firmware that shares another's programs names that firmware's folder.
    QFile version(kSystemFolder + QString::number(m_firmware) + QStringLiteral("/version.txt"));
    if (!version.open(QIODevice::ReadOnly))
        throw std::logic_error("The dsp programs for this version are not contained in the executable. "
                               "Please update to a newer version.");
    const QString folder = QString::fromUtf8(version.readAll());
    const QString path = kSystemFolder + folder + QLatin1Char('/') + fileName();
    if (!QFile::exists(path))
        throw std::logic_error(QStringLiteral("Could not find DSP program %1 inside executable. "
                                              "Please update to a newer version of ZunControl.")
                                   .arg(path)
                                   .toStdString());
    return readWhole(path);
}

quint16 ZunDSPProgramInfo::linkedProgID(int mode, quint16 id)
{
    switch (mode) {
    case 1:
        return static_cast<quint16>((id & 0x3F) * 65 | (id & 0xF000));
    case 3:
        return static_cast<quint16>((id & 7) * 0x249 | (id & 0xF000));
    default:
        return id;
    }
}

void ZunDSPProgramInfo::registerMetaType()
{
    qRegisterMetaType<ZunDSPProgramInfo>("ZunDSPProgramInfo");
}
