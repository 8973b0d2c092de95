#include "CZunBiquad.h"

#include <QDebug>

#include <cmath>
#include <stdexcept>

namespace {

QString outOfBounds(const char* what, float value, const CEQManagerInterface::Limits& limits)
{
    return QString("%1 value of %2 is out of bounds. Valid values are between %3 and %4.")
        .arg(what)
        .arg(QString::number(double(value)), QString::number(limits.minimum), QString::number(limits.maximum));
}

// The value (a float from an editor) is inside when it is inside the float image of the
// limits, so that typing a limit is never refused for its rounding; the stored double is
// then clamped into the exact limits, which the manager's own checks compare against.
bool checkedValue(const char* what, float value, const CEQManagerInterface::Limits& limits, double& result)
{
    if (!(value >= float(limits.minimum) && value <= float(limits.maximum)))
        throw std::logic_error(outOfBounds(what, value, limits).toStdString());
    double v = double(value);
    if (v < limits.minimum)
        v = limits.minimum;
    if (v > limits.maximum)
        v = limits.maximum;
    result = v;
    return true;
}

// Without a manager nothing limits the values.
CEQManagerInterface::Limits unlimited()
{
    return {-HUGE_VAL, HUGE_VAL};
}

} // namespace

CZunBiquad::CZunBiquad(CEQManagerInterface* manager, const EQ_PARAMS& params, const bool& section,
                       QObject* parent)
    : CZunAbstractFrequencyResponse(DefaultPoints, DefaultStart, DefaultEnd, parent),
      m_manager(manager),
      m_number(params.number),
      m_bank(params.bank),
      m_type(params.type),
      m_frequency(params.frequency),
      m_gain(params.gain),
      m_quality(params.quality),
      m_bypass(!params.active),
      m_flag(params.flag),
      m_section(section)
{
    setDefaultName(QString("EQ %1").arg(m_number));
    // A response is never stale, not even before its first change.
    recalculate();
}

Qt::ItemFlags CZunBiquad::gainFlags() const
{
    return CZunBiquadDesign::usesGain(m_type) ? (Qt::ItemIsSelectable | Qt::ItemIsEditable) : Qt::NoItemFlags;
}

Qt::ItemFlags CZunBiquad::qualityFlags() const
{
    return CZunBiquadDesign::usesQuality(m_type) ? (Qt::ItemIsSelectable | Qt::ItemIsEditable) : Qt::NoItemFlags;
}

EQ_PARAMS CZunBiquad::params() const
{
    EQ_PARAMS p;
    p.number = m_number;
    p.bank = m_bank;
    p.frequency = m_frequency;
    p.gain = m_gain;
    p.quality = m_quality;
    p.type = m_type;
    p.active = !m_bypass;
    p.flag = m_flag;
    p.section = m_section;
    return p;
}

double CZunBiquad::sampleRate() const
{
    return CZunBiquadDesign::validSampleRate(m_manager ? m_manager->GetSampleRate() : 0.0);
}

CZunResponseMath::Coefficients CZunBiquad::coefficients() const
{
    if (m_bypass)
        return CZunResponseMath::Coefficients();
    double frequency = m_frequency;
    if (m_manager && CZunBiquadDesign::isShelf(m_type))
        frequency = m_manager->GetShelfResponseFrequency(params());
    return CZunBiquadDesign::design(m_type, frequency, m_gain, m_quality, sampleRate());
}

void CZunBiquad::recalculate()
{
    const auto table = grid().exponentials(sampleRate());
    CZunResponseMath::evaluate(coefficients(), *table, m_magnitude->data(), m_phase->data());
    emit dataChanged();
}

void CZunBiquad::changed()
{
    recalculate();
    emit signal_Changed(this);
}

void CZunBiquad::setType(quint16 type)
{
    m_type = type;
    changed();
}

void CZunBiquad::setFrequency(float frequency)
{
    const auto limits = m_manager ? m_manager->GetEQFrequencyLimits() : unlimited();
    checkedValue("Frequency", frequency, limits, m_frequency);
    changed();
}

void CZunBiquad::setGain(float gain)
{
    const auto limits = m_manager ? m_manager->GetEQGainLimits() : unlimited();
    checkedValue("Gain", gain, limits, m_gain);
    changed();
}

void CZunBiquad::setQuality(float quality)
{
    const auto limits = m_manager ? m_manager->GetEQQualityLimits() : unlimited();
    checkedValue("Quality", quality, limits, m_quality);
    changed();
}

void CZunBiquad::setBank(int bank)
{
    if (bank < 0 || bank > 11)
        throw std::logic_error(
            QString("Invalid bank nr: %1. Valid values are between 0 and %2.").arg(bank).arg(11).toStdString());
    m_bank = quint16(bank);
    emit signal_Changed(this);
}

void CZunBiquad::setBypass(bool bypass)
{
    if (bypass == m_bypass)
        return;
    m_bypass = bypass;
    if (m_manager) {
        EQ_PARAMS p = params();
        try {
            if (bypass)
                m_manager->DeactivateEQ(p);
            else
                m_manager->ActivateEQ(p);
        } catch (...) {
            // The device did not switch: neither does the object.
            m_bypass = !bypass;
            throw;
        }
    }
    changed();
}

void CZunBiquad::setDesign(quint16 type, double frequency, double quality, quint16 bank)
{
    m_type = type;
    m_frequency = frequency;
    m_quality = quality;
    m_gain = 0.0;
    m_bank = bank;
    m_section = true;
}

void CZunBiquad::updateFromDevice()
{
    if (!m_manager)
        return;
    EQ_PARAMS p;
    p.number = m_number;
    m_manager->GetEQ(p);
    m_frequency = p.frequency;
    m_gain = p.gain;
    m_quality = p.quality;
    m_type = p.type;
    m_bank = p.bank;
    m_bypass = !p.active;
    m_flag = p.flag;

    QString typeName;
    try {
        typeName = m_manager->GetStringForEQTypeSelection(m_type, true);
    } catch (const std::logic_error&) {
        // An unnamed type (a newer firmware) still gets a name.
        typeName = QString::number(m_type);
    }
    SetName(QString("%1 %2").arg(typeName, QString::number(m_frequency)));
    changed();
}

void CZunBiquad::writeToDevice(bool neutral)
{
    if (!m_manager)
        return;
    EQ_PARAMS p = params();
    try {
        m_manager->SetEQ(p, neutral);
    } catch (const std::logic_error&) {
        try {
            updateFromDevice();
        } catch (const std::exception& e) {
            qWarning() << "CZunBiquad::writeToDevice(): reload after a refused write failed:" << e.what();
        }
        throw;
    }
}
