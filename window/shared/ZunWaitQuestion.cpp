#include "ZunWaitQuestion.h"

#include <QMessageBox>
#include <QPushButton>

bool ZunWaitQuestion::anyway(QWidget* parent, const QString& question, const QString& anyway)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ZunControl"), question, QMessageBox::NoButton, parent);
    QPushButton* wait = box.addButton(QMessageBox::tr("Wait"), QMessageBox::RejectRole);
    QPushButton* go = box.addButton(anyway, QMessageBox::DestructiveRole);
    box.setDefaultButton(wait);
    box.setEscapeButton(wait);
    box.exec();
    return box.clickedButton() == go;
}
