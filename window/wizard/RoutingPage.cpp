#include "RoutingPage.h"

#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "QWizardComboBox.h"
#include "RoutingRenderArea.h"
#include "ZunHardwareNeeds.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

RoutingPage::RoutingPage(QSharedPointer<CZun> zun, QWidget* parent) : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("Routing"));
    m_routing = new QWizardComboBox(false);
    m_input = new QWizardComboBox(false);
    m_picture = new RoutingRenderArea;
    m_picture->setDoubleBoard(m_zun->GetHardwareInfo().isDoubleBoard());
    auto* description = new QLabel(QStringLiteral("Please select the basic routing configuration from the drop-down list."));
    description->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addWidget(m_input);
    row->addWidget(m_routing);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(description);
    layout->addWidget(m_picture);
    layout->addLayout(row);

    // A device without a routing library (an unknown firmware) offers no presets.
    if (const QSharedPointer<CRoutingLibrary> library = m_zun->GetRoutingLibrary()) {
        const CZunHardwareInfo hardware = m_zun->GetHardwareInfo();
        const bool dante = hardware.isDanteEnabled();
        for (const CZunInputPreset& p : library->GetInputPresets(m_zun->GetRoutingManager()->GetSPIRouting()))
            if ((dante || !p.usesModule()) && ZunHardwareNeeds::missingForSources(hardware, p.getSources()).isEmpty())
                m_input->addItem(p.getName(), QVariant::fromValue(p));
        for (const CZunRoutingPreset& p : library->GetRoutingPresets())
            m_routing->addItem(p.getName(), QVariant::fromValue(p));
    }

    connect(m_routing, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setRoutingPreset));
    connect(m_input, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setInputPreset));
    for (QComboBox* box : {m_routing, m_input})
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &QWizardPage::completeChanged);
    registerField(QStringLiteral("InputPreset"), m_input);
    registerField(QStringLiteral("RoutingPreset"), m_routing);
}

RoutingPage::~RoutingPage() = default;

void RoutingPage::initializePage()
{
    // From nothing, so that the selections below always redraw the picture.
    m_routing->setCurrentIndex(-1);
    m_input->setCurrentIndex(-1);

    const CRoutingManager* routing = m_zun->GetRoutingManager();
    const CZunRoutingPreset rp = routing->GetSPIRouting();
    // Found by their numbers, the words the processor holds (bit 0 of an input preset's
    // number is not part of the routing word).
    int routingIndex = rp.getNumber() == 0 ? 0 : -1;
    for (int i = 0; routingIndex < 0 && i < m_routing->count(); ++i)
        if (m_routing->itemData(i).value<CZunRoutingPreset>().getNumber() == rp.getNumber())
            routingIndex = i;
    m_routing->setCurrentIndex(routingIndex);
    const CZunInputPreset ip = routing->GetDSPRouting();
    int inputIndex = ip.getNumber() <= 1 ? 0 : -1;
    for (int i = 0; inputIndex < 0 && i < m_input->count(); ++i)
        if (m_input->itemData(i).value<CZunInputPreset>().getNumber() >> 1 == ip.getNumber() >> 1)
            inputIndex = i;
    m_input->setCurrentIndex(inputIndex);

    const bool fir = field(QStringLiteral("XOverSelect")).toInt() == 1;
    m_picture->setMultipath1(ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath1")).toInt() : 0));
    m_picture->setMultipath2(ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath2")).toInt() : 0));
}

bool RoutingPage::isComplete() const { return m_routing->currentIndex() >= 0 && m_input->currentIndex() >= 0; }
