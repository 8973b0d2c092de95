#pragma once

#include "ZunMultipathMode.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QVariant>
#include <QWizardPage>

class CZun;
class FilterLimiterEWS;
class QComboBox;
class QLabel;
class QWizardComboBox;
class RoutingRenderArea;

// The wizard's multipath and clock page: per DSP the multipath mode and the FIR
// coefficient copies, for the processor the clock. FIR files fix modes and clock.
class MultipathClockPage : public QWizardPage
{
    Q_OBJECT
public:
    // The modes offered in advanced mode, in this order, for both DSPs.
    static const QList<ZunC::MultipathMode> multipathChoiceOrder;

    explicit MultipathClockPage(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~MultipathClockPage() override;

    // The clocks the processor offers (key, text); 192 kHz (key 3) only where the DSPs
    // are not the 160-MIPS kind.
    static QMap<int, QString> clockChoices(const CZun& zun);

    void initializePage() override;
    // A clock is chosen, and with IIR crossovers a multipath mode for each DSP shown.
    bool isComplete() const override;

public slots:
    void onMultipath1Changed(QVariant value);
    void onMultipath2Changed(QVariant value);
    void onCopyFIRCoeffs1Changed(QVariant value);
    void onCopyFIRCoeffs2Changed(QVariant value);

private:
    void fillCopyFIRCoeffsCombo(QComboBox* choice, const FilterLimiterEWS& set);
    void fillCopyFIRCoeffsCombo(QComboBox* choice, const int& mode);
    // The choices every fill starts with; advanced mode offers both copies.
    bool startCopyChoices(QComboBox* choice);
    void linkCopyChoices(bool linked);
    // Only "No copies", hidden: a copy choice that is not offered copies nothing.
    void resetCopyChoice(QComboBox* choice);
    void onMultipathChanged(QComboBox* copyChoice, const QVariant& value);
    bool isDoubleBoard() const;

    QWizardComboBox* m_multipath1;
    QWizardComboBox* m_multipath2;
    QWizardComboBox* m_clock;
    QWizardComboBox* m_extClock;
    QWizardComboBox* m_copy1;
    QWizardComboBox* m_copy2;
    RoutingRenderArea* m_picture;
    QLabel* m_multipath1Label;
    QLabel* m_multipath2Label;
    QSharedPointer<CZun> m_zun;
    QMetaObject::Connection m_copyLink;
};
