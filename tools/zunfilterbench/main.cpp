// Prints the time to recalculate every frequency response of a fully loaded device on one
// core: 12 channels, each with 20 EQs and two 8th-order Linkwitz-Riley crossover filters
// (4 sections each), on the 512-point grid. The recalculation runs the way the device
// model does it after a new image: channel and filter sums are suspended while every EQ
// and section recalculates, then each filter and each channel sums its members once.
//
// Printed beside it, when python3 with scipy is installed: the same recalculation in scipy,
// timed in turns with this side's runs.
//
// Usage: zunfilterbench [sample rate, default 48000] [repetitions, default 200]; --help.

#include "CEQManagerInterface.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunLinkedFrequencyResponse.h"
#include "ZunToolName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Just enough of an EQ manager to create EQs and sections; writes go nowhere.
class BenchManager : public CEQManagerInterface
{
public:
    explicit BenchManager(double rate) : m_rate(rate) {}
    double GetSampleRate() override { return m_rate; }
    Limits GetEQFrequencyLimits() override { return {15.0, 30000.0}; }
    Limits GetEQGainLimits() override { return {-99.0, 12.0}; }
    Limits GetEQQualityLimits() override { return {0.1, 160.0}; }
    double GetShelfResponseFrequency(const EQ_PARAMS& p) override
    {
        const double w = M_PI / m_rate;
        double k = 1.0;
        switch (p.type) {
        case 5: k = std::pow(2.0, std::fabs(p.gain) / -12.0412); break;
        case 6: k = std::pow(2.0, std::fabs(p.gain) / -24.0824); break;
        case 7: k = std::pow(2.0, std::fabs(p.gain) / 12.0412); break;
        case 8: k = std::pow(2.0, std::fabs(p.gain) / 24.0824); break;
        default: return p.frequency;
        }
        return std::atan(std::tan(w * p.frequency) * k) / w;
    }
    void GetEQ(EQ_PARAMS&) override {}
    void SetEQ(EQ_PARAMS&, bool) override {}
    void ActivateEQ(EQ_PARAMS& p) override { p.active = true; }
    void DeactivateEQ(EQ_PARAMS& p) override { p.active = false; }
    CZunBiquad* CreateEQ(int& slot, bool& section) override
    {
        EQ_PARAMS p;
        p.number = quint16(m_next++);
        p.bank = quint16(slot);
        p.type = 4;
        p.frequency = 1000.0;
        p.quality = 4.0;
        p.active = true;
        return new CZunBiquad(this, p, section);
    }
    CZunBiquad* CreateZunBiquad(int, bool) override { return nullptr; }
    void DeleteZunBiquad(CZunBiquad* b, bool) override { delete b; }
    void GetHighOrderFilter(HO_FILTER_PARAMS&) override {}
    void SetHighOrderFilter(HO_FILTER_PARAMS&) override {}
    QString GetStringForEQTypeSelection(quint16, bool) override { return {}; }
    QString GetStringForHighOrderFilterTypeSelection(quint16, bool) override { return {}; }
    QString GetStringForHighOrderFilterCharacterisitcSelection(quint16, bool) override { return {}; }

private:
    double m_rate;
    int m_next = 0;
};

struct Device
{
    std::vector<std::unique_ptr<CZunLinkedFrequencyResponse>> channels;
    std::vector<CZunBiquad*> eqs;              // owned below
    std::vector<std::unique_ptr<CZunBiquad>> eqStore;
    std::vector<std::unique_ptr<CZunHighOrderFilter>> filters;
    std::vector<CZunBiquad*> sections;         // owned by their filters
};

void build(Device& d, BenchManager& manager)
{
    static const quint16 eqTypes[] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 6, 7, 8, 4, 4, 1, 3, 10, 9};
    for (int ch = 0; ch < 12; ++ch) {
        auto channel = std::make_unique<CZunLinkedFrequencyResponse>();
        channel->suspendRecalculation = true;
        for (int i = 0; i < 20; ++i) {
            int slot = ch;
            bool section = false;
            auto eq = std::unique_ptr<CZunBiquad>(manager.CreateEQ(slot, section));
            eq->setType(eqTypes[i]);
            eq->setFrequency(float(40.0 * std::pow(1.35, i)));
            eq->setGain(float(-6.0 + 0.6 * i));
            eq->setQuality(float(0.5 + 0.3 * i));
            channel->addResponse(eq.get());
            d.eqs.push_back(eq.get());
            d.eqStore.push_back(std::move(eq));
        }
        for (int side = 0; side < 2; ++side) {
            HO_FILTER_PARAMS p;
            p.number = quint16(2 * ch + side);
            p.bank = quint16(ch);
            p.passband = quint16(side); // low pass and high pass
            p.characteristic = 8;
            p.order = 8;
            p.frequency = side ? 80.0 : 2500.0;
            auto filter = std::make_unique<CZunHighOrderFilter>(&manager, p);
            filter->rebuild();
            for (CZunBiquad* s : filter->sections())
                d.sections.push_back(s);
            channel->addResponse(filter.get());
            d.filters.push_back(std::move(filter));
        }
        channel->suspendRecalculation = false;
        d.channels.push_back(std::move(channel));
    }
}

