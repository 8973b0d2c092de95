#include "FinishPage.h"

#include "CZun.h"
#include "ZunClockDelays.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

FinishPage::FinishPage(QSharedPointer<CZun> zun, QWidget* parent) : QWizardPage(parent), m_zun(std::move(zun))
{
    setTitle(QStringLiteral("Finished"));
    auto* text = new QLabel(QStringLiteral(
        "You have completed all steps necessary for the basic configuration. If you continue, the settings will be "
        "transferred to the Zun. Please select, if you want to keep your current settings (gains, delays, eqs ...) or "
        "create a new empty setup. To avoid any damage in possibly connected speakers, the master gain will be reduced "
        "to -40 dB."));
    text->setWordWrap(true);
    m_keepSettings = new QCheckBox(QStringLiteral("Keep current settings"));
    m_changes = new QLabel;
    m_changes->setWordWrap(true);
    m_changes->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_keepSettings);
    layout->addWidget(m_changes);
    layout->addStretch();
    registerField(QStringLiteral("KeepSettings"), m_keepSettings);
}

void FinishPage::initializePage()
{
    const double rate = CZun::SampleRateOfClock(quint16(field(QStringLiteral("Clock")).toInt()));
    const QString changes = m_zun ? ZunClockDelays(*m_zun, rate).description() : QString();
    m_changes->setText(QStringLiteral("At %1 Hz these delays are beyond their limits; with \"Keep current settings\" "
                                      "they are set to the limits:\n%2")
                           .arg(rate)
                           .arg(changes));
    m_changes->setVisible(!changes.isEmpty());
}
