#include "CZunFrequencyGrid.h"

#include <QMutex>
#include <QMutexLocker>

#include <cmath>
#include <map>
#include <tuple>

namespace {

QMutex& cacheMutex()
{
    static QMutex mutex;
    return mutex;
}

// Both caches are small: one grid in practice, and a table per sample rate in use.
std::map<std::tuple<int, double, double>, QSharedPointer<const CZunFrequencyGrid>>& gridCache()
{
    static std::map<std::tuple<int, double, double>, QSharedPointer<const CZunFrequencyGrid>> cache;
    return cache;
}

std::map<std::tuple<const CZunFrequencyGrid*, double>, QSharedPointer<const CZunFrequencyGrid::Exponentials>>&
tableCache()
{
    static std::map<std::tuple<const CZunFrequencyGrid*, double>,
                    QSharedPointer<const CZunFrequencyGrid::Exponentials>> cache;
    return cache;
}

} // namespace

CZunFrequencyGrid::CZunFrequencyGrid(int points, double start, double end)
    : m_start(start), m_end(end)
{
    if (points < 1)
        points = 1;
    m_zeros = QVector<double>(points, 0.0);
    m_frequencies.resize(points);
    if (points == 1) {
        m_frequencies[0] = start;
        return;
    }
    const double ratio = std::log(end / start);
    for (int i = 0; i < points; ++i)
        m_frequencies[i] = start * std::exp(ratio * i / (points - 1));
    // Exact ends, whatever exp rounds to.
    m_frequencies[0] = start;
    m_frequencies[points - 1] = end;
}

QSharedPointer<const CZunFrequencyGrid> CZunFrequencyGrid::get(int points, double start, double end)
{
    QMutexLocker lock(&cacheMutex());
    auto& cache = gridCache();
    const auto key = std::make_tuple(points, start, end);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    QSharedPointer<const CZunFrequencyGrid> grid(new CZunFrequencyGrid(points, start, end));
    cache.emplace(key, grid);
    return grid;
}

QSharedPointer<const CZunFrequencyGrid::Exponentials> CZunFrequencyGrid::exponentials(double sampleRate) const
{
    QMutexLocker lock(&cacheMutex());
    auto& cache = tableCache();
    const auto key = std::make_tuple(this, sampleRate);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;

    QSharedPointer<Exponentials> table(new Exponentials);
    table->sampleRate = sampleRate;
    const int n = size();
    table->cos1.resize(n);
    table->sin1.resize(n);
    table->cos2.resize(n);
    table->sin2.resize(n);
    for (int i = 0; i < n; ++i) {
        const double w = 2.0 * M_PI * m_frequencies[i] / sampleRate;
        table->cos1[i] = std::cos(w);
        table->sin1[i] = std::sin(w);
        table->cos2[i] = std::cos(2.0 * w);
        table->sin2[i] = std::sin(2.0 * w);
    }
    cache.emplace(key, table);
    return table;
}