void recalculateAll(Device& d)
{
    for (auto& c : d.channels)
        c->suspendRecalculation = true;
    for (auto& f : d.filters)
        f->suspendRecalculation = true;
    for (CZunBiquad* b : d.eqs)
        b->recalculate();
    for (CZunBiquad* b : d.sections)
        b->recalculate();
    for (auto& f : d.filters) {
        f->suspendRecalculation = false;
        f->recalculate();
    }
    for (auto& c : d.channels) {
        c->suspendRecalculation = false;
        c->recalculate();
    }
}

// The same recalculation in scipy (every biquad's response on the same grid with
// scipy.signal.freqz, then each filter's and channel's sum in dB and degrees), in a process
// of its own that stays up for the whole run: told the device once, then asked for a
// number of timed runs at a time, so that its turns alternate with this side's and both see
// the same load of the machine.
const char* const ScipyScript = R"(
import sys, time
try:
    import numpy as np
    from scipy.signal import freqz
except ImportError:
    sys.exit(3)
words = sys.stdin.readline().split()
rate, n = float(words[0]), int(words[1])
grid = np.array([float(w) for w in words[2:2 + n]])
channels, at = [], 2 + n
while at < len(words):
    tag = words[at]; at += 1
    if tag == 'C':
        channels.append(([], []))
    elif tag == 'F':
        channels[-1][1].append([])
    else:
        c = [float(w) for w in words[at:at + 5]]; at += 5
        (channels[-1][0] if tag == 'E' else channels[-1][1][-1]).append(c)
def response(c):
    h = freqz(c[:3], [1.0, c[3], c[4]], worN=grid, fs=rate)[1]
    return 20 * np.log10(np.maximum(np.abs(h), 1e-15)), np.degrees(np.angle(h))
def wrap(p):
    return (p + 180.0) % 360.0 - 180.0
def recalculate():
    for eqs, filters in channels:
        parts = [response(c) for c in eqs]
        for f in filters:
            sections = [response(c) for c in f]
            parts.append((sum(m for m, _ in sections), wrap(sum(p for _, p in sections))))
        sum(m for m, _ in parts), wrap(sum(p for _, p in parts))
recalculate()
print('ready', flush=True)
for line in sys.stdin:
    ms = []
    for _ in range(int(line)):
        t = time.perf_counter(); recalculate(); ms.append((time.perf_counter() - t) * 1e3)
    print(' '.join(repr(x) for x in ms), flush=True)
)";

