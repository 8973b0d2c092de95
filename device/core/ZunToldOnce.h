#pragma once

#include <QByteArray>

// What the program said once and does not say again, also in a later program (a record
// named that can not be removed from a read-only folder, a record that can not be
// written): keys kept in the operator's settings, written off the caller's thread (a
// settings file is synced to the disk). The newest 64 are kept.
class ZunToldOnce
{
public:
    static bool wasTold(const QByteArray& key);
    // told false forgets the key (the thing said ended, and may be said again).
    static void markTold(const QByteArray& key, bool told);
};
