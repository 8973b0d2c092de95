#include "MultipathClockPage.h"

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunFullRoutingPreset.h"
#include "FilterLimiterEWS.h"
#include "QWizardComboBox.h"
#include "RoutingRenderArea.h"
#include "ZunWizardValues.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

const QList<ZunC::MultipathMode> MultipathClockPage::multipathChoiceOrder = {ZunC::MP_None, ZunC::MP_LoMidHi,
                                                                             ZunC::MP_MidHi, ZunC::MP_LoMid};

namespace
{
QWizardComboBox* choice(int minimumWidth)
{
    auto* box = new QWizardComboBox(false);
    box->setMinimumWidth(minimumWidth);
    return box;
}
} // namespace

MultipathClockPage::MultipathClockPage(QSharedPointer<CZun> zun, QWidget* parent)
    : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("Multipath"));
    m_multipath1 = choice(160);
    m_multipath2 = choice(160);
    m_clock = choice(120);
    m_extClock = choice(120);
    m_copy1 = new QWizardComboBox(false);
    m_copy2 = new QWizardComboBox(false);
    m_copy1->hide();
    m_copy2->hide();
    m_picture = new RoutingRenderArea;
    m_picture->setDoubleBoard(isDoubleBoard());
    m_multipath1Label = new QLabel(QStringLiteral("&Multipath DSP1"));
    m_multipath2Label = new QLabel(QStringLiteral("Multi&path DSP2"));
    auto* clockLabel = new QLabel(QStringLiteral("&Clock"));
    auto* extClockLabel = new QLabel(QStringLiteral("External Clock"));
    m_multipath1Label->setBuddy(m_multipath1);
    m_multipath2Label->setBuddy(m_multipath2);
    clockLabel->setBuddy(m_clock);
    extClockLabel->setBuddy(m_extClock);

    const bool dante = m_zun->GetHardwareInfo().isDanteEnabled();
    QString text = QStringLiteral(
        "If you selected IIR x-over filters, Please choose the desired multipath options. E.g. multipath Mid-High means "
        "that internally separated paths are modelled with own limiters which are combined inside the Zun and go to one "
        "terminal of a speaker.\n\n Also, select the clock for internal processing.");
    if (dante)
        text += QStringLiteral("\n\n Note: if you use an Zun with Dante option, you have to manually change the clock "
                               "inside the  Dante module via the Dante Controller application.");
    auto* description = new QLabel(text);
    description->setWordWrap(true);
    m_clock->setWhatsThis(
        tr("<h1>Zun clocking options</h1> \t\tWith this, you set the clock for the internal processing. If you are using "
           "IIR filters and analog inputs or digital inputs \t\twith sampling rate conversion, you can freely assign the "
           "desired clock.<br> \t\tA FIR filter determines the internal processing, so this box is grayed out. <br> "
           "\t\tIf you are using a Dante enabled device, you have to set the desired sampling rate also in the Dante "
           "module <br> \t\tusing the Dante Controller application. <br> \t\t"));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(9);
    grid->addItem(new QSpacerItem(80, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), 0, 0);
    grid->addWidget(clockLabel, 0, 1);
    grid->addWidget(m_multipath1Label, 0, 3);
    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), 0, 5);
    grid->addWidget(m_clock, 1, 1);
    grid->addWidget(m_multipath1, 1, 3);
    grid->addWidget(m_copy1, 1, 4);
    grid->addWidget(extClockLabel, 2, 1);
    grid->addWidget(m_multipath2Label, 2, 3);
    grid->addWidget(m_extClock, 3, 1);
    grid->addWidget(m_multipath2, 3, 3);
    grid->addWidget(m_copy2, 3, 4);
    grid->setColumnStretch(5, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addWidget(m_picture);
    layout->addLayout(grid);

    const QMap<int, QString> clocks = clockChoices(*m_zun);
    for (auto it = clocks.cbegin(); it != clocks.cend(); ++it)
        m_clock->addItem(it.value(), it.key());
    const QMap<int, QString> extClocks = m_zun->GetExtClockKeys();
    for (auto it = extClocks.cbegin(); it != extClocks.cend(); ++it)
        m_extClock->addItem(it.value(), it.key());
    m_extClock->setEnabled(false);
    // A processor without an external clock input has no external clock to name.
    if (!clocks.contains(m_zun->GetCmdMap()->getCmdNr("Inf_Sel_Clk_Ext"))) {
        extClockLabel->hide();
        m_extClock->hide();
    }

    connect(m_multipath1, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setMultipath1));
    connect(m_multipath1, &QWizardComboBox::currentItemDataChanged, this, &MultipathClockPage::onMultipath1Changed);
    connect(m_copy1, &QWizardComboBox::currentItemDataChanged, m_picture, &RoutingRenderArea::setCopyFIRCoeffs1);
    if (isDoubleBoard()) {
        connect(m_multipath2, &QWizardComboBox::currentItemDataChanged, m_picture,
                QOverload<QVariant>::of(&RoutingRenderArea::setMultipath2));
        connect(m_multipath2, &QWizardComboBox::currentItemDataChanged, this, &MultipathClockPage::onMultipath2Changed);
        connect(m_copy2, &QWizardComboBox::currentItemDataChanged, m_picture, &RoutingRenderArea::setCopyFIRCoeffs2);
    }
    for (QComboBox* box : {m_clock, m_multipath1, m_multipath2})
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QWizardPage::completeChanged);
    registerField(QStringLiteral("Multipath1"), m_multipath1);
    registerField(QStringLiteral("Multipath2"), m_multipath2);
    registerField(QStringLiteral("Clock"), m_clock);
    registerField(QStringLiteral("CopyFIRCoeffs1"), m_copy1);
    registerField(QStringLiteral("CopyFIRCoeffs2"), m_copy2);
}

