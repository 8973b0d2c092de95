#pragma once

#include <QVector>

// A ring of fixed capacity. A full ring accepts nothing more: push() and write() report
// what they could not store and never overwrite what is waiting.
template <typename T>
class CCircularBuffer
{
public:
    explicit CCircularBuffer(int capacity) : m_data(capacity > 0 ? capacity : 1) {}

    int capacity() const { return m_data.size(); }
    int size() const { return m_size; }
    int freeSpace() const { return capacity() - m_size; }
    bool isEmpty() const { return m_size == 0; }
    bool isFull() const { return m_size == capacity(); }

    // False (and nothing stored) when the ring is full.
    bool push(const T& item)
    {
        if (isFull())
            return false;
        m_data[(m_head + m_size) % capacity()] = item;
        ++m_size;
        return true;
    }

    // Stores as many of the n items as fit; returns how many it stored.
    int write(const T* items, int n)
    {
        const int count = qMin(n, freeSpace());
        for (int i = 0; i < count; ++i)
            m_data[(m_head + m_size + i) % capacity()] = items[i];
        m_size += count;
        return count;
    }

    // The i-th waiting item (0 = oldest); i must be below size().
    T& at(int i) { return m_data[(m_head + i) % capacity()]; }
    const T& at(int i) const { return m_data[(m_head + i) % capacity()]; }

    // Copies up to n of the oldest items into out without removing them; returns the count.
    int peek(T* out, int n) const
    {
        const int count = qMin(n, m_size);
        for (int i = 0; i < count; ++i)
            out[i] = at(i);
        return count;
    }

    // Removes the oldest item into out; false when empty.
    bool pop(T* out)
    {
        if (isEmpty())
            return false;
        *out = m_data[m_head];
        m_data[m_head] = T();
        m_head = (m_head + 1) % capacity();
        --m_size;
        return true;
    }

    // Removes the i-th waiting item (i below size()) into out; the others keep their order.
    void takeAt(int i, T* out)
    {
        *out = at(i);
        for (int k = i; k > 0; --k)
            at(k) = at(k - 1);
        discard(1);
    }

    // Drops up to n of the oldest items; returns how many it dropped.
    int discard(int n)
    {
        const int count = qMin(n, m_size);
        for (int i = 0; i < count; ++i) {
            m_data[m_head] = T();
            m_head = (m_head + 1) % capacity();
        }
        m_size -= count;
        return count;
    }

    void clear() { discard(m_size); m_head = 0; }

private:
    QVector<T> m_data;
    int m_head = 0;
    int m_size = 0;
};
