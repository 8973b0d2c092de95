// zunpageshot: pictures of the control window's pages, each against an emulated processor
// on loopback, for the documentation. Run it on a display, for example under Xvfb
// (tools/zunshot.sh pages does, once for each screen size):
//
//   zunpageshot OUTDIR [PAGE...]     PAGE: system gain limiter advanced channel outputs wizard forms
//
// Each page takes the size it gets in the control window as the program first opens it on
// this display's screen: the main window at its first size, the control window added as the
// program adds it (MainWindow), grown as the program grows it when a page needs more room
// (ZunControlDlg::frameForPages). Without pages it shoots them all. It writes into OUTDIR
//   window.png                        the main window with the control window as it opens
//   system-<one|two>-<routing>.png   the system tab of a one- and a two-board processor,
//                                     each after switching to three full routings
//   gain-2in4out-{1,2}.png, gain-8out-{1,2}.png
//                                     the gain page with live meters, a second apart
//   system-lab2-analog.png            the system tab of zunlab's "Lab 2" (one board, no AES
//                                     receiver or transmitter, no sample-rate converter);
//                                     system-lab2-linked.png with an image that reads as linked
//   limiter-w.png, limiter-dbu.png, advanced.png, channel.png, channel-type.png (an EQ's
//   type being chosen), outputs.png, wizard-N.png, wizard-presets.png and
//   wizard-presets-open.png (the routing presets, their list open: the whole screen),
//   wizard-lab2-N.png (the routing and clock pages of "Lab 2"), form-<name>.png (each form
//   at the size it opens at, the device name and IP address dialogs among them)
// Settings and files go to a temporary home folder, never the user's.
#include "Application.h"
#include "ChangePINForm.h"
#include "AudioIOStatusServer.h"
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CEQManager.h"
#include "CRoutingManager.h"
#include "CZunBiquad.h"
#include "CZunConfigWizard.h"
#include "CZunFIRLimManager.h"
#include "CZunHighOrderFilter.h"
#include "CZunOutput.h"
#include "CZunServer.h"
#include "GainWidget.h"
#include "LimiterWidget.h"
#include "MainWindow.h"
#include "ZunMaintenanceActions.h"
#include "ZunNetworkTableView.h"
#include "QEditableTabWidget.h"
#include "RemoveForm.h"
#include "RoutingServer.h"
#include "SelectIntegerForm.h"
#include "UploadForm.h"
#include "RoutingRenderArea.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunControlDlg.h"
#include "ZunFirSetupActions.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFModel.h"
#include "ZunLimModel.h"
#include "ZunMetaTypes.h"
#include "ZunOutputDlg.h"
#include "ZunOutputPlotDlg.h"
#include "ZunSimDevice.h"
#include "ZunStartup.h"
#include "ZunSystemWidget.h"
#include "ZunUdpDatagram.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QNetworkDatagram>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>
#include <memory>

using DeviceTestRig::waitUntil;

namespace
{
constexpr quint32 OneBoard = 0x0300;   // four analog outputs
constexpr quint32 TwoBoards = 0x0F80;  // eight analog outputs
constexpr quint32 FourOutputs = 0x1300;
constexpr quint32 FirBoard = 0xFF94;   // with FIR filter and limiter sets
constexpr quint32 Lab2 = 0x0F04;       // zunlab's "Lab 2": one board, no AES, no converter
QString g_out;
// A tab page of the control window as it first opens on this screen, the sub-window around
// it and the MDI area's view it opens in (firstOpenPage()).
QSize g_page;
QRect g_frame;
QRect g_view;
bool g_ok = true;

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void fail(const QString& text)
{
    std::fprintf(stderr, "zunpageshot: %s\n", qPrintable(text));
    g_ok = false;
}

void save(QWidget& w, const QString& name)
{
    w.show();
    settle(300);
    const QString file = QDir(g_out).filePath(name);
    if (w.grab().save(file))
        std::printf("zunpageshot: %s\n", qPrintable(file));
    else
        fail("cannot write " + file);
}

void saveScreen(const QString& name)
{
    const QString file = QDir(g_out).filePath(name);
    if (QGuiApplication::primaryScreen()->grabWindow(0).save(file))
        std::printf("zunpageshot: %s\n", qPrintable(file));
    else
        fail("cannot write " + file);
}

// The dialog the call opens, as it opens: saved and cancelled.
void saveModal(const QString& name, const std::function<void()>& opens)
{
    QTimer::singleShot(0, [name]() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            fail("no dialog for " + name);
            return;
        }
        save(*dialog, name);
        dialog->reject();
    });
    opens();
}

