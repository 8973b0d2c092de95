// zunsim: an emulated Zun processor for tests and for trying the program without hardware.
#include "ZunSimControl.h"
#include "ZunSimDevice.h"
#include "ZunSimTcpServer.h"
#include "ZunSimUdp.h"
#include "ZunToolName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

static bool number(const QCommandLineParser& p, const char* name, quint32 max, quint32* out)
{
    if (!p.isSet(QLatin1String(name)))
        return true;
    const QString s = p.value(QLatin1String(name));
    bool ok = false;
    const quint32 v = s.startsWith(QLatin1String("0x")) ? s.mid(2).toUInt(&ok, 16) : s.toUInt(&ok, 10);
    if (!ok || v > max) {
        QTextStream(stderr) << "zunsim: bad value for --" << name << ": " << s << Qt::endl;
        return false;
    }
    *out = v;
    return true;
}

int main(int argc, char** argv)
{
    zunToolName(argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zunsim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Emulated Zun processor. Control lines on stdin: "
                                               "silent [off], nobroadcast [off], droplink [block|reply CMD|off] (at the next command, at the next block write, or in place of the reply to command CMD, which runs), corrupt [N|off] "
                                               "(damages one chunk of each of the next N blocks, 1 by default), hugeblock [off] "
                                               "(the next block read announces 2^31 bytes), "
                                               "failupload [off] (copies into the flash fail), failcheck [off] (firmware checks fail), refuse CMD [VALUE]|off, delay MS, "
                                               "hold block (the connection that completes the next block write reads nothing more of its client until release, "
                                               "while other clients go on), hold reply CMD [VALUE [TIMES]] (the same for the connection that answers command CMD, "
                                               "or CMD with VALUE; TIMES holds it again after each release but the last), release (lets the held connection go on; a hold asked for meanwhile waits for its own "
                                               "block or reply; with nothing held, drops the holds asked for), set WORD VALUE, "
                                               "store SLOT [NAME] (\"Store\" at the front panel), "
                                               "get WORD (WORD a number; prints \"word WORD VALUE\": one word of the image), "
                                               "oldsetup SLOT FIRMWARE NAME (stores a setup as that older firmware stored it), "
                                               "firmware N (announce another version), nextfirmware N (announced after a good "
                                               "firmware check), state (prints a state line), watch WORD...|off (records "
                                               "those words after each TCP command), watched (prints the record), quit."));
    p.addHelpOption();
    const QList<QCommandLineOption> opts = {
        {"serial", "Serial number (last two MAC bytes).", "n", "1"},
        {"firmware", "Firmware version 1075-1080.", "v", "1080"},
        {"revision", "Second version field (0-15).", "r", "0"},
        {"name", "Device name (up to 24 characters).", "text", ""},
        {"hardware", "Hardware word.", "word", "0"},
        {"hardware-extra", "Extra hardware word.", "word", "0"},
        {"routing", "Routing word (announce offset 11).", "word", "0"},
        {"routing-byte", "Routing byte (announce offset 7).", "byte", "0"},
        {"flags", "Flags word of the announce.", "word", "0"},
        {"program-id-low", "Low half of a stored DSP program's directory id (the CRC-16 of its bytes when not "
                           "given).", "word"},
        {"bind", "Address to bind TCP and UDP to.", "addr", "0.0.0.0"},
        {"tcp-port", "TCP control port.", "port", "5000"},
        {"udp-port", "UDP port.", "port", "1234"},
        {"no-broadcast-answer", "Ignore the discovery ping (as firmware below 1077)."},
        {"announce-zero", "Announce firmware 0 so that the version probe runs."},
        {"silent", "Start silent (answer nothing)."},
        {"parent", "Exit when the process with this id (the one that starts the emulator) ends, "
                   "however it ends.", "pid"},
    };
    p.addOptions(opts);
    p.process(app);

    if (p.isSet(QStringLiteral("parent"))) {
        // The kernel ends us with the parent, even when it is killed or aborts; a parent
        // that is already gone (it died before this line) ends us here.
        bool ok = false;
        const qint64 parent = p.value(QStringLiteral("parent")).toLongLong(&ok);
        if (!ok || parent <= 1) {
            QTextStream(stderr) << "zunsim: bad value for --parent" << Qt::endl;
            return 2;
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (qint64(::getppid()) != parent)
            return 1;
    }

    ZunSimDevice::Identity id;
    quint32 serial = 1, fw = 1080, rev = 0, hw = 0, hwx = 0, rw = 0, rb = 0, flags = 0, tcpPort = 5000, udpPort = 1234;
    if (!number(p, "serial", 0xFFFF, &serial) || !number(p, "firmware", 0x0FFF, &fw) || !number(p, "revision", 15, &rev)
        || !number(p, "hardware", 0xFFFF, &hw) || !number(p, "hardware-extra", 0xFFFF, &hwx)
        || !number(p, "routing", 0xFFFF, &rw) || !number(p, "routing-byte", 0xFF, &rb)
        || !number(p, "flags", 0xFFFF, &flags) || !number(p, "tcp-port", 0xFFFF, &tcpPort)
        || !number(p, "udp-port", 0xFFFF, &udpPort))
        return 2;
    id.serial = quint16(serial);
    id.firmware = quint16(fw);
    id.revision = quint16(rev);
    id.name = p.value(QStringLiteral("name")).left(24);
    id.hardwareWord = quint16(hw);
    id.hardwareExtra = quint16(hwx);
    id.routingWord = quint16(rw);
    id.routingByte = quint8(rb);
    id.flags = quint16(flags);
    id.announceFirmwareZero = p.isSet(QStringLiteral("announce-zero"));
    if (p.isSet(QStringLiteral("program-id-low"))) {
        quint32 low = 0;
        if (!number(p, "program-id-low", 0xFFFF, &low))
            return 2;
        id.programIdLow = int(low);
    }

    QHostAddress bind;
    if (!bind.setAddress(p.value(QStringLiteral("bind")))) {
        QTextStream(stderr) << "zunsim: bad --bind address" << Qt::endl;
        return 2;
    }

    ZunSimDevice device(id);
    device.faults().noBroadcastAnswer = p.isSet(QStringLiteral("no-broadcast-answer"));
    device.faults().silent = p.isSet(QStringLiteral("silent"));

    ZunSimControl control(&device);
    ZunSimUdp udp(&device, quint16(udpPort));
    if (!udp.start(bind))
        return 1;
    ZunSimTcpServer tcp(&device, quint16(tcpPort));
    if (!tcp.start(bind))
        return 1;
    QObject::connect(&control, &ZunSimControl::signal_FrontPanelChange, &tcp, &ZunSimTcpServer::on_FrontPanelChange);
    // A front-panel change shows in the next status record, as on a processor.
    QObject::connect(&control, &ZunSimControl::signal_FrontPanelChange, &udp, &ZunSimUdp::on_ParameterChanged);

    // Tests wait for this line before they talk to the emulator; with port 0 they learn
    // the ports the system chose from it, so parallel tests never race for a port.
    QTextStream(stdout) << "zunsim ready serial " << id.serial << " tcp " << tcp.boundPort() << " udp "
                        << udp.boundPort() << Qt::endl;
    return app.exec();
}
