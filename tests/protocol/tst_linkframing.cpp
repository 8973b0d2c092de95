// Framing, command groups and rings of the TCP control link, without a network.
#include "CCircularBuffer.h"
#include "CCmdMap.h"
#include "CZunMetaCmd.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunWire.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace
{
QByteArray le16(quint16 v)
{
    char c[2];
    qToLittleEndian<quint16>(v, c);
    return QByteArray(c, 2);
}
QByteArray le32(quint32 v)
{
    char c[4];
    qToLittleEndian<quint32>(v, c);
    return QByteArray(c, 4);
}
QByteArray frame(quint16 id, const QByteArray& payload) { return le16(id) + le16(quint16(payload.size())) + payload; }
QByteArray refusal(quint16 code, quint16 id, quint16 value) { return frame(0xFFFF, le16(code) + le16(id) + le16(value)); }
QByteArray blockAck(quint16 value, quint32 received) { return frame(0xFF00, le16(value) + le32(received)); }
QByteArray blockChunk(quint16 kind, quint16 index, quint32 total, const QByteArray& data)
{
    return frame(0xFF04, le16(kind) + le16(index) + le32(total) + data
                             + le16(ZunWire::byteSum(data.constData(), data.size())));
}
QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator g(seed);
    QByteArray b(n, '\0');
    for (char& c : b)
        c = char(g.bounded(256));
    return b;
}
CZunCmd cmdAt(const QSignalSpy& spy, int i) { return spy.at(i).at(0).value<CZunCmd>(); }
} // namespace

