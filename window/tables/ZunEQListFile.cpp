#include "ZunEQListFile.h"

#include "ZunFileDialog.h"
#include "ZunKeepAliveRest.h"
#include "ZunSettingsWriter.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

QString ZunEQListFile::choose(QWidget* parent, CZun* device)
{
    const QString folder = QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QStringLiteral("EQDir"), QString()).toString();
    QString file;
    {
        const ZunKeepAliveRest rest(device);
        file = ZunFileDialog::openFile(parent, QObject::tr("Open File"), folder, QObject::tr("QM CSV file (*.csv)"));
    }
    if (file.isEmpty())
        return QString();
    ZunSettingsWriter::store(QStringLiteral("EQDir"), QFileInfo(file).absolutePath());
    return file;
}
