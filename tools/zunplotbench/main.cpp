// Prints the time from an EQ edit to the plots holding the new curves: an input channel with
// 20 EQs feeding the outputs, its channel page on screen and the outputs plot page (every
// output's magnitude and phase) behind it, as a control window has them. One edit is a gain
// change of one EQ and its write; the device object is not
// connected (the write ends in its command buffer). Printed beside it: the same edit with no
// page at all (the recalculation of the channel and its outputs alone), the same edit made
// through the channel page's table (setData on its proxy, as the gain cell's editor does it)
// up to the channel's plot holding the new curve, and that edit with the plot repainted.
// It says which display platform it ran on: the repaint figure counts only under a real
// display, e.g. xvfb-run -a -s "-screen 0 1600x900x24 -nolisten tcp" zunplotbench.
//
// Usage: zunplotbench [repetitions, default 500]

#include "CEQManager.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "PlotWidget.h"
#include "ZunEQModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFModel.h"
#include "ZunInputDlg.h"
#include "ZunBenchArgs.h"
#include "ZunOfflineDevice.h"
#include "ZunOutputPlotDlg.h"

#include <QApplication>
#include <QWindow>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

struct Figures
{
    double median;
    double p99;
    double max;
};

Figures measure(int repetitions, const std::function<void(int)>& edit)
{
    for (int i = 0; i < 20; ++i) // warm up
        edit(i);
    std::vector<double> ms;
    QElapsedTimer timer;
    for (int r = 0; r < repetitions; ++r) {
        timer.start();
        edit(r);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents(); // queued work of the edit, outside the figure
    }
    std::sort(ms.begin(), ms.end());
    const size_t p99 = std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99));
    return {ms[ms.size() / 2], ms[p99], ms.back()};
}

QString line(const char* what, const Figures& f)
{
    return QString("  %1 median %2 ms, p99 %3 ms, max %4 ms\n")
        .arg(QLatin1String(what), -44)
        .arg(f.median, 0, 'f', 3)
        .arg(f.p99, 0, 'f', 3)
        .arg(f.max, 0, 'f', 3);
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = zunBenchArgs(argc, argv,
                                         "Usage: zunplotbench [repetitions 1-100000, default 500]\n"
                                         "The time from an EQ edit to the channel page's and the outputs page's curves\n"
                                         "holding it, with and without the repaint. The repaint counts only under a\n"
                                         "display: xvfb-run -a -s \"-screen 0 1600x900x24 -nolisten tcp\" zunplotbench.\n"
                                         "Without one it runs offscreen and says so.\n",
                                         {{"repetitions", 500, 1, 100000}})[0];
    zunOffscreenWithoutDisplay();
    ZunToolHome home;
    QApplication app(argc, argv);
    home.storeConfigDir();
    qRegisterMetaType<CZunBiquad*>();

    QSharedPointer<CZun> zun = zunOfflineDevice();
    QCoreApplication::processEvents();
    QSharedPointer<CCmdMap> map = zun->GetCmdMap();

    CZunInput* input = nullptr;
    for (const QPointer<CZunInput>& in : zun->GetRoutingManager()->GetInputs())
        if (in && CZunAbstractInOutput::IsValidSlot(in->GetSlot()) && (!input || in->GetOutputs().size() > input->GetOutputs().size()))
            input = in;
    if (!input) {
        QTextStream(stderr) << "zunplotbench: no input channel with EQs\n";
        return 1;
    }
    const quint16 peak = map->getCmdNr("Inf_Sel_Typ_EQ_Peak");
    QList<CZunBiquad*> eqs;
    for (int i = 0; i < 20; ++i) {
        CZunBiquad* b = input->NewEQ();
        b->setType(peak);
        b->setFrequency(float(40.0 * std::pow(1.35, i)));
        b->setGain(float(-6.0 + 0.6 * i));
        b->setQuality(float(0.5 + 0.3 * i));
        b->writeToDevice(false);
        eqs << b;
    }
    CZunBiquad* edited = eqs[10];
    auto edit = [edited](int r) {
        edited->setGain(float(r % 2 ? -3.0 : 3.0));
        edited->writeToDevice(false);
    };

    QTextStream out(stdout);
    const QString platform = QGuiApplication::platformName();
    const QString display = qEnvironmentVariable("DISPLAY");
    out << "display platform: " << platform
        << (platform == QLatin1String("xcb") ? QStringLiteral(" (X display %1)").arg(display)
            : platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")
                ? QStringLiteral(" (no real display: the repaint figure leaves out the display server)")
                : QString())
        << "\n";
    out << "EQ edit to plotted curve (one core, device not connected)\n"
        << "  input " << input->GetName() << " with " << eqs.size() << " EQs, feeding " << input->GetOutputs().size()
        << " of " << zun->GetRoutingManager()->GetOutputs().size() << " outputs; " << repetitions << " edits\n";
    out << line("recalculation alone (no pages):", measure(repetitions, edit));

    ZunEQModel eqModel(zun);
    ZunHOFModel hofModel(zun);
    ZunOutputPlotDlg outputs;
    for (const QPointer<CZunOutput>& o : zun->GetRoutingManager()->GetOutputs())
        outputs.addOutput(o);
    ZunInputDlg page(input);
    page.setEQModel(&eqModel);
    page.setHOFModel(&hofModel);
    page.setPointerCZun(zun);
    page.resize(1200, 700);
    outputs.resize(1200, 700);
    page.show();
    // On a real display the figures start once the window is on screen.
    QElapsedTimer exposed;
    exposed.start();
    while (page.windowHandle() && !page.windowHandle()->isExposed() && exposed.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    out << "  channel page curves " << page.plot()->curves().size() << ", outputs page curves "
        << outputs.plot()->curves().size() << "\n";
    out << line("object edit, curves of both pages updated:", measure(repetitions, edit));

    // As the table makes it: the gain cell's editor sets the value on the page's proxy.
    QAbstractItemModel* table = page.eqTable()->model();
    QModelIndex gainCell;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->index(row, ZunEQModel::ColNr).data().toInt() == edited->getNumber())
            gainCell = table->index(row, ZunEQModel::ColGain);
    CZunPlotCurve* curve = nullptr;
    for (CZunPlotCurve* c : page.plot()->curves())
        curve = c->response() == input && c->domain() == CZunPlotCurve::Magnitude ? c : curve;
    if (!gainCell.isValid() || !curve) {
        QTextStream(stderr) << "zunplotbench: the edited EQ is not on its channel page\n";
        return 1;
    }
    auto tableEdit = [&](int r) {
        if (!table->setData(gainCell, r % 2 ? -3.0 : 3.0, Qt::EditRole))
            QTextStream(stderr) << "zunplotbench: the table refused an edit\n";
    };
    out << line("table edit (setData) to the channel's curve:", measure(repetitions, tableEdit));
    out << line("table edit, curves updated, plot repainted:", measure(repetitions, [&](int r) {
                    tableEdit(r);
                    page.plot()->repaint();
                }));
    // The curve holds the channel's response after the last edit.
    const QVector<double> magnitude = *input->getMagnitude();
    bool holds = int(curve->dataSize()) == magnitude.size();
    for (int i = 0; holds && i < magnitude.size(); ++i)
        holds = curve->sample(size_t(i)).y() == magnitude[i];
    out << "  channel curve holds the edited response: " << (holds ? "yes" : "NO") << "\n";
    out << "  goal: under 16 ms (one 60 Hz frame); for a whole device's recalculation see zunfilterbench\n";
    return 0;
}
