#pragma once

#include <QSharedPointer>
#include <QWizardPage>

class CZun;
class QWizardComboBox;
class RoutingRenderArea;

// The wizard's expert routing page: a routing preset and an input preset chosen apart.
class RoutingPage : public QWizardPage
{
public:
    explicit RoutingPage(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~RoutingPage() override;

    void initializePage() override;
    // Both a routing preset and an input preset are chosen.
    bool isComplete() const override;

private:
    QWizardComboBox* m_routing;
    QWizardComboBox* m_input;
    QSharedPointer<CZun> m_zun;
    RoutingRenderArea* m_picture;
};
