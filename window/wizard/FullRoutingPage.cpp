#include "FullRoutingPage.h"

#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "QWizardComboBox.h"
#include "RoutingRenderArea.h"
#include "ZunHardwareNeeds.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace
{
// Bits of a full-routing preset's pattern that the filters read.
constexpr quint32 Analog = 1u << 31;
constexpr quint32 DualRange = 1u << 30;
constexpr quint32 Digital = 1u << 29;
constexpr quint32 RateConverter = 1u << 28;
constexpr quint32 NeedsDante = 1u << 3;
constexpr quint32 FanOut1to4 = 1u << 5;
constexpr quint32 FanOut1to3to1 = (1u << 6) | (1u << 7) | (1u << 8);
constexpr quint32 VariantField = 7u << 25;

bool holds(quint32 word, quint32 bits) { return (word & bits) == bits; }
bool active(const QAbstractButton* b) { return b->isEnabled() && b->isChecked(); }
} // namespace

FullRoutingPage::FullRoutingPage(QSharedPointer<CZun> zun, QWidget* parent) : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("Routing"));
    m_fanOut = new QWizardComboBox(false);
    m_fanOut->addItem(QStringLiteral("All"), 0);
    m_fanOut->addItem(QStringLiteral("1->4"), 4);
    m_fanOut->addItem(QStringLiteral("1->3"), 3);
    m_fanOut->addItem(QStringLiteral("1->2"), 2);
    m_fanOut->addItem(QStringLiteral("1->1"), 1);
    m_analog = new QRadioButton(tr("Analog"));
    m_digital = new QRadioButton(tr("Digital"));
    m_dualRange = new QCheckBox(tr("Dual range ADC"));
    m_rateConverter = new QCheckBox(tr("Sample rate conv."));
    m_presets = new QWizardComboBox(false);
    // As wide as its longest preset: a fixed 220 cut them ("4xAna DRC In 4x1->2 (varian").
    m_presets->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_presets->setSizePolicy(QSizePolicy::Fixed, m_presets->sizePolicy().verticalPolicy());
    m_picture = new RoutingRenderArea;
    m_picture->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    auto* advanced = m_advanced = new QCheckBox(
        tr("None of the routing presets above suits my needs. I'd like to see an advanced dialog (experts only)"));

    auto* description = new QLabel(QStringLiteral(
        "Please select the basic routing configuration from the drop-down list. Use the other elements to narrow the "
        "selection. E.g. select \"analog\" to show only presets with analog inputs."));
    description->setWordWrap(true);
    auto* inputType = new QGroupBox(tr("Input type"));
    inputType->setMaximumSize(80, QWIDGETSIZE_MAX);
    auto* inputTypeLayout = new QVBoxLayout(inputType);
    inputTypeLayout->addWidget(m_analog);
    inputTypeLayout->addWidget(m_digital);
    auto* options = new QGroupBox(tr("Input options"));
    options->setMaximumSize(126, QWIDGETSIZE_MAX);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addWidget(m_dualRange);
    optionsLayout->addWidget(m_rateConverter);
    auto* preset = new QGroupBox(tr("Routing preset"));
    auto* presetLayout = new QHBoxLayout(preset);
    presetLayout->addWidget(m_presets);
    auto* xover = new QGroupBox(tr("X-Over"));
    xover->setMaximumSize(80, QWIDGETSIZE_MAX);
    auto* xoverLayout = new QVBoxLayout(xover);
    xoverLayout->addWidget(m_fanOut);
    // Narrow, but never so narrow that they cut their buttons' texts: a fixed maximum did
    // with the usual fonts ("Analo", "Dual range A"); the groups now keep to their own size.
    for (QGroupBox* box : {inputType, options, preset, xover}) {
        box->setMaximumWidth(QWIDGETSIZE_MAX);
        box->setSizePolicy(QSizePolicy::Maximum, box->sizePolicy().verticalPolicy());
    }
    auto* row = new QHBoxLayout;
    row->addWidget(inputType);
    row->addWidget(options);
    row->addWidget(preset);
    row->addWidget(xover);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addWidget(m_picture);
    layout->addLayout(row);
    layout->addWidget(advanced);

    connect(m_presets, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setFullRoutingPreset));
    const CZunHardwareInfo hardware = m_zun->GetHardwareInfo();
    // The picture and the choices show what the processor has: one board draws no DSP 2
    // and no outputs 5-8; without the AES receiver or the converter their filters are not
    // offered (hidden: a disabled button's text does not show on the program's palette).
    m_picture->setDoubleBoard(hardware.isDoubleBoard());
    if (!ZunHardwareNeeds::missingForAESInput(hardware).isEmpty()) {
        m_digital->setEnabled(false);
        m_digital->hide();
    }
    if (hardware.hasSampleRateConverter()) {
        connect(m_analog, &QRadioButton::toggled, m_rateConverter, &QWidget::setDisabled);
    } else {
        m_rateConverter->setEnabled(false);
        m_rateConverter->hide();
    }
    connect(m_digital, &QRadioButton::toggled, m_dualRange, &QWidget::setDisabled);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(m_analog), static_cast<QAbstractButton*>(m_digital),
                               static_cast<QAbstractButton*>(m_dualRange), static_cast<QAbstractButton*>(m_rateConverter)})
        connect(b, &QAbstractButton::clicked, this, &FullRoutingPage::filterPresets);
    connect(m_fanOut, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &FullRoutingPage::filterPresets);
    connect(m_presets, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QWizardPage::completeChanged);
    connect(advanced, &QCheckBox::toggled, this, &QWizardPage::completeChanged);
    registerField(QStringLiteral("AdvancedMode"), advanced);
    registerField(QStringLiteral("FullRoutingPreset"), m_presets);
}

