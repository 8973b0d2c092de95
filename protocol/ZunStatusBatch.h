#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QVector>

#include <initializer_list>

// A status datagram as the discovery hands it on: the processor's serial and the whole
// datagram, header included.
struct ZunStatusDatagram
{
    quint16 serial = 0;
    QByteArray bytes;
};

// The status datagrams read in one pass, in the order they arrived. Their bytes lie one
// after another in one buffer of the batch: one allocation a batch, not one a datagram
// (hundreds of datagrams a second at 100 processors). The status server reads them in
// place (data, length); a reader that iterates gets each as a datagram of its own.
class ZunStatusBatch
{
public:
    ZunStatusBatch() = default;
    ZunStatusBatch(std::initializer_list<ZunStatusDatagram> datagrams)
    {
        for (const ZunStatusDatagram& d : datagrams)
            append(d.serial, d.bytes.constData(), d.bytes.size());
    }

    void append(quint16 serial, const char* data, int size)
    {
        m_entries.append(Entry {serial, m_bytes.size(), size});
        m_bytes.append(data, size);
    }
    // Room for a batch like this one.
    void reserveLike(const ZunStatusBatch& other)
    {
        m_entries.reserve(other.m_entries.size());
        m_bytes.reserve(other.m_bytes.size());
    }
    void swap(ZunStatusBatch& other) noexcept
    {
        m_entries.swap(other.m_entries);
        m_bytes.swap(other.m_bytes);
    }

    int size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    quint16 serial(int i) const { return m_entries.at(i).serial; }
    // The i-th datagram in place: valid while the batch lives and is not changed.
    const char* data(int i) const { return m_bytes.constData() + m_entries.at(i).offset; }
    int length(int i) const { return m_entries.at(i).size; }
    // A copy of the i-th datagram.
    ZunStatusDatagram operator[](int i) const { return {serial(i), QByteArray(data(i), length(i))}; }

    class const_iterator
    {
    public:
        const_iterator(const ZunStatusBatch* batch, int i) : m_batch(batch), m_i(i) {}
        ZunStatusDatagram operator*() const { return (*m_batch)[m_i]; }
        const_iterator& operator++()
        {
            ++m_i;
            return *this;
        }
        bool operator!=(const const_iterator& o) const { return m_i != o.m_i; }

    private:
        const ZunStatusBatch* m_batch;
        int m_i;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    struct Entry
    {
        quint16 serial;
        int offset;
        int size;
    };
    QVector<Entry> m_entries;
    QByteArray m_bytes;
};
Q_DECLARE_METATYPE(ZunStatusBatch)
