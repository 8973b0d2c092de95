#pragma once

#include <QSharedPointer>
#include <QVector>

// A logarithmic frequency grid and, per sample rate, the complex exponentials of its points
// (e^-jw and e^-j2w with w = 2 pi f / fs), which every biquad evaluation on the grid needs.
// Grids and tables are built once per process and shared; they are immutable once built.
class CZunFrequencyGrid
{
public:
    // cos(w), sin(w), cos(2w), sin(2w) for every point of the grid at one sample rate.
    struct Exponentials
    {
        double sampleRate = 0.0;
        QVector<double> cos1, sin1, cos2, sin2;
    };

    // The shared grid of points frequencies from start to end (both included exactly).
    static QSharedPointer<const CZunFrequencyGrid> get(int points, double start, double end);

    int size() const { return m_frequencies.size(); }
    double start() const { return m_start; }
    double end() const { return m_end; }
    const QVector<double>& frequencies() const { return m_frequencies; }
    // 0.0 at every point: the values of a flat response, shared by every new one.
    const QVector<double>& zeros() const { return m_zeros; }

    // The table for a sample rate, built on first use; thread-safe.
    QSharedPointer<const Exponentials> exponentials(double sampleRate) const;

    CZunFrequencyGrid(int points, double start, double end);

private:
    double m_start;
    double m_end;
    QVector<double> m_frequencies;
    QVector<double> m_zeros;
};
