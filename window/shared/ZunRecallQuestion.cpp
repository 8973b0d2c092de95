#include "ZunRecallQuestion.h"

#include <QMessageBox>
#include <QPushButton>

ZunRecallQuestion::Answer ZunRecallQuestion::ask(QWidget* parent, bool canStore)
{
    QMessageBox box(QMessageBox::Warning, QObject::tr("ZunControl"),
                    QObject::tr("The modifications since the last setup recall are not saved yet. If you continue, these "
                                "will be lost.You can store the current setup under its current name or discard the "
                                "changes and continue."),
                    QMessageBox::NoButton, parent);
    QPushButton* store = box.addButton(QObject::tr("Store"), QMessageBox::ActionRole);
    QPushButton* discard = box.addButton(QObject::tr("Discard and continue"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Cancel);
    // Without an active setup there is no position to store to: the image would go to a
    // position that does not exist.
    if (!canStore) {
        store->setEnabled(false);
        store->setToolTip(QObject::tr("No setup is active: there is no position to store the current settings to."));
    }
    box.exec();
    if (box.clickedButton() == store && canStore)
        return Store;
    return box.clickedButton() == discard ? Discard : Cancel;
}
