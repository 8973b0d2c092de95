#include "CZunDelaySpinBox.h"

#include <QLineEdit>
#include <QLocale>

#include <cmath>

CZunDelaySpinBox::CZunDelaySpinBox(QWidget* parent) : QSpinBox(parent), m_validator(new QDoubleValidator(this))
{
    setRange(0, MaxSamples);
    // The base class wrote its own text before this class could: show milliseconds at once.
    lineEdit()->setText(textFromValue(value()));
    connect(this, qOverload<int>(&QSpinBox::valueChanged), this, &CZunDelaySpinBox::onValueChanged);
    connect(this, &QSpinBox::editingFinished, this, &CZunDelaySpinBox::onEditingFinished);
}

bool CZunDelaySpinBox::samplesOf(double seconds, double rate, quint32* samples)
{
    const double x = seconds * rate + 0.5;
    if (!(x > -1.0 && x < 4294967296.0))
        return false;
    *samples = quint32(x);
    return true;
}

void CZunDelaySpinBox::stepBy(int steps)
{
    m_typedBeyond = -1.0;
    QSpinBox::stepBy(steps);
    emit valueChangedEditFinished(delay());
}

void CZunDelaySpinBox::setSamplingrate(double rate)
{
    if (m_rate == 0.0)
        return;
    // The nearest sample at the new rate: truncating showed a delay one sample short.
    const CZunDelay kept = delay();
    m_rate = rate;
    setDelay(kept);
}

void CZunDelaySpinBox::setDelay(CZunDelay d)
{
    quint32 samples = 0;
    if (!samplesOf(d.seconds(), m_rate, &samples))
        samples = d.seconds() < 0.0 ? 0 : quint32(MaxSamples);
    setValue(int(qMin<quint32>(samples, quint32(MaxSamples))));
}

void CZunDelaySpinBox::onValueChanged(int samples) { emit valueChanged(CZunDelay(quint32(samples), m_rate)); }

void CZunDelaySpinBox::onEditingFinished()
{
    const double typed = m_typedBeyond;
    m_typedBeyond = -1.0;
    emit valueChangedEditFinished(typed >= 0.0 ? CZunDelay::fromSeconds(typed / 1000.0) : delay());
}

QValidator::State CZunDelaySpinBox::validate(QString& text, int& pos) const
{
    m_validator->setLocale(locale());
    return m_validator->validate(text, pos);
}

QString CZunDelaySpinBox::textFromValue(int samples) const
{
    // No group separators: "1365.33", never "1,365.33", which reads as a list.
    QLocale shown = locale();
    shown.setNumberOptions(shown.numberOptions() | QLocale::OmitGroupSeparator);
    if (m_rate <= 0.0)
        return shown.toString(0);
    return shown.toString(samples / m_rate * 1000.0, 'g', 6);
}

int CZunDelaySpinBox::valueFromText(const QString& text) const
{
    // A text that cannot be read, or a time far outside the box, never ends the edit
    // anywhere but inside the range: unreadable keeps the value, too large or negative
    // ends at the nearer end.
    bool ok = false;
    m_typedBeyond = -1.0;
    const double ms = locale().toDouble(text, &ok);
    if (!ok || std::isnan(ms) || m_rate <= 0.0)
        return value();
    quint32 samples = 0;
    if (!samplesOf(ms / 1000.0, m_rate, &samples)) {
        if (ms < 0.0)
            return minimum();
        m_typedBeyond = std::isinf(ms) ? -1.0 : ms;
        return maximum();
    }
    if (samples > quint32(maximum())) {
        m_typedBeyond = ms;
        return maximum();
    }
    return int(samples);
}
