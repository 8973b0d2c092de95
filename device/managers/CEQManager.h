#pragma once

#include "CEQManagerInterface.h"
#include "ZunFilterParams.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRecursiveMutex>
#include <QSharedPointer>

class CCmdMap;
class CZun;
class CZunBiquad;
class CZunHighOrderFilter;
class CZunParam;

// The EQ and high-order-filter slots of one device: both DSPs' pools of five-word records
// in the parameter image, the free numbers, one CZunBiquad per used EQ and one
// CZunHighOrderFilter per used filter (owned here), the value ranges and the display
// names. Writes go to the processor as one command group per operation; the image, and so
// the decoded records, change only when the replies come back.
//
// Lives with its device object in the GUI thread, like the EQ and filter objects. The
// reply dispatcher (link thread) only decodes, asks whether a number is used and has
// objects refreshed through refreshEQ / refreshHighOrderFilter, which it reaches queued.
//
// Over 600 lines: both pools share one numbering, record layout and command group per operation.
class CEQManager : public QObject, public CEQManagerInterface
{
    Q_OBJECT
public:
    static constexpr int MaxEQsPerChannel = 20;

    explicit CEQManager(CZun* zun);
    ~CEQManager() override;

    // --- records and objects ---------------------------------------------------------
    void Rebuild();
    void GetEQ(EQ_PARAMS& p) override;
    void GetHighOrderFilter(HO_FILTER_PARAMS& p) override;
    bool IsEQUsed(int number) const;
    bool IsHighOrderFilterUsed(int number) const;
    bool IsFreePeakEQ(const EQ_PARAMS& p) const;
    int GetNrFreeEQs(int slot) const;
    int GetNrUsedEQsOfChannel(int slot);
    // How many new EQs the channel of slot can still take (NewEQ's rule; linked DSPs make
    // each one on the partner slot too).
    int GetNrNewEQsOfChannel(int slot);
    // How many new crossover filters the channel of slot can still take (NewHOFilter's rule,
    // the partner slot's too when linked); each also needs free EQs for its sections.
    int GetNrNewHOFiltersOfChannel(int slot);
    // How many EQ sections a crossover filter of these parameters takes when it is built.
    int GetNrSectionsOfHOFilter(const HO_FILTER_PARAMS& p);
    // Why the channel of slot can not take eqs new EQs and these crossover filters (each
    // with its sections, a linked partner counted), or empty when it can. With replacing the
    // channel's own EQs and filters count as free: the list takes their place.
    QString GetListRefusal(int slot, int eqs, const QList<HO_FILTER_PARAMS>& filters, bool replacing);
    int GetAvailableEQs(int dsp) const;
    bool IsEQInHighOrderFilter(int number);
    bool IsEQObjectInHighOrderFilter(CZunBiquad* biquad);
    void GetFrequencyRange(CEQManagerInterface::Limits& range);
    CZunBiquad* BiquadAt(int i) const;
    CZunHighOrderFilter* HighOrderFilterAt(int i) const;
    int CountActiveEQs(int selector) const;
    int CountHighOrderFilters(int selector) const;
    QList<QPointer<CZunBiquad>> GetEQsOfChannel(int slot);
    QList<QPointer<CZunHighOrderFilter>> GetHighOrderFiltersOfChannel(int slot) const;
    CZunBiquad* GetZunBiquad(int number) const;
    CZunHighOrderFilter* GetZunHighOrderFilter(int number) const;
    CZunBiquad* CreateZunBiquad(int number, bool section) override;
    int eqCount() const { return m_eqCount; }
    int filterCount() const { return m_filterCount; }
    // The image's first word of an EQ / filter record.
    quint16 eqRecordBase(int number) const;
    quint16 filterRecordBase(int number) const;

    // --- operations ------------------------------------------------------------------
    int NewEQ(int& slot);
    int NewHOFilter(int& slot);
    CZunBiquad* CreateEQ(int& slot, bool& section) override;
    CZunHighOrderFilter* CreateHighOrderFilter(int& slot);
    void SetEQ(EQ_PARAMS& p, bool neutral) override;
    void ActivateEQ(EQ_PARAMS& p) override;
    void DeactivateEQ(EQ_PARAMS& p) override;
    void DeleteEQ(int& n);
    void DeleteZunBiquad(CZunBiquad* b, bool write) override;
    void SetHighOrderFilter(HO_FILTER_PARAMS& p) override;
    void DeleteHOFilter(int& m);
    void DeleteHighOrderFilter(CZunHighOrderFilter* f, bool write);

