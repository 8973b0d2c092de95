#include "CCmdMap.h"

#include "CCmdTables.h"

#include <QMutexLocker>

const char* CCmdMap::invalid_cmd::what() const noexcept
{
    return "The firmware seems to be outdated. Please update to the newest one.";
}

CCmdMap::CCmdMap(QObject* parent) : QObject(parent) {}

void CCmdMap::setVersion(const quint16& version)
{
    if (version == m_version)
        return;
    m_table = CCmdTables::instance().table(version);
    m_version = version;
    {
        QMutexLocker lock(&m_cacheMutex);
        m_prefixCache.clear();
        m_latin1Cache.clear();
        m_latin1Names.clear();
    }
    emit signal_CmdMapChanged();
}

bool CCmdMap::hasVersion(quint16 version)
{
    return CCmdTables::instance().versions().contains(version);
}

QList<quint16> CCmdMap::versions()
{
    return CCmdTables::instance().versions();
}

bool CCmdMap::contains(const QString& name) const { return m_table.ints.contains(name); }
bool CCmdMap::contains(QLatin1String name) const { return lookup(name).found; }

CCmdMap::Latin1Entry CCmdMap::lookup(QLatin1String name) const
{
    QMutexLocker lock(&m_cacheMutex);
    auto it = m_latin1Cache.constFind(name);
    if (it != m_latin1Cache.constEnd())
        return it.value();
    Latin1Entry entry;
    const auto found = m_table.ints.constFind(QString(name));
    if (found != m_table.ints.constEnd())
        entry = {true, found.value()};
    // The key keeps its text in storage of the map's own, whatever the caller's was.
    m_latin1Names.emplace_back(name.data(), name.size());
    m_latin1Cache.insert(QLatin1String(m_latin1Names.back().constData(), name.size()), entry);
    return entry;
}
bool CCmdMap::containsFlt(const QString& name) const { return m_table.floats.contains(name); }
bool CCmdMap::containsString(const QString& name) const { return m_table.strings.contains(name); }

void CCmdMap::fail(const QString& text) const
{
    const bool first = (m_failed++ == 0);
    throw invalid_cmd(text.toStdString(), first);
}

quint16 CCmdMap::getCmdNr(const char* name) const
{
    const Latin1Entry entry = lookup(QLatin1String(name));
    if (!entry.found)
        return getCmdNr(QString::fromLatin1(name)); // reports the missing name
    return static_cast<quint16>(entry.value);
}

quint16 CCmdMap::getCmdNr(const QString& name) const
{
    auto it = m_table.ints.constFind(name);
    if (it == m_table.ints.constEnd())
        fail(QStringLiteral("CCmdMap::getCmdNr(): \"%1\" not defined for firmware %2.").arg(name).arg(m_version));
    return static_cast<quint16>(it.value());
}

int CCmdMap::getIntConst(const QString& name) const
{
    auto it = m_table.ints.constFind(name);
    if (it == m_table.ints.constEnd())
        fail(QStringLiteral("CCmdMap::getIntConst(): \"%1\" not defined for firmware %2.").arg(name).arg(m_version));
    return it.value();
}

double CCmdMap::getFltConst(const char* name) const { return getFltConst(QString::fromLatin1(name)); }

double CCmdMap::getFltConst(const QString& name) const
{
    auto it = m_table.floats.constFind(name);
    if (it == m_table.floats.constEnd())
        fail(QStringLiteral("CCmdMap::getFltConst(): \"%1\" not defined for firmware %2.").arg(name).arg(m_version));
    return it.value();
}

QString CCmdMap::getStringConst(const char* name) const { return getStringConst(QString::fromLatin1(name)); }

QString CCmdMap::getStringConst(const QString& name) const
{
    auto it = m_table.strings.constFind(name);
    if (it == m_table.strings.constEnd())
        fail(QStringLiteral("CCmdMap::getStringConst(): \"%1\" not defined for firmware %2.").arg(name).arg(m_version));
    return it.value();
}

QSet<QString> CCmdMap::getKeysBeginningWith(const QString& prefix) const
{
    QMutexLocker lock(&m_cacheMutex);
    auto it = m_prefixCache.constFind(prefix);
    if (it != m_prefixCache.constEnd())
        return it.value();
    QSet<QString> keys;
    for (auto i = m_table.ints.constBegin(); i != m_table.ints.constEnd(); ++i)
        if (i.key().startsWith(prefix))
            keys.insert(i.key());
    m_prefixCache.insert(prefix, keys);
    return keys;
}

QString CCmdMap::cmdName(quint16 nr) const
{
    QString found;
    for (const QString& key : getKeysBeginningWith(QStringLiteral("Cmd_")))
        if (m_table.ints.value(key) == nr && (found.isEmpty() || key < found))
            found = key;
    return found;
}

QSet<QString> CCmdMap::getNameSet() const
{
    QSet<QString> names;
    names.reserve(m_table.ints.size());
    for (auto i = m_table.ints.constBegin(); i != m_table.ints.constEnd(); ++i)
        names.insert(i.key());
    return names;
}

QMap<int, QString> CCmdMap::GetStringMapForKeysBeginningWith(const QString& prefix) const
{
    const QSet<QString> keys = getKeysBeginningWith(prefix);
    if (keys.isEmpty())
        fail(QStringLiteral("CZun::GetStringMapForKeysBeginningWith(\"%1\"): No keys found in version%2.")
                 .arg(prefix).arg(m_version));
    // Sorted so that "a later entry with the same number" is well defined.
    QStringList sorted(keys.begin(), keys.end());
    sorted.sort();
    QMap<int, QString> result;
    for (const QString& key : sorted) {
        QString textName = key;
        textName.insert(key.indexOf(QLatin1Char('_')), QLatin1Char('S'));
        result.insert(getCmdNr(key), getStringConst(textName));
    }
    return result;
}
