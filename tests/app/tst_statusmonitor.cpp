// The status monitor and its tiles (offscreen): placement, status requests, indicators
// from status datagrams, the master-mute button, dragging, the identification blink.
#include "AudioIOStatus.h"
#include "CCmdMap.h"
#include "CZunStatusMonitorDialog.h"
#include "GainWidget.h"
#include "MainWindow.h"
#include "ZunDeviceStats.h"
#include "ZunStatusDisplay.h"
#include "ZunStatusProxyWidget.h"
#include "OutputGainLevelWidget.h"
#include "ThermoOutputLevel.h"
#include "WindowTestRig.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

namespace {
// Sources per slot 1 2 1 2 3 4 3 4; outputs 0-7 fed by 1 2 1 2 3 4 3 4 (routing preset 4).
const quint16 Routing41 = 0x21A1;
const quint16 EightOutputs = 0x0F80;

QSharedPointer<CCmdMap> mapOf(quint16 version)
{
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(version);
    return map;
}

QSharedPointer<ZunDeviceStats> record(quint16 serial, quint16 hardware = EightOutputs, quint16 routing = Routing41)
{
    auto stats = QSharedPointer<ZunDeviceStats>::create(CMacAddr(0x5A756E000000ull | serial));
    stats->setName(QStringLiteral("Tile %1").arg(serial));
    stats->setFirmware(1080);
    stats->setHardwareInfo(CZunHardwareInfo(hardware));
    stats->setRouting(routing, 0);
    stats->setLive(true);
    return stats;
}

// A status datagram of the map's layout with the named words set.
QByteArray datagram(const QSharedPointer<CCmdMap>& map, const QList<QPair<QString, quint16>>& words)
{
    QByteArray d(4 + map->getCmdNr("Inf_DSP_StatSize"), '\0');
    auto put = [&](int index, quint16 v) { qToLittleEndian<quint16>(v, reinterpret_cast<uchar*>(d.data() + 4 + 2 * index)); };
    qToLittleEndian<quint16>(0xFF04, reinterpret_cast<uchar*>(d.data()));
    put(map->getCmdNr("Stat_Status"), quint16(map->getCmdNr("Msg_StatusIdle")));
    for (const auto& w : words)
        put(map->getCmdNr(w.first), w.second);
    return d;
}

QColor textColor(QLabel* label)
{
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}
} // namespace

class TstStatusMonitor : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QSharedPointer<CCmdMap> m_map = mapOf(1080);

    QSharedPointer<AudioIOStatus> audioFor(const QSharedPointer<ZunDeviceStats>& stats)
    {
        auto audio = QSharedPointer<AudioIOStatus>::create(m_map);
        audio->SetRouting(stats->routingWord());
        return audio;
    }

