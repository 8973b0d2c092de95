#pragma once

#include <QSharedPointer>
#include <QWizard>

class CZun;

// The configuration wizard of one connected processor: crossover kind and FIR files,
// routing, multipath modes, FIR coefficient copies and clock. It sends nothing: the caller
// reads its fields after it was accepted and applies them.
class CZunConfigWizard : public QWizard
{
public:
    enum PageId { IntroPage = 0, FullRouting = 1, ExpertRouting = 2, XOver = 3, MultipathClock = 4, Finish = 6 };

    explicit CZunConfigWizard(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~CZunConfigWizard() override;

    int nextId() const override;

private:
    static QWizardPage* createIntroPage();

    QSharedPointer<CZun> m_zun;
};
