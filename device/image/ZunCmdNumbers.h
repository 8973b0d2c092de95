#pragma once

#include <QHash>

class CCmdMap;

// The numbers of named commands in one command map, each looked up once. The reply
// dispatcher compares every reply with dozens of names; asking the map each time hashes
// the text under the map's lock, which cost more than the rest of a reply's handling.
// Kept by the name's address: names must be string literals (text that never changes at
// that address). Forgets everything when the map takes another firmware's table. Not
// thread-safe: used by one thread (the dispatcher's).
class ZunCmdNumbers
{
public:
    static constexpr int Missing = -1;

    // The number of name in map, or Missing when the map does not define it.
    int number(const CCmdMap& map, const char* name);

private:
    QHash<const char*, int> m_numbers;
    const CCmdMap* m_map = nullptr;
    int m_version = -1;
};