private slots:
    // Placing a monitor (or control window) from stored geometry: a position off the
    // primary screen keeps the default place but the size is still taken; an absent
    // position moves to (0, 0); an absent, invalid or 0 x 0 size leaves the size.
    void storedGeometryPlacement_data()
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<QVariant>("pos");
        QTest::addColumn<QPoint>("expectedPos");
        QTest::addColumn<QSize>("expectedSize");
        const QPoint start(5, 7);
        const QSize own(150, 120);
        QTest::newRow("both stored") << QVariant(QSize(210, 180)) << QVariant(QPoint(20, 30)) << QPoint(20, 30)
                                     << QSize(210, 180);
        QTest::newRow("off screen") << QVariant(QSize(210, 180)) << QVariant(screen.bottomRight() + QPoint(1, 1))
                                    << start << QSize(210, 180);
        QTest::newRow("on the edge") << QVariant(QSize(210, 180)) << QVariant(screen.bottomRight())
                                     << screen.bottomRight() << QSize(210, 180);
        QTest::newRow("nothing stored") << QVariant() << QVariant() << QPoint(0, 0) << own;
        QTest::newRow("0 x 0") << QVariant(QSize(0, 0)) << QVariant(QPoint(10, 10)) << QPoint(10, 10) << own;
        QTest::newRow("negative") << QVariant(QSize(-5, 40)) << QVariant(QPoint(10, 10)) << QPoint(10, 10) << own;
    }
    void storedGeometryPlacement()
    {
        QFETCH(QVariant, size);
        QFETCH(QVariant, pos);
        QFETCH(QPoint, expectedPos);
        QFETCH(QSize, expectedSize);
        QMdiArea area;
        area.resize(800, 600);
        QMdiSubWindow* sub = area.addSubWindow(new QWidget);
        sub->resize(150, 120);
        sub->move(5, 7);
        MainWindow::placeSubWindow(sub, size, pos);
        QCOMPARE(sub->pos(), expectedPos);
        QCOMPARE(sub->size(), expectedSize);
    }

    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        s.setValue("ColorButtonActive", QColor("red"));
        s.setValue("ColorButtonInactive", QColor("limegreen"));
    }

    // Runs first: the placement counters are the program's own and only move on.
    void tilesFillColumnsOfFiveAndRequestsFollowTheList()
    {
        CZunStatusMonitorDialog monitor;
        QCOMPARE(monitor.windowTitle(), QString("Status Monitor"));
        // Small tiles (four outputs) and wide ones (eight): columns from (3, 3) downwards,
        // at least 117 apart, a new column once the next place would be below 500; no two
        // tiles overlap, whatever their size.
        QList<quint16> serials;
        for (quint16 s = 1; s <= 12; ++s) {
            const auto stats = record(s, s % 3 ? 0x0F04 : EightOutputs);
            monitor.addStatusWindow(stats, audioFor(stats));
            serials << s;
        }
        QCOMPARE(monitor.proxyOf(1)->pos(), QPointF(3, 3));
        QRectF column;
        int columns = 1;
        for (int i = 1; i < serials.size(); ++i) {
            const QRectF prev = monitor.proxyOf(serials[i - 1])->sceneBoundingRect();
            const QRectF cur = monitor.proxyOf(serials[i])->sceneBoundingRect();
            column = column.united(prev);
            if (cur.x() == prev.x()) {
                QVERIFY(cur.y() >= prev.y() + 117 && cur.y() > prev.bottom());
                QVERIFY(cur.y() <= 500);
            } else {
                ++columns;
                QCOMPARE(cur.y(), 3.0);
                QVERIFY(cur.x() >= prev.x() + 215 && cur.x() > column.right());
                column = QRectF();
            }
            for (int j = 0; j < i; ++j)
                QVERIFY(!monitor.proxyOf(serials[j])->sceneBoundingRect().intersects(cur));
        }
        QVERIFY(columns >= 3);

        // A second tile for serial 2: placed next, the first stays, the newer one answers.
        ZunStatusDisplay* first = monitor.getStatusDisplay(2);
        const auto again = record(2, 0x0F04);
        monitor.addStatusWindow(again, audioFor(again));
        QVERIFY(monitor.getStatusDisplay(2) != first);
        QVERIFY(first->graphicsProxyWidget()->scene() == monitor.scene());
        QVERIFY(monitor.scene()->sceneRect().contains(monitor.proxyOf(2)->sceneBoundingRect()));
        QVERIFY(!monitor.getStatusDisplay(99));
        monitor.animate(99); // unknown: nothing

        QSignalSpy asked(&monitor, &CZunStatusMonitorDialog::signal_statusTxTimeOut);
        monitor.triggerStatusTx();
        QCOMPARE(asked.size(), 1); // one call for all: the discovery thread wakes once
        const auto all = asked[0][0].value<QList<quint16>>();
        QCOMPARE(all.size(), 13);
        QCOMPARE(all[1], quint16(2));
        QCOMPARE(all[12], quint16(2));
        QCOMPARE(asked[0][1].toInt(), 100);

        // The timer runs exactly while the monitor is shown.
        QVERIFY(!monitor.isStatusTimerActive());
        monitor.show();
        QVERIFY(monitor.isStatusTimerActive());
        monitor.hide();
        QVERIFY(!monitor.isStatusTimerActive());
    }

    void columnsFollowTheRouting()
    {
        const auto stats = record(7);
        ZunStatusDisplay tile(stats, audioFor(stats));
        QCOMPARE(tile.titleLabel()->text(), QString("Zun 7 : Tile 7"));
        QCOMPARE(tile.outputs(), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        // Each source once, in order of first use.
        QCOMPARE(tile.inputs().size(), 4);
        QVERIFY(tile.indicator(false, "LCK", tile.inputs()[0]));
        QVERIFY(tile.indicator(true, "TEM", 7));
        QVERIFY(!tile.indicator(true, "TEM", 8));
        QCOMPARE(textColor(tile.indicator(true, "SIG", 0)), QColor(0, 30, 0));
        QCOMPARE(textColor(tile.indicator(true, "MUT", 0)), QColor(30, 0, 0));
        QStringList heads;
        for (QLabel* l : tile.findChildren<QLabel*>())
            if (l->text().startsWith("In ") || l->text().startsWith("Out "))
                heads << l->text();
        QCOMPARE(heads.size(), 12);
        QVERIFY(heads.contains("In 4") && heads.contains("Out 8") && !heads.contains("In 5"));

        // Fonts one point above the processors' own displays and four pixels between the
        // columns (docs/app.md): every head and the button's text are shown whole, and no
        // two column heads touch.
        QCOMPARE(tile.font().pointSize(), 7);
        QCOMPARE(tile.titleLabel()->font().pointSize(), 8);
        tile.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tile));
        QList<QRect> headRects;
        for (QLabel* l : tile.findChildren<QLabel*>()) {
            QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()), qPrintable(l->text()));
            if (l->text().startsWith("In ") || l->text().startsWith("Out "))
                headRects << l->geometry();
        }
        for (int i = 0; i < headRects.size(); ++i)
            for (int j = i + 1; j < headRects.size(); ++j)
                QVERIFY(!headRects[i].adjusted(-1, 0, 1, 0).intersects(headRects[j]));
        QPushButton* button = tile.masterMuteButton();
        QVERIFY(button->width() >= button->fontMetrics().horizontalAdvance(button->text()));

        // A routing change of another processor leaves the tile; its own rebuilds it.
        auto other = record(8);
        other->setRouting(0, 0);
        tile.onRoutingChanged(other);
        QCOMPARE(tile.inputs().size(), 4);

        // Four outputs: only as many output columns.
        const auto small = record(9, 0x0F04);
        ZunStatusDisplay four(small, audioFor(small));
        QCOMPARE(four.outputs().size(), 4);
    }

    void indicatorsFollowTheStatus()
    {
        const auto stats = record(10);
        const auto audio = audioFor(stats);
        ZunStatusDisplay tile(stats, audio);
        const int in = tile.inputs()[0];
        QVERIFY(audio->refresh(datagram(m_map, {{"Stat_0_LevelOut0", 21}, {"Stat_0_LevelOut1", 23},
                                                {"Stat_0_LimStat", 1 << 2}, {"Stat_1_LimStat", 1 << 5},
                                                {"Stat_Mute", 1 << (8 + 3)}})));
        // -70 dB is not a signal, -69 dB is.
        QVERIFY(!tile.indicatorState(true, "SIG", 0));
        QVERIFY(tile.indicatorState(true, "SIG", 1));
        QCOMPARE(textColor(tile.indicator(true, "SIG", 1)), QColor(0, 255, 0));
        QVERIFY(tile.indicatorState(true, "LIM", 2));
        QCOMPARE(textColor(tile.indicator(true, "LIM", 2)), QColor(255, 0, 0));
        QVERIFY(tile.indicatorState(true, "TEM", 5));
        QVERIFY(tile.indicatorState(true, "MUT", 3));
        QVERIFY(!tile.indicatorState(true, "MUT", 0));
        QVERIFY(!tile.indicatorState(false, "MUT", in));
        QVERIFY(!tile.masterMuteButton()->isChecked());
        QVERIFY(audio->refresh(datagram(m_map, {})));
        QVERIFY(!tile.indicatorState(true, "SIG", 1));
        QCOMPARE(textColor(tile.indicator(true, "SIG", 1)), QColor(0, 30, 0));
    }

    // A master mute lights the MUT of what it mutes; the button follows the record's flag
    // without a request. The records as a processor sends them: the flag is DSP 1's master
    // mute, and each output's mute bit carries its own DSP's.
    // Mended: DSP 1's master mute lit every MUT of a two-board processor while Out5-8 played.
    void aMasterMuteLightsWhatItMutes_data()
    {
        QTest::addColumn<quint16>("hardware");
        QTest::addColumn<int>("status2");
        QTest::addColumn<int>("muteWord");
        QTest::addColumn<QList<int>>("mutedOutputs");
        QTest::addColumn<QList<int>>("mutedInputs"); // positions in the tile's inputs
        QTest::newRow("two boards, DSP 1's") << EightOutputs << 0x0004 << 0x0F00 << QList<int>{0, 1, 2, 3} << QList<int>{0, 1};
        QTest::newRow("two boards, DSP 2's") << EightOutputs << 0 << 0xF000 << QList<int>{4, 5, 6, 7} << QList<int>{};
        QTest::newRow("one board") << quint16(0x0F04) << 0x0004 << 0 << QList<int>{0, 1, 2, 3} << QList<int>{0, 1};
    }
    void aMasterMuteLightsWhatItMutes()
    {
        QFETCH(quint16, hardware);
        QFETCH(int, status2);
        QFETCH(int, muteWord);
        QFETCH(QList<int>, mutedOutputs);
        QFETCH(QList<int>, mutedInputs);
        const auto stats = record(11, hardware);
        const auto audio = audioFor(stats);
        ZunStatusDisplay tile(stats, audio);
        QSignalSpy mute(&tile, &ZunStatusDisplay::masterMuteTriggered);
        QVERIFY(audio->refresh(datagram(m_map, {{"Stat_Status2", quint16(status2)}, {"Stat_Mute", quint16(muteWord)}})));
        QCOMPARE(tile.masterMuteButton()->isChecked(), status2 != 0);
        for (int o : tile.outputs())
            QVERIFY2(tile.indicatorState(true, "MUT", o) == mutedOutputs.contains(o), qPrintable(QString::number(o)));
        for (int i = 0; i < tile.inputs().size(); ++i)
            QVERIFY2(tile.indicatorState(false, "MUT", tile.inputs()[i]) == mutedInputs.contains(i), qPrintable(QString::number(i)));
        QCOMPARE(mute.size(), 0);
    }

    // An event of one datagram anywhere in a batch shows on the tile after the batch, and
    // anywhere in a gain-page frame at the frame's end; a quiet batch or frame after it
    // shows it no more.
    void aOneDatagramEventIsShown_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("kind"); // the tile's indicator
        QTest::addColumn<int>("key");      // output, or -1 for the first input
        QTest::addColumn<QString>("gain"); // what the gain page's strip shows
        QTest::newRow("limit, first of two") << "Stat_0_LimStat" << 1 << 0 << 2 << "LIM" << 0 << "peak";
        QTest::newRow("thermal, middle of three") << "Stat_1_LimStat" << (1 << 5) << 1 << 3 << "TEM" << 5 << "thermal";
        QTest::newRow("output peak, first of two") << "Stat_0_LevelOut2" << 65535 << 0 << 2 << "SIG" << 2 << "level";
        QTest::newRow("input clip, first of two") << "" << 65535 << 0 << 2 << "CLP" << -1 << "";
        // A mute is the processor's state, not an event: the batch's last datagram says it.
        QTest::newRow("output mute, last of three") << "Stat_Mute" << (1 << (8 + 6)) << 2 << 3 << "MUT" << 6 << "";
    }
    void aOneDatagramEventIsShown()
    {
        QFETCH(QString, word);
        QFETCH(int, value);
        QFETCH(int, position);
        QFETCH(int, count);
        QFETCH(QString, kind);
        QFETCH(int, key);
        QFETCH(QString, gain);
        const quint16 serial = 47;
        WindowTestRig rig;
        const QSharedPointer<CZun> zun = rig.addDevice(serial, WindowTestRig::DoubleBoard, WindowTestRig::TwoInputs);
        AudioIOStatusServer* server = rig.statusServer();
        const QSharedPointer<AudioIOStatus> audio = server->getStatus(serial);
        // The monitor's tile, told by the monitor once a batch.
        CZunStatusMonitorDialog monitor;
        monitor.followStatusServer(server);
        monitor.addStatusWindow(record(serial, EightOutputs, WindowTestRig::TwoInputs), audio);
        const ZunStatusDisplay& tile = *monitor.getStatusDisplay(serial);
        const bool output = key >= 0;
        if (!output) {
            key = tile.inputs().first();
            const int slot = audio->GetRouting().FindSlotOfSource(key);
            word = QStringLiteral("Stat_%1_LevelIn%2").arg(slot / 4).arg(slot % 4);
        }
        GainWidget page(1, zun, audio);
        page.UpdateGui();
        page.show(); // a page that is not shown leaves its meters be
        page.on_connect();
        page.meterFrame()->setInterval(3600 * 1000); // the frame ends when the test says so
        auto frameEnds = [&page] {
            page.meterFrame()->stop();
            QMetaObject::invokeMethod(page.meterFrame(), "timeout");
        };
        auto gainShows = [&]() {
            const OutputGainLevelWidget* strip = page.outputStrip(ZunC::AnalogOutputs(key));
            return gain == "peak" ? strip->isPeakLEDOn()
                   : gain == "thermal" ? strip->isThermoLEDOn()
                                       : strip->levelMeter()->value() > -50.0;
        };
        const QByteArray quiet = datagram(audio->GetCmdMap(), {});
        server->setStatusBatch({{serial, quiet}}); // shown at once, opens a frame
        const QByteArray event = datagram(audio->GetCmdMap(), {{word, quint16(value)}});
        ZunStatusBatch batch;
        for (int i = 0; i < count; ++i) {
            const QByteArray& d = i == position ? event : quiet;
            batch.append(serial, d.constData(), d.size());
        }
        server->setStatusBatch(batch);
        QVERIFY(tile.indicatorState(output, kind, key));
        server->setStatusBatch({{serial, quiet}});
        QVERIFY(!tile.indicatorState(output, kind, key));
        delete monitor.proxyOf(serial); // a tile gone: the next batch passes it by
        server->setStatusBatch(batch);
        QVERIFY(!monitor.getStatusDisplay(serial));
        if (gain.isEmpty())
            return;
        frameEnds();
        QVERIFY(gainShows());
        server->setStatusBatch({{serial, quiet}});
        frameEnds();
        QVERIFY(!gainShows());
    }

    void masterMuteButtonAsksOnlyForAChange()
    {
        const auto stats = record(11);
        const auto audio = audioFor(stats);
        ZunStatusDisplay tile(stats, audio);
        tile.show();
        QSignalSpy mute(&tile, &ZunStatusDisplay::masterMuteTriggered);
        QTest::mouseClick(tile.masterMuteButton(), Qt::LeftButton);
        QCOMPARE(mute.size(), 1);
        QCOMPARE(mute[0][0].toUInt(), 11u);
        QCOMPARE(mute[0][1].toBool(), true);
        QVERIFY(tile.masterMuteButton()->isChecked());
        // Not muted yet by the processor: the next status puts the button back.
        audio->refresh(datagram(m_map, {}));
        QVERIFY(!tile.masterMuteButton()->isChecked());
        // Already the processor's state: nothing is sent.
        tile.onButtonMasterMute(false);
        QCOMPARE(mute.size(), 1);

        QSignalSpy conn(&tile, &ZunStatusDisplay::connectionRequest);
        QTest::mouseDClick(&tile, Qt::LeftButton);
        QCOMPARE(conn.size(), 1);
        QCOMPARE(conn[0][0].toUInt(), 11u);

        audio->refresh(datagram(m_map, {{"Stat_0_LevelOut0", 40000}}));
        QVERIFY(tile.indicatorState(true, "SIG", 0));
        stats->setLive(false);
        tile.onNetworkChanged();
        QVERIFY(!tile.isEnabled());
        // Offline: indicators in the disabled text colour, not their live colours.
        const QColor disabled = tile.palette().color(QPalette::Disabled, QPalette::WindowText);
        for (const char* kind : {"SIG", "MUT", "LIM", "TEM"}) {
            QLabel* label = tile.indicator(true, kind, 0);
            QCOMPARE(label->palette().color(QPalette::Disabled, QPalette::WindowText), disabled);
        }
        QVERIFY(disabled != QColor(0, 255, 0));
        // A new name comes with the announce that brings the processor back.
        stats->setLive(true);
        stats->setName(QStringLiteral("Renamed"));
        tile.onNetworkChanged();
        QVERIFY(tile.isEnabled());
        QCOMPARE(tile.titleLabel()->text(), QString("Zun 11 : Renamed"));
    }

    void aPressOnTheButtonClicksItElsewhereItDrags()
    {
        CZunStatusMonitorDialog monitor;
        monitor.resize(600, 500);
        const auto stats = record(13, 0x0F04);
        monitor.addStatusWindow(stats, audioFor(stats));
        monitor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&monitor));
        ZunStatusProxyWidget* proxy = monitor.proxyOf(13);
        ZunStatusDisplay* tile = monitor.getStatusDisplay(13);
        QSignalSpy mute(tile, &ZunStatusDisplay::masterMuteTriggered);
        QWidget* vp = monitor.viewport();
        auto toView = [&](QWidget* w, QPoint p) {
            return monitor.mapFromScene(proxy->mapToScene(QPointF(w->mapTo(tile, p))));
        };

        const QPointF before = proxy->pos();
        const QPoint onButton = toView(tile->masterMuteButton(), tile->masterMuteButton()->rect().center());
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, onButton);
        QMouseEvent move(QEvent::MouseMove, onButton + QPoint(40, 30), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, onButton);
        QCOMPARE(mute.size(), 1);
        QCOMPARE(proxy->pos(), before);

        const QPoint onTitle = toView(tile->titleLabel(), QPoint(2, 2));
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, onTitle);
        QMouseEvent drag(QEvent::MouseMove, onTitle + QPoint(40, 30), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &drag);
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, onTitle + QPoint(40, 30));
        QCOMPARE(mute.size(), 1);
        QCOMPARE(proxy->pos(), before + QPointF(40, 30));
    }

    void tilesStayInTheSceneAndBlinkVisibly()
    {
        CZunStatusMonitorDialog monitor;
        const auto stats = record(12);
        monitor.addStatusWindow(stats, audioFor(stats));
        ZunStatusProxyWidget* proxy = monitor.proxyOf(12);
        const QRectF r = monitor.scene()->sceneRect();
        proxy->setPos(r.right() + 500, r.top() - 40);
        QCOMPARE(proxy->pos(), QPointF(r.right(), r.top()));

        // The scene paints the proxy: the blink fades the proxy item.
        monitor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&monitor));
        monitor.animate(12);
        ZunStatusDisplay* tile = monitor.getStatusDisplay(12);
        QCOMPARE(tile->blinkAnimation()->targetObject(), static_cast<QObject*>(proxy));
        QTRY_VERIFY(proxy->opacity() < 0.5);
        QTRY_COMPARE(tile->blinkAnimation()->state(), QAbstractAnimation::Stopped);
        QCOMPARE(proxy->opacity(), 1.0);
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstStatusMonitor tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_statusmonitor.moc"
