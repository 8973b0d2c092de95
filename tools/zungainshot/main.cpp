// zungainshot: the gain page of an emulated processor with live meters, saved as two
// pictures a second apart (the meters move between them). Meant to run under Xvfb
// (tools/zunshot.sh gain), with settings of its own.
//
//   zungainshot HARDWARE-WORD OUT-PREFIX [ROUTING-WORD]   # OUT-PREFIX-1.png, OUT-PREFIX-2.png
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "GainWidget.h"
#include "MasterGainDelayWidget.h"
#include "ZunDeviceStats.h"
#include "ZunMetaTypes.h"
#include "ZunUdpDatagram.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

namespace
{
[[noreturn]] void fail(const QString& text)
{
    QTextStream(stderr) << "zungainshot: " << text << Qt::endl;
    ::exit(1);
}

quint16 freePort(bool tcp)
{
    if (tcp) {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }
    QUdpSocket s;
    s.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return s.localPort();
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    registerZunMetaTypes();
    if (argc != 3 && argc != 4)
        fail(QStringLiteral("usage: zungainshot HARDWARE-WORD OUT-PREFIX [ROUTING-WORD]"));
    bool ok = false;
    const quint32 hardware = QString::fromLatin1(argv[1]).toUInt(&ok, 0);
    if (!ok)
        fail(QStringLiteral("not a hardware word: %1").arg(QString::fromLocal8Bit(argv[1])));
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    const quint32 routingWord = argc == 4 ? QString::fromLatin1(argv[3]).toUInt(&ok, 0) : 0;
    if (!ok || routingWord > 0xFFFF)
        fail(QStringLiteral("not a routing word: %1").arg(QString::fromLocal8Bit(argv[3])));

    // The colours start-up writes by default.
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    settings.setValue(QStringLiteral("ColorLevelMeter"), QColor(QStringLiteral("limegreen")));
    settings.setValue(QStringLiteral("ColorGainReductionMeter"), QColor(Qt::red));
    settings.setValue(QStringLiteral("ColorButtonActive"), QColor(Qt::red));
    settings.setValue(QStringLiteral("ColorButtonInactive"), QColor(QStringLiteral("limegreen")));
    settings.sync();

    const quint16 tcpPort = freePort(true);
    const quint16 udpPort = freePort(false);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(ZUNSIM_PATH), {"--bind", "127.0.0.1", "--tcp-port", QString::number(tcpPort), "--udp-port",
                                            QString::number(udpPort), "--firmware", "1080", "--hardware",
                                            QString::number(hardware), "--routing", QString::number(routingWord)});
    QByteArray line;
    while (!line.contains("zunsim ready")) {
        if (!sim.waitForReadyRead(10000))
            fail(QStringLiteral("the emulator did not start"));
        line += sim.readAllStandardOutput();
    }

    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000000ull | 42));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    record->setHardwareInfo(CZunHardwareInfo(hardware));
    record->setRouting(quint16(routingWord), 0);
    QSharedPointer<CZun> zun(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
    zun->SetPort(tcpPort);
    auto status = QSharedPointer<AudioIOStatus>::create(map);
    GainWidget page(2, zun, status);
    bool loaded = false;
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, [&]() {
        // the device window's rule: more than 4 inputs put the outputs on a page of their own
        page.setMode(zun->GetRoutingManager()->GetInputs().size() > 4 ? 1 : 2);
        page.UpdateGui();
        status->SetRouting(zun->GetRoutingManager()->lastRoutingWord());
        loaded = true;
    });
    zun->connect();
    QElapsedTimer t;
    t.start();
    while (!loaded) {
        if (t.elapsed() > 20000)
            fail(QStringLiteral("no parameter image"));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }

    // a little life on the strips: gains, a mute, a polarity
    zun->SetChannelGain(-3.0, ZunC::Output1);
    zun->MuteChannel(ZunC::Output2, true);
    zun->SetChannelPhaseInversion(ZunC::Output0, true);

    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    QObject::connect(&socket, &QUdpSocket::readyRead, [&]() {
        while (socket.hasPendingDatagrams())
            status->refresh(socket.receiveDatagram().data());
    });
    QTimer requests;
    QObject::connect(&requests, &QTimer::timeout, [&]() {
        socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost, udpPort);
    });
    QObject::connect(&page, &GainWidget::changedVisibility, [&](bool shown) {
        if (shown)
            requests.start(2300);
        else
            requests.stop();
    });
    page.on_connect();
    QCursor::setPos(0, 0); // no strip under the pointer: no hover highlight in the picture
    page.setWindowTitle(QStringLiteral("Gain page"));
    page.show();
    page.resize(page.sizeHint());
    socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost, udpPort);

    int shot = 0;
    QTimer shots;
    QObject::connect(&shots, &QTimer::timeout, [&]() {
        const QString file = QStringLiteral("%1-%2.png").arg(prefix).arg(++shot);
        if (!page.grab().save(file))
            fail(QStringLiteral("cannot write %1").arg(file));
        QTextStream(stdout) << file << Qt::endl;
        if (shot == 2)
            app.quit();
    });
    QTimer::singleShot(1500, [&]() {
        shots.start(1000);
    });
    app.exec();
    zun->disconnect();
    sim.write("quit\n");
    if (!sim.waitForFinished(5000))
        sim.kill();
    return 0;
}