FullRoutingPage::~FullRoutingPage() = default;

bool FullRoutingPage::dante() const { return m_zun->GetHardwareInfo().isDanteEnabled(); }

bool FullRoutingPage::isComplete() const { return m_advanced->isChecked() || m_presets->currentIndex() >= 0; }

QString FullRoutingPage::presetText(const CZunFullRoutingPreset& preset, const QList<CZunFullRoutingPreset>& library)
{
    int named = 0;
    for (const CZunFullRoutingPreset& p : library)
        named += p.getName() == preset.getName() ? 1 : 0;
    return named > 1 ? QStringLiteral("%1 (variant %2)").arg(preset.getName().trimmed()).arg(preset.getVariant())
                     : preset.getName();
}

void FullRoutingPage::addPreset(const CZunFullRoutingPreset& preset)
{
    if ((preset.getPattern() & NeedsDante) && !dante())
        return;
    // A routing whose inputs need a part the processor lacks is not offered.
    if (!ZunHardwareNeeds::missingForPattern(m_zun->GetHardwareInfo(), preset.getPattern()).isEmpty())
        return;
    m_presets->addItem(presetText(preset, m_list), QVariant::fromValue(preset));
}

int FullRoutingPage::currentPresetIndex() const
{
    const CRoutingManager* routing = m_zun->GetRoutingManager();
    const CZunFullRoutingPreset current = routing->GetFullRouting();
    // Names are not unique (the same name stands for different routings): the words are.
    if (current.getPattern() != 0) {
        for (int i = 0; i < m_presets->count(); ++i)
            if (m_presets->itemData(i).value<CZunFullRoutingPreset>().getPattern() == current.getPattern())
                return i;
    }
    const CZunRoutingPreset rp = routing->GetSPIRouting();
    const CZunInputPreset ip = routing->GetDSPRouting();
    if (rp.getNumber() != 0) {
        for (int i = 0; i < m_presets->count(); ++i) {
            const auto p = m_presets->itemData(i).value<CZunFullRoutingPreset>();
            if (p.GetRoutingPreset().getNumber() == rp.getNumber()
                && p.GetInputPreset().getNumber() >> 1 == ip.getNumber() >> 1)
                return i;
        }
    }
    return current.getPattern() == 0 && current.getName().isEmpty() ? 0 : -1;
}

void FullRoutingPage::initializePage()
{
    const bool fir = field(QStringLiteral("XOverSelect")).toInt() == 1;
    const auto mp1 = ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath1")).toInt() : 0);
    const auto mp2 = ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath2")).toInt() : 0);

    m_presets->clear();
    const QSharedPointer<CRoutingLibrary> library = m_zun->GetRoutingLibrary();
    m_list = library ? library->GetFullRoutingPresets() : QList<CZunFullRoutingPreset>();
    for (const CZunFullRoutingPreset& p : qAsConst(m_list)) {
        // A FIR set fixes the multipath modes: offer the presets either DSP can run it with.
        if (fir && !p.isMultipathModeSupported(1, mp1) && !p.isMultipathModeSupported(2, mp2))
            continue;
        addPreset(p);
    }

    m_presets->setCurrentIndex(currentPresetIndex());

    m_picture->setMultipath1(mp1);
    m_picture->setMultipath2(mp2);
}

void FullRoutingPage::filterPresets()
{
    m_presets->clear();
    const int fanOut = m_fanOut->currentData().toInt();
    for (const CZunFullRoutingPreset& p : qAsConst(m_list)) {
        const quint32 w = p.getPattern();
        if (active(m_analog) && !holds(w, Analog))
            continue;
        if (active(m_digital) && !holds(w, Digital))
            continue;
        if (active(m_dualRange) && !holds(w, Analog | DualRange))
            continue;
        if (active(m_rateConverter) && !holds(w, Digital | RateConverter))
            continue;
        if (fanOut >= 1 && fanOut <= 4 && !holds(w, 1u << (9 - fanOut)))
            continue;
        addPreset(p);
    }

    // Prefer the plain one-to-four preset, else the first with another fan-out.
    int index = 0;
    for (int i = 0; i < m_presets->count(); ++i) {
        const quint32 w = m_presets->itemData(i).value<CZunFullRoutingPreset>().getPattern();
        if ((w & FanOut1to4) && !(w & VariantField))
            index = i;
        else if (index == 0 && (w & FanOut1to3to1))
            index = i;
    }
    m_presets->setCurrentIndex(index);
}
