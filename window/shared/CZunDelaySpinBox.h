#pragma once

#include "CZunDelay.h"

#include <QDoubleValidator>
#include <QSpinBox>

// A delay editor: its value is a whole number of samples (0 to 65,536), the operator reads
// and types milliseconds in the user's locale. Arrows step by one sample. A typed time
// beyond the box's end shows as that end, but the finished edit carries what was typed,
// so that the refusal names the operator's own number.
class CZunDelaySpinBox : public QSpinBox
{
    Q_OBJECT
public:
    static constexpr int MaxSamples = 65536;

    explicit CZunDelaySpinBox(QWidget* parent = nullptr);

    double samplingrate() const { return m_rate; }
    CZunDelay delay() const { return CZunDelay(quint32(value()), m_rate); }
    // Shows a delay as its nearest sample at the box's rate, within the box's range.
    void setDelay(CZunDelay d);

    // Samples of a time at a rate, rounded half up; false (and *samples untouched) for a
    // count below 0 or beyond 32 bits, and for a time that is not a number.
    static bool samplesOf(double seconds, double rate, quint32* samples);

    void stepBy(int steps) override;

signals:
    void valueChanged(CZunDelay delay);
    void valueChangedEditFinished(CZunDelay delay);

public slots:
    // Keeps the delay in time: the sample count follows the new rate.
    void setSamplingrate(double rate);
    void onValueChanged(int samples);
    void onEditingFinished();

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    QString textFromValue(int samples) const override;
    int valueFromText(const QString& text) const override;

private:
    double m_rate = 48000.0;
    QDoubleValidator* m_validator;
    // The typed milliseconds of the entry being finished, when they lay beyond the box.
    mutable double m_typedBeyond = -1.0;
};
