#pragma once

#include "CEQManagerInterface.h"
#include "CZunHighOrderDesign.h"
#include "CZunLinkedFrequencyResponse.h"
#include "ZunFilterParams.h"

#include <QList>
#include <QMetaType>
#include <QPointer>

class CZunBiquad;

// One crossover filter of a channel: a pass band, a characteristic, an order (1 to 10), a
// corner frequency and a ripple, realised on the device as up to five EQ sections (see
// CZunHighOrderDesign for the designs and their normalisation). Its response is the product
// of its sections' responses. The setters change the object only; rebuild designs the
// sections, takes or gives back device EQs as the order needs and writes everything through
// the EQ manager. The filter owns its section objects.
class CZunHighOrderFilter : public CZunLinkedFrequencyResponse
{
    Q_OBJECT
public:
    CZunHighOrderFilter(CEQManagerInterface* manager, const HO_FILTER_PARAMS& params, QObject* parent = nullptr);
    ~CZunHighOrderFilter() override;

    quint16 getNumber() const { return m_number; }
    quint16 getBank() const { return m_bank; }
    quint16 getPassband() const { return m_passband; }
    quint16 getCharacteristic() const { return m_characteristic; }
    quint16 getOrder() const { return m_order; }
    double getFrequency() const { return m_frequency; }
    double getRipple() const { return m_ripple; }
    bool isBypassed() const { return m_bypass; }

    Qt::ItemFlags characteristicFlags() const;
    Qt::ItemFlags rippleFlags() const;

    // The section objects in section order, and whether an EQ number is one of them.
    QList<CZunBiquad*> sections() const;
    bool findSection(int number) const;
    // The object's values as a record, with its section numbers (255 for none).
    HO_FILTER_PARAMS params() const;

    void setPassband(quint16 passband);
    void setCharacteristic(quint16 characteristic);
    void setOrder(quint16 order);
    void SetFrequency(float frequency);
    void setRipple(float ripple);
    void SetBank(int bank);
    void setBypass(bool bypass);

    // Designs the filter, takes section EQs from the manager or gives them back, writes each
    // section and the filter record.
    void rebuild();
    // Reloads the record from the device's image, renames the filter and takes its section
    // objects from the manager again.
    void updateFromDevice();

    // Equal design and bypass state.
    bool operator==(const CZunHighOrderFilter& other) const;

signals:
    void signal_Changed(CZunHighOrderFilter* filter);

private:
    void takeSectionsFromDevice(const HO_FILTER_PARAMS& params);
    void adoptSection(CZunBiquad* section);
    void dropSection(CZunBiquad* section);
    void dropNullSections();
    void changed();

    CEQManagerInterface* m_manager;
    quint16 m_number;
    quint16 m_bank;
    quint16 m_passband;
    quint16 m_characteristic;
    quint16 m_order;
    double m_frequency;
    double m_ripple;
    bool m_bypass = false;
    bool m_flag;
    QList<QPointer<CZunBiquad>> m_sections;
};

Q_DECLARE_METATYPE(CZunHighOrderFilter*)
