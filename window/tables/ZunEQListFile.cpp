#include "ZunEQListFile.h"

#include "ZunKeepAliveRest.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

QString ZunEQListFile::choose(QWidget* parent, CZun* device)
{
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QString folder = settings.value(QStringLiteral("EQDir"), QString()).toString();
    QString file;
    {
        const ZunKeepAliveRest rest(device);
        file = QFileDialog::getOpenFileName(parent, QObject::tr("Open File"), folder, QObject::tr("QM CSV file (*.csv)"));
    }
    if (file.isEmpty())
        return QString();
    settings.setValue(QStringLiteral("EQDir"), QFileInfo(file).absolutePath());
    settings.sync();
    return file;
}
