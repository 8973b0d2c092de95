#include "CZunConfigWizard.h"

#include "CZun.h"
#include "FinishPage.h"
#include "FullRoutingPage.h"
#include "MultipathClockPage.h"
#include "RoutingPage.h"
#include "XOverPage.h"

#include <QLabel>
#include <QVBoxLayout>

CZunConfigWizard::CZunConfigWizard(QSharedPointer<CZun> zun, QWidget* parent) : QWizard(parent), m_zun(std::move(zun))
{
    // Before any page registers its fields, so that a combo box's field is its item data.
    setDefaultProperty("QWizardComboBox", "currentItemData", SIGNAL(currentItemDataChanged(QVariant)));
    setWizardStyle(QWizard::ModernStyle);
    setPage(IntroPage, createIntroPage());
    setPage(FullRouting, new FullRoutingPage(m_zun));
    setPage(ExpertRouting, new RoutingPage(m_zun));
    setPage(XOver, new XOverPage(m_zun));
    setPage(MultipathClock, new MultipathClockPage(m_zun));
    setPage(Finish, new FinishPage(m_zun));
    setWindowTitle(QStringLiteral("Zun Setup Wizard"));
    resize(615, 622);
}

CZunConfigWizard::~CZunConfigWizard() = default;

int CZunConfigWizard::nextId() const
{
    switch (currentId()) {
    case IntroPage: return XOver;
    case XOver: return FullRouting;
    case FullRouting: return field(QStringLiteral("AdvancedMode")).toBool() ? ExpertRouting : MultipathClock;
    case ExpertRouting: return MultipathClock;
    case MultipathClock: return Finish;
    default: return -1;
    }
}

QWizardPage* CZunConfigWizard::createIntroPage()
{
    auto* page = new QWizardPage;
    page->setTitle(QStringLiteral("Introduction"));
    auto* text = new QLabel(QStringLiteral("This wizard will help you configure the Zun. Select FIR or IIR crossover and "
                                           "your desired routing options."));
    text->setWordWrap(true);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(text);
    return page;
}
