// Screenshots of the response plots: a channel page (Output 1 with EQs and a Linkwitz-Riley
// crossover) and the outputs page, on a device object that is not connected, saved as
// channel-page.png and outputs-page.png in the folder given. Run it on a display, for
// example under Xvfb:
//
//   xvfb-run -s "-screen 0 1280x800x24" build/tools/zunplotshot/zunplotshot /tmp/shots

#include "CEQManager.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "CZunOutput.h"
#include "PlotWidget.h"
#include "ZunEQModel.h"
#include "ZunHOFModel.h"
#include "ZunOutputDlg.h"
#include "ZunOfflineDevice.h"
#include "ZunOutputPlotDlg.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* page, const QString& file)
{
    page->resize(1200, 720);
    page->show();
    settle(300);
    const bool ok = page->grab().save(file);
    QTextStream(ok ? stdout : stderr) << (ok ? "zunplotshot: " : "zunplotshot: cannot write ") << file << "\n";
    page->hide();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    ZunToolHome home;
    QApplication app(argc, argv);
    home.storeConfigDir();
    const QString dir = app.arguments().size() > 1 ? app.arguments()[1] : QStringLiteral(".");
    QDir().mkpath(dir);
    qRegisterMetaType<CZunBiquad*>();
    qRegisterMetaType<CZunHighOrderFilter*>();

    QSharedPointer<CZun> zun = zunOfflineDevice();
    settle(300);
    QSharedPointer<CCmdMap> map = zun->GetCmdMap();

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

    ZunEQModel eqModel(zun);
    ZunHOFModel hofModel(zun);
    ZunOutputDlg page(first);
    page.setEQModel(&eqModel);
    page.setHOFModel(&hofModel);
    page.setPointerCZun(zun);
    ZunOutputPlotDlg outputs;
    outputs.setPointerCZun(zun);
    for (const QPointer<CZunOutput>& o : routing->GetOutputs())
        outputs.addOutput(o);

    const bool ok = save(&page, dir + "/channel-page.png") && save(&outputs, dir + "/outputs-page.png");
    return ok ? 0 : 1;
}
