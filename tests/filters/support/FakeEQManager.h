#pragma once

#include "CEQManagerInterface.h"
#include "CZunBiquad.h"
#include "CZunBiquadDesign.h"

#include <QList>
#include <QMap>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <stdexcept>

// A stand-in for the device's EQ manager: it keeps EQ and filter records in maps (the
// "device image"), hands out EQ numbers from a small pool and records every write.
class FakeEQManager : public CEQManagerInterface
{
public:
    double sampleRate = 48000.0;
    Limits frequencyLimits{15.0, 30000.0};
    Limits gainLimits{-99.0, 12.0};
    Limits qualityLimits{0.1, 160.0};
    int freeEQs = 100000;
    QString setEQFailure; // when not empty, SetEQ throws this text

    QMap<int, EQ_PARAMS> eqImage;
    QMap<int, HO_FILTER_PARAMS> filterImage;

    struct EQWrite
    {
        EQ_PARAMS params;
        bool neutral;
    };
    QList<EQWrite> eqWrites;
    QList<HO_FILTER_PARAMS> filterWrites;
    QList<EQ_PARAMS> activations, deactivations;
    QList<int> deleted;

    double GetSampleRate() override { return sampleRate; }
    // As the device's manager: the range ends below half the sample rate.
    Limits GetEQFrequencyLimits() override
    {
        return {frequencyLimits.minimum,
                std::min(frequencyLimits.maximum, CZunBiquadDesign::highestCorner(sampleRate, 0.5))};
    }
    Limits GetEQGainLimits() override { return gainLimits; }
    Limits GetEQQualityLimits() override { return qualityLimits; }

    // The device's shelf convention: atan(tan(w f) k) / w with w = pi / rate.
    double GetShelfResponseFrequency(const EQ_PARAMS& p) override
    {
        double k;
        switch (p.type) {
        case 5: k = std::pow(2.0, std::fabs(p.gain) / -12.0412); break;
        case 6: k = std::pow(2.0, std::fabs(p.gain) / -24.0824); break;
        case 7: k = std::pow(2.0, std::fabs(p.gain) / 12.0412); break;
        case 8: k = std::pow(2.0, std::fabs(p.gain) / 24.0824); break;
        default: return p.frequency;
        }
        const double w = M_PI / sampleRate;
        return std::atan(std::tan(w * p.frequency) * k) / w;
    }

    void GetEQ(EQ_PARAMS& p) override
    {
        if (!eqImage.contains(p.number))
            throw std::logic_error("CEQManager::GetEQ(): invalid EQ number");
        p = eqImage.value(p.number);
    }
    void SetEQ(EQ_PARAMS& p, bool neutral) override
    {
        if (!setEQFailure.isEmpty())
            throw std::logic_error(setEQFailure.toStdString());
        eqWrites.append({p, neutral});
        eqImage[p.number] = p;
    }
    void ActivateEQ(EQ_PARAMS& p) override
    {
        p.active = true;
        activations.append(p);
    }
    void DeactivateEQ(EQ_PARAMS& p) override
    {
        p.active = false;
        deactivations.append(p);
    }

    CZunBiquad* CreateEQ(int& slot, bool& section) override
    {
        if (freeEQs <= 0)
            throw std::logic_error("CEQManager::NewEQ(): No free EQ left.");
        --freeEQs;
        EQ_PARAMS p;
        p.number = quint16(m_next++);
        p.bank = quint16(slot);
        p.type = 4;
        p.frequency = 1000.0;
        p.quality = 4.0;
        p.flag = true;
        eqImage[p.number] = p;
        auto* b = new CZunBiquad(this, p, section);
        created.append(b);
        return b;
    }
    CZunBiquad* CreateZunBiquad(int number, bool section) override
    {
        EQ_PARAMS p;
        p.number = quint16(number);
        GetEQ(p);
        auto* b = new CZunBiquad(this, p, section);
        b->recalculate();
        created.append(b);
        return b;
    }
    void DeleteZunBiquad(CZunBiquad* b, bool write) override
    {
        if (write)
            deleted.append(b->getNumber());
        ++freeEQs;
        b->deleteLater();
    }

    void GetHighOrderFilter(HO_FILTER_PARAMS& p) override
    {
        if (!filterImage.contains(p.number))
            throw std::logic_error("CEQManager::GetHighOrderFilter(): invalid filter number");
        p = filterImage.value(p.number);
    }
    void SetHighOrderFilter(HO_FILTER_PARAMS& p) override
    {
        filterWrites.append(p);
        filterImage[p.number] = p;
    }

    QString GetStringForEQTypeSelection(quint16 type, bool shortName) override
    {
        if (type > 10)
            throw std::logic_error("CEQManager::GetStringForEQTypeSelection(): requested type-nr not found in spCmdMap->");
        return QString(shortName ? "T%1" : "Type %1").arg(type);
    }
    QString GetStringForHighOrderFilterTypeSelection(quint16 passband, bool) override
    {
        static const char* names[] = {"LP", "HP", "AP"};
        return passband < 3 ? QString(names[passband]) : QString("?");
    }
    QString GetStringForHighOrderFilterCharacterisitcSelection(quint16 characteristic, bool) override
    {
        return QString("C%1").arg(characteristic);
    }

    QList<QPointer<CZunBiquad>> created;

private:
    int m_next = 0;
};
