#pragma once

#include "CCmdMap.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunMetaCmd.h"
#include "CMemoryManager.h"
#include "CZunSetupManager.h"
#include "ZunBaseComm.h"
#include "ZunCmdBuffer.h"
#include "ZunDeviceStats.h"
#include "ZunSetup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSettings>
#include <QSharedPointer>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <stdexcept>

// What the device tests share: a discovery record and command map for a firmware, a
// device object on loopback with every group it sends recorded, a private "ConfigDir",
// and a wait that keeps the event loop running.
namespace DeviceTestRig
{
inline QSharedPointer<ZunDeviceStats> record(quint16 firmware, quint16 serial = 42, quint16 port = 0,
                                             quint32 hardware = 0, quint16 routing = 0)
{
    auto r = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000000ull | serial));
    r->setFirmware(firmware);
    r->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    r->setName(QStringLiteral("Rig %1").arg(serial));
    r->setHardwareInfo(CZunHardwareInfo(hardware));
    r->setRouting(routing, 0);
    Q_UNUSED(port);
    return r;
}

inline QSharedPointer<CCmdMap> map(quint16 firmware)
{
    auto m = QSharedPointer<CCmdMap>::create();
    m->setVersion(firmware);
    return m;
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// The text of the logic error f throws (empty when none).
inline QString failure(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::logic_error& e) {
        return QString::fromStdString(e.what());
    }
    return QString();
}

// Waits until the device's link has nothing left to send or to wait for, then lets the
// queued notifications of the replies arrive.
inline bool settle(CZun* zun)
{
    if (!waitUntil([zun]() { return zun->GetLink()->getCmdBuffer()->isIdle(); }))
        return false;
    QElapsedTimer t;
    t.start();
    const bool ok = waitUntil([&t]() { return t.elapsed() >= 50; });
    // Objects the replies retired (deleteLater) are gone too, as after a return to the
    // event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ok;
}

// Has the processor's whole image read again and waits until the device has taken it.
inline bool reread(CZun* zun)
{
    if (!settle(zun))
        return false;
    bool done = false;
    const QMetaObject::Connection c = QObject::connect(zun, &CZun::signal_ZunStatusChanged, [&done]() { done = true; });
    zun->RefreshStatusBuffer();
    const bool ok = waitUntil([&done]() { return done; });
    QObject::disconnect(c);
    return ok && settle(zun);
}

// True when the link has nothing left to send or to wait for and no FIR set or setup is
// on its way to or from the flash.
inline bool transfersIdle(CZun* zun)
{
    return zun->GetLink()->getCmdBuffer()->isIdle() && zun->GetFIRLimManager()->pendingUploads() == 0
        && zun->GetFIRLimManager()->pendingDownloads() == 0 && zun->GetSetupManager()->pendingUploads() == 0
        && zun->GetSetupManager()->pendingDownloads() == 0;
}

// Waits until transfersIdle holds, twice with a pause between, so that a transfer one
// transfer's end starts is waited for too.
inline bool settleTransfers(CZun* zun)
{
    if (!waitUntil([zun]() { return transfersIdle(zun); }, 30000))
        return false;
    QElapsedTimer t;
    t.start();
    waitUntil([&t]() { return t.elapsed() >= 100; });
    return waitUntil([zun]() { return transfersIdle(zun); }, 30000);
}

// A loopback port that refuses every connection while this lives. A port only freed again
// may be taken at once by another test's emulator, or by an outgoing socket that then
// connects to itself; this one stays bound, never listens and is not shared, so neither
// a listener nor an outgoing socket can get it.
class RefusingPort
{
public:
    RefusingPort() { m_socket.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress); }
    quint16 port() const { return m_socket.localPort(); }

private:
    QTcpSocket m_socket;
};

// On a processor with an empty flash the first connection uploads the pass-through set
// and then activates it on each DSP, from the FIR manager's thread: between the two the
// link may be idle for a while. Waits until every DSP runs it and the link has settled.
inline bool settleFirstSet(CZun* zun)
{
    return waitUntil([zun]() {
        return zun->GetActiveFilterIndex(1) != 0
            && (!zun->GetHardwareInfo().isDoubleBoard() || zun->GetActiveFilterIndex(2) != 0);
    }, 30000) && settleTransfers(zun);
}

// The setup at position p, named name, read back as the processor's directory lists it:
// what a backup of the flash needs of it.
inline bool setupReadBack(CZun* zun, int p, const QString& name)
{
    const quint32 listed = zun->GetMemoryManager()->setupIdAt(p);
    const ZunSetup* held = zun->GetSetupManager()->GetSetup(p);
    return listed != 0 && held && held->storedId() == listed && held->GetSetupName().startsWith(name);
}

