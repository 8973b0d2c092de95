#include "ZunSimControl.h"

#include "CCmdMap.h"
#include "ZunSimDevice.h"
#include "ZunSimOperations.h"

#include "CZunImageDefaults.h"
#include "ZunCrc16.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QTextStream>

#include <unistd.h>

namespace
{
constexpr int KeyLockWord = 8; // "Cmd_KeyLock" in every command table
}

ZunSimControl::ZunSimControl(ZunSimDevice* device, QObject* parent)
    : QObject(parent), m_device(device), m_map(new CCmdMap), m_notifier(STDIN_FILENO, QSocketNotifier::Read)
{
    {
        QMutexLocker lock(&m_device->mutex());
        m_map->setVersion(m_device->identity().firmware);
    }
    connect(&m_notifier, &QSocketNotifier::activated, this, &ZunSimControl::on_Readable);
}

void ZunSimControl::on_Readable()
{
    char buf[512];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        // Our parent went away or closed the pipe: stop listening, keep running.
        m_notifier.setEnabled(false);
        return;
    }
    m_pending.append(buf, int(n));
    int nl;
    while ((nl = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(nl)).trimmed();
        m_pending.remove(0, nl + 1);
        if (line.isEmpty())
            continue;
        if (apply(line))
            QTextStream(stdout) << "ok " << line << Qt::endl; // lets a test wait until it took effect
        else
            QTextStream(stderr) << "zunsim: unknown control line: " << line << Qt::endl;
    }
}

