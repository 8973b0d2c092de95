#pragma once

#include <QtGlobal>

// A read of the processor's one transfer buffer that brought what was not asked for
// (another program's block landed between the copy into the buffer and the block read) is
// read again, each time after a longer wait: another program that connects, loads a
// configuration or puts a backup back writes blocks for many seconds, and reads sent
// straight after each other land among them. Bounded: once the rereads are spent (about
// half a minute) the reader gives up and says what it could not read.
class ZunReadTries
{
public:
    static constexpr int Rereads = 8;
    static constexpr int FirstWaitMs = 250;
    static constexpr int LongestWaitMs = 8000;

    // One more reread counted: the wait before it, or -1 (and counted from none again)
    // once the rereads are spent.
    int nextWaitMs()
    {
        if (m_tries >= Rereads) {
            m_tries = 0;
            return -1;
        }
        return qMin(FirstWaitMs << m_tries++, LongestWaitMs);
    }
    // Read whole, or a new link: the count starts again.
    void clear() { m_tries = 0; }
    int tries() const { return m_tries; }

private:
    int m_tries = 0;
};