// Opens the program's main window and a control window in it as a first start does on this
// screen (no stored sizes, the processor not connected yet), saves the picture and returns
// the size of the control window's tab pages.
QSize firstOpenPage()
{
    constexpr quint16 serial = 1;
    constexpr quint16 firmware = 1080;
    RoutingServer routing;
    AudioIOStatusServer statuses;
    auto devices = std::make_unique<CZunServer>();
    const QSharedPointer<CCmdMap> map = DeviceTestRig::map(firmware);
    const QSharedPointer<ZunDeviceStats> record = DeviceTestRig::record(firmware, serial, 0, TwoBoards, 0x1191);
    routing.createLibrary(firmware, map);
    statuses.addStatus(record, map);
    devices->newCZun(record, map, routing.getLibrary(firmware));
    QSize page;
    {
        // The main window's frame: its menus, the MDI area and the status bar.
        QMainWindow frame;
        auto* area = new QMdiArea;
        frame.setCentralWidget(area);
        frame.menuBar()->addMenu(QStringLiteral("&Window"));
        frame.menuBar()->addMenu(QStringLiteral("&Help"));
        frame.statusBar()->showMessage(QStringLiteral("Ready"));
        frame.resize(MainWindow::firstSize(QGuiApplication::primaryScreen()->availableGeometry().size()));
        frame.show();
        settle(300);
        auto* dlg = new ZunControlDlg(serial, devices.get(), &statuses);
        QMdiSubWindow* sub = MainWindow::addControlWindow(area, dlg);
        sub->show();
        settle(500);
        page = dlg->tabWidget()->currentWidget()->size();
        g_frame = sub->geometry();
        g_view = area->viewport()->rect();
        const QSize screen = QGuiApplication::primaryScreen()->size();
        std::printf("zunpageshot: screen %dx%d, main window %dx%d, control window %dx%d, page %dx%d\n",
                    screen.width(), screen.height(), frame.width(), frame.height(), sub->width(), sub->height(),
                    page.width(), page.height());
        save(frame, QStringLiteral("window.png"));
        sub->close();
    }
    // The server releases its device objects with deleteLater.
    devices.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return page;
}

// A page as the control window's tab holds it: a child at the page size, cut where its
// contents need more room than that. The window grows to what its pages need as far as the
// MDI area has room (ZunControlDlg::frameForPages), and so does the page. Made after the
// page, so that it lets go of it first.
struct PageHolder
{
    QWidget holder;
    QWidget& page;
    explicit PageHolder(QWidget& p) : page(p)
    {
        page.setParent(&holder);
        fit();
        page.show();
    }
    ~PageHolder() { page.setParent(nullptr); }
    // Again whenever the page may have grown (tables widen to their texts once filled).
    void fit()
    {
        const QSize around = g_frame.size() - g_page;
        const QSize size =
            ZunControlDlg::frameForPages(g_frame, page.minimumSizeHint() + around, g_view).size() - around;
        holder.setFixedSize(size);
        page.setGeometry(QRect(QPoint(), size));
    }
};

void save(PageHolder& held, const QString& name)
{
    held.holder.show();
    settle(300);
    held.fit();
    save(held.holder, name);
}

