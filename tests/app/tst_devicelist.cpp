// The device list: cells, colours and tool tips of the model, the sorting proxy, and the
// table view's developer actions with the requests they emit. The discovery object is fed
// announces directly and never started: nothing goes on the network.
#include "CZunNetwork.h"
#include "ZunDeviceStatsModel.h"
#include "ZunDeviceStatsProxyModel.h"
#include "ZunNetworkTableView.h"
#include "ZunUdpDatagram.h"

#include <QAction>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <functional>

namespace {
struct Dev
{
    quint16 serial;
    QString name;
    quint16 version; // firmware | second field << 12
    quint16 status;
    quint16 flags;
    quint16 link;
};

QByteArray announce(const Dev& d, const QHostAddress& ip)
{
    ZunUdpDatagram::Announce a;
    a.mac = CMacAddr::fromSerial(d.serial);
    a.versionWord = d.version;
    a.name = d.name;
    a.ip = CIpAddr(ip);
    a.status = d.status;
    a.flags = d.flags;
    a.linkState = d.link;
    return ZunUdpDatagram::encodeAnnounce(a);
}

QSettings* userSettings()
{
    return new QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
}

void setDeveloper(bool on)
{
    std::unique_ptr<QSettings> s(userSettings());
    s->setValue("UserMode", on ? "Developer" : "NormalUser");
    s->sync();
}

// Runs `act` once the next modal dialog is up (it is started by what the caller does next).
void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, tries = 0]() mutable {
        QWidget* w = QApplication::activeModalWidget();
        const bool up = w && w->isVisible();
        if (up || ++tries >= 500) {
            timer->stop();
            timer->deleteLater();
        }
        if (up)
            act(w);
    });
    timer->start();
}
} // namespace

