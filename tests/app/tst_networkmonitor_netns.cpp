// The network monitor end to end: emulated processors as hosts of a private network (see
// ZunNetnsRig.h), the monitor with its own discovery thread broadcasting among them.
// Needs root; skips otherwise.
#include "CCmdMap.h"
#include "CZunNetwork.h"
#include "CZunNetworkScanDlg.h"
#include "ZunDeviceStatsModel.h"
#include "ZunDeviceStatsProxyModel.h"
#include "ZunNetnsRig.h"
#include "ZunStallProbe.h"
#include "ZunNetworkTableView.h"
#include "ZunProtocolMetaTypes.h"
#include "ZunUdpDatagram.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

namespace {
struct Proc
{
    quint16 serial;
    QString name;
    int firmware;
    bool broadcast;
    QString hardware;
};
const QList<Proc> Procs {
    {0x0101, QStringLiteral("Alpha"), 1080, true, QStringLiteral("0x0F80")}, // two DSPs
    {0x0102, QStringLiteral("Beta"), 1077, true, QStringLiteral("0")},
    {0x0103, QStringLiteral("Old"), 1076, false, QStringLiteral("0")},
};

QSettings* userSettings()
{
    return new QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
}
} // namespace

class TstNetworkMonitorNetns : public QObject
{
    Q_OBJECT

    ZunStallProbe m_stalls;
    ZunNetnsRig m_rig;
    QTemporaryDir m_settingsDir;
    QMdiArea* m_area = nullptr;
    CZunNetworkScanDlg* m_monitor = nullptr;
    QMdiSubWindow* m_sub = nullptr;
    QHash<quint16, QList<QByteArray>> m_status;
    int m_statusWord = 1;
    int m_status2Word = 2;
    int m_muteWord = 3;

    CZunNetwork* net() const { return m_monitor->network(); }

    // Status datagrams of a 100 ms stream from each processor (at least `count` each).
    QHash<quint16, QList<QByteArray>> streams(const QList<quint16>& serials, int count = 5)
    {
        m_status.clear();
        for (quint16 s : serials)
            QMetaObject::invokeMethod(net(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, s), Q_ARG(int, 100));
        const bool all = QTest::qWaitFor(
            [&] {
                for (quint16 s : serials)
                    if (m_status.value(s).size() < count)
                        return false;
                return true;
            },
            8000);
        if (!all)
            qWarning("not every processor streamed its status");
        return m_status;
    }

    bool masterMuted(const QByteArray& d) const { return ZunUdpDatagram::word(d, 4 + 2 * m_status2Word) & 0x0004; }
    // Outputs 1-8 muted, as the processor reports them.
    quint8 outputsMuted(const QByteArray& d) const { return quint8(ZunUdpDatagram::word(d, 4 + 2 * m_muteWord) >> 8); }