class TestLinkFraming : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { registerProtocolMetaTypes(); registerProtocolMetaTypes(); }

    void ringRefusesWhenFullAndNeverOverwrites()
    {
        CCircularBuffer<int> ring(3);
        QVERIFY(ring.push(1) && ring.push(2) && ring.push(3));
        QVERIFY(ring.isFull());
        QVERIFY(!ring.push(4));
        int v = 0;
        QVERIFY(ring.pop(&v));
        QCOMPARE(v, 1);
        QVERIFY(ring.push(5)); // wraps around
        const int more[] = {6, 7};
        QCOMPARE(ring.write(more, 2), 0);
        QList<int> out;
        while (ring.pop(&v))
            out << v;
        QCOMPARE(out, (QList<int>{2, 3, 5}));
        QVERIFY(!ring.pop(&v));

        CCircularBuffer<char> bytes(5);
        QCOMPARE(bytes.write("abcdefg", 7), 5);
        QCOMPARE(bytes.discard(2), 2);
        QCOMPARE(bytes.write("xyz", 3), 2);
        char peek[5];
        QCOMPARE(bytes.peek(peek, 5), 5);
        QCOMPARE(QByteArray(peek, 5), QByteArray("cdexy"));
    }

    void groupKeyAndSupersedeFlag()
    {
        CZunMetaCmd a(40, 1), b(40, 7), c;
        QVERIFY(a.supersede());
        QCOMPARE(a.key(), b.key()); // same command, other value: one key
        c.appendCmd(41, 0);
        c.appendCmd(40, 0);
        CZunMetaCmd d;
        d.appendCmd(40, 0);
        d.appendCmd(41, 0);
        QVERIFY(c.key() != d.key()); // order counts
        QVERIFY(CZunMetaCmd(0xFF0B, 3).key() != CZunMetaCmd(0xFF0B, 4).key()); // reads of different words
        QVERIFY(CZunMetaCmd(0xFF04, 7).key() != CZunMetaCmd(0xFF04, 2).key());
        CZunMetaCmd block(0xFF00, 3, "abc");
        QVERIFY(block.supersede() && !block.isReplaceable()); // data is never replaced
        a.setSupersede(false);
        QVERIFY(!a.isReplaceable());
    }

    void waitingGroupIsReplacedInPlace()
    {
        ZunCmdBuffer buf;
        QSignalSpy tx(&buf, &ZunCmdBuffer::txDataReady);
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        buf.append(CZunMetaCmd(1, 0)); // on the wire
        buf.append(CZunMetaCmd(5, 1));
        buf.append(CZunMetaCmd(6, 1));
        buf.append(CZunMetaCmd(5, 2)); // replaces (5, 1), keeps its place
        CZunMetaCmd fixed(6, 2);
        fixed.setSupersede(false);
        buf.append(fixed);             // replaces (6, 1): the waiting group's flag decides
        buf.append(CZunMetaCmd(6, 3)); // queued behind: a cleared flag is never replaced
        QCOMPARE(buf.waitingGroups(), 3);
        // Every command comes back once: the replaced ones at once, as superseded.
        QCOMPARE(done.count(), 2);
        for (int i : {0, 1}) {
            QVERIFY(cmdAt(done, i).isSuperseded() && cmdAt(done, i).gotNoReply() && !cmdAt(done, i).isDone());
            QCOMPARE(cmdAt(done, i).getCmd(), quint16(5 + i));
            QCOMPARE(cmdAt(done, i).getValue(), quint16(1));
        }
        for (quint16 id : {1, 5, 6, 6}) {
            const QByteArray sent = tx.takeLast().at(0).toByteArray();
            QCOMPARE(qFromLittleEndian<quint16>(sent.constData()), id);
            buf.receive(frame(id, sent.mid(2, 2)));
        }
        QCOMPARE(done.count(), 6);
        QCOMPARE(cmdAt(done, 3).getValue(), quint16(2));
        QCOMPARE(cmdAt(done, 4).getValue(), quint16(2));
        QCOMPARE(cmdAt(done, 5).getValue(), quint16(3));
        for (int i = 2; i < 6; ++i)
            QVERIFY(cmdAt(done, i).isDone() && !cmdAt(done, i).gotNoReply());
        QVERIFY(buf.isIdle());
    }

    void fullRingReportsFailureAndFinishesNotSent()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        buf.append(CZunMetaCmd(1, 0)); // goes on the wire, leaves the ring
        for (int i = 0; i < ZunCmdBuffer::MetaCapacity; ++i)
            QVERIFY(buf.append(CZunMetaCmd(0xFF0B, quint16(i))));
        CZunMetaCmd extra;
        extra.appendCmd(2, 0);
        extra.appendCmd(3, 0);
        QVERIFY(!buf.append(extra));
        QCOMPARE(done.count(), 2);
        QVERIFY(cmdAt(done, 0).isNotSent() && !cmdAt(done, 0).isError() && !cmdAt(done, 0).isDone());
        QCOMPARE(buf.waitingGroups(), ZunCmdBuffer::MetaCapacity);
    }

    void ordinaryRepliesVersionAndParameterRead()
    {
        ZunCmdBuffer buf;
        QSignalSpy tx(&buf, &ZunCmdBuffer::txDataReady);
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        CZunMetaCmd g;
        g.appendCmd(40, 0x1234);
        g.appendCmd(0xFF0A, 0);
        g.appendCmd(0xFF0B, 34);
        buf.append(g);
        QCOMPARE(tx.at(0).at(0).toByteArray(), QByteArray::fromHex("28003412"));
        buf.receive(frame(40, le16(0x1234)));
        QCOMPARE(tx.at(1).at(0).toByteArray(), QByteArray::fromHex("0aff0000"));
        buf.receive(frame(0xFF0A, le16(0x1438)));
        buf.receive(frame(0xFF0B, le16(9) + le16(34)));
        QCOMPARE(done.count(), 3);
        QVERIFY(cmdAt(done, 0).isDone() && !cmdAt(done, 0).isError());
        QCOMPARE(cmdAt(done, 0).replyWord(), quint16(0x1234));
        QCOMPARE(cmdAt(done, 1).replyWord(), quint16(0x1438));
        QCOMPARE(cmdAt(done, 2).getReply(), le16(9) + le16(34));
    }

    void refusalSetsErrorFlag()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        buf.append(CZunMetaCmd(1800, 5));
        buf.append(CZunMetaCmd(40, 1));
        buf.receive(refusal(0xFF81, 1800, 5));
        QCOMPARE(done.count(), 1);
        const CZunCmd c = cmdAt(done, 0);
        QVERIFY(c.isError() && c.isDone() && !c.isNotSent());
        QCOMPARE(c.replyWord(), quint16(0xFF81));
        QVERIFY(!buf.isIdle()); // the next group went out
    }

    void blockWriteOver64KiBCarriesItsRealLength()
    {
        ZunCmdBuffer buf;
        QSignalSpy tx(&buf, &ZunCmdBuffer::txDataReady);
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        const QByteArray data = randomBytes(70000, 1);
        buf.append(CZunMetaCmd(0xFF00, quint16(data.size()), data));
        QCOMPARE(tx.at(0).at(0).toByteArray(), le16(0xFF00) + le16(70000 & 0xFFFF) + le32(70000));
        buf.receive(blockAck(70000 & 0xFFFF, 0));
        QByteArray arrived;
        while (arrived.size() < data.size()) {
            const QByteArray chunk = tx.takeLast().at(0).toByteArray();
            const int n = chunk.size() - 2;
            QVERIFY(n > 0 && n <= 4096);
            QCOMPARE(qFromLittleEndian<quint16>(chunk.constData() + n), ZunWire::byteSum(chunk.constData(), n));
            arrived += chunk.left(n);
            QCOMPARE(done.count(), 0);
            buf.receive(blockAck(70000 & 0xFFFF, quint32(arrived.size())));
        }
        QCOMPARE(arrived, data);
        QCOMPARE(done.count(), 1);
        QVERIFY(cmdAt(done, 0).isDone());
        QCOMPARE(cmdAt(done, 0).bytesSent(), quint32(70000));
    }

    void failedChunkEndsBlockAndDropsRestOfGroup()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        CZunMetaCmd g(0xFF00, 5000, QByteArray(5000, 'x'));
        g.appendCmd(30, 1791);
        buf.append(g);
        buf.append(CZunMetaCmd(40, 1));
        buf.receive(blockAck(5000, 0));
        buf.receive(blockAck(5000, 4096));
        buf.receive(refusal(0xFF83, 0xFF00, 5000));
        QCOMPARE(done.count(), 2);
        QVERIFY(cmdAt(done, 0).isError() && !cmdAt(done, 0).isDone()); // a block is done only when complete
        QCOMPARE(cmdAt(done, 0).bytesSent(), quint32(4096));
        QVERIFY(cmdAt(done, 1).isNotSent());
        QCOMPARE(cmdAt(done, 1).getCmd(), quint16(30));
        QVERIFY(!buf.isIdle()); // the next group is on the wire
    }

    // A block write whose next acknowledgement is overdue: timed out with the bytes the
    // processor acknowledged, never done; the rest of its group and what waits behind it
    // come back not sent once the connection is dropped.
    void overdueBlockWriteTimesOutWithTheBytesAcknowledged()
    {
        ZunCmdBuffer buf;
        buf.setLongDeadlines({{0xFF00, 1}});
        QCOMPARE(buf.deadlineFor(30), ZunCmdBuffer::DefaultDeadlineMs);
        QCOMPARE(buf.msToDeadline(), qint64(-1));
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        CZunMetaCmd g(0xFF00, 9000, QByteArray(9000, 'x'));
        g.appendCmd(30, 1791);
        buf.append(g);
        buf.append(CZunMetaCmd(40, 1));
        buf.receive(blockAck(9000, 0));
        buf.receive(blockAck(9000, 4096));
        QTRY_COMPARE(buf.msToDeadline(), qint64(0));
        QVERIFY(buf.expireOverdue());
        QVERIFY(!buf.expireOverdue());
        QCOMPARE(done.count(), 2);
        const CZunCmd late = cmdAt(done, 0);
        QVERIFY(late.isTimedOut() && !late.isDone() && !late.isNotSent() && !late.isError());
        QCOMPARE(late.bytesSent(), quint32(4096));
        QVERIFY(cmdAt(done, 1).isNotSent());
        QCOMPARE(cmdAt(done, 1).getCmd(), quint16(30));
        buf.abandonAll();
        QCOMPARE(done.count(), 3);
        QVERIFY(cmdAt(done, 2).isNotSent());
        QCOMPARE(cmdAt(done, 2).getCmd(), quint16(40));
        QCOMPARE(buf.msToDeadline(), qint64(-1));
    }

    void blockReadOver64KiBAndDamagedChunk()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        const QByteArray data = randomBytes(70000, 2);
        buf.append(CZunMetaCmd(0xFF04, 7));
        for (int i = 0, at = 0; at < data.size(); ++i, at += 4096)
            buf.receive(blockChunk(7, quint16(i), 70000, data.mid(at, 4096)));
        QCOMPARE(done.count(), 1);
        QVERIFY(cmdAt(done, 0).isDone());
        QCOMPARE(cmdAt(done, 0).getReply(), data);

        buf.append(CZunMetaCmd(0xFF04, 7));
        QByteArray bad = blockChunk(7, 0, 8000, data.left(4096));
        bad[20] = char(bad[20] ^ 1);
        buf.receive(bad);
        QCOMPARE(done.count(), 2);
        QVERIFY(cmdAt(done, 1).isNotSent() && !cmdAt(done, 1).isDone());
        buf.receive(blockChunk(7, 1, 8000, data.left(8000 - 4096))); // its rest: a stray, dropped
        QCOMPARE(done.count(), 2);
        QVERIFY(buf.isIdle());
    }

    // A block's length is the processor's word: one longer than any block of its kind is a
    // damaged reply at its first chunk, never memory collected for it.
    void blockLongerThanItsKindIsADamagedReply_data()
    {
        QTest::addColumn<quint16>("kind");
        QTest::addColumn<quint32>("total");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("flash block of 2^31 bytes") << quint16(7) << 0x80000000u << true;
        QTest::newRow("flash block past the transfer buffer") << quint16(7) << ZunWire::MaxBlockSize + 1 << true;
        QTest::newRow("flash block filling the transfer buffer") << quint16(7) << ZunWire::MaxBlockSize << false;
        QTest::newRow("status record over one chunk") << quint16(8) << quint32(ZunWire::ChunkSize + 1) << true;
    }

    void blockLongerThanItsKindIsADamagedReply()
    {
        QFETCH(quint16, kind);
        QFETCH(quint32, total);
        QFETCH(bool, damaged);
        ZunCmdBuffer buf;
        buf.setBlockLimits({{8, quint32(ZunWire::ChunkSize)}});
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        QSignalSpy broken(&buf, &ZunCmdBuffer::signal_StreamDamaged);
        QSignalSpy tx(&buf, &ZunCmdBuffer::txDataReady);
        CZunMetaCmd g(0xFF04, kind);
        g.appendCmd(40, 1);
        buf.append(g);
        buf.append(CZunMetaCmd(41, 2));
        const QByteArray chunk(4096, 'h');
        for (quint16 i = 0; i < 64; ++i)
            buf.receive(blockChunk(kind, i, total, chunk));
        if (!damaged) {
            QCOMPARE(done.count(), 0); // still collecting its 1024 chunks
            QCOMPARE(broken.count(), 0);
            return;
        }
        QCOMPARE(broken.count(), 1);
        QVERIFY(broken.at(0).at(0).toString().contains(QString::number(total)));
        // The read and the rest of its group come back at once; nothing more goes out on a
        // stream given up, and what waits comes back when the connection ends.
        QCOMPARE(done.count(), 2);
        QVERIFY(cmdAt(done, 0).isNotSent() && !cmdAt(done, 0).isDone() && cmdAt(done, 0).getReply().isEmpty());
        QVERIFY(cmdAt(done, 1).isNotSent());
        QCOMPARE(tx.count(), 1);
        buf.abandonAll();
        QCOMPARE(done.count(), 3);
        QCOMPARE(cmdAt(done, 2).getCmd(), quint16(41));
        // A new connection works as before.
        buf.append(CZunMetaCmd(42, 3));
        buf.receive(frame(42, le16(3)));
        QCOMPARE(done.count(), 4);
        QVERIFY(cmdAt(done, 3).isDone());
    }

    void unsolicitedStatusWordAndBlock()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        buf.append(CZunMetaCmd(0xFF04, 7)); // a flash block read is in progress
        const QByteArray record(108, '\1');
        buf.receive(frame(0xFF06, le16(34)) + blockChunk(2, 0, 108, record));
        QCOMPARE(done.count(), 2);
        QCOMPARE(cmdAt(done, 0).getCmd(), quint16(0xFF06));
        QCOMPARE(cmdAt(done, 0).getValue(), quint16(34));
        QCOMPARE(cmdAt(done, 1).getCmd(), quint16(0xFF04));
        QCOMPARE(cmdAt(done, 1).getValue(), quint16(2));
        QCOMPARE(cmdAt(done, 1).getReply(), record);
        QVERIFY(!buf.isIdle()); // the read still waits for its own block
    }

    void shortLongAndGarbledFramesAreDropped()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        buf.append(CZunMetaCmd(0xFF0B, 34));
        QByteArray junk;
        junk += frame(0xFF0B, le16(9));                      // short parameter read
        junk += frame(0xFF0B, le16(9) + le16(35));           // another parameter's
        junk += frame(0xFF0B, le16(9) + le16(34) + "xx");    // long
        junk += frame(0xFFFF, le16(0xFF81));                 // short refusal
        junk += refusal(0xFF81, 40, 0);                      // names no command in progress
        junk += frame(0x1234, QByteArray(300, 'g'));         // garbled: far too long for a reply
        junk += frame(0x0022, QByteArray(1, 'g'));           // shorter than a reply word
        junk += frame(0xFF00, le16(1) + le32(0));            // acknowledgement of no block
        junk += blockChunk(7, 3, 9000, QByteArray(4096, 'b')); // chunk of no block read
        // Fed byte by byte: frames cut at every point still frame correctly.
        for (char c : junk)
            buf.receive(QByteArray(1, c));
        QCOMPARE(done.count(), 0);
        QVERIFY(!buf.isIdle());
        buf.receive(frame(0xFF0B, le16(9) + le16(34)));
        QCOMPARE(done.count(), 1);
        QCOMPARE(cmdAt(done, 0).replyWord(), quint16(9));
    }

    void resetDropsWaitingAndKeepsTheStreamInStep()
    {
        ZunCmdBuffer buf;
        QSignalSpy done(&buf, &ZunCmdBuffer::cmdProcessed);
        CZunMetaCmd g;
        g.appendCmd(40, 1);
        g.appendCmd(41, 2);
        buf.append(g);
        buf.append(CZunMetaCmd(42, 3));
        const QByteArray reply = frame(40, le16(1));
        buf.receive(reply.left(5)); // a reply cut in the middle
        buf.reset();
        QCOMPARE(done.count(), 2);
        QVERIFY(cmdAt(done, 0).isNotSent() && cmdAt(done, 1).isNotSent());
        QCOMPARE(buf.waitingGroups(), 0);
        buf.receive(reply.mid(5)); // the rest of the reply to (40, 1)
        QCOMPARE(done.count(), 3);
        QVERIFY(cmdAt(done, 2).isDone());
        QCOMPARE(cmdAt(done, 2).getCmd(), quint16(40));
        QVERIFY(buf.isIdle());

        buf.append(CZunMetaCmd(43, 1));
        buf.abandonAll(); // the connection ended
        QCOMPARE(done.count(), 4);
        QVERIFY(cmdAt(done, 3).isNotSent());
        QVERIFY(buf.isIdle());
    }

    // The operator's groups go ahead of waiting background reads, unless they touch a word
    // of one waiting before them; each kind keeps its order. Groups as "b" (background) or
    // "f" with their words ("r" a parameter read of that word); the first goes on the wire
    // at once, before anything else waits.
    void groupsGoAheadOfBackgroundReads_data()
    {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("edits ahead of downloads")
            << QStringList {"f 1", "b 10 11", "b 10 11", "f 20", "f 21"}
            << QStringList {"1", "20", "21", "10", "11", "10", "11"};
        QTest::newRow("a write of a download's word waits, and so does what follows it")
            << QStringList {"f 1", "b 10 11", "b 12", "f 20", "f 11", "f 21", "b 13"}
            << QStringList {"1", "20", "10", "11", "11", "21", "12", "13"};
        QTest::newRow("a read of a download's word waits")
            << QStringList {"f 1", "b 10 11", "f r11", "f 20"} << QStringList {"1", "10", "11", "r11", "20"};
        QTest::newRow("only background: in order")
            << QStringList {"b 1", "b 2", "b 3 4"} << QStringList {"1", "2", "3", "4"};
    }
    void groupsGoAheadOfBackgroundReads()
    {
        QFETCH(QStringList, groups);
        QFETCH(QStringList, sent);
        ZunCmdBuffer buf;
        QSignalSpy tx(&buf, &ZunCmdBuffer::txDataReady);
        for (const QString& g : groups) {
            QStringList words = g.split(' ');
            CZunMetaCmd meta;
            meta.setSupersede(false);
            meta.setBackground(words.takeFirst() == "b");
            for (const QString& w : words)
                if (w.startsWith('r'))
                    meta.appendCmd(ZunWire::ParRead, quint16(w.mid(1).toUInt()));
                else
                    meta.appendCmd(quint16(w.toUInt()), 0);
            buf.append(meta);
        }
        QStringList order;
        while (!tx.isEmpty()) {
            const QByteArray out = tx.takeFirst().at(0).toByteArray();
            const quint16 id = qFromLittleEndian<quint16>(out.constData());
            const quint16 value = qFromLittleEndian<quint16>(out.constData() + 2);
            order << (id == ZunWire::ParRead ? QStringLiteral("r%1").arg(value) : QString::number(id));
            buf.receive(id == ZunWire::ParRead ? frame(id, le16(0) + le16(value)) : frame(id, le16(value)));
        }
        QCOMPARE(order, sent);
        QVERIFY(buf.isIdle());
    }

    void wireIdsAgreeWithEveryTable()
    {
        for (quint16 version : CCmdMap::versions()) {
            CCmdMap map;
            map.setVersion(version);
            QCOMPARE(map.getCmdNr("ID_RX_Block_Start"), ZunWire::BlockWrite);
            QCOMPARE(map.getCmdNr("ID_TX_Block"), ZunWire::BlockRead);
            QCOMPARE(map.getCmdNr("ID_TX_Version"), ZunWire::Version);
            QCOMPARE(map.getCmdNr("ID_TX_CmdReq"), ZunWire::ParRead);
        }
    }

    void firmwareUploadGroupAndLimits()
    {
        QTemporaryDir dir;
        auto map = QSharedPointer<CCmdMap>::create();
        map->setVersion(1080);
        ZunBaseComm link(QHostAddress::LocalHost, 7, 1080, map);
        QSignalSpy done(link.getCmdBuffer(), &ZunCmdBuffer::cmdProcessed);
        const quint32 max = link.maxFirmwareSize();
        QCOMPARE(max, quint32(131071));

        auto write = [&](const QString& name, int size) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(size, 'f'));
            return f.fileName();
        };
        try {
            link.uploadFirmware(dir.filePath("missing.fwu"));
            QFAIL("no exception");
        } catch (const std::logic_error& e) {
            QCOMPARE(QString(e.what()), QString("Load Setup: File: %1 not found. Aborting.").arg(dir.filePath("missing.fwu")));
        }
        QVERIFY_EXCEPTION_THROWN(link.uploadFirmware(write("big.fwu", int(max) + 1)), std::logic_error);
        QVERIFY_EXCEPTION_THROWN(link.uploadFirmware(write("empty.fwu", 0)), std::logic_error);
        QCOMPARE(done.count(), 0); // nothing was queued

        // Not connected: the whole group comes back "not sent", which shows its content.
        link.uploadFirmware(write("ok.fwu", int(max)));
        QCOMPARE(link.getLastError(), int(ZunBaseComm::NotConnected));
        QList<CZunCmd> cmds;
        for (int i = 0; i < done.count(); ++i)
            cmds << cmdAt(done, i);
        QCOMPARE(cmds.size(), 2 + 8 * 2 + 1);
        QCOMPARE(cmds[0].getCmd(), map->getCmdNr("Cmd_TCPCloseTime"));
        QCOMPARE(cmds[0].getValue(), quint16(0));
        QCOMPARE(cmds[1].getCmd(), map->getCmdNr("Cmd_BulkEraseF"));
        QCOMPARE(cmds[1].getValue(), map->getCmdNr("Inf_EraseOnly128K"));
        for (int p = 0; p < 8; ++p) {
            QCOMPARE(cmds[2 + 2 * p].getCmd(), quint16(0xFF00));
            QCOMPARE(cmds[2 + 2 * p].getPayload().size(), p < 7 ? 16384 : int(max) - 7 * 16384);
            QCOMPARE(cmds[3 + 2 * p].getValue(), quint16(map->getCmdNr("CmdS_CopyRxTxBuf2F_Raw") + (p << 4)));
        }
        QCOMPARE(cmds.last().getCmd(), map->getCmdNr("Cmd_CheckFirmware"));
        QCOMPARE(cmds.last().getValue(), quint16(0xFFFF));
        for (const CZunCmd& c : cmds)
            QVERIFY(c.isNotSent() && !c.isError());
    }
};

QTEST_GUILESS_MAIN(TestLinkFraming)
#include "tst_linkframing.moc"