    // --- ranges, conversions, names -------------------------------------------------
    double GetSampleRate() override;
    Limits GetEQFrequencyLimits() override;
    Limits GetEQGainLimits() override;
    Limits GetEQQualityLimits() override;
    const CZunParam* frequencyRange() const { return m_frequencyRange; }
    const CZunParam* gainRange() const { return m_gainRange; }
    const CZunParam* qualityRange() const { return m_qualityRange; }
    const CZunParam* fourthRange() const { return m_fourthRange; }
    const CZunParam* rippleRange() const { return m_rippleRange; }
    float stepEQGain() const { return m_stepG; }
    float stepEQFrequency() const { return m_stepF; }
    float stepEQQuality() const { return m_stepQ; }
    double GetShelfResponseFrequency(const EQ_PARAMS& params) override;
    static double ShelfFrequencyFromDevice(double f, double gain, quint16 type, double rate);
    static double ShelfFrequencyToDevice(double f, double gain, quint16 type, double rate);
    QMap<int, QString> GetEQTypeNames(bool shortNames);
    QMap<int, QString> GetHOFTypeNames(bool shortNames);
    QMap<int, QString> GetHOFCharacteristicNames(bool shortNames);
    QString GetStringForEQTypeSelection(quint16 type, bool shortName) override;
    QString GetStringForHighOrderFilterTypeSelection(quint16 passband, bool shortName) override;
    QString GetStringForHighOrderFilterCharacterisitcSelection(quint16 characteristic, bool shortName) override;

public slots:
    void initConstants();
    void notifyEQDeleted(int number);
    void notifyHOFDeleted(int number);
    void CalculateAvailableEQs(int capacity0, int capacity1);
    // The image holds a new record of EQ / filter number: its object reloads itself, or the
    // views drop it when the number is free. The filter's linked partner follows when it
    // differs (the dispatcher's pending record, as the processor answered it).
    void refreshEQ(int number);
    void refreshHighOrderFilter(int number, HO_FILTER_PARAMS record);

signals:
    void signal_NewEQ(CZunBiquad*);
    void signal_EQDeleted(int);
    void signal_NewHighOrderFilter(CZunHighOrderFilter*);
    void signal_HOFDeleted(int);
    void signal_exception(QString, QString);
    void signal_AvailableEQsChanged(int, int);

private:
    [[noreturn]] void fail(const QString& text) const;
    quint16 nr(const char* name) const;
    quint16 word(quint16 cmd) const;
    bool linked() const;
    int dspOfSlot(int slot) const { return slot > 5 ? 1 : 0; }
    int dspOfEQ(int number) const { return number >= m_eqCount ? 1 : 0; }
    int dspOfFilter(int number) const { return number >= m_filterCount ? 1 : 0; }
    bool isActiveEQType(const EQ_PARAMS& p) const;
    QString rangeText(const char* what, double value, const CZunParam* range) const;
    QMap<int, QString> names(int cache, const char* prefix, bool removeNeutral, int removeNumber);
    void deleteObjects(int dsp);
    // The (command, word) pairs of an EQ record write, at the record of number.
    QList<QPair<quint16, quint16>> eqWrite(const EQ_PARAMS& p, bool neutral, int number) const;
    void send(const QList<QPair<quint16, quint16>>& words);

    CZun* m_zun;
    QSharedPointer<CCmdMap> m_map;
    QList<int> m_freeEQs[2];
    QList<int> m_freeFilters[2];
    qint32 m_eqCount = 0;
    qint32 m_filterCount = 0;
    QList<QPointer<CZunBiquad>> m_eqs[2];
    QList<QPointer<CZunHighOrderFilter>> m_filters[2];
    CZunParam* m_frequencyRange = nullptr;
    CZunParam* m_gainRange = nullptr;
    CZunParam* m_qualityRange = nullptr;
    CZunParam* m_fourthRange = nullptr;
    CZunParam* m_rippleRange = nullptr;
    float m_stepG = 0.1f;
    float m_stepF = 0.5f;
    float m_stepQ = 0.0025f;
    int m_available[2] = {0, 0};
    QMap<int, QString> m_names[6];
    mutable QRecursiveMutex m_mutex;
};
