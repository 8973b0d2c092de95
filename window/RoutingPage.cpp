#include "RoutingPage.h"

#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "QWizardComboBox.h"
#include "RoutingRenderArea.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

RoutingPage::RoutingPage(QSharedPointer<CZun> zun, QWidget* parent) : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("Routing"));
    m_routing = new QWizardComboBox(false);
    m_input = new QWizardComboBox(false);
    m_picture = new RoutingRenderArea;
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
        const bool dante = m_zun->GetHardwareInfo().isDanteEnabled();
        for (const CZunInputPreset& p : library->GetInputPresets(m_zun->GetRoutingManager()->GetSPIRouting()))
            if (dante || !p.usesModule())
                m_input->addItem(p.getName(), QVariant::fromValue(p));
        for (const CZunRoutingPreset& p : library->GetRoutingPresets())
            m_routing->addItem(p.getName(), QVariant::fromValue(p));
    }

    connect(m_routing, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setRoutingPreset));
    connect(m_input, &QWizardComboBox::currentItemDataChanged, m_picture,
            QOverload<QVariant>::of(&RoutingRenderArea::setInputPreset));
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
    m_routing->setCurrentIndex(rp.getNumber() == 0 ? 0 : m_routing->findText(rp.getName()));
    const CZunInputPreset ip = routing->GetDSPRouting();
    m_input->setCurrentIndex(ip.getNumber() <= 1 ? 0 : m_input->findText(ip.getName()));

    const bool fir = field(QStringLiteral("XOverSelect")).toInt() == 1;
    m_picture->setMultipath1(ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath1")).toInt() : 0));
    m_picture->setMultipath2(ZunC::MultipathMode(fir ? field(QStringLiteral("Multipath2")).toInt() : 0));
}
