// zungainshot: the gain page of an emulated processor with live meters, saved as two
// pictures a second apart (the meters move between them). Meant to run under Xvfb
// (tools/zunshot.sh gain), with settings of its own.
//
//   zungainshot HARDWARE-WORD OUT-PREFIX [ROUTING-WORD]   # OUT-PREFIX-1.png, OUT-PREFIX-2.png
#include "AudioIOStatus.h"
#include "CRoutingManager.h"
#include "GainPageRig.h"
#include "GainWidget.h"
#include "MasterGainDelayWidget.h"
#include "ZunMetaTypes.h"
#include "ZunUdpDatagram.h"

#include <QApplication>
#include <QCursor>
#include <QNetworkDatagram>
#include <QSettings>
#include <QTimer>

using namespace GainPageRig;

int main(int argc, char** argv)
{
    QTemporaryDir home;
    privateSettings(home);
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

    Sim sim(hardware, routingWord);
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    QSharedPointer<CZun> zun = device(sim, map, hardware, routingWord);
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
    waitFor([&]() { return loaded; }, 20000, "the parameter image");

    // a little life on the strips: a gain, a mute, a polarity
    zun->SetChannelGain(-3.0, ZunC::Output1);
    zun->MuteChannel(ZunC::Output2, true);
    zun->SetChannelPhaseInversion(ZunC::Output0, true);

    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    QObject::connect(&socket, &QUdpSocket::readyRead, [&]() {
        while (socket.hasPendingDatagrams())
            status->refresh(socket.receiveDatagram().data());
    });
    // what the device window does while a gain page is shown
    const auto ask = [&]() {
        socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost, sim.udpPort());
    };
    QTimer requests;
    QObject::connect(&requests, &QTimer::timeout, ask);
    QObject::connect(&page, &GainWidget::changedVisibility, [&](bool shown) {
        if (shown) {
            ask();
            requests.start(2300);
        } else {
            requests.stop();
        }
    });
    page.on_connect();
    QCursor::setPos(0, 0); // no strip under the pointer: no hover highlight in the picture
    page.setWindowTitle(QStringLiteral("Gain page"));
    page.show();
    page.resize(page.sizeHint());

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
    QTimer::singleShot(1500, [&]() { shots.start(1000); });
    app.exec();
    zun->disconnect();
    return 0;
}
