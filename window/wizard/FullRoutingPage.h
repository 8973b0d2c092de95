#pragma once

#include "CZunFullRoutingPreset.h"

#include <QList>
#include <QSharedPointer>
#include <QWizardPage>

class CZun;
class QCheckBox;
class QRadioButton;
class QWizardComboBox;
class RoutingRenderArea;

// The wizard's routing page: the processor's full-routing presets, narrowed by input
// type, input options and fan-out, with the chosen one drawn.
class FullRoutingPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit FullRoutingPage(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~FullRoutingPage() override;

    void initializePage() override;
    // A preset is chosen, or the expert page will choose the routing.
    bool isComplete() const override;

    // The text a preset is listed under: its name, and where the library holds that name
    // more than once, its variant too.
    static QString presetText(const CZunFullRoutingPreset& preset, const QList<CZunFullRoutingPreset>& library);

public slots:
    void filterPresets();

private:
    bool dante() const;
    void addPreset(const CZunFullRoutingPreset& preset);
    // The item of the preset the processor runs: by its pattern, else by its routing word.
    int currentPresetIndex() const;

    QSharedPointer<CZun> m_zun;
    QWizardComboBox* m_fanOut;
    QRadioButton* m_analog;
    QRadioButton* m_digital;
    QCheckBox* m_dualRange;
    QCheckBox* m_rateConverter;
    QWizardComboBox* m_presets;
    QCheckBox* m_advanced;
    RoutingRenderArea* m_picture;
    QList<CZunFullRoutingPreset> m_list;
};