MultipathClockPage::~MultipathClockPage() = default;

QMap<int, QString> MultipathClockPage::clockChoices(const CZun& zun) { return ZunSampleRateRule::clockChoices(zun); }

bool MultipathClockPage::isComplete() const
{
    if (m_clock->currentIndex() < 0)
        return false;
    // FIR sets carry their own modes: the choices only show them.
    if (field(QStringLiteral("XOverSelect")).toInt() == 1)
        return true;
    return m_multipath1->currentIndex() >= 0 && (!isDoubleBoard() || m_multipath2->currentIndex() >= 0);
}

void MultipathClockPage::resetCopyChoice(QComboBox* choice)
{
    choice->clear();
    choice->addItem(tr("No copies"), int(ZunC::NoCopies));
    choice->hide();
}

bool MultipathClockPage::isDoubleBoard() const { return m_zun->GetHardwareInfo().isDoubleBoard(); }

void MultipathClockPage::linkCopyChoices(bool linked)
{
    disconnect(m_copyLink);
    if (linked)
        m_copyLink = connect(m_copy1, QOverload<int>::of(&QComboBox::currentIndexChanged), m_copy2,
                             &QComboBox::setCurrentIndex);
}

void MultipathClockPage::initializePage()
{
    const bool advanced = field(QStringLiteral("AdvancedMode")).toBool();
    QList<ZunC::MultipathMode> modes1 = multipathChoiceOrder;
    QList<ZunC::MultipathMode> modes2 = multipathChoiceOrder;
    bool digitalWithoutConverter = false;
    if (advanced) {
        m_picture->setRoutingPreset(field(QStringLiteral("RoutingPreset")));
        m_picture->setInputPreset(field(QStringLiteral("InputPreset")));
    } else {
        const QVariant v = field(QStringLiteral("FullRoutingPreset"));
        m_picture->setFullRoutingPreset(v);
        const CZunFullRoutingPreset preset = v.value<CZunFullRoutingPreset>();
        modes1 = preset.GetMultipathModesForDSP(1);
        modes2 = preset.GetMultipathModesForDSP(2);
        const quint32 w = preset.getPattern();
        digitalWithoutConverter = (w & (1u << 29)) && (w & (3u << 28)) != (3u << 28);
    }
    for (auto [box, modes] : {std::make_pair(m_multipath1, &modes1), std::make_pair(m_multipath2, &modes2)}) {
        box->clear();
        for (ZunC::MultipathMode m : qAsConst(*modes))
            box->addItem(ZunC::multipathModeText(m), int(m));
    }

    int mp1 = 0;
    int mp2 = 0;
    // The clock the processor runs stays unless the operator chooses another.
    const int running = m_zun->GetClockSelect();
    int clock = m_clock->findData(running) >= 0 ? running : 1;
    QString status;
    if (digitalWithoutConverter) {
        m_clock->setEnabled(false);
        clock = 0;
    }
    if (field(QStringLiteral("XOverSelect")).toInt() != 1) {
        m_multipath1->setEnabled(true);
        m_multipath2->setEnabled(true);
        m_clock->setEnabled(!digitalWithoutConverter);
        m_copy2->setEnabled(true);
        linkCopyChoices(false);
        resetCopyChoice(m_copy1);
        resetCopyChoice(m_copy2);
        setField(QStringLiteral("SameFIRonDSP12"), false);
    } else {
        m_multipath1->setEnabled(false);
        m_multipath2->setEnabled(false);
        m_clock->setEnabled(false);
        status = QStringLiteral("You are using FIR filters. The sampling rate is determinated by the filter, you can not "
                                "change it.");
        // The crossover page accepted these files; one changed or damaged since leaves
        // its DSP at the defaults instead of ending the wizard.
        const QString path1 = field(QStringLiteral("FIRPath1")).toString();
        if (QFileInfo::exists(path1)) {
            try {
                const FilterLimiterEWS set(path1, 0.0);
                mp1 = set.multipathMode();
                if (!digitalWithoutConverter)
                    clock = ZunC::clockFromSampleRate(set.sampleRate());
                fillCopyFIRCoeffsCombo(m_copy1, set);
            } catch (const std::exception& e) {
                qWarning("MultipathClockPage: %s: %s", qPrintable(path1), e.what());
            }
        }
        const QString path2 = field(QStringLiteral("FIRPath2")).toString();
        if (QFileInfo::exists(path2)) {
            try {
                const FilterLimiterEWS set(path2, 0.0);
                mp2 = set.multipathMode();
                fillCopyFIRCoeffsCombo(m_copy2, set);
            } catch (const std::exception& e) {
                qWarning("MultipathClockPage: %s: %s", qPrintable(path2), e.what());
            }
        }
        const bool same = field(QStringLiteral("SameFIRonDSP12")).toBool();
        if (same)
            m_copy2->setCurrentIndex(m_copy1->currentIndex());
        m_copy2->setEnabled(!same);
        linkCopyChoices(same);
    }

    m_multipath1->setCurrentIndex(m_multipath1->findData(mp1));
    // From nothing: going back reset the field without moving the box, and selecting the
    // index the box already shows would not set it again.
    m_clock->setCurrentIndex(-1);
    m_clock->setCurrentIndex(m_clock->findData(clock));
    if (m_zun->GetHardwareInfo().isDanteEnabled())
        status += QStringLiteral("You are using a Dante enabled device and have to set the desired sampling rate also "
                                 "in the Dante module, \t\t\t\t\t\t\t\t using the Dante Controller application.");
    m_clock->setStatusTip(status);
    m_picture->setMultipath1(ZunC::MultipathMode(mp1));
    m_picture->setCopyFIRCoeffs1(m_copy1->currentData());
    if (isDoubleBoard()) {
        m_multipath2->setCurrentIndex(m_multipath2->findData(mp2));
        m_picture->setMultipath2(ZunC::MultipathMode(mp2));
        m_picture->setCopyFIRCoeffs2(m_copy2->currentData());
    } else {
        m_multipath2Label->hide();
        m_multipath2->hide();
        m_copy2->hide();
    }
}

