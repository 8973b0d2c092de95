#include "ZunSimDevice.h"

#include "CCmdMap.h"
#include "CZunImageDefaults.h"

ZunSimDevice::ZunSimDevice(const Identity& id)
    : m_id(id), m_image(CZunImageDefaults::defaultImage(id.firmware ? id.firmware : 1080)),
      m_flash(id.firmware ? id.firmware : 1080)
{
    // One routing word: the one given at start runs, else the default image's; the
    // announce carries it and the routing commands change it.
    const quint16 fw = id.firmware ? id.firmware : 1080;
    if (!CCmdMap::hasVersion(fw))
        return;
    CCmdMap map;
    map.setVersion(fw);
    const int spi = map.getCmdNr("Cmd_SPI_Routing");
    const int dsp = map.getCmdNr("Cmd_DSP_Routing");
    if (spi >= m_image.size() || dsp >= m_image.size())
        return;
    if (m_id.routingWord != 0)
        m_image[spi] = m_image[dsp] = m_id.routingWord;
    else
        m_id.routingWord = m_image[spi];
}

void ZunSimDevice::watch(const QVector<quint16>& words)
{
    m_watchedWords = words;
    m_watched.clear();
    m_watchClock.start();
}

void ZunSimDevice::noteWatched(quint16 id, quint16 value)
{
    if (m_watchedWords.isEmpty() || m_watched.size() >= MaxWatched)
        return;
    QString entry = QStringLiteral("%1 %2=%3").arg(m_watchClock.elapsed()).arg(id).arg(value);
    for (quint16 w : m_watchedWords)
        entry += QLatin1Char(' ') + QString::number(m_image.value(w));
    m_watched << entry;
}
