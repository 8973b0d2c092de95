#include "ZunEQListFile.h"

#include "CZun.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

QString ZunEQListFile::choose(QWidget* parent, CZun* device)
{
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QString folder = settings.value(QStringLiteral("EQDir"), QString()).toString();
    if (device)
        device->EnableTcpCheck(false);
    const QString file =
        QFileDialog::getOpenFileName(parent, QObject::tr("Open File"), folder, QObject::tr("QM CSV file (*.csv)"));
    if (device)
        device->EnableTcpCheck(true);
    if (file.isEmpty())
        return QString();
    settings.setValue(QStringLiteral("EQDir"), QFileInfo(file).absolutePath());
    settings.sync();
    return file;
}