bool startDevice(ZunSimDevice& device, quint32 hardware, quint16 routingWord = 0)
{
    ZunSimDevice::Options o;
    o.hardware = hardware;
    o.routingWord = routingWord;
    if (device.start(o))
        return true;
    fail(device.error());
    return false;
}

// The emulator and a device object for it, not yet connected.
bool launchDevice(ZunSimDevice& device, quint32 hardware)
{
    ZunSimDevice::Options o;
    o.hardware = hardware;
    if (device.launch(o))
        return true;
    fail(device.error());
    return false;
}

// The system tab after switching to each full routing given (name, 32 binary digits).
void shootSystem(const QString& board, quint32 hardware, const QList<QPair<QString, QString>>& routings)
{
    ZunSimDevice device;
    if (!launchDevice(device, hardware))
        return;
    const QSharedPointer<CZun> zun = device.zun();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* tab = new ZunSystemWidget(zun);
    layout->addWidget(tab);
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, tab, &ZunSystemWidget::UpdateGui);
    // as the operator does: the tab's own connect button
    if (!device.connect([tab]() { tab->do_connect(); })) {
        fail(device.error());
        return;
    }
    PageHolder held(window);
    const QList<CZunFullRoutingPreset> presets = zun->GetRoutingLibrary()->GetFullRoutingPresets();
    for (const auto& r : routings) {
        bool ok = false;
        const quint32 pattern = r.second.toUInt(&ok, 2);
        auto it = std::find_if(presets.begin(), presets.end(),
                               [&](const CZunFullRoutingPreset& f) { return f.getPattern() == pattern; });
        if (!ok || it == presets.end()) {
            fail("no full routing " + r.second);
            continue;
        }
        zun->GetRoutingManager()->SetFullRouting(*it);
        if (!DeviceTestRig::reread(zun.data())) {
            fail("no image after the routing change to " + r.first);
            continue;
        }
        tab->UpdateGui();
        save(held, QStringLiteral("system-%1-%2.png").arg(board, r.first));
    }
    if (hardware == Lab2) {
        // An image that reads as linked on one board: the link shows, and can be undone.
        device.sim().control(QStringLiteral("set %1 2").arg(zun->GetCmdMap()->getCmdNr("Cmd_SetupFlags")));
        if (!DeviceTestRig::reread(zun.data())) {
            fail("no image after the link");
            return;
        }
        tab->UpdateGui();
        save(held, QStringLiteral("system-%1-linked.png").arg(board));
    }
}