void MultipathClockPage::onMultipathChanged(QComboBox* copyChoice, const QVariant& value)
{
    if (field(QStringLiteral("XOverSelect")).toInt() == 1)
        return;
    if (value.toInt() == ZunC::MP_MidHi)
        fillCopyFIRCoeffsCombo(copyChoice, value.toInt());
    else
        resetCopyChoice(copyChoice);
}

void MultipathClockPage::onMultipath1Changed(QVariant value) { onMultipathChanged(m_copy1, value); }
void MultipathClockPage::onMultipath2Changed(QVariant value) { onMultipathChanged(m_copy2, value); }

void MultipathClockPage::onCopyFIRCoeffs1Changed(QVariant)
{
    if (field(QStringLiteral("SameFIRonDSP12")).toBool())
        m_copy2->setCurrentIndex(m_copy1->currentIndex());
}

void MultipathClockPage::onCopyFIRCoeffs2Changed(QVariant) {}

bool MultipathClockPage::startCopyChoices(QComboBox* choice)
{
    choice->clear();
    choice->addItem(tr("No copies"), int(ZunC::NoCopies));
    if (!field(QStringLiteral("AdvancedMode")).toBool())
        return false;
    choice->addItem(tr("Copy mid+high to sub+low"), int(ZunC::CopyMidHighToSubLow));
    choice->addItem(tr("Copy high to sub+low+mid"), int(ZunC::CopyHighToSubLowMid));
    return true;
}

void MultipathClockPage::fillCopyFIRCoeffsCombo(QComboBox* choice, const FilterLimiterEWS& set)
{
    if (!startCopyChoices(choice)) {
        const auto preset = field(QStringLiteral("FullRoutingPreset")).value<CZunFullRoutingPreset>();
        if (set.limiterFlagsSet() && preset.isMultipathModeSupported(1, ZunC::MP_2xMidHi))
            choice->addItem(tr("Copy mid+high to sub+low"), int(ZunC::CopyMidHighToSubLow));
        if (set.multipathMode() == 0)
            choice->addItem(tr("Copy high to sub+low+mid"), int(ZunC::CopyHighToSubLowMid));
    }
    choice->setVisible(choice->count() > 1);
}

void MultipathClockPage::fillCopyFIRCoeffsCombo(QComboBox* choice, const int& mode)
{
    if (!startCopyChoices(choice)) {
        const auto preset = field(QStringLiteral("FullRoutingPreset")).value<CZunFullRoutingPreset>();
        if (preset.isMultipathModeSupported(1, ZunC::MP_2xMidHi) && mode == ZunC::MP_MidHi)
            choice->addItem(tr("Copy mid+high to sub+low"), int(ZunC::CopyMidHighToSubLow));
    }
    choice->setVisible(choice->count() > 1);
}
