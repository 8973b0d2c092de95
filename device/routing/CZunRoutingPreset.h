#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class CCmdMap;

// A routing preset: which of the eight source slots feeds each output. Read from one
// "Inf_RP_<id>" entry of the command map: its value is the preset number (bits 0-6 of a
// routing word), "InfS_RP_<id>" holds ten two-digit numbers (the slot of outputs 0-7,
// then two more carried unchanged) and "InfS_RP_T_<id>" the description shown to the
// operator.
class CZunRoutingPreset
{
public:
    CZunRoutingPreset();
    // From one entry, e.g. "Inf_RP_21". A name the map lacks, or a slot text without ten
    // numbers, throws CCmdMap::invalid_cmd.
    CZunRoutingPreset(const QSharedPointer<CCmdMap>& map, const QString& entryName);
    // From the entry whose value is the number; stays empty when no entry has it.
    CZunRoutingPreset(const QSharedPointer<CCmdMap>& map, quint16 number);

    const QString& getName() const { return m_name; }
    quint16 getNumber() const { return m_number; }
    const QString& getSlotText() const { return m_slotText; }
    const QString& getDescription() const { return m_description; }
    const QStringList& getNodeNames() const { return m_nodeNames; }
    const QList<int>& getSlots() const { return m_slots; }

    // The source slot of the output; 8 when the preset lists no such output.
    int GetSlotOfOutput(int output) const;
    bool UsesSlot(int slot) const;

    // "Inf_RP_21" -> "InfS_RP_21" (S before the first "_").
    static QString textNameOf(const QString& entryName);
    // "InfS_RP_21" -> "InfS_RP_T_21" (_T before the last "_").
    static QString descriptionNameOf(const QString& textName);
    // Reads exactly count integers from a blank-separated text; anything else throws
    // CCmdMap::invalid_cmd naming the text entry.
    static QList<int> readNumbers(const QString& text, int count, const QString& textName);

private:
    void fill(const CCmdMap& map, const QString& entryName);

    QString m_name;
    quint16 m_number = 0;
    QString m_slotText;
    QString m_description;
    QStringList m_nodeNames;
    QList<int> m_slots;
};

Q_DECLARE_METATYPE(CZunRoutingPreset)