// The gain page as the device window shows it, with the status requests it sends while
// shown; two pictures a second apart, so the meters move between them.
void shootGain(const QString& name, quint32 hardware, quint16 routingWord)
{
    ZunSimDevice device;
    if (!startDevice(device, hardware, routingWord))
        return;
    const QSharedPointer<CZun> zun = device.zun();
    auto status = QSharedPointer<AudioIOStatus>::create(zun->GetCmdMap());
    GainWidget page(2, zun, status);
    const auto update = [&]() {
        // the device window's rule: more than 4 inputs put the outputs on a page of their own
        page.setMode(zun->GetRoutingManager()->GetInputs().size() > 4 ? 1 : 2);
        page.UpdateGui();
        status->SetRouting(zun->GetRoutingManager()->lastRoutingWord());
    };
    QObject::connect(zun.data(), &CZun::signal_ZunStatusChanged, &page, update);
    update();

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
    const auto ask = [&]() {
        socket.writeDatagram(ZunUdpDatagram::statusRequest(20, 125), QHostAddress::LocalHost, device.sim().udpPort());
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
    PageHolder held(page);
    settle(1200);
    save(held, QStringLiteral("gain-%1-1.png").arg(name));
    settle(700);
    save(held, QStringLiteral("gain-%1-2.png").arg(name));
}

// The limiter tab in W and in dBu, the advanced tab with a second set in its list, and the
// configuration wizard on every page it shows in advanced mode.
void shootFirPages(const QStringList& pages, const QString& configDir)
{
    ZunSimDevice device;
    if (!startDevice(device, FirBoard))
        return;
    const QSharedPointer<CZun> zun = device.zun();
    if (!waitUntil([&]() { return zun->IsFIRManagerReady() && zun->GetActiveFilterIndex(1) != 0; })) {
        fail("the emulated processor's FIR sets did not come up");
        return;
    }
    FilterLimiterEWS set(QString(), 48000.0);
    for (int o = 0; o < 4; ++o) {
        set.setOutput(o, QVector<qint32>(300, 1000 * (o + 1)), 20, o);
        set.setPathFlagByte(o, 1); // thermal and peak limits of its own
    }
    set.SetName(QStringLiteral("Main PA 2x15"));
    set.toFile(configDir, false);
    ZunAdvancedSettingsWidget advanced(zun);
    PageHolder heldAdvanced(advanced);
    advanced.firSetup()->startFIRFilterUpload(QDir(configDir).filePath(set.makeFileName()));
    waitUntil([&]() {
        return zun->GetFIRLimManager()->filterCount() == 2 && advanced.cursor().shape() != Qt::WaitCursor;
    });
    const quint32 key = set.computeKey();
    zun->CheckFIRFilterResources(key, 0);
    zun->InvokeActivateFIRFilter(key, ZunC::NoCopies, key, ZunC::NoCopies);
    waitUntil([&]() { return zun->GetActiveFilterIndex(1) == key && zun->GetActiveFilterIndex(2) == key; });
    settle(500);
    advanced.UpdateGui();
    emit zun->signal_Connected();
    settle(300);

    if (pages.contains(QStringLiteral("limiter"))) {
        LimiterWidget limiter(zun);
        PageHolder held(limiter);
        QMetaObject::invokeMethod(zun->GetFIRLimManager(), "on_ZunStatusChanged", Qt::QueuedConnection);
        waitUntil([&]() { return limiter.model()->setOfColumn(0) && limiter.model()->setOfColumn(4); });
        // One threshold above the processor's maximum, to show the warning colour.
        limiter.model()->setData(limiter.model()->index(ZunLimModel::RowPeak, 5), 4000.0);
        limiter.model()->setData(limiter.model()->index(ZunLimModel::RowGain, 6), 32.0);
        save(held, QStringLiteral("limiter-w.png"));
        limiter.unitCombo()->setCurrentIndex(1);
        limiter.referenceCombo()->setCurrentIndex(1);
        settle(200);
        save(held, QStringLiteral("limiter-dbu.png"));
    }
    if (pages.contains(QStringLiteral("advanced")))
        save(heldAdvanced, QStringLiteral("advanced.png"));
    if (pages.contains(QStringLiteral("wizard"))) {
        CZunConfigWizard wizard(zun);
        wizard.show();
        wizard.restart();
        for (int page = 0; page < 6; ++page) {
            if (wizard.currentId() == CZunConfigWizard::XOver) {
                // FIR, with the set written above for both DSPs
                wizard.setField(QStringLiteral("XOverSelect"), 1);
                for (QComboBox* files : wizard.currentPage()->findChildren<QComboBox*>())
                    if (files->isEditable() && files->count() > 1)
                        files->setCurrentIndex(1);
            }
            if (wizard.currentId() == CZunConfigWizard::FullRouting) {
                // one of the presets whose name another preset shares: the list tells them apart
                for (QComboBox* presets : wizard.currentPage()->findChildren<QComboBox*>()) {
                    const int i = presets->findText(QStringLiteral("(variant"), Qt::MatchContains);
                    if (i >= 0)
                        presets->setCurrentIndex(i);
                }
                save(wizard, QStringLiteral("wizard-presets.png"));
                // The open list, a window of its own: the screen around the wizard.
                for (QComboBox* presets : wizard.currentPage()->findChildren<QComboBox*>())
                    if (presets->findText(QStringLiteral("(variant"), Qt::MatchContains) >= 0) {
                        presets->showPopup();
                        settle(300);
                        saveScreen(QStringLiteral("wizard-presets-open.png"));
                        presets->hidePopup();
                    }
                wizard.setField(QStringLiteral("AdvancedMode"), true);
            }
            save(wizard, QStringLiteral("wizard-%1.png").arg(page));
            if (wizard.nextId() == -1)
                break;
            if (!wizard.currentPage()->isComplete()) {
                fail(QStringLiteral("wizard page %1 is not complete").arg(page));
                break;
            }
            wizard.next();
        }
        // The last page from 48 to 96 kHz, with an output delay the new clock leaves beyond
        // its limit: the page names what Finish changes.
        const QSharedPointer<CCmdMap> map = zun->GetCmdMap();
        device.sim().control(QStringLiteral("set %1 %2").arg(map->getCmdNr("Cmd_ClockSel")).arg(map->getCmdNr("Inf_Sel_Clk_48")));
        device.sim().control(QStringLiteral("set %1 %2").arg(map->getCmdNr("Cmd_0_ChDelay0")).arg(614 * 96));
        DeviceTestRig::reread(zun.data());
        CZunConfigWizard clockWizard(zun);
        clockWizard.show();
        clockWizard.restart();
        while (clockWizard.currentId() != CZunConfigWizard::Finish && clockWizard.nextId() != -1) {
            if (clockWizard.currentId() == CZunConfigWizard::XOver)
                clockWizard.setField(QStringLiteral("XOverSelect"), 0);
            if (clockWizard.currentId() == CZunConfigWizard::MultipathClock)
                clockWizard.setField(QStringLiteral("Clock"), map->getCmdNr("Inf_Sel_Clk_96"));
            clockWizard.next();
        }
        clockWizard.setField(QStringLiteral("KeepSettings"), true);
        settle(200);
        save(clockWizard, QStringLiteral("wizard-finish-clock.png"));
    }
}

// The routing pages of the configuration wizard on a processor without the parts that the
// digital inputs need.
void shootWizardRouting(quint32 hardware, const QString& name)
{
    ZunSimDevice device;
    if (!startDevice(device, hardware))
        return;
    CZunConfigWizard wizard(device.zun());
    wizard.show();
    wizard.restart();
    for (int page = 0; page < 6 && wizard.nextId() != -1; ++page) {
        if (wizard.currentId() == CZunConfigWizard::FullRouting || wizard.currentId() == CZunConfigWizard::MultipathClock)
            save(wizard, QStringLiteral("wizard-%1-%2.png").arg(name).arg(page));
        if (!wizard.currentPage()->isComplete())
            break;
        wizard.next();
    }
}

// The forms of the advanced tab and of the network monitor, each at the size it opens at.
void shootForms()
{
    ChangePINForm pin;
    save(pin, QStringLiteral("form-pin.png"));
    SelectIntegerForm recall(ZunNetworkTableView::FirstRecallPosition, ZunNetworkTableView::LastRecallPosition);
    recall.setWindowTitle(QStringLiteral("Recall Setup"));
    save(recall, QStringLiteral("form-recall-setup.png"));
    UploadForm upload(QStringLiteral("Zun Setup (*.zun)"), {QStringLiteral("zun")}, QString());
    upload.setWindowTitle(QStringLiteral("Upload Setup"));
    for (int i = 0; i < 10; ++i)
        upload.addPosition(QStringLiteral("---                     "));
    save(upload, QStringLiteral("form-upload-setup.png"));
    RemoveForm remove;
    remove.setWindowTitle(QStringLiteral("Remove FIR Filter"));
    save(remove, QStringLiteral("form-remove.png"));
    // The name and the address of a processor, as the advanced tab asks for them.
    ZunSimDevice device;
    if (!launchDevice(device, TwoBoards))
        return;
    QWidget tab;
    ZunMaintenanceActions actions(device.zun(), &tab);
    saveModal(QStringLiteral("form-device-name.png"), [&]() { actions.onSetDeviceName(); });
    saveModal(QStringLiteral("form-ip-address.png"), [&]() { actions.onSetIP(); });
}

// A channel page (Output 1 with EQs and a Linkwitz-Riley crossover) and the outputs page.
void shootPlots(const QStringList& pages)
{
    ZunSimDevice device;
    if (!startDevice(device, TwoBoards))
        return;
    const QSharedPointer<CZun> zun = device.zun();
    const QSharedPointer<CCmdMap> map = zun->GetCmdMap();
    auto eq = [&](CZunOutput* o, const char* type, double f, double gain, double q) {
        CZunBiquad* b = o->NewEQ();
        b->setType(map->getCmdNr(type));
        b->setFrequency(float(f));
        b->setGain(float(gain));
        b->setQuality(float(q));
        b->setBypass(false);
        b->writeToDevice(false);
    };
    auto crossover = [&](CZunOutput* o, const char* passband, double f) {
        CZunHighOrderFilter* x = o->NewHighOrderFilter();
        x->setPassband(map->getCmdNr(passband));
        x->setCharacteristic(map->getCmdNr("Inf_Sel_Char_HOF_LinkRiley"));
        x->setOrder(4);
        x->SetFrequency(float(f));
        x->rebuild();
    };
    CRoutingManager* routing = zun->GetRoutingManager();
    CZunOutput* first = routing->GetOutput(0);
    eq(first, "Inf_Sel_Typ_EQ_Peak", 250.0, -4.0, 1.4);
    eq(first, "Inf_Sel_Typ_EQ_Peak", 1200.0, 2.5, 2.0);
    eq(first, "Inf_Sel_Typ_EQ_HS12", 6000.0, 3.0, 0.7);
    crossover(first, "Inf_Sel_Typ_HOF_HP", 80.0);
    crossover(first, "Inf_Sel_Typ_HOF_LP", 2500.0);
    crossover(routing->GetOutput(1), "Inf_Sel_Typ_HOF_HP", 2500.0);
    eq(routing->GetOutput(1), "Inf_Sel_Typ_EQ_Peak", 8000.0, -3.0, 3.0);
    crossover(routing->GetOutput(2), "Inf_Sel_Typ_HOF_LP", 100.0);
    eq(routing->GetOutput(3), "Inf_Sel_Typ_EQ_LS12", 120.0, 6.0, 0.7);
    DeviceTestRig::settle(zun.data());

    if (pages.contains(QStringLiteral("channel"))) {
        ZunEQModel eqModel(zun);
        ZunHOFModel hofModel(zun);
        ZunOutputDlg page(first);
        page.setEQModel(&eqModel);
        page.setHOFModel(&hofModel);
        page.setPointerCZun(zun);
        PageHolder held(page);
        save(held, QStringLiteral("channel.png"));
        // The third EQ's type being chosen: its editor open in the Type column.
        page.eqTable()->edit(page.eqProxy()->index(2, ZunEQModel::ColType));
        save(held, QStringLiteral("channel-type.png"));
    }
    if (pages.contains(QStringLiteral("outputs"))) {
        ZunOutputPlotDlg outputs;
        outputs.setPointerCZun(zun);
        for (const QPointer<CZunOutput>& o : routing->GetOutputs())
            outputs.addOutput(o);
        PageHolder held(outputs);
        save(held, QStringLiteral("outputs.png"));
    }
}
} // namespace

