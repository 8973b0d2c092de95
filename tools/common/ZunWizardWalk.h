#pragma once

// What the window benches answer in the configuration wizard: every page walked to the
// last with Next, another full routing than the processor runs chosen on the way, so that
// Finish changes the routing and reloads the image.
#include "CZunConfigWizard.h"
#include "CZunFullRoutingPreset.h"
#include "QWizardComboBox.h"

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

// From the first page to the last, ready for Finish.
inline void walkWizardToFinish(CZunConfigWizard& wizard, quint32 currentRouting)
{
    wizard.restart();
    for (int guard = 0; guard < 10 && wizard.nextId() != -1; ++guard) {
        if (wizard.currentId() == CZunConfigWizard::FullRouting)
            chooseOtherFullRouting(wizard.currentPage(), currentRouting);
        wizard.next();
    }
}