class TstDeviceList : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void feed(CZunNetwork& net, const Dev& d, int host)
    {
        const QHostAddress ip(QStringLiteral("127.0.0.%1").arg(host));
        net.handleDatagram(announce(d, ip), ip);
    }

    QString touch(const QString& name)
    {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // A store of this test's own: the tests of this folder run in parallel.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        registerDiscoveryMetaTypes();
        QVERIFY(m_dir.isValid());
    }

    void cleanupTestCase()
    {
        std::unique_ptr<QSettings> s(userSettings());
        s->clear();
    }

    void emptyListHasHeadersOnly()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 7);
        QStringList headers;
        for (int c = 0; c < 7; ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList {"Nr", "IP", "Name", "Firmware", "Online", "Status", "Signal"}));
        QCOMPARE(model.headerData(4, Qt::Vertical).toInt(), 5);
        QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
        QVERIFY(!model.data(model.index(0, 0)).isValid());
    }

    void cells_data()
    {
        QTest::addColumn<quint16>("status");
        QTest::addColumn<quint16>("flags");
        QTest::addColumn<quint16>("link");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<QColor>("statusColour");
        QTest::addColumn<QString>("signalText");
        QTest::addColumn<QColor>("signalColour");
        QTest::addColumn<QString>("onlineText");
        QTest::addColumn<QColor>("serialColour");
        const QColor green(Qt::green), red(Qt::red), white(Qt::white);
        QTest::newRow("idle, analog") << quint16(0xFF70) << quint16(0x0003) << quint16(0) << "ok" << green << "analog" << green << "yes" << white;
        QTest::newRow("command change, locked") << quint16(0xFF71) << quint16(0x0001) << quint16(6) << "ok" << green << "locked" << green
                                                << "connected" << white;
        QTest::newRow("error 85") << quint16(0xFF85) << quint16(0x0000) << quint16(0) << "Err 85" << red << "not locked" << red << "yes"
                                  << white;
        QTest::newRow("error 0a padded") << quint16(0xFF0A) << quint16(0x0040) << quint16(0) << "Err  a" << red << "not locked" << red
                                         << "yes" << red;
        QTest::newRow("no FF high byte") << quint16(0x0012) << quint16(0x0002) << quint16(1) << "ok" << green << "analog" << green << "yes"
                                         << white;
    }

    void cells()
    {
        QFETCH(quint16, status);
        QFETCH(quint16, flags);
        QFETCH(quint16, link);
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        feed(net, {0x0102, "Stage left", quint16(1078 | (3 << 12)), status, flags, link}, 5);
        QCOMPARE(model.rowCount(), 1);
        auto cell = [&](int c, int role = Qt::DisplayRole) { return model.data(model.index(0, c), role); };
        QCOMPARE(cell(0).toInt(), 0x0102);
        QCOMPARE(cell(0).type(), QVariant::Int);
        QCOMPARE(cell(1).toString(), QString("127.0.0.5"));
        QCOMPARE(cell(2).toString(), QString("Stage left"));
        QCOMPARE(cell(3).toString(), QString("1078.3"));
        QTEST(cell(4).toString(), "onlineText");
        QTEST(cell(5).toString(), "statusText");
        QTEST(cell(6).toString(), "signalText");
        QTEST(cell(0, Qt::ForegroundRole).value<QColor>(), "serialColour");
        QCOMPARE(cell(4, Qt::ForegroundRole).value<QColor>(), QColor(Qt::green));
        QTEST(cell(5, Qt::ForegroundRole).value<QColor>(), "statusColour");
        QTEST(cell(6, Qt::ForegroundRole).value<QColor>(), "signalColour");
        for (int c : {1, 2, 3})
            QVERIFY(!cell(c, Qt::ForegroundRole).isValid());

        const auto dev = net.findDevice(0x0102);
        const QList<int> widths {40, 90, 160, 80, 65, 65, 65};
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(cell(c, Qt::ToolTipRole).toString(), dev->toolTip());
            QCOMPARE(cell(c, Qt::TextAlignmentRole).toInt(), c == 2 ? 129 : 130);
            QCOMPARE(cell(c, Qt::SizeHintRole).toSize(), QSize(widths[c], 20));
            QVERIFY(!cell(c, Qt::DecorationRole).isValid());
        }
        QVERIFY(cell(0, Qt::ToolTipRole).toString().startsWith("<qt><b>Zun device nr 258</b><br><b>IP address:</b> 127.0.0.5<hr>"));
        QVERIFY(cell(0, Qt::ToolTipRole).toString().endsWith(QString("<hr><b>Status:</b> %1\n").arg(dev->statusText())));
    }

    void offlineDeviceShowsNoInRed()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        feed(net, {0x0201, QString(), 1077, 0xFF70, 0, 6}, 6);
        qint64 t = 0;
        net.setClock([&t] { return t; });
        feed(net, {0x0201, QString(), 1077, 0xFF70, 0, 6}, 6);
        t = CZunNetwork::LiveTimeoutMs + 1;
        net.checkLiveness();
        QCOMPARE(model.data(model.index(0, 4)).toString(), QString("no"));
        QCOMPARE(model.data(model.index(0, 4), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
        QCOMPARE(model.data(model.index(0, 2)).toString(), QString("Zun Nr. 513")); // no announced name
    }

    // A record that changes in place (the firmware a version probe found) repaints its
    // row at once, without waiting for another processor to join.
    void rowFollowsItsRecord()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        feed(net, {0x0001, "A", 0, 0xFF70, 0, 0}, 2);
        feed(net, {0x0002, "B", 1077, 0xFF70, 0, 0}, 3);
        const QSharedPointer<ZunDeviceStats> a = model.device(0)->serial() == 1 ? model.device(0) : model.device(1);
        const int row = model.device(0) == a ? 0 : 1;
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        a->setFirmware(1078);
        model.recordChanged(a);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(row, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex().column(), ZunDeviceStatsModel::ColumnCount - 1);
        QVERIFY(model.data(model.index(row, ZunDeviceStatsModel::ColFirmware)).toString().contains("1078"));
        model.recordChanged(QSharedPointer<ZunDeviceStats>::create());
        QCOMPARE(changed.size(), 1);
    }

    // The discovery list grows in another thread; the views must only see it grow inside
    // a model reset.
    void rowsChangeOnlyInsideAReset()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        feed(net, {0x0001, "A", 1077, 0xFF70, 0, 0}, 2);
        QCOMPARE(reset.size(), 1);

        net.blockSignals(true); // as if the change signal were still queued
        feed(net, {0x0002, "B", 1077, 0xFF70, 0, 0}, 3);
        net.blockSignals(false);
        QCOMPARE(net.getDeviceList().size(), 2);
        QCOMPARE(model.rowCount(), 1);
        QVERIFY(!model.data(model.index(1, 0)).isValid());
        QVERIFY(model.device(1).isNull());

        int rowsSeenAtBegin = -1;
        connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, [&] { rowsSeenAtBegin = model.rowCount(); });
        model.reloadModel();
        QCOMPARE(rowsSeenAtBegin, 1);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(aboutToReset.size(), 2);
        QCOMPARE(model.device(1)->serial(), quint16(2));
    }

    void proxySortsSerialsNumericallyAndNumbersShownRows()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        ZunDeviceStatsProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.sort(0, Qt::AscendingOrder);
        proxy.setDynamicSortFilter(true);
        feed(net, {100, "c", 1077, 0xFF70, 0, 0}, 2);
        feed(net, {9, "a", 1077, 0xFF70, 0, 0}, 3);
        feed(net, {10, "b", 1077, 0xFF70, 0, 0}, 4);
        QList<int> shown;
        for (int r = 0; r < 3; ++r)
            shown << proxy.data(proxy.index(r, 0)).toInt();
        QCOMPARE(shown, (QList<int> {9, 10, 100}));
        proxy.sort(2, Qt::DescendingOrder);
        QCOMPARE(proxy.data(proxy.index(0, 2)).toString(), QString("c"));
        QCOMPARE(proxy.headerData(0, Qt::Vertical).toInt(), 1);
        QCOMPARE(proxy.headerData(2, Qt::Vertical).toInt(), 3);
        QCOMPARE(proxy.headerData(3, Qt::Horizontal).toString(), QString("Firmware"));
        QVERIFY(!proxy.headerData(3, Qt::Horizontal, Qt::ToolTipRole).isValid());
    }

    void udpCommandParser_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("error");
        QTest::newRow("default") << "20 72" << QByteArray::fromHex("11ff14004800") << QString();
        QTest::newRow("limits") << "3400 65535" << QByteArray::fromHex("11ff480dffff") << QString();
        QTest::newRow("extra blanks") << "  0   0 " << QByteArray::fromHex("11ff00000000") << QString();
        QTest::newRow("command 3401") << "3401 1" << QByteArray() << "Invalid UDP command nr";
        QTest::newRow("command -1") << "-1 1" << QByteArray() << "Invalid UDP command nr";
        QTest::newRow("command not a number") << "x 1" << QByteArray() << "Invalid UDP command nr";
        QTest::newRow("hex is not decimal") << "0x14 1" << QByteArray() << "Invalid UDP command nr";
        QTest::newRow("value 65536") << "20 65536" << QByteArray() << "Invalid UDP command value";
        QTest::newRow("value -1") << "20 -1" << QByteArray() << "Invalid UDP command value";
        QTest::newRow("one number") << "20" << QByteArray() << "Invalid UDP command";
        QTest::newRow("three numbers") << "20 72 1" << QByteArray() << "Invalid UDP command";
        QTest::newRow("empty") << "" << QByteArray() << "Invalid UDP command";
    }

    void udpCommandParser()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, error);
        QByteArray d;
        QCOMPARE(ZunNetworkTableView::parseUdpCommand(text, &d), error);
        QCOMPARE(d, datagram);
    }

    void normalUserHasNoActions()
    {
        setDeveloper(false);
        ZunNetworkTableView view;
        view.createActions();
        view.initContextMenu();
        QVERIFY(view.actions().isEmpty());
        QVERIFY(!view.fwUpdateAct);
        QCOMPARE(view.contextMenuPolicy(), Qt::DefaultContextMenu);
    }

    void developerActionsFollowTheSelection()
    {
        setDeveloper(true);
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        for (int i = 0; i < 3; ++i)
            feed(net, {quint16(0x10 + i), "x", 1077, 0xFF70, 0, 0}, 2 + i);
        ZunNetworkTableView view;
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.createActions();
        view.initContextMenu();
        view.setModel(&model);
        QCOMPARE(view.contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList texts, keys;
        for (QAction* a : view.actions()) {
            texts << a->text();
            keys << a->shortcut().toString();
        }
        QCOMPARE(texts, (QStringList {"Update &Firmware ...", "&Upload Setup ...", "&Recall Setup ...", "&Send UDP command ..."}));
        QCOMPARE(keys, (QStringList {"Ctrl+F", "Ctrl+U", "Ctrl+S", "Ctrl+C"}));
        QCOMPARE(view.fwUpdateAct->statusTip(), QString("Update firmware of selected devices."));

        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // The actions follow the selection the right click makes. Mended: the first right
        // click on a row, with nothing selected before, showed every action disabled.
        const QPoint row1 = view.visualRect(model.index(1, 0)).center();
        for (int click = 0; click < 2; ++click) {
            QTest::mousePress(view.viewport(), Qt::RightButton, Qt::NoModifier, row1);
            for (QAction* a : view.actions())
                QVERIFY(a->isEnabled());
            QCOMPARE(view.selectedSerials(), QList<quint32>{model.data(model.index(1, 0)).toUInt()});
            QTest::mouseRelease(view.viewport(), Qt::RightButton, Qt::NoModifier, row1);
        }
        // A selection changed otherwise (the keyboard, before the menu key) counts too.
        view.clearSelection();
        for (QAction* a : view.actions())
            QVERIFY(!a->isEnabled());
        view.selectRow(2);
        for (QAction* a : view.actions())
            QVERIFY(a->isEnabled());
    }

    void selectedSerialsInSelectionOrderOnceEach()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        for (int i = 0; i < 4; ++i)
            feed(net, {quint16(0x20 + i), "x", 1077, 0xFF70, 0, 0}, 2 + i);
        ZunNetworkTableView view;
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setSelectionMode(QAbstractItemView::MultiSelection);
        view.setModel(&model);
        view.selectRow(2);
        view.selectRow(0);
        view.selectRow(3);
        QCOMPARE(view.selectedSerials(), (QList<quint32> {0x22, 0x20, 0x23}));
    }

    void sendUdpCommandRequests()
    {
        CZunNetwork net;
        ZunDeviceStatsModel model(&net);
        feed(net, {0x30, "x", 1077, 0xFF70, 0, 0}, 2);
        ZunNetworkTableView view;
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setModel(&model);
        view.selectRow(0);
        QSignalSpy spy(&view, &ZunNetworkTableView::requestSendUdpCommand);

        // The default text, accepted.
        QString label;
        whenModal([&](QWidget* w) {
            auto* d = qobject_cast<QInputDialog*>(w);
            QVERIFY(d);
            label = d->labelText();
            QCOMPARE(d->textValue(), QString("20 72"));
            d->accept();
        });
        view.sendUdpCommand();
        QCOMPARE(label, QString("Enter cmd and val with space between numbers"));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].value<QList<quint32>>(), QList<quint32> {0x30});
        QCOMPARE(spy[0][1].toByteArray(), QByteArray::fromHex("11ff14004800"));

        // A single number: the message, nothing sent.
        QString title, text;
        whenModal([&](QWidget* w) {
            qobject_cast<QInputDialog*>(w)->setTextValue("20");
            qobject_cast<QInputDialog*>(w)->accept();
            whenModal([&](QWidget* box) {
                title = box->windowTitle();
                text = qobject_cast<QMessageBox*>(box)->text();
                qobject_cast<QMessageBox*>(box)->accept();
            });
        });
        view.sendUdpCommand();
        QCOMPARE(title, QString("Invalid UDP command"));
        QCOMPARE(text, QString("Enter 2 numbers with space inbetween"));
        QCOMPARE(spy.size(), 1);

        // Cancel: nothing, and no message.
        whenModal([&](QWidget* w) { qobject_cast<QInputDialog*>(w)->reject(); });
        view.sendUdpCommand();
        QCOMPARE(spy.size(), 1);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // One numbering in the network monitor's forms: the upload form's rows read "0: ---"
    // onwards, and the recall form asks for the same numbers.
    void recallSetupCountsAsTheUploadFormDoes_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("requested");
        QTest::newRow("first position") << 0 << 0;
        QTest::newRow("position 3") << 3 << 3;
        QTest::newRow("last position") << 29 << 29;
    }

    void recallSetupCountsAsTheUploadFormDoes()
    {
        QFETCH(int, chosen);
        QFETCH(int, requested);
        ZunNetworkTableView view;
        QSignalSpy spy(&view, &ZunNetworkTableView::requestSelectSetup);
        int lowest = -1;
        whenModal([&](QWidget* w) {
            QCOMPARE(w->windowTitle(), QString("Recall Setup"));
            auto* box = w->findChild<QSpinBox*>("spinBox");
            lowest = box->minimum();
            box->setValue(chosen);
            w->findChild<QPushButton*>("bttnRecall")->click();
        });
        view.selectSetup();
        QCOMPARE(lowest, 0);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][1].value<quint16>(), quint16(requested));
    }

    void uploadSetupAndFirmware()
    {
        std::unique_ptr<QSettings>(userSettings())->remove("SetupDir");
        ZunNetworkTableView view;
        QSignalSpy setups(&view, &ZunNetworkTableView::requestSetupUpload);
        QSignalSpy firmware(&view, &ZunNetworkTableView::requestFwUpdate);
        const QString setup = touch("show.zun");
        int positions = 0;
        whenModal([&](QWidget* w) {
            QCOMPARE(w->windowTitle(), QString("Upload Setup"));
            auto* combo = w->findChild<QComboBox*>("comboBox");
            positions = combo->count();
            QCOMPARE(combo->itemText(0), QString("---                     "));
            combo->setCurrentIndex(3);
            w->findChild<QLineEdit*>("lineEditFilename")->setText(setup);
            w->findChild<QPushButton*>("bttnUpload")->click();
        });
        view.uploadSetup();
        QCOMPARE(positions, 10);
        QCOMPARE(setups.size(), 1);
        QCOMPARE(setups[0][1].toString(), setup);
        QCOMPARE(setups[0][2].toInt(), 3);
        QCOMPARE(std::unique_ptr<QSettings>(userSettings())->value("SetupDir").toString(), m_dir.path());

        // Cancelled: no request, no folder stored.
        std::unique_ptr<QSettings>(userSettings())->remove("FirmwareDir");
        whenModal([&](QWidget* w) { w->findChild<QPushButton*>("bttnCancel")->click(); });
        view.fwUpdate();
        QCOMPARE(firmware.size(), 0);
        QVERIFY(!std::unique_ptr<QSettings>(userSettings())->contains("FirmwareDir"));

        const QString fw = touch("zun.fwu");
        bool comboHidden = false;
        whenModal([&](QWidget* w) {
            QCOMPARE(w->windowTitle(), QString("Update Firmware"));
            comboHidden = w->findChild<QComboBox*>("comboBox")->isHidden();
            w->findChild<QLineEdit*>("lineEditFilename")->setText(fw);
            w->findChild<QPushButton*>("bttnUpload")->click();
        });
        view.fwUpdate();
        QVERIFY(comboHidden);
        QCOMPARE(firmware.size(), 1);
        QCOMPARE(firmware[0][1].toString(), fw);
        QCOMPARE(std::unique_ptr<QSettings>(userSettings())->value("FirmwareDir").toString(), m_dir.path());
    }
};

QTEST_MAIN(TstDeviceList)
#include "tst_devicelist.moc"