int main(int argc, char** argv)
{
    // The command line is read before anything starts: --help needs no display, no
    // settings and no emulator.
    const QStringList all = {"system", "gain", "limiter", "advanced", "channel", "outputs", "wizard", "forms"};
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    const auto usage = [&all](FILE* to) {
        std::fprintf(to,
                     "Usage: zunpageshot OUTDIR [PAGE...]   PAGE: %s\n"
                     "Pictures of the control window's pages against emulated processors, into OUTDIR;\n"
                     "on a display (tools/zunshot.sh pages runs it under Xvfb).\n",
                     qPrintable(all.join(' ')));
    };
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        usage(stdout);
        return 0;
    }
    if (args.isEmpty() || args.first().startsWith(QLatin1Char('-'))) {
        if (!args.isEmpty())
            std::fprintf(stderr, "zunpageshot: unknown option %s\n", qPrintable(args.first()));
        usage(stderr);
        return 2;
    }
    g_out = args.takeFirst();
    for (const QString& p : qAsConst(args))
        if (!all.contains(p)) {
            std::fprintf(stderr, "zunpageshot: no page %s (pages: %s)\n", qPrintable(p), qPrintable(all.join(' ')));
            return 2;
        }
    const QStringList pages = args.isEmpty() ? all : args;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "zunpageshot: no display is set; run it on one (xvfb-run -a, or tools/zunshot.sh pages)\n");
        return 1;
    }

    DeviceTestRig::Config config; // before the application object: settings of the run's own
    Application app(argc, argv); // the program's own style
    registerZunMetaTypes();
    qRegisterMetaType<CZunBiquad*>();
    qRegisterMetaType<CZunHighOrderFilter*>();

    if (!QDir().mkpath(g_out)) {
        std::fprintf(stderr, "zunpageshot: cannot make %s\n", qPrintable(g_out));
        return 1;
    }

    // The palette and colours a first start writes.
    QApplication::setPalette(ZunStartup::paletteFor(QColor(), QColor()));
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    settings.setValue(QStringLiteral("verboseLevel"), 0);
    settings.setValue(QStringLiteral("ColorLevelMeter"), QColor(Qt::green));
    settings.setValue(QStringLiteral("ColorGainReductionMeter"), QColor(Qt::red));
    settings.setValue(QStringLiteral("ColorButtonActive"), QColor(Qt::red));
    settings.setValue(QStringLiteral("ColorButtonInactive"), QColor(Qt::green));
    settings.sync();

    g_page = firstOpenPage();
    if (g_page.isEmpty())
        return 1;
    if (pages.contains(QStringLiteral("system"))) {
        shootSystem(QStringLiteral("one"), OneBoard,
                    {{"analog-2x1to4", "10000000000011111111000000100000"},
                     {"ana-4x1to2", "10000000000001100110001010000000"},
                     {"aes-4x1to2-alt", "00100000000001100110010010000000"}});
        shootSystem(QStringLiteral("lab2"), Lab2, {{"analog", "10000000000011111111000000100000"}});
        shootSystem(QStringLiteral("two"), TwoBoards,
                    {{"ana-8x1to1", "10000000000000000000011100000000"},
                     {"drc-4x1to2-alt", "11000000000001100110010010000000"},
                     {"src-2x1to4", "00110000000011111111000000100000"}});
    }
    if (pages.contains(QStringLiteral("gain"))) {
        // routing word 0x21A1 (4x 1->2 with inputs 1 to 4): outputs 1-4 take inputs 1 and 2
        shootGain(QStringLiteral("2in4out"), FourOutputs, 0x21A1);
        shootGain(QStringLiteral("8out"), TwoBoards, 0);
    }
    if (pages.contains(QStringLiteral("limiter")) || pages.contains(QStringLiteral("advanced"))
        || pages.contains(QStringLiteral("wizard")))
        shootFirPages(pages, config.path());
    if (pages.contains(QStringLiteral("wizard")))
        shootWizardRouting(Lab2, QStringLiteral("lab2"));
    if (pages.contains(QStringLiteral("channel")) || pages.contains(QStringLiteral("outputs")))
        shootPlots(pages);
    if (pages.contains(QStringLiteral("forms")))
        shootForms();
    return g_ok ? 0 : 1;
}
