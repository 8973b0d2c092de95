#pragma once

#include "CMemoryManager.h"
#include "FilterLimiterEWS.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QStringList>

class CZun;
class ZunSetup;

// What one operation's own stores left in the flash that it did not mean to store. Another
// program's reads pass through the processor's one transfer buffer and its entry selectors
// between a block write and its store, so a store may take another entry's bytes (a set
// that is none, a setup of another position, a set stored twice) or land in another slot,
// replacing what was there. Taken at the operation's start (the directory the device last
// read, the stores its link had answered, copies of what the flash lists), judged once the
// operation's last resend is over.
//
// Only the operation's own entries are touched: the entries written since its start, and
// only while no more were written than its link had stores answered (else another program
// stored too, and none of them is known to be ours). Of those, what it did not mean to
// store goes, and an entry listed at the start that one of them replaced (the slot now
// holds an entry of ours, and the flash lacks what it held) is stored again from its copy.
//
// Runs in a worker thread (never the GUI thread's): tidy waits for the processor.
class ZunOwnStores
{
public:
    explicit ZunOwnStores(CZun* device);
    ~ZunOwnStores();
    ZunOwnStores(const ZunOwnStores&) = delete;
    ZunOwnStores& operator=(const ZunOwnStores&) = delete;

    // What the operation means to store.
    void meanSet(quint32 id) { m_sets.insert(id); }
    void meanSetup(int position, quint32 id) { m_setups.insert(position, id); }

    // Removes what the operation's spoiled stores left and stores again what they replaced,
    // then waits (at most timeoutMs, while the link holds) for a directory read after that.
    // Returns what it did, one line each, for the operator; empty when there was nothing.
    QStringList tidy(int timeoutMs);
    // The same without a wait (any thread, the GUI thread's too): judged by the directory
    // the device holds now, the removals and stores sent; a directory read after them
    // shows them done, and a tidyNow then returns empty.
    QStringList tidyNow();
    // What the last tidy found written meanwhile and left as it is (another program stored
    // too, so it is not known as the operation's own), one line each.
    QStringList leftAlone() const { return m_leftAlone; }

private:
    bool readDirectory(int timeoutMs);
    void remove(const CMemoryManager::Entry& entry);
    QString setupName(quint32 id) const;

    CZun* m_zun;
    QPointer<CZun> m_device; // gone when the device object goes first
    quint64 m_storesAnswered = 0;
    QList<CMemoryManager::Entry> m_before;
    QMap<quint32, QShPtrFLE> m_setCopies;           // by id
    QMap<int, QPointer<ZunSetup>> m_setupsBefore;   // by position
    QMap<quint32, QString> m_setupNames;            // by id
    QSet<quint32> m_sets;
    QSet<quint32> m_removed;  // flash positions of the entries removed
    QSet<quint32> m_restored; // ids of the sets stored again
    QStringList m_leftAlone;
    QMap<int, quint32> m_setups;
};
