#pragma once

#include "CZunFrequencyGrid.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVector>

// Base of every object with a frequency response: EQs, crossover filters, channels, FIR
// sets. The response lives on a fixed logarithmic grid (512 points from 20 Hz to 20 kHz
// unless a subclass asks for another) as three vectors of equal length, shared with their
// readers: frequencies in Hz, magnitude in dB, phase in degrees wrapped to (-180, 180].
// A new response is flat: 0 dB, 0 degrees.
class CZunAbstractFrequencyResponse : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultPoints = 512;
    static constexpr double DefaultStart = 20.0;
    static constexpr double DefaultEnd = 20000.0;

    explicit CZunAbstractFrequencyResponse(int points = DefaultPoints, double start = DefaultStart,
                                           double end = DefaultEnd, QObject* parent = nullptr);
    ~CZunAbstractFrequencyResponse() override;

    // The user name when it is not empty, else the default name.
    QString GetName() const;
    // Stores the user name (the empty text brings the default name back).
    void SetName(const QString& name);
    QString defaultName() const { return m_defaultName; }

    QSharedPointer<QVector<double>> getFrequencies() const { return m_frequencies; }
    QSharedPointer<QVector<double>> getMagnitude() const { return m_magnitude; }
    QSharedPointer<QVector<double>> getPhase() const { return m_phase; }

    int points() const { return m_grid->size(); }
    const CZunFrequencyGrid& grid() const { return *m_grid; }

public slots:
    // Computes the response again and emits dataChanged. The base has nothing to compute.
    virtual void recalculate();

signals:
    void nameChanged(QString name);
    void dataChanged();

protected:
    void setDefaultName(const QString& name) { m_defaultName = name; }
    // Sets the response to 0 dB and 0 degrees everywhere (does not signal).
    void setFlat();

    // First two members by design: the default name and the user name.
    QString m_defaultName;
    QString m_name;

    QSharedPointer<const CZunFrequencyGrid> m_grid;
    QSharedPointer<QVector<double>> m_frequencies;
    QSharedPointer<QVector<double>> m_magnitude;
    QSharedPointer<QVector<double>> m_phase;
};

Q_DECLARE_METATYPE(CZunAbstractFrequencyResponse*)
