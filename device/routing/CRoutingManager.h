#pragma once

#include "CZunRoutingRecord.h"

#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>

class CCmdMap;
class CRoutingLibrary;
class CZun;
class CZunInput;
class CZunOutput;

// The routing of one device: turns the processor's routing word into its channel objects
// (one output per analog output, one input per source feeding at least one output), keeps
// the maps between routing slots, source ids and input paths, and sends the routing,
// full-routing, AES-selector and clock parameters. Reads the current routing from the
// parameter image, never from the network. Lives with its device object in the GUI thread.
//
// Look-ups that find nothing answer null (channels), 8 (slots), 26 (sources), 99 (paths,
// keypad information) or 255 (channel slot of a source).
class CRoutingManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int NoSource = 26;
    static constexpr int NoPath = 99;
    static constexpr int NoChannelSlot = 255;

    explicit CRoutingManager(CZun* zun);
    ~CRoutingManager() override;

    // Builds the channels of a routing word; 0xFFFF takes the word from the image,
    // refreshes the channels' gains and (re)builds the source maps.
    void rebuild(quint16 routingWord);
    // The command map and routing library of a new firmware (the next rebuild uses them).
    void setCmdMap(QSharedPointer<CCmdMap> map, QSharedPointer<CRoutingLibrary> library);
    // While true, the channels' responses stop recalculating.
    void BlockRecalculation(bool block);
    quint16 lastRoutingWord() const { return m_currentWord; }
    const CZunRoutingRecord& GetRecord() const { return m_record; }

    // --- channels ------------------------------------------------------------------
    QList<QPointer<CZunOutput>> GetOutputs() const { return m_outputs; }
    QList<QPointer<CZunInput>> GetInputs() const { return m_inputs; }
    CZunOutput* GetOutput(int output) const;
    CZunOutput* GetOutputOfSlot(int slot) const;
    CZunOutput* GetOutputByName(const QString& name) const;
    CZunInput* GetInputByName(const QString& name) const;
    CZunInput* GetInput(int source) const;
    CZunInput* GetInputOfSlot(int channelSlot) const;
    static int GetChannelSlotOfOutput(int output);
    int GetChannelSlotOfSource(int source) const;
    static QString GetDefaultOutputName(int output);
    // "InfS_Input_%1" of the source; throws CCmdMap::invalid_cmd when the map lacks it.
    QString GetInputName(int source) const;

    // --- sources and paths -----------------------------------------------------------
    QList<int> GetSlotsOfSource(int source) const;
    int GetOutputSourceInfo(int slot) const;
    int FindSourceInfo(int source) const;
    int GetSourceOf(int source) const;
    int GetOutputSource(int path) const;

    // --- current routing (from the image) ----------------------------------------------
    CZunRoutingPreset GetSPIRouting() const;
    CZunInputPreset GetDSPRouting() const;
    CZunFullRoutingPreset GetFullRouting() const;
    quint16 GetAESInputSelect() const;
    quint16 GetAESOutputSelect() const;
    QMap<int, QString> GetAESInputSelectKeys() const;
    QMap<int, QString> GetAESOutputSelectKeys() const;

    // --- sending (the image follows the processor's reply) ------------------------------
    void SetRouting(const CZunRoutingPreset& routing, const CZunInputPreset& input);
    void SetFullRouting(const CZunFullRoutingPreset& full);
    void SetAESInputSelect(int value);
    void SetAESOutputSelect(int value);
    void SetExtClockSelect(int value);

    // The routing word of a routing kind that setups of older firmware name (0-5).
    static quint16 GetRoutingPresetNumbers(quint16 kind, const QSharedPointer<CCmdMap>& map);

signals:
    void signal_exception(QString caption, QString text);

public slots:
    void updateFrequencyResponse();

private:
    quint16 imageWord(const char* name) const;
    void send(const char* name, quint16 value);
    void buildSourceMaps();
    void refreshGains();
    void reportOutdated();

    CZun* m_zun;
    QSharedPointer<CCmdMap> m_map;
    quint16 m_currentWord = 0;
    QList<QPointer<CZunInput>> m_inputs;
    QList<QPointer<CZunOutput>> m_outputs;
    CZunRoutingRecord m_record;
    QSharedPointer<CRoutingLibrary> m_library;
    QMultiMap<int, int> m_slotsOfSource;
    QMap<int, int> m_pathOfSource;
    QMap<int, int> m_sourceOfPath;
};