static bool parseNumber(const QString& s, int* out)
{
    bool ok = false;
    const int v = s.startsWith(QLatin1String("0x")) ? s.mid(2).toInt(&ok, 16) : s.toInt(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}

bool ZunSimControl::apply(const QString& line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString cmd = w.value(0);
    const bool on = w.value(1) != QLatin1String("off");
    int a = 0, b = 0;
    if (cmd == QLatin1String("quit")) {
        QCoreApplication::quit();
        return true;
    }
    QMutexLocker lock(&m_device->mutex());
    ZunSimDevice::Faults& f = m_device->faults();
    if (cmd == QLatin1String("silent")) { f.silent = on; return true; }
    if (cmd == QLatin1String("nobroadcast")) { f.noBroadcastAnswer = on; return true; }
    if (cmd == QLatin1String("droplink") && w.value(1) == QLatin1String("block")) { f.dropLinkAtBlock = true; return true; }
    if (cmd == QLatin1String("droplink") && w.value(1) == QLatin1String("reply") && parseNumber(w.value(2), &a)) {
        f.dropReplyOf = a;
        return true;
    }
    if (cmd == QLatin1String("droplink")) {
        f.dropLink = on;
        f.dropLinkAtBlock = f.dropLinkAtBlock && on;
        f.dropReplyOf = on ? f.dropReplyOf : -1;
        return true;
    }
    if (cmd == QLatin1String("corrupt") && w.size() <= 2) {
        if (w.size() == 1 || w[1] == QLatin1String("off") || w[1] == QLatin1String("on")) {
            f.corruptBlocks = on ? 1 : 0;
            return true;
        }
        if (!parseNumber(w[1], &a) || a < 0) return false;
        f.corruptBlocks = a;
        return true;
    }
    if (cmd == QLatin1String("hugeblock")) { f.hugeBlock = on; return true; }
    if (cmd == QLatin1String("hold") && w.value(1) == QLatin1String("block")) { f.holdAtBlock = true; return true; }
    int times = 1;
    if (cmd == QLatin1String("hold") && w.value(1) == QLatin1String("reply") && w.size() >= 3 && w.size() <= 5
        && parseNumber(w[2], &a) && (w.size() == 3 || parseNumber(w[3], &b))
        && (w.size() < 5 || (parseNumber(w[4], &times) && times >= 1))) {
        f.holdReplyCmd = a;
        f.holdReplyValue = w.size() >= 4 ? b : -1;
        f.holdReplyAgain = times - 1;
        return true;
    }
    if (cmd == QLatin1String("release")) {
        // The held connection goes on; a hold asked for while it was held waits for the
        // next block or reply, and a reply held several times waits for its next answer
        // again. With nothing held, the holds asked for are dropped.
        if (f.holding) {
            f.holding = false;
            if (f.holdReplyAgain > 0 && f.holdReplyCmd < 0) {
                --f.holdReplyAgain;
                f.holdReplyCmd = f.heldReplyCmd;
            }
        } else {
            f.holdAtBlock = false;
            f.holdReplyCmd = -1;
            f.holdReplyAgain = 0;
        }
        return true;
    }
    if (cmd == QLatin1String("failupload")) { f.failUpload = on; return true; }
    if (cmd == QLatin1String("failcheck")) { f.failCheck = on; return true; }
    if (cmd == QLatin1String("refuse") && (w.size() == 2 || w.size() == 3)) {
        if (w[1] == QLatin1String("off")) { f.refuseCmd = -1; f.refuseValue = -1; return true; }
        if (!parseNumber(w[1], &a)) return false;
        if (w.size() == 3 && !parseNumber(w[2], &b)) return false;
        f.refuseCmd = a;
        f.refuseValue = w.size() == 3 ? b : -1;
        return true;
    }
    if (cmd == QLatin1String("delay") && w.size() == 2 && parseNumber(w[1], &a)) {
        f.replyDelayMs = a;
        return true;
    }
    if (cmd == QLatin1String("nextfirmware") && w.size() == 2 && parseNumber(w[1], &a) && a > 0 && a < 0x1000) {
        m_device->maintenance().nextFirmware = quint16(a);
        return true;
    }
    if (cmd == QLatin1String("state")) {
        // What a test cannot read over the link: one line before the "ok".
        const ZunSimDevice::Maintenance& m = m_device->maintenance();
        const ZunSimFlash& flash = m_device->flash();
        auto live = [&flash](quint8 kind) {
            int n = 0;
            for (const ZunSimFlash::Entry& e : flash.entries())
                n += e.kind == kind && e.slot != flash.deletedSlot() ? 1 : 0;
            return n;
        };
        const int deleted = int(flash.entries().size()) - live(1) - live(2) - live(3);
        QTextStream(stdout) << "state firmware " << m_device->identity().firmware << " pin 0x"
                            << QString::number(m.pin, 16) << " nextip "
                            << (m.nextIpSet ? QStringLiteral("%1.%2.%3.%4")
                                                  .arg(m.nextIpHi >> 8)
                                                  .arg(m.nextIpHi & 0xFF)
                                                  .arg(m.nextIpLo >> 8)
                                                  .arg(m.nextIpLo & 0xFF)
                                            : QStringLiteral("none"))
                            << " filters " << live(2) << " setups " << live(1) << " deleted " << deleted
                            << " statusrequests " << m_device->statusRequests() << " keylock "
                            << m_device->image().value(KeyLockWord) << " held " << (f.holding ? 1 : 0)
                            << " name " << m_device->identity().name
                            << Qt::endl;
        return true;
    }
    // What the flash lists, one line before the "ok": "flash" and each live entry as
    // "set SLOT:ID", "setup SLOT:ID" or "program SLOT:ID" in flash order, then "deleted N".
    if (cmd == QLatin1String("flash") && w.size() == 1) {
        const ZunSimFlash& flash = m_device->flash();
        QStringList listed;
        int deleted = 0;
        for (const ZunSimFlash::Entry& e : flash.entries()) {
            if (e.slot == flash.deletedSlot()) {
                ++deleted;
                continue;
            }
            const char* kind = e.kind == 1 ? "setup" : e.kind == 2 ? "set" : "program";
            listed << QStringLiteral("%1 %2:%3").arg(QLatin1String(kind)).arg(e.slot).arg(e.id, 8, 16, QLatin1Char('0'));
        }
        listed << QStringLiteral("deleted %1").arg(deleted);
        QTextStream(stdout) << "flash " << listed.join(QLatin1Char(' ')) << Qt::endl;
        return true;
    }
    // A firmware update: the processor announces the new version from now on.
    if (cmd == QLatin1String("firmware") && w.size() == 2 && parseNumber(w[1], &a) && a > 0 && a <= 0x0FFF) {
        m_device->identity().firmware = quint16(a);
        return true;
    }
    // The words a test follows over time: "watch WORD..." begins a new record, "watch off"
    // ends it, "watched" prints it on one line before the "ok": "watched E1;E2;...".
    if (cmd == QLatin1String("watch") && w.size() >= 2) {
        QVector<quint16> words;
        for (int i = 1; i < w.size() && on; ++i) {
            if (!parseNumber(w[i], &a) || a < 0 || a >= m_device->image().size())
                return false;
            words << quint16(a);
        }
        m_device->watch(words);
        return true;
    }
    if (cmd == QLatin1String("watched") && w.size() == 1) {
        QTextStream(stdout) << "watched " << m_device->watched().join(QLatin1Char(';')) << Qt::endl;
        return true;
    }
    // One word of the image as the processor holds it: "word WORD VALUE" before the "ok".
    if (cmd == QLatin1String("get") && w.size() == 2 && parseNumber(w[1], &a) && a >= 0
        && a < m_device->image().size()) {
        QTextStream(stdout) << "word " << a << " " << m_device->image().value(a) << Qt::endl;
        return true;
    }
    // "Store" at the front panel: announced as a change of the word that names the slot.
    if (cmd == QLatin1String("store") && w.size() >= 2 && parseNumber(w[1], &a) && a >= 0 && a < 254) {
        const QByteArray name = w.mid(2).join(QLatin1Char(' ')).toLatin1();
        if (ZunSimOperations(m_device, m_map).frontPanelStore(quint16(a), name).refused) {
            QTextStream(stderr) << "zunsim: the flash refused the store" << Qt::endl;
            return false;
        }
        lock.unlock();
        emit signal_FrontPanelChange(m_map->getCmdNr("Cmd_SetupStore"), quint16(a));
        return true;
    }
    // A setup stored before the processor's firmware was updated: the default image of that
    // older version under a name, kept as stored (listed under the checksum of that image).
    if (cmd == QLatin1String("oldsetup") && w.size() >= 3 && parseNumber(w[1], &a) && parseNumber(w[2], &b)
        && a >= 0 && a < m_device->flash().listSize(m_device->flash().setupKind())
        && !CZunImageDefaults::defaultImage(quint16(b)).isEmpty()) {
        QByteArray bytes = CZunImageDefaults::defaultImageBytes(quint16(b));
        const QByteArray name = w.mid(3).join(QLatin1Char(' ')).toLatin1();
        bytes.replace(CZunImageDefaults::SetupNameByte, CZunImageDefaults::SetupNameLength,
                      name.leftJustified(CZunImageDefaults::SetupNameLength, ' ', true));
        return m_device->flash().store(m_device->flash().setupKind(), quint8(a), ZunCrc16(bytes), bytes)
            == ZunSimFlash::Result::Ok;
    }
    if (cmd == QLatin1String("set") && w.size() == 3 && parseNumber(w[1], &a) && parseNumber(w[2], &b)
        && a >= 0 && a < m_device->image().size()) {
        m_device->image()[a] = quint16(b);
        lock.unlock();
        emit signal_FrontPanelChange(quint16(a), quint16(b));
        return true;
    }
    return false;
}
