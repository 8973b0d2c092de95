#include "ZunStoreTries.h"

#include "CCmdMap.h"

bool zunRefusedForTheBuffer(const CCmdMap& map, quint16 code)
{
    const auto is = [&map, code](const char* name) { return map.contains(QLatin1String(name)) && code == map.getCmdNr(name); };
    return is("Msg_ErrBlockLength") || is("Msg_ErrRange");
}
