#pragma once

#include "ZunFilterParams.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Reads a CSV list of filters ("QM CSV file (*.csv)"): one filter per row, fields
// separated by ";", rows ended by CR, LF or CR LF. The columns are documented in
// docs/filters.md ("CSV filter lists"):
//
//   peak EQ:           label ; peq ; frequency Hz ; gain dB ; Q
//   crossover filter:  label ; lp|hp|ap ; frequency Hz ; characteristic ; order [; ripple dB]
//
// Rows that are blank are skipped; rows with too few fields, numbers that cannot be
// read, or values outside the ranges below (frequencies also at or above half the sample
// rate) are refused and counted, never turned into filters.
class ZunFilterImport
{
public:
    struct Ranges
    {
        double minFrequency = 15.0;     // Hz
        double maxFrequency = 30000.0;
        double minGain = -99.0;         // dB
        double maxGain = 12.0;
        double minQuality = 0.1;
        double maxQuality = 100.0;
        double minRipple = 0.1;         // dB
        double maxRipple = 6.0;
        // A frequency must also lie below half the sample rate of the processor the list
        // is meant for (CZunBiquadDesign::highestCorner).
        double sampleRate = 48000.0;    // Hz
    };

    struct Result
    {
        bool fileRead = false;          // the file exists, is a .csv file and was read
        QVector<EQ_PARAMS> eqs;
        QVector<HO_FILTER_PARAMS> filters;
        int refused = 0;                // rows refused (blank rows are not counted)
        QStringList problems;           // one line per refused row: "line N: reason"
    };

    // Peak EQ type and the crossover characteristics a row may name.
    static constexpr quint16 PeakType = 4;

    // Reads fileName when it is an existing file whose last suffix is "csv" (any case).
    // (Overloads instead of default arguments: a nested struct cannot default itself.)
    static Result ReadCSV(const QString& fileName);
    static Result ReadCSV(const QString& fileName, const Ranges& ranges);
    // Appends to the two lists of a payload; returns the number of refused rows.
    static int ReadCSV(const QString& fileName, QVector<EQ_PARAMS>& eqs, QVector<HO_FILTER_PARAMS>& filters);
    static int ReadCSV(const QString& fileName, QVector<EQ_PARAMS>& eqs, QVector<HO_FILTER_PARAMS>& filters,
                       const Ranges& ranges);
    // Parses CSV text that was already read.
    static Result parse(const QByteArray& text);
    static Result parse(const QByteArray& text, const Ranges& ranges);

    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;
};
