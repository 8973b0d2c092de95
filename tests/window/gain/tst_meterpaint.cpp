// What the meters and faders of the gain page cost while a status stream runs or the
// operator edits: a value change repaints a meter's pipe or a fader's groove alone,
// nothing behind them, and draws it as a whole paint does; steady values repaint nothing,
// and refreshes faster than the meters' frame show once per frame.
#include "AudioIOStatus.h"
#include "AudioIOStatusServer.h"
#include "CCmdMap.h"
#include "GainMeterFrame.h"
#include "GainMeterLayer.h"
#include "GainWidget.h"
#include "OutputGainLevelWidget.h"
#include "SliderChannelGain.h"
#include "SliderMasterGain.h"
#include "ThermoCoilTemperature.h"
#include "ThermoGainReduction.h"
#include "ThermoOutputLevel.h"
#include "WindowTestRig.h"

#include <QtEndian>
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include <cmath>
#include <functional>

namespace {
// Notes the paint events that reach the watched widgets, and layout requests.
struct PaintLog : QObject
{
    QList<QPair<QObject*, QRect>> paints;
    int layouts = 0;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            paints.append({o, static_cast<QPaintEvent*>(e)->rect()});
        else if (e->type() == QEvent::LayoutRequest)
            ++layouts;
        return false;
    }
    void watch(QWidget* w)
    {
        w->installEventFilter(this);
        for (QWidget* c : w->findChildren<QWidget*>())
            c->installEventFilter(this);
    }
};

// Lets every pending update be painted.
void paintPending()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// A status datagram whose first output level is dB (and the next outputs' of the first
// DSP, one apart each, when more is given).
QByteArray statusDatagram(const CCmdMap& map, double dB, int outputs = 1)
{
    QByteArray d(4 + int(map.getCmdNr("Inf_DSP_StatSize")) * 2, '\0');
    auto put = [&d](int word, quint16 value) {
        const quint16 le = qToLittleEndian(value);
        d.replace(4 + 2 * word, 2, reinterpret_cast<const char*>(&le), 2);
    };
    qToLittleEndian(quint16(map.getCmdNr("ID_TX_Block")), reinterpret_cast<uchar*>(d.data()));
    put(map.getCmdNr("Stat_Status"), quint16(map.getCmdNr("Msg_StatusIdle")));
    for (int o = 0; o < outputs; ++o)
        put(map.getCmdNr(QStringLiteral("Stat_0_LevelOut%1").arg(o).toLatin1().constData()),
            quint16(std::lround(65535.0 * std::pow(10.0, (dB - o) / 20.0))));
    return d;
}
} // namespace

class TestMeterPaint : public QObject
{
    Q_OBJECT

