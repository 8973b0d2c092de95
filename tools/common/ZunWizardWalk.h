#pragma once

// How the window benches go through the configuration wizard: the real one, shown, every
// page walked to the last with its own Next button, another full routing than the
// processor runs chosen on the way, so that Finish changes the routing and reloads the image.
#include "CZunConfigWizard.h"
#include "CZunFullRoutingPreset.h"
#include "QWizardComboBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <functional>

// A full-routing choice of the wizard's page other than the processor's current one.
inline void chooseOtherFullRouting(QWizardPage* page, quint32 current)
{
    for (QWizardComboBox* box : page->findChildren<QWizardComboBox*>())
        if (box->count() && box->itemData(0).canConvert<CZunFullRoutingPreset>())
            for (int i = box->count() - 1; i >= 0; --i)
                if (box->itemData(i).value<CZunFullRoutingPreset>().getPattern() != current) {
                    box->setCurrentIndex(i);
                    return;
                }
}

// Goes through the configuration wizard once it is shown, as an operator does: one page
// at a time, each after the page has been drawn, choose(page) on the full-routing page,
// Next until the last page, then beforeFinish() and a click on Finish.
inline void driveWizard(const std::function<void(QWizardPage*)>& choose, const std::function<void()>& beforeFinish)
{
    auto* timer = new QTimer;
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [timer, choose, beforeFinish, steps = 0]() mutable {
        auto* wizard = dynamic_cast<CZunConfigWizard*>(QApplication::activeModalWidget());
        if (!wizard || !wizard->isVisible())
            return;
        if (++steps > 20) { // a page that does not let the operator on: the image never comes
            timer->stop();
            timer->deleteLater();
            wizard->reject();
            return;
        }
        if (wizard->currentId() == CZunConfigWizard::FullRouting)
            choose(wizard->currentPage());
        if (wizard->nextId() != -1) {
            wizard->button(QWizard::NextButton)->click();
            return;
        }
        timer->stop();
        timer->deleteLater();
        beforeFinish();
        wizard->button(QWizard::FinishButton)->click();
    });
    timer->start();
}
