#pragma once

#include <QHash>
#include <QtGlobal>

class CCmdMap;

// A store the processor did not take as it was sent (another program used its one
// transfer buffer meanwhile) is sent again, twice at most, before it is named to the
// operator. The tries of each store, by what names it: a FIR set's id, a setup's position,
// a DSP program's id. The rule is the same for every list of the flash.
//
// A resend waits first: another program's connection reads its directory, image, sets and
// setups through that buffer, one after the other, and a resend sent at once lands among
// them again. The pauses outlast such a connection; a store's tries end within
// FirstPauseMs + LaterPauseMs.
template <typename Key>
class ZunStoreTries
{
public:
    static constexpr int Resends = 2;
    static constexpr int FirstPauseMs = 3000;
    static constexpr int LaterPauseMs = 12000;
    // One more try counted: true while it may be sent again, false (and forgotten) once
    // the resends are spent.
    bool sendAgain(Key key)
    {
        if (++m_tries[key] <= Resends)
            return true;
        m_tries.remove(key);
        return false;
    }
    // The pause before the resend sendAgain just allowed.
    int pauseMs(Key key) const { return m_tries.value(key) <= 1 ? FirstPauseMs : LaterPauseMs; }
    // Stored as sent, or failed for a reason another try would not mend.
    void forget(Key key) { m_tries.remove(key); }
    // A new connection: the tries of the last one end with it.
    void clear() { m_tries.clear(); }

private:
    QHash<Key, int> m_tries;
};

// The processor refused a store for what its transfer buffer held (another program's
// bytes, or none): a try that sending again may mend.
bool zunRefusedForTheBuffer(const CCmdMap& map, quint16 code);