// A second program's command, over a connection of its own to the emulator's port; true
// once it is answered.
inline bool secondClientSends(quint16 port, quint16 cmd, quint16 value)
{
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, port);
    if (!other.waitForConnected(5000))
        return false;
    QByteArray words(4, '\0');
    words[0] = char(cmd & 0xFF);
    words[1] = char(cmd >> 8);
    words[2] = char(value & 0xFF);
    words[3] = char(value >> 8);
    other.write(words);
    return waitUntil([&]() { return other.bytesAvailable() >= 6 || other.waitForReadyRead(10); });
}

// A second program's read of the parameter image into the processor's one transfer buffer
// (its command "Cmd_MemCopy" = "CmdS_CopyDSPVar2RxTxBuf"): with the emulator's "hold
// block" it lands between a block write and its store.
inline bool secondClientReadsTheImage(quint16 port, quint16 memCopy, quint16 dspVar)
{
    return secondClientSends(port, memCopy, dspVar);
}

// A second program's commands, each answered before the next, over a connection of its
// own: its entry selectors ("Cmd_MemID2", "Cmd_MemID0") and copies into the one transfer
// buffer land wherever this program's link is held.
inline bool secondClientSends(quint16 port, const QList<QPair<quint16, quint16>>& commands)
{
    for (const auto& c : commands)
        if (!secondClientSends(port, c.first, c.second))
            return false;
    return true;
}

// A second program's block write (one chunk, at most 4096 bytes) into the processor's one
// transfer buffer, over a connection of its own; true once it is acknowledged whole.
inline bool secondClientWritesABlock(quint16 port, const QByteArray& block)
{
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, port);
    if (!other.waitForConnected(5000))
        return false;
    auto word = [](QByteArray* b, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b->append(char((v >> (8 * i)) & 0xFF));
    };
    QByteArray start;
    word(&start, 0xFF00, 2);
    word(&start, quint32(block.size()) & 0xFFFF, 2);
    word(&start, quint32(block.size()), 4);
    other.write(start);
    if (!waitUntil([&]() { return other.bytesAvailable() >= 10 || other.waitForReadyRead(10); }))
        return false;
    other.readAll();
    quint32 sum = 0;
    for (const char c : block)
        sum += quint8(c);
    QByteArray chunk = block;
    word(&chunk, sum & 0xFFFF, 2);
    other.write(chunk);
    return waitUntil([&]() { return other.bytesAvailable() >= 10 || other.waitForReadyRead(10); });
}

// One field of the emulator's state line ("state firmware 1080 pin 0x1234 ...").
inline QString stateField(const QString& state, const QString& name)
{
    const QStringList w = state.split(QLatin1Char(' '));
    return w.value(w.indexOf(name) + 1);
}

// Records every group a device object writes into its link (any thread). A log that goes
// before its device object detaches from it: the device's workers may still send then.
class SendLog
{
public:
    SendLog() = default;
    SendLog(const SendLog&) = delete;
    SendLog& operator=(const SendLog&) = delete;
    ~SendLog()
    {
        if (m_zun)
            m_zun->SetSendObserver(nullptr);
    }
    void attach(CZun* zun)
    {
        m_zun = zun;
        zun->SetSendObserver([this](const CZunMetaCmd& m) {
            QMutexLocker lock(&m_mutex);
            m_groups.append(m);
        });
    }
    QList<CZunMetaCmd> groups() const
    {
        QMutexLocker lock(&m_mutex);
        return m_groups;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_groups.clear();
    }
    // Every command of every group, in order, as (id, value).
    QList<QPair<quint16, quint16>> commands() const
    {
        QList<QPair<quint16, quint16>> out;
        for (const CZunMetaCmd& g : groups())
            for (const CZunCmd& c : g.commands())
                out.append({c.getCmd(), c.getValue()});
        return out;
    }
    bool contains(quint16 id, quint16 value) const { return commands().contains({id, value}); }
    int count(quint16 id) const
    {
        int n = 0;
        for (const auto& c : commands())
            n += c.first == id ? 1 : 0;
        return n;
    }

private:
    QPointer<CZun> m_zun;
    mutable QMutex m_mutex;
    QList<CZunMetaCmd> m_groups;
};

// A private settings store and configuration folder for one test program.
class Config
{
public:
    Config()
    {
        // Settings of their own, apart from the user's and from other test programs (the
        // test-mode settings folder lives under the home folder).
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        s.setValue(QStringLiteral("ConfigDir"), m_dir.path());
        s.setValue(QStringLiteral("verboseLevel"), 3);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_dir;
};
} // namespace DeviceTestRig
