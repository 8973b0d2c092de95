// zunsystab: shows the system tab of one emulated processor (zunsim on loopback) in a
// window of its own, switches the processor to a full routing as the setup wizard would,
// waits until the tab shows what the processor reports, and saves the screen.
//
//   zunsystab [--serial N] [--hardware WORD] [--routing BINARY-PATTERN] [--shot FILE]
//
// Settings and configuration folder are private to the run. Without --shot the window
// stays open until it is closed.
#include "CRoutingLibrary.h"
#include "CRoutingManager.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "TcpSimProcess.h"
#include "ZunMetaTypes.h"
#include "RoutingRenderArea.h"
#include "ZunSystemWidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QSignalSpy>
#include <QTextStream>
#include <QVBoxLayout>

using namespace DeviceTestRig;

namespace
{
int fail(const QString& text)
{
    QTextStream(stderr) << "zunsystab: " << text << Qt::endl;
    return 1;
}

bool waitForImage(QSignalSpy& status)
{
    return status.count() > 0 || status.wait(20000);
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    registerZunMetaTypes();
    QCommandLineParser p;
    p.addHelpOption();
    p.addOptions({{"serial", "Device number.", "n", "257"},
                  {"hardware", "Hardware word (0x0F80: two boards, eight outputs).", "word", "0x0300"},
                  {"routing", "Full routing to switch to, as its 32 binary digits.", "digits"},
                  {"shot", "Save the screen to this PNG file and quit.", "file"},
                  {"picture", "Also save the routing picture at its full size to this PNG file.", "file"},
                  {"size", "Window size.", "WxH", "1280x720"}});
    p.process(app);
    if (qEnvironmentVariableIsEmpty("ZUNSIM"))
        qputenv("ZUNSIM", ZUNSIM_PATH);

    Config config; // private settings and configuration folder
    const quint16 serial = quint16(p.value("serial").toUInt());
    bool ok = false;
    const quint32 hardware = p.value("hardware").toUInt(&ok, 0);
    if (!ok)
        return fail("bad --hardware");
    TcpSimProcess sim;
    if (!sim.start({"--serial", QString::number(serial), "--firmware", "1080", "--hardware", p.value("hardware"),
                    "--name", QStringLiteral("Zun %1").arg(serial)}))
        return fail(sim.error());

    auto m = map(1080);
    auto zun = QSharedPointer<CZun>::create(record(1080, serial, 0, hardware), m, QSharedPointer<CRoutingLibrary>::create(m));
    zun->SetPort(sim.tcpPort());

    QWidget window;
    window.setWindowTitle(QStringLiteral("System - Zun %1 (%2)")
                              .arg(serial)
                              .arg(CZunHardwareInfo(hardware).isDoubleBoard() ? "two boards" : "one board"));
    auto* layout = new QVBoxLayout(&window);
    auto* tab = new ZunSystemWidget(zun);
    layout->addWidget(tab);
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, tab, &ZunSystemWidget::UpdateGui, Qt::QueuedConnection);
    const QStringList size = p.value("size").split(QLatin1Char('x'));
    window.resize(size.value(0).toInt(), size.value(1).toInt());
    window.move(0, 0);
    window.show();

    QSignalSpy first(zun.data(), &CZun::signal_ZunStatusChanged);
    tab->do_connect();
    if (!zun->IsConnected() && !waitUntil([&]() { return zun->IsConnected(); }))
        return fail("no connection");
    if (!waitForImage(first))
        return fail("no image");
    if (p.isSet("routing")) {
        const quint32 pattern = p.value("routing").toUInt(&ok, 2);
        const QList<CZunFullRoutingPreset> presets = zun->GetRoutingLibrary()->GetFullRoutingPresets();
        auto it = std::find_if(presets.begin(), presets.end(),
                               [&](const CZunFullRoutingPreset& f) { return f.getPattern() == pattern; });
        if (!ok || it == presets.end())
            return fail("no full routing " + p.value("routing"));
        zun->GetRoutingManager()->SetFullRouting(*it);
        if (!reread(zun.data()))
            return fail("no image after the routing change");
    }
    settle(zun.data());
    QElapsedTimer shown;
    shown.start();
    waitUntil([&]() { return shown.elapsed() > 500; }); // the window has painted
    if (p.isSet("picture") && !tab->routingRenderArea()->composite().save(p.value("picture")))
        return fail("cannot write " + p.value("picture"));
    if (!p.isSet("shot"))
        return app.exec();
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    if (!screen.copy(window.frameGeometry()).save(p.value("shot")))
        return fail("cannot write " + p.value("shot"));
    QTextStream(stdout) << "zunsystab: " << p.value("shot") << Qt::endl;
    return 0;
}
