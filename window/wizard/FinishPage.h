#pragma once

#include <QWizardPage>

class QCheckBox;

// The wizard's last page: whether the current settings are kept.
class FinishPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit FinishPage(QWidget* parent = nullptr);

private:
    QCheckBox* m_keepSettings;
};