    // Changes the value of a shown widget (in a parent window, over its background) and
    // checks the paints it caused: the widget's part alone, nothing of the window behind
    // it, and what the screen then shows is what a whole paint shows.
    void partAlone(QWidget* widget, const std::function<void()>& change, const std::function<QRect()>& part)
    {
        QWidget* top = widget->window();
        top->show();
        QVERIFY(QTest::qWaitForWindowExposed(top));
        paintPending();
        PaintLog log;
        log.watch(top);
        change();
        QTRY_VERIFY(!log.paints.isEmpty());
        paintPending();
        const QRect r = part();
        for (const auto& p : qAsConst(log.paints))
            QVERIFY2(p.first == widget && r.contains(p.second),
                     qPrintable(QStringLiteral("%1 painted %2,%3 %4x%5 beyond %6,%7 %8x%9")
                                    .arg(p.first->metaObject()->className())
                                    .arg(p.second.x()).arg(p.second.y()).arg(p.second.width()).arg(p.second.height())
                                    .arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
        const QImage shown = top->screen()->grabWindow(top->winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage whole = top->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.copy(widget->geometry()), whole.copy(widget->geometry()));
    }

    // Moves a shown meter (in a parent window, over its background) from one value to
    // another and checks what it repainted: the pixels the move changed at most (nothing
    // for a move of less than a pixel), nothing of the window behind it, and the screen
    // then shows what a whole paint shows.
    template <class Meter>
    void repaintsWhatMoved(bool scale, int height, double from, double to, bool moves)
    {
        QWidget top;
        top.resize(120, height + 40);
        auto* meter = new Meter(&top);
        meter->setGeometry(10, 10, 50, height);
        meter->setScaleShown(scale);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        if (from != ZunMeterThermo::NothingShown)
            QVERIFY(meter->showValue(from, 0.0));
        paintPending();
        auto shown = [meter] { return meter->grab().toImage().convertToFormat(QImage::Format_RGB32); };
        const QImage before = shown();
        PaintLog log;
        log.watch(&top);
        QVERIFY(meter->showValue(to, 0.5));
        if (moves)
            QTRY_VERIFY(!log.paints.isEmpty());
        paintPending();
        const auto paints = log.paints; // before the grab, which paints the whole meter
        const QImage after = shown();
        QRect changed;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                if (before.pixel(x, y) != after.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
        QCOMPARE(!changed.isEmpty(), moves);
        for (const auto& p : paints)
            QVERIFY2(p.first == meter && changed.contains(p.second),
                     qPrintable(QStringLiteral("%1 painted %2,%3 %4x%5 beyond the %6,%7 %8x%9 that changed")
                                    .arg(p.first->metaObject()->className())
                                    .arg(p.second.x()).arg(p.second.y()).arg(p.second.width()).arg(p.second.height())
                                    .arg(changed.x()).arg(changed.y()).arg(changed.width()).arg(changed.height())));
        const QImage screen = top.screen()->grabWindow(top.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(screen.copy(meter->geometry()), after);
    }

    template <class Fader>
    void grooveAlone(const QwtScaleDiv& scale, double value)
    {
        QWidget top;
        top.resize(160, 260);
        auto* fader = new Fader(&top);
        fader->setGainScale(scale, 1.0, 1, 2, 3);
        fader->setScalePosition(QwtSlider::LeadingScale);
        fader->setGeometry(10, 10, fader->sizeHint().width(), 220);
        partAlone(fader, [&] { fader->setValue(value); }, [&] { return fader->groove(); });
        QCOMPARE(fader->value(), value);
    }

private slots:
    void initTestCase() { registerWindowMetaTypes(); }

    void aMeterRepaintsWhatMoved()
    {
        constexpr double First = ZunMeterThermo::NothingShown;
        repaintsWhatMoved<ThermoOutputLevel>(true, 180, First, -20.0, true);
        repaintsWhatMoved<ThermoOutputLevel>(false, 180, First, -6.0, true);
        repaintsWhatMoved<ThermoGainReduction>(true, 180, First, 5.0, true);
        repaintsWhatMoved<ThermoCoilTemperature>(false, 180, First, 60.0, true);
        // A move repaints the band between the two edges, not the whole pipe.
        repaintsWhatMoved<ThermoOutputLevel>(true, 180, -20.0, -12.0, true);
        repaintsWhatMoved<ThermoOutputLevel>(false, 180, -6.0, -30.0, true);
        repaintsWhatMoved<ThermoGainReduction>(true, 180, 5.0, 2.0, true);
        // A coil meter as short as the page's: a step of its threshold can stay within a pixel.
        repaintsWhatMoved<ThermoCoilTemperature>(false, 50, 62.0, 63.2, false);
        repaintsWhatMoved<ThermoCoilTemperature>(false, 50, 62.0, 70.0, true);
    }

    void aFaderMoveRepaintsTheGrooveAlone()
    {
        grooveAlone<SliderChannelGain>(GainStripScales::channelGain(-18.0, 6.0), -7.5);
        grooveAlone<SliderChannelGain>(GainStripScales::channelGain(-80.0, 12.0, 8), 3.0);
        grooveAlone<SliderMasterGain>(GainStripScales::masterGain(-96.0, 0.0), -40.0);
    }

    void steadyValuesRepaintNothing()
    {
        OutputGainLevelWidget strip;
        strip.drawLevelScale(true);
        strip.drawGainReductionScale(true);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        auto feed = [&strip] {
            strip.setLevel(-12.0);
            strip.setGainReduction(3.0);
            strip.setCoilTemperature(50.0);
            strip.switchPeakLED(true);
            strip.switchThermoLED(true);
        };
        feed();
        paintPending();
        QVERIFY(strip.isPeakLEDOn() && strip.isThermoLEDOn());
        PaintLog log;
        log.watch(&strip);
        for (int i = 0; i < 5; ++i) {
            feed();
            paintPending();
        }
        QCOMPARE(log.paints.size(), 0);
        QCOMPARE(log.layouts, 0);
        strip.switchThermoLED(false);
        QVERIFY(!strip.isThermoLEDOn());
        QTRY_VERIFY(!log.paints.isEmpty());
    }

    // A frame's moved meters are one paint of the page's meter layer, and what the screen
    // shows of every meter is the meter's own whole paint, also after the strips were laid
    // out anew (the page resized, a scale shown) and the strips built again.
    void aPageRepaintsItsMetersInOnePaint()
    {
        WindowTestRig rig;
        const QSharedPointer<CZun> zun = rig.addDevice(46);
        const QSharedPointer<AudioIOStatus> status = rig.statusServer()->getStatus(46);
        const CCmdMap& map = *zun->GetCmdMap();
        QWidget top;
        auto* page = new GainWidget(1, zun, status, &top);
        page->UpdateGui();
        page->resize(900, 560);
        top.resize(960, 600);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        page->on_connect();
        page->meterFrame()->setInterval(3600 * 1000);
        auto frame = [&](double dB) {
            page->meterFrame()->stop();
            QVERIFY(status->refresh(statusDatagram(map, dB, 4)));
            paintPending();
        };
        // The first meter (class, strip, place) whose pixels on the screen differ from its
        // own whole paint; none: empty.
        auto meterShownUnlikeItsOwnPaint = [&]() -> QString {
            QList<QPair<ZunMeterThermo*, QImage>> own;
            for (ZunMeterThermo* meter : page->findChildren<ZunMeterThermo*>())
                own.append({meter, meter->grab().toImage().convertToFormat(QImage::Format_RGB32)});
            paintPending(); // what the grabs laid out anew is on the screen too
            const QImage screen = top.screen()->grabWindow(top.winId()).toImage().convertToFormat(QImage::Format_RGB32);
            for (const auto& m : own) {
                const QRect at(m.first->mapTo(&top, QPoint(0, 0)), m.first->size());
                if (screen.copy(at) != m.second)
                    return QStringLiteral("%1 of %2 at %3,%4")
                        .arg(m.first->metaObject()->className(),
                             m.first->parentWidget()->findChild<QLabel*>()->text())
                        .arg(at.x())
                        .arg(at.y());
            }
            return QString();
        };
        frame(-30.0);
        QString unlike = meterShownUnlikeItsOwnPaint();
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));

        PaintLog log;
        log.watch(&top);
        frame(-12.0);
        // Of the meters and the layer (a spin box's cursor may blink meanwhile).
        QList<QObject*> painted;
        for (const auto& p : qAsConst(log.paints))
            if (qobject_cast<GainMeterLayer*>(p.first) || qobject_cast<QwtThermo*>(p.first))
                painted << p.first;
        QCOMPARE(painted, QList<QObject*>({page->findChild<GainMeterLayer*>()}));
        unlike = meterShownUnlikeItsOwnPaint();
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));

        page->resize(700, 500);
        page->outputStrip(ZunC::Output1)->drawLevelScale(false);
        paintPending();
        frame(-40.0);
        unlike = meterShownUnlikeItsOwnPaint();
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));

        page->setMode(2); // built again: new strips, new meters, the inputs' too
        page->UpdateGui();
        paintPending();
        frame(-6.0);
        unlike = meterShownUnlikeItsOwnPaint();
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));

        // A new look reaches the pipes the layer paints.
        QPalette look = page->palette();
        look.setColor(QPalette::Base, Qt::yellow);
        page->setPalette(look);
        paintPending();
        frame(-20.0);
        unlike = meterShownUnlikeItsOwnPaint();
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));
    }

    void refreshesShowOncePerFrame()
    {
        WindowTestRig rig;
        const QSharedPointer<CZun> zun = rig.addDevice(46);
        const QSharedPointer<AudioIOStatus> status = rig.statusServer()->getStatus(46);
        const CCmdMap& map = *zun->GetCmdMap();
        GainWidget page(1, zun, status);
        page.UpdateGui();
        page.show();
        page.on_connect();
        ThermoOutputLevel* meter = page.outputStrip(ZunC::Output0)->levelMeter();
        page.meterFrame()->setInterval(3600 * 1000); // the frame ends when the test says so
        auto frameEnds = [&page] {
            page.meterFrame()->stop();
            QMetaObject::invokeMethod(page.meterFrame(), "timeout");
        };

        // The first refresh shows at once and opens a frame.
        QVERIFY(status->refresh(statusDatagram(map, -10.0)));
        QCOMPARE(meter->value(), -10.0);
        QVERIFY(page.meterFrame()->isActive());
        // Within it the loudest one waits for the frame's end.
        QVERIFY(status->refresh(statusDatagram(map, -20.0)));
        QVERIFY(status->refresh(statusDatagram(map, -30.0)));
        QCOMPARE(meter->value(), -10.0);
        frameEnds();
        QCOMPARE(meter->value(), -20.0);
        // A frame without refreshes shows nothing and is the last.
        frameEnds();
        QVERIFY(!page.meterFrame()->isActive());
        QVERIFY(status->refresh(statusDatagram(map, -6.0)));
        QCOMPARE(meter->value(), -6.0);
        // The batch that comes as its frame ends shows at once and opens the next frame,
        // before the frame's timer wakes the page for it.
        page.meterFrame()->start(GainMeterFrame::EndMs);
        QVERIFY(status->refresh(statusDatagram(map, -12.0)));
        QCOMPARE(meter->value(), -12.0);
        QVERIFY(page.meterFrame()->isActive());
        page.meterFrame()->setInterval(3600 * 1000);
        QVERIFY(status->refresh(statusDatagram(map, -6.0)));
        QCOMPARE(meter->value(), -12.0);
        frameEnds();
        QCOMPARE(meter->value(), -6.0);
        // A page that is not shown (another tab is): refreshes pass it, no frame wakes it;
        // shown again, it shows the record at once.
        frameEnds();
        page.hide();
        QVERIFY(status->refresh(statusDatagram(map, -24.0)));
        QVERIFY(!page.meterFrame()->isActive());
        QCOMPARE(meter->value(), -6.0);
        page.show();
        QCOMPARE(meter->value(), -24.0);
        // Disconnected: nothing more reaches the meters, nothing waits.
        QVERIFY(status->refresh(statusDatagram(map, -18.0)));
        QVERIFY(status->refresh(statusDatagram(map, -40.0)));
        page.on_disconnect();
        QVERIFY(!page.meterFrame()->isActive());
        QVERIFY(status->refresh(statusDatagram(map, -42.0)));
        QCOMPARE(meter->value(), -18.0);
    }
};

QTEST_MAIN(TestMeterPaint)
#include "tst_meterpaint.moc"
