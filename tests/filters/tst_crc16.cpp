#include "ZunCrc16.h"

#include <QtTest>

namespace {

// Bit-by-bit CRC-16, polynomial 0x8BB7, MSB first, init 0, no final xor: written
// independently of the table-driven code under test.
quint16 bitwiseCrc(const QByteArray& data)
{
    quint16 reg = 0;
    for (char ch : data) {
        reg ^= static_cast<quint16>(static_cast<quint8>(ch) << 8);
        for (int i = 0; i < 8; ++i)
            reg = (reg & 0x8000) ? static_cast<quint16>((reg << 1) ^ 0x8BB7) : static_cast<quint16>(reg << 1);
    }
    return reg;
}

QByteArray reversed(const QByteArray& a)
{
    QByteArray r(a);
    std::reverse(r.begin(), r.end());
    return r;
}

} // namespace

class TestCrc16 : public QObject
{
    Q_OBJECT
private slots:
    void knownVectors()
    {
        QCOMPARE(ZunCrc16("abc"), 0x242E443Bu);
        QCOMPARE(ZunCrc16("123456789"), 0x98D6D0DBu);
        QCOMPARE(ZunCrc16Data("123456789"), 0x18D6D0DBu);
        QCOMPARE(ZunCrc16(QByteArray()), 0u);
        QCOMPARE(ZunCrc16(QByteArray(3400, '\0')), 0u);   // a new parameter image
    }

    void tableMatchesPolynomial()
    {
        const quint16* t = Crc16Table8BB7();
        QCOMPARE(t, Crc16Table8BB7());   // built once
        QCOMPARE(t[0], quint16(0));
        QCOMPARE(t[1], quint16(0x8BB7));
        for (int b = 0; b < 256; ++b)
            QCOMPARE(t[b], bitwiseCrc(QByteArray(1, static_cast<char>(b))));
    }

    void agreesWithBitwiseOnRandomData()
    {
        quint32 x = 12345;
        for (int len : {1, 2, 7, 64, 1000, 3400}) {
            QByteArray d(len, '\0');
            for (char& c : d) {
                x = x * 1103515245u + 12345u;
                c = static_cast<char>(x >> 16);
            }
            const quint32 expected = (quint32(bitwiseCrc(reversed(d))) << 16) | bitwiseCrc(d);
            QCOMPARE(ZunCrc16(d), expected);
            QCOMPARE(ZunCrc16Data(d), expected & 0x7FFFFFFFu);
            QCOMPARE(Crc16_8BB7(d.constData(), d.size()), bitwiseCrc(d));
            // Continuing from a partial CRC equals one pass.
            const int half = len / 2;
            QCOMPARE(Crc16_8BB7(d.constData() + half, len - half, Crc16_8BB7(d.constData(), half)), bitwiseCrc(d));
        }
    }
};

QTEST_GUILESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
