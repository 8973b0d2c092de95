#include "FinishPage.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

FinishPage::FinishPage(QWidget* parent) : QWizardPage(parent)
{
    setTitle(QStringLiteral("Finished"));
    auto* text = new QLabel(QStringLiteral(
        "You have completed all steps necessary for the basic configuration. If you continue, the settings will be "
        "transferred to the Zun. Please select, if you want to keep your current settings (gains, delays, eqs ...) or "
        "create a new empty setup. To avoid any damage in possibly connected speakers, the master gain will be reduced "
        "to -40 dB."));
    text->setWordWrap(true);
    m_keepSettings = new QCheckBox(QStringLiteral("Keep current settings"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_keepSettings);
    registerField(QStringLiteral("KeepSettings"), m_keepSettings);
}
