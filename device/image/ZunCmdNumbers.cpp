#include "ZunCmdNumbers.h"

#include "CCmdMap.h"

#include <QLatin1String>

int ZunCmdNumbers::number(const CCmdMap& map, const char* name)
{
    if (&map != m_map || int(map.version()) != m_version) {
        m_numbers.clear();
        m_map = &map;
        m_version = int(map.version());
    }
    const auto it = m_numbers.constFind(name);
    if (it != m_numbers.constEnd())
        return it.value();
    const int n = map.contains(QLatin1String(name)) ? int(map.getCmdNr(name)) : Missing;
    m_numbers.insert(name, n);
    return n;
}
