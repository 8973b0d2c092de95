#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class CCmdMap;

// An input preset: which source feeds each of the eight routing slots. Read from one
// "Inf_IR_<id>" entry: its value is the preset number (bits 7-14 of a routing word),
// "InfS_IR_<id>" holds the eight two-digit source ids, "InfS_IR_T_<id>" eight labels
// separated by "|", and "Inf_KPSourceInfo<M..T>_IR_<id>" (when the firmware has them)
// the input path of each slot in their high bytes.
//
// Source ids: 1-23 inputs (texts InfS_Input_<nn>), 11-18 the network-audio module,
// 24 and 25 the mixers, 26 no source.
class CZunInputPreset
{
public:
    static constexpr int NoSource = 26;
    static constexpr int NoPath = 99;

    CZunInputPreset();
    // From one entry, e.g. "Inf_IR_41". A name the map lacks, or a source text without
    // eight numbers, throws CCmdMap::invalid_cmd.
    CZunInputPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName);
    // From the entry whose value is the number; stays empty when no entry has it.
    CZunInputPreset(const QSharedPointer<CCmdMap>& map, quint16 number);

    const QString& getName() const { return m_name; }
    quint16 getNumber() const { return m_number; }
    const QString& getSourceText() const { return m_sourceText; }
    const QStringList& getInputNames() const { return m_inputNames; }
    const QList<int>& getSources() const { return m_sources; }
    const QString& getLabelText() const { return m_labelText; }
    const QList<int>& getKeypadInfo() const { return m_keypadInfo; }
    // True when a slot is fed by a network-audio module channel (source 11-18).
    bool usesModule() const { return m_usesModule; }

    // 26 for a slot outside the preset (8 included) or on an empty preset.
    int GetSourceOfSlot(int slot) const;
    // The input path 0-7 of the slot; 99 for a slot outside the preset or without
    // keypad information.
    int GetKeypadInfoOfSlot(int slot) const;

private:
    void fill(const CCmdMap& map, const QString& entryName);

    QString m_name;
    quint16 m_number = 0;
    QString m_sourceText;
    QStringList m_inputNames;
    QList<int> m_sources;
    QString m_labelText;
    QList<int> m_keypadInfo;
    bool m_usesModule = false;
};

Q_DECLARE_METATYPE(CZunInputPreset)
