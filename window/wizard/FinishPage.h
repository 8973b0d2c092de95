#pragma once

#include <QSharedPointer>
#include <QWizardPage>

class CZun;
class QCheckBox;
class QLabel;

// The wizard's last page: whether the current settings are kept, and which of them the
// new clock would leave beyond their limits (they are set to the limits).
class FinishPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit FinishPage(QSharedPointer<CZun> zun, QWidget* parent = nullptr);

    void initializePage() override;

private:
    QSharedPointer<CZun> m_zun;
    QCheckBox* m_keepSettings;
    QLabel* m_changes;
};
