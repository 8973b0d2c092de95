// The TCP version probe against a listening socket on loopback that answers as told.
#include "ZunVersionProbe.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TstVersionProbe : public QObject
{
    Q_OBJECT

    struct Result
    {
        bool done = false;
        bool ok = false;
        quint16 word = 0;
        QString error;
    };

    // Runs a probe against a server that sends `chunks` (one per read of the request).
    Result probe(const QList<QByteArray>& chunks, QByteArray* request = nullptr)
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost))
            return {};
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [peer, chunks, request] {
                const QByteArray got = peer->readAll();
                if (request)
                    *request += got;
                // Sent apart, so that the probe sees the reply in pieces.
                int delay = 0;
                for (const QByteArray& c : chunks) {
                    QTimer::singleShot(delay, peer, [peer, c] { peer->write(c); });
                    delay += 50;
                }
            });
        });
        Result r;
        auto* p = new ZunVersionProbe(QHostAddress::LocalHost, server.serverPort());
        connect(p, &ZunVersionProbe::finished, this, [&r](bool ok, quint16 word, QString error) {
            r = {true, ok, word, error};
        });
        p->start();
        if (!QTest::qWaitFor([&] { return r.done; }, 5000))
            qWarning("the probe did not finish");
        return r;
    }

private slots:
    void readsTheVersionWord_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<quint16>("firmware");
        QTest::addColumn<quint16>("revision");
        QTest::newRow("35 14") << QList<QByteArray>{QByteArray::fromHex("0aff020035140000")} << quint16(1077) << quint16(1);
        QTest::newRow("80 04") << QList<QByteArray>{QByteArray::fromHex("0aff02008004")} << quint16(1152) << quint16(0);
        QTest::newRow("in pieces") << QList<QByteArray>{QByteArray::fromHex("0aff"), QByteArray::fromHex("0200"),
                                                        QByteArray::fromHex("3814")}
                                   << quint16(1080) << quint16(1);
    }
    void readsTheVersionWord()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(quint16, firmware);
        QFETCH(quint16, revision);
        QByteArray request;
        const Result r = probe(chunks, &request);
        QVERIFY(r.done);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(request, QByteArray::fromHex("0aff0000"));
        QCOMPARE(quint16(r.word & 0x0FFF), firmware);
        QCOMPARE(quint16(r.word >> 12), revision);
    }

    void failures()
    {
        // Fewer than six bytes: gives up after the data wait.
        Result r = probe({QByteArray::fromHex("0aff0200")});
        QVERIFY(r.done);
        QVERIFY(!r.ok);
        QVERIFY(r.error.contains("no version reply"));

        // Nobody listens: the refusal ends the probe at once.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        bool done = false, ok = true;
        auto* p = new ZunVersionProbe(QHostAddress::LocalHost, port);
        connect(p, &ZunVersionProbe::finished, this, [&](bool o, quint16, QString) { done = true; ok = o; });
        p->start();
        QTRY_VERIFY(done);
        QVERIFY(!ok);
    }
};

QTEST_GUILESS_MAIN(TstVersionProbe)
#include "tst_versionprobe.moc"
