#pragma once

#include "CZunException.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <string>

// The processor's FIR filter image with its limiter settings: the part of a FIR/limiter
// set that the flash stores and a DSP loads. The byte layout is documented in
// docs/filters.md ("Filter image"); the constants below are that layout.
//
// A CBlockFIR always holds a structurally valid image: the constructor from bytes
// refuses anything else, and every setter keeps the derived data (own-path count,
// down-sampling factor, DSP limiter block, warning texts) current.
//
// Over 600 lines: one byte layout whose derived data every setter keeps current; no part stands alone.
class CBlockFIR
{
public:
    // Thrown when a set cannot run: too many coefficients, or no DSP program of the
    // device can execute it within its processing budget. what() is always the fixed
    // text below; detail() says what exactly was wrong.
    class invalid_filter : public CZunException
    {
    public:
        invalid_filter();
        explicit invalid_filter(std::string detail);
        const std::string& detail() const noexcept { return m_detail; }
        // The text of any failure to read or check a set: what() and, for a set that
        // cannot run, what exactly (the count, the cycles).
        static QString textOf(const std::exception& e);

    private:
        std::string m_detail;
    };

    // Limiter table rows that carry a threshold (the rows of the limiter table).
    enum Row { RowGain = 0, RowContinuous = 1, RowSurge = 2, RowSurgeDuration = 3, RowThermal = 4,
               RowRmsTime = 5, RowPeak = 6, RowImpedance = 7, RowMaxOutput = 8 };

    // Layout of the image.
    static constexpr int Outputs = 4;
    static constexpr int ParamAreaSize = 1024;
    static constexpr int MaxCoefficients = 4096;     // per output
    static constexpr int BlockOverhead = 6;          // 4-byte block header + CRC-16
    static constexpr int MaxImageSize = ParamAreaSize + Outputs * (BlockOverhead + 3 * MaxCoefficients);
    static constexpr quint16 FormatVersion = 1;

    static constexpr int OffMagic = 0;
    static constexpr int OffVersion = 4;
    static constexpr int OffAreaSize = 6;
    static constexpr int OffTotalSize = 8;
    static constexpr int OffSampleRate = 12;
    static constexpr int OffDspProgramId = 16;
    static constexpr int OffDownSampling = 18;
    static constexpr int OffParamCrc = 20;
    static constexpr int OffName = 24;
    static constexpr int NameSize = 24;
    static constexpr int OffOwnPathCount = 70;
    static constexpr int OffMultipath = 71;
    static constexpr int OffPathFlags = 256;
    static constexpr int OffLimiter = 264;           // 4 outputs x 9 doubles
    static constexpr int LimiterFields = 9;
    static constexpr int OffOutputEntries = 619;     // 4 outputs x 6 bytes
    static constexpr int OutputEntrySize = 6;
    static constexpr int OffDspLimiter = 660;        // 4 outputs x 7 24-bit words
    static constexpr int DspLimiterWords = 7;

    // Processing budget of the two DSP program families, in millions of cycles per
    // second (the 307 family runs on the slower DSP type).
    static constexpr int Mips307 = 160;
    static constexpr int Mips321 = 275;

    // A pass-through set: four default crossover entries, default limiters, rate 0.
    CBlockFIR();
    // Reads a serialised image; throws std::logic_error for a malformed image and
    // invalid_filter for a coefficient count above MaxCoefficients.
    explicit CBlockFIR(const QByteArray& image);
    virtual ~CBlockFIR();

    CBlockFIR(const CBlockFIR&) = default;
    CBlockFIR& operator=(const CBlockFIR&) = default;

    // The serialised image with name written into it (Latin-1, at most 24 bytes).
    QByteArray serialise(const QString& name) const;
    // The name stored in an image read from bytes.
    QString storedName() const;
    // The name as the image keeps it: Latin-1 ("?" for any other character), at most
    // NameSize characters, up to a NUL.
    static QString storableName(const QString& name);