// The scipy side: started once, then asked for its turns; not running when python3 or
// scipy is missing.
class Scipy
{
public:
    Scipy(const Device& d, double rate)
    {
        QString input;
        QTextStream in(&input);
        const QVector<double>& grid = d.channels.front()->grid().frequencies();
        in << rate << ' ' << grid.size();
        for (double f : grid)
            in << ' ' << QString::number(f, 'g', 17);
        const auto coefficients = [&in](char tag, const CZunBiquad* b) {
            const CZunResponseMath::Coefficients c = b->coefficients();
            in << ' ' << tag;
            for (double x : {c.b0, c.b1, c.b2, c.a1, c.a2})
                in << ' ' << QString::number(x, 'g', 17);
        };
        const size_t eqsPerChannel = d.eqs.size() / d.channels.size(),
                     filtersPerChannel = d.filters.size() / d.channels.size();
        for (size_t ch = 0; ch < d.channels.size(); ++ch) {
            in << " C";
            for (size_t i = 0; i < eqsPerChannel; ++i)
                coefficients('E', d.eqs[ch * eqsPerChannel + i]);
            for (size_t i = 0; i < filtersPerChannel; ++i) {
                in << " F";
                for (const CZunBiquad* s : d.filters[ch * filtersPerChannel + i]->sections())
                    coefficients('S', s);
            }
        }
        in << '\n';
        in.flush();
        // The first python3 on the path may be one without scipy, the system's may have it.
        for (const QString& program : {QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
            m_python.start(program, {QStringLiteral("-c"), QString::fromLatin1(ScipyScript)});
            if (!m_python.waitForStarted(10000))
                continue;
            m_python.write(input.toLatin1());
            if (readLine() == "ready")
                return;
            m_python.kill();
            m_python.waitForFinished();
        }
    }
    ~Scipy()
    {
        m_python.closeWriteChannel();
        if (!m_python.waitForFinished(10000))
            m_python.kill();
    }

    bool isRunning() const { return m_python.state() == QProcess::Running; }

    // The times of the given number of runs in ms; empty when it stopped.
    std::vector<double> turn(int runs)
    {
        std::vector<double> ms;
        if (!isRunning())
            return ms;
        m_python.write(QByteArray::number(runs) + '\n');
        for (const QByteArray& w : readLine().split(' ')) {
            bool ok = false;
            const double x = w.toDouble(&ok);
            if (ok)
                ms.push_back(x);
        }
        return ms;
    }

private:
    QByteArray readLine()
    {
        while (!m_python.canReadLine())
            if (!m_python.waitForReadyRead(600000))
                return QByteArray();
        return m_python.readLine().trimmed();
    }

    QProcess m_python;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    zunToolName(argv);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Time to recalculate every frequency response of a fully loaded device on one core."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("rate"), QStringLiteral("Sample rate in Hz (8000-384000, default 48000)."),
                                 QStringLiteral("[rate]"));
    parser.addPositionalArgument(QStringLiteral("repetitions"), QStringLiteral("Runs timed (1-100000, default 200)."),
                                 QStringLiteral("[repetitions]"));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    bool rateOk = true, repetitionsOk = true;
    const double rate = args.size() > 0 ? args[0].toDouble(&rateOk) : 48000.0;
    const int repetitions = args.size() > 1 ? args[1].toInt(&repetitionsOk) : 200;
    if (args.size() > 2 || !rateOk || !repetitionsOk || rate < 8000 || rate > 384000 || repetitions < 1
        || repetitions > 100000) {
        QTextStream(stderr) << "zunfilterbench: usage: zunfilterbench [rate 8000-384000] [repetitions 1-100000]"
                            << Qt::endl;
        return 2;
    }

    BenchManager manager(rate);
    Device device;
    build(device, manager);
    recalculateAll(device); // warm the grid tables and caches

    // Both sides in turns: a tenth of the runs here, then scipy's share, ten times over.
    Scipy scipy(device, rate);
    const int turns = qMin(10, repetitions);
    const int scipyRuns = qMax(1, qMin(repetitions, 50) / turns);
    std::vector<double> ms, scipyMs, ratios;
    QElapsedTimer timer;
    for (int t = 0; t < turns; ++t) {
        std::vector<double> own;
        for (int r = t * repetitions / turns; r < (t + 1) * repetitions / turns; ++r) {
            timer.start();
            recalculateAll(device);
            own.push_back(timer.nsecsElapsed() / 1e6);
        }
        ms.insert(ms.end(), own.begin(), own.end());
        const std::vector<double> theirs = scipy.turn(scipyRuns);
        scipyMs.insert(scipyMs.end(), theirs.begin(), theirs.end());
        if (!theirs.empty())
            ratios.push_back(median(theirs) / median(own));
    }
    std::sort(ms.begin(), ms.end());
    std::sort(ratios.begin(), ratios.end());

    QTextStream out(stdout);
    const int biquads = int(device.eqs.size() + device.sections.size());
    out << "Full device response recalculation (one core)\n"
        << "  channels 12, EQs " << device.eqs.size() << ", crossover filters " << device.filters.size()
        << " (8th order, " << device.sections.size() << " sections), biquads " << biquads << "\n"
        << "  grid " << device.channels.front()->points() << " points, sample rate " << rate << " Hz, "
        << repetitions << " runs\n"
        << "  min " << QString::number(ms.front(), 'f', 3) << " ms, median "
        << QString::number(ms[ms.size() / 2], 'f', 3) << " ms, max " << QString::number(ms.back(), 'f', 3)
        << " ms (goal: under 2 ms)\n"
        << "  per biquad point " << QString::number(ms[ms.size() / 2] * 1e6 / (biquads * 512.0), 'f', 1)
        << " ns\n";
    if (scipyMs.empty())
        out << "  scipy: not installed (python3 with scipy), no comparison\n";
    else
        out << "  scipy, the same biquads and sums (freqz each), in turns with the runs above: median "
            << QString::number(median(scipyMs), 'f', 3) << " ms, " << QString::number(median(scipyMs) / median(ms), 'f', 1)
            << " x this (goal: at least 10 x); turn by turn " << QString::number(ratios.front(), 'f', 1) << " to "
            << QString::number(ratios.back(), 'f', 1) << " x\n";
    return 0;
}
