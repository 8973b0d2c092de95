// zunpageshot: pictures of the control window's limiter and advanced tabs against an
// emulated processor on loopback, for the documentation. Run it under Xvfb:
//
//   xvfb-run -s "-screen 0 1280x800x24" build/tools/zunpageshot/zunpageshot OUTDIR
//
// writes OUTDIR/limiter-w.png, limiter-dbu.png, advanced.png and wizard-N.png (one per
// page of the configuration wizard). Settings and files go to
// a temporary home folder, never the user's.
#include "CRoutingLibrary.h"
#include "CZun.h"
#include "CZunConfigWizard.h"
#include "DeviceTestRig.h"
#include "CZunFIRLimManager.h"
#include "CCmdMap.h"
#include "LimiterWidget.h"
#include "TcpSimProcess.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunDeviceStats.h"
#include "ZunLimModel.h"
#include "ZunStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using DeviceTestRig::waitUntil;

namespace
{
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool save(QWidget& w, const QString& file)
{
    w.show();
    settle(300);
    const bool ok = w.grab().save(file);
    std::printf("zunpageshot: %s %s\n", qPrintable(file), ok ? "written" : "NOT written");
    return ok;
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("ZUNSIM", ZUNSIM_PATH);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
    QApplication::setPalette(ZunStartup::paletteFor(QColor(), QColor()));
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    settings.setValue(QStringLiteral("ConfigDir"), home.path());
    settings.setValue(QStringLiteral("ColorButtonActive"), QColor(Qt::red));
    settings.setValue(QStringLiteral("ColorButtonInactive"), QColor(Qt::green));

    TcpSimProcess sim;
    if (!sim.start({"--serial", "42", "--firmware", "1080", "--hardware", "0xFF94"})) {
        std::fprintf(stderr, "zunpageshot: %s\n", qPrintable(sim.error()));
        return 1;
    }
    auto record = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E00002Aull));
    record->setFirmware(1080);
    record->setIpAddress(QHostAddress(QHostAddress::LocalHost));
    record->setName(QStringLiteral("Stage left"));
    record->setHardwareInfo(CZunHardwareInfo(0xFF94));
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(1080);
    QSharedPointer<CZun> zun(new CZun(record, map, QSharedPointer<CRoutingLibrary>::create(map)));
    zun->SetPort(sim.tcpPort());
    zun->connect();
    if (!waitUntil([&]() { return zun->IsFIRManagerReady() && zun->GetActiveFilterIndex(1) != 0; })) {
        std::fprintf(stderr, "zunpageshot: the emulated processor did not come up\n");
        return 1;
    }

    // A second set in the list, and an advanced tab that has seen the status once.
    FilterLimiterEWS set(QString(), 48000.0);
    for (int o = 0; o < 4; ++o) {
        set.setOutput(o, QVector<qint32>(300, 1000 * (o + 1)), 20, o);
        set.setPathFlagByte(o, 1); // thermal and peak limits of its own
    }
    set.SetName(QStringLiteral("Main PA 2x15"));
    set.toFile(home.path(), false);
    ZunAdvancedSettingsWidget advanced(zun);
    advanced.resize(1100, 520);
    advanced.startFIRFilterUpload(QDir(home.path()).filePath(set.makeFileName()));
    waitUntil([&]() { return zun->GetFIRLimManager()->filterCount() == 2 && advanced.cursor().shape() != Qt::WaitCursor; });
    const quint32 key = set.computeKey();
    zun->CheckFIRFilterResources(key, 0);
    zun->InvokeActivateFIRFilter(key, ZunC::NoCopies, key, ZunC::NoCopies);
    waitUntil([&]() { return zun->GetActiveFilterIndex(1) == key && zun->GetActiveFilterIndex(2) == key; });
    settle(500);
    advanced.UpdateGui();
    emit zun->signal_Connected();
    settle(300);

    LimiterWidget limiter(zun);
    limiter.resize(1000, 400);
    QMetaObject::invokeMethod(zun->GetFIRLimManager(), "on_ZunStatusChanged", Qt::QueuedConnection);
    waitUntil([&]() { return limiter.model()->setOfColumn(0) && limiter.model()->setOfColumn(4); });
    // One threshold above the processor's maximum, to show the warning colour.
    limiter.model()->setData(limiter.model()->index(ZunLimModel::RowPeak, 5), 4000.0);
    limiter.model()->setData(limiter.model()->index(ZunLimModel::RowGain, 6), 32.0);
    bool ok = save(limiter, QDir(out).filePath(QStringLiteral("limiter-w.png")));
    limiter.unitCombo()->setCurrentIndex(1);
    limiter.referenceCombo()->setCurrentIndex(1);
    settle(200);
    ok = save(limiter, QDir(out).filePath(QStringLiteral("limiter-dbu.png"))) && ok;
    ok = save(advanced, QDir(out).filePath(QStringLiteral("advanced.png"))) && ok;

    // The wizard on every page it shows in advanced mode, with the FIR crossover chosen.
    CZunConfigWizard wizard(zun);
    wizard.show();
    wizard.restart();
    for (int page = 0; page < 6; ++page) {
        if (wizard.currentId() == CZunConfigWizard::XOver)
            wizard.setField(QStringLiteral("XOverSelect"), 1);
        if (wizard.currentId() == CZunConfigWizard::FullRouting)
            wizard.setField(QStringLiteral("AdvancedMode"), true);
        ok = save(wizard, QDir(out).filePath(QStringLiteral("wizard-%1.png").arg(page))) && ok;
        if (wizard.nextId() == -1)
            break;
        wizard.next();
    }
    zun->disconnect();
    return ok ? 0 : 1;
}