    int rowOf(quint16 serial) const
    {
        for (int r = 0; r < m_monitor->proxy()->rowCount(); ++r)
            if (m_monitor->proxy()->data(m_monitor->proxy()->index(r, 0)).toInt() == serial)
                return r;
        return -1;
    }

private slots:
    void initTestCase()
    {
        if (!ZunNetnsRig::privateNetnsReady())
            QSKIP(qPrintable(ZunNetnsRig::notReadyReason()));
        QStandardPaths::setTestModeEnabled(true);
        // A store of this test's own: the tests of this folder run in parallel.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        registerProtocolMetaTypes();
        registerDiscoveryMetaTypes();
        {
            std::unique_ptr<QSettings> s(userSettings());
            s->clear();
            s->setValue("UserMode", "Developer");
            s->setValue("ColorButtonActive", QColor("red"));
            s->setValue("ColorButtonInactive", QColor("limegreen"));
        }
        CCmdMap map;
        map.setVersion(1080);
        m_statusWord = map.getCmdNr("Stat_Status");
        m_status2Word = map.getCmdNr("Stat_Status2");
        m_muteWord = map.getCmdNr("Stat_Mute");

        QString why;
        QVERIFY2(m_rig.setUp(&why), qPrintable(why));
        for (const Proc& p : Procs) {
            QStringList opts {"--name", p.name, "--firmware", QString::number(p.firmware), "--hardware", p.hardware};
            if (!p.broadcast)
                opts << "--no-broadcast-answer";
            QVERIFY2(m_rig.startSim(p.serial, opts, &why), qPrintable(why));
        }

        // As the main window places it: a sub-window of the multi-document area.
        m_area = new QMdiArea;
        m_area->resize(900, 600);
        m_monitor = new CZunNetworkScanDlg(m_area);
        m_sub = m_area->addSubWindow(m_monitor, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
        m_sub->resize(640, 360);
        m_sub->move(12, 34);
        m_area->show();
        m_monitor->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_area));
        connect(net(), &CZunNetwork::zunStatusBatchReceived, this, [this](ZunStatusBatch batch) {
            for (const ZunStatusDatagram& d : qAsConst(batch))
                m_status[d.serial] << d.bytes;
        });
        // What the main window connects (queued: the discovery object lives in its thread).
        connect(m_monitor->tableView(), &ZunNetworkTableView::requestSendUdpCommand, net(), &CZunNetwork::sendUdpCmd,
                Qt::QueuedConnection);
        // Every function starts with the answering processors listed, so that each runs by
        // itself too; broadcasting starts on the first pass of the event loop.
        QTRY_COMPARE_WITH_TIMEOUT(m_monitor->proxy()->rowCount(), 2, CZunNetwork::TickMs + 3000);
    }

    // Every operation these tests start is measured for how long it keeps the GUI thread
    // from its event loop; the figures are printed at the end.
    void init() { m_stalls.start(); }
    void cleanup() { m_stalls.record(QTest::currentTestFunction()); }

    void cleanupTestCase()
    {
        qInfo().noquote() << m_stalls.report();
        delete m_area; // the monitor ends its discovery thread
        m_rig.tearDown();
        std::unique_ptr<QSettings>(userSettings())->clear();
    }

    void listsTheAnsweringProcessors()
    {
        QCOMPARE(m_monitor->windowTitle(), QString("Network Monitor"));
        // Broadcasting starts on the first pass of the event loop; one ping is enough.
        QTRY_COMPARE_WITH_TIMEOUT(m_monitor->proxy()->rowCount(), 2, CZunNetwork::TickMs + 3000);
        QCOMPARE(m_monitor->statusLabel()->text(), QString("Finished"));
        auto* p = m_monitor->proxy();
        QCOMPARE(p->data(p->index(0, 0)).toInt(), 0x0101);
        QCOMPARE(p->data(p->index(0, 1)).toString(), m_rig.sim(0x0101)->address.toString());
        QCOMPARE(p->data(p->index(0, 2)).toString(), QString("Alpha"));
        QCOMPARE(p->data(p->index(0, 3)).toString(), QString("1080.0"));
        QCOMPARE(p->data(p->index(0, 4)).toString(), QString("yes"));
        QCOMPARE(p->data(p->index(1, 2)).toString(), QString("Beta"));
        QVERIFY(m_monitor->tableView()->minimumWidth() >= 585);
        // Every text fits its column, "not locked" included.
        auto* view = m_monitor->tableView();
        const QFontMetrics fm(view->font());
        for (int c = 0; c < p->columnCount(); ++c) {
            for (int r = 0; r < p->rowCount(); ++r) {
                const QString text = p->data(p->index(r, c)).toString();
                QVERIFY2(fm.horizontalAdvance(text) < view->columnWidth(c), qPrintable(text));
            }
        }
    }

    // A second program's monitor beside this one's: it says plainly that it listens on a
    // port of its own, and lists the processors too; this one says nothing of the kind.
    void aSecondProgramSaysWhereItListens()
    {
        QMdiArea area;
        auto* second = new CZunNetworkScanDlg(&area);
        area.addSubWindow(second);
        area.show();
        QTRY_VERIFY_WITH_TIMEOUT(second->portNote()->isVisible(), 5000);
        QVERIFY2(second->portNote()->text().contains("holds UDP port 1234"), qPrintable(second->portNote()->text()));
        QTRY_COMPARE_WITH_TIMEOUT(second->proxy()->rowCount(), 2, CZunNetwork::TickMs + 3000);
        QCOMPARE(second->proxy()->data(second->proxy()->index(0, 4)).toString(), QString("yes"));
        QVERIFY(!m_monitor->portNote()->isVisible());
    }

    void clickIdentifiesAndDoubleClickConnectsTheShownRow()
    {
        // Sorted by name, descending: Beta is shown first although it was found second.
        m_monitor->tableView()->sortByColumn(2, Qt::DescendingOrder);
        QCOMPARE(m_monitor->proxy()->data(m_monitor->proxy()->index(0, 2)).toString(), QString("Beta"));
        QSignalSpy ident(m_monitor, &CZunNetworkScanDlg::identificationRequest);
        QSignalSpy conn(m_monitor, &CZunNetworkScanDlg::connectionRequest);
        auto* view = m_monitor->tableView();
        const QPoint first = view->visualRect(view->model()->index(0, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, first);
        QCOMPARE(ident.size(), 1);
        QCOMPARE(ident[0][0].toUInt(), 0x0102u);
        QCOMPARE(conn.size(), 0);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, first);
        QCOMPARE(conn.size(), 1);
        QCOMPARE(conn[0][0].toUInt(), 0x0102u);
        m_monitor->tableView()->sortByColumn(0, Qt::AscendingOrder);
    }

    void muteAllReachesEveryListedProcessor()
    {
        QPushButton* mute = m_monitor->muteButton();
        QVERIFY(mute->isCheckable());
        QVERIFY(mute->styleSheet().contains("background-color: #32cd32;"));
        QVERIFY(mute->styleSheet().contains("QPushButton:checked{background-color: #ff0000;}"));
        QTest::mouseClick(mute, Qt::LeftButton);
        QVERIFY(mute->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const auto s = streams({0x0101, 0x0102});
                return masterMuted(s[0x0101].last()) && masterMuted(s[0x0102].last())
                       && outputsMuted(s[0x0101].last()) == 0xFF && outputsMuted(s[0x0102].last()) == 0xFF;
            }(),
            10000);

        QTest::mouseClick(mute, Qt::LeftButton);
        QVERIFY(!mute->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const auto s = streams({0x0101, 0x0102});
                return !masterMuted(s[0x0101].last()) && !masterMuted(s[0x0102].last())
                       && outputsMuted(s[0x0101].last()) == 0 && outputsMuted(s[0x0102].last()) == 0;
            }(),
            10000);
    }

    void muteStatusFromElsewhereSendsNothing()
    {
        m_monitor->setMasterMuteStatus(true);
        QVERIFY(m_monitor->muteButton()->isChecked());
        QTest::qWait(500);
        const auto s = streams({0x0101, 0x0102});
        QVERIFY(!masterMuted(s[0x0101].last()));
        QVERIFY(!masterMuted(s[0x0102].last()));
        m_monitor->setMasterMuteStatus(false);
        QVERIFY(!m_monitor->muteButton()->isChecked());
    }

    void developerUdpCommandReachesTheSelectedProcessors()
    {
        auto* view = m_monitor->tableView();
        QVERIFY(view->sendUdpCmdAct);
        view->clearSelection();
        view->selectRow(rowOf(0x0102));

        auto runDialog = [&](const QString& text) {
            QTimer::singleShot(0, [text] {
                auto* d = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                if (!d)
                    return;
                if (!text.isEmpty())
                    d->setTextValue(text);
                d->accept();
            });
            view->sendUdpCmdAct->trigger();
        };

        // The default "20 72": command 20 reaches Beta, whose next status record reports
        // it once, in whichever stream that record goes: every record from before the
        // command on is kept, and a stream asked for after it brings the next record.
        m_status.clear();
        runDialog(QString());
        QMetaObject::invokeMethod(net(), "triggerStatusTx", Qt::QueuedConnection, Q_ARG(quint16, 0x0102), Q_ARG(int, 100));
        const auto reported = [&] {
            const QList<QByteArray> records = m_status.value(0x0102);
            return std::any_of(records.cbegin(), records.cend(),
                               [&](const QByteArray& d) { return ZunUdpDatagram::word(d, 4 + 2 * m_statusWord) == 20; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(reported(), 10000);

        // The value arrives too: "116 1" is the master mute.
        runDialog("116 1");
        QTRY_VERIFY_WITH_TIMEOUT(masterMuted(streams({0x0102})[0x0102].last()), 10000);
        const auto s = streams({0x0101});
        QVERIFY(!masterMuted(s[0x0101].last())); // not selected
        runDialog("116 0");
        QTRY_VERIFY_WITH_TIMEOUT(!masterMuted(streams({0x0102})[0x0102].last()), 10000);
    }

    void scanFindsTheProcessorThatIgnoresBroadcasts()
    {
        // The sweep runs beside the window: the click returns at once, the texts are the
        // same, a second click meanwhile starts nothing.
        ZunStallProbe probe;
        probe.start();
        QTest::mouseClick(m_monitor->scanButton(), Qt::LeftButton);
        QCOMPARE(m_monitor->statusLabel()->text(), QString("Scanning ..."));
        QVERIFY(m_monitor->isScanning());
        QTest::mouseClick(m_monitor->scanButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_monitor->statusLabel()->text(), QString("Finished"), 20000);
        qInfo("network scan: worst event-loop stall %lld ms", probe.stop());
        QCOMPARE(m_monitor->proxy()->rowCount(), 3);
        const int r = rowOf(0x0103);
        QVERIFY(r >= 0);
        QCOMPARE(m_monitor->proxy()->data(m_monitor->proxy()->index(r, 1)).toString(), m_rig.sim(0x0103)->address.toString());
        QCOMPARE(m_monitor->proxy()->data(m_monitor->proxy()->index(r, 3)).toString(), QString("0.0"));
    }

    void closingStoresTheSubWindowGeometry()
    {
        const QSize size = m_sub->frameSize();
        const QPoint pos = m_sub->pos();
        m_monitor->close();
        std::unique_ptr<QSettings> s(userSettings());
        QCOMPARE(s->value("NetworkMonitor/frameSize").toSize(), size);
        QCOMPARE(s->value("NetworkMonitor/pos").toPoint(), pos);
    }
};

int main(int argc, char** argv)
{
    ZunNetnsRig::enterPrivateNetns();
    QApplication app(argc, argv);
    TstNetworkMonitorNetns tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_networkmonitor_netns.moc"