    // Header fields.
    double sampleRate() const;
    void setSampleRate(double rate);
    quint16 dspProgramId() const;
    void setDspProgramId(quint16 id);
    quint16 downSamplingFactor() const;
    qint8 multipathMode() const;
    void setMultipathMode(int mode);
    quint8 ownPathCount() const;
    quint8 pathFlagByte(int output) const;
    void setPathFlagByte(int output, quint8 flag);

    // Output entries and coefficients (24-bit signed fixed point, 1.23).
    quint16 entryLatency(int output) const;
    quint16 entryCoefficientCount(int output) const;
    int entryLimiterPath(int output) const;
    bool entryIsFir(int output) const;
    QVector<qint32> coefficients(int output) const;
    // An empty coefficient list makes the output a default crossover entry (latency 0).
    void setOutput(int output, const QVector<qint32>& coefficients, quint16 latency, int limiterPath);

    bool isDefaultCrossover() const;
    // The same filter apart from its limiters: rate, multipath mode, path flags, output
    // entries and coefficients equal (name, key and limiter settings may differ).
    bool sameFilter(const CBlockFIR& other) const;

    // Resources: picks the cheapest DSP program that runs the set at its sample rate
    // (a rate of 0 counts as 48000 Hz) and stores its id; throws invalid_filter when
    // no program can.
    void checkFilterResources();
    // Recomputes the derived data and writes it into the image.
    void update();

    // Limiter values of output 0-3 (stored at the amplifier output).
    double ampGain(int output) const;
    double surgeDuration(int output) const;
    double rmsTimeConstant(int output) const;
    double impedance(int output) const;
    void setAmpGain(double value, int output);
    void setSurgeDuration(double value, int output);
    void setRmsTimeConstant(double value, int output);
    void setImpedance(double value, int output);

    // Thresholds: unit 0 W, 1 V rms, 2 V peak, 3 dBu, 4 dBV (others: W); reference 0
    // amplifier output, 1 controller output.
    double limiterThresholdContinuous(int output, int unit, int reference) const;
    double limiterThresholdSurge(int output, int unit, int reference) const;
    double limiterThresholdThermal(int output, int unit, int reference) const;
    double limiterThresholdPeak(int output, int unit, int reference) const;
    bool setLimiterThresholdContinuous(double value, int output, int unit, int reference);
    bool setLimiterThresholdSurge(double value, int output, int unit, int reference);
    bool setLimiterThresholdThermal(double value, int output, int unit, int reference);
    bool setLimiterThresholdPeak(double value, int output, int unit, int reference);
    // The threshold of a table row (1, 2, 4 or 6).
    double limiterThreshold(int row, int output, int unit, int reference) const;
    bool setLimiterThreshold(int row, double value, int output, int unit, int reference);

    // Maximum output level: stored in dBu at the controller output. The setter without a
    // reference takes the level at the controller output.
    double maxOutputLevel(int output, int unit, int reference) const;
    void setMaxLevel(double value, int output, int unit);
    void setMaxLevel(double value, int output, int unit, int reference);

    QString checkMaxOutputLevel(int row, int output, int unit, int reference) const;
    bool hasLimiterText(int row, int output) const;

    // Takes every limiter value of other's outputs (gain, thresholds, times, impedance,
    // maximum level); the coefficients, paths and rate stay this set's own.
    void takeLimiterValues(const CBlockFIR& other);

    bool limiterModified() const { return m_limiterModified; }
    void setLimiterModified(bool modified) { m_limiterModified = modified; }

    static QString unitText(int unit);

protected:
    double limiterField(int output, int field) const;
    void setLimiterField(int output, int field, double value);
    static void checkOutput(int output, const char* where);

private:
    struct Defaults {};
    // The pass-through set built from nothing (the default constructor copies one).
    explicit CBlockFIR(Defaults);

    void parse(const QByteArray& image);
    void writeDefaults();
    void recompute();
    void refreshWarnings();
    static int thresholdField(int row, const char* where);
    bool thresholdExceedsMax(int row, int output) const;

    QByteArray m_param;                                  // the parameter area
    std::array<QVector<qint32>, Outputs> m_coeffs;       // per output
    std::array<std::array<bool, Outputs>, 4> m_exceeds{}; // warning per threshold row
    bool m_limiterModified = false;
};
