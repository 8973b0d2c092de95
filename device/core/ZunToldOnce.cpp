#include "ZunToldOnce.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QStringList>
#include <QThreadPool>

namespace
{
// The key the list has in the settings since the operations record first kept it there.
const char* const ToldKey = "operationRecordsTold";
QMutex g_toldMutex;
QStringList& toldList()
{
    static QStringList told =
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QLatin1String(ToldKey)).toStringList();
    return told;
}
} // namespace

bool ZunToldOnce::wasTold(const QByteArray& key)
{
    QMutexLocker lock(&g_toldMutex);
    return toldList().contains(QString::fromLatin1(key));
}

void ZunToldOnce::markTold(const QByteArray& key, bool told)
{
    QMutexLocker lock(&g_toldMutex);
    QStringList& list = toldList();
    if (key.isEmpty() || list.contains(QString::fromLatin1(key)) == told)
        return;
    if (told)
        list.prepend(QString::fromLatin1(key));
    else
        list.removeAll(QString::fromLatin1(key));
    list = list.mid(0, 64);
    // Whichever write runs last writes the list as it is then.
    QThreadPool::globalInstance()->start([]() {
        QStringList now;
        {
            QMutexLocker lock(&g_toldMutex);
            now = toldList();
        }
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QLatin1String(ToldKey), now);
    });
}
