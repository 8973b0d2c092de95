// The control window offscreen, on device objects that the device services hold (not
// connected): tab building and order, titles, channel renaming, Escape, the status-stream
// timer, the status bar, rebuilds that release their pages, geometry on close, and a
// number the services do not hold.
#include "CRoutingManager.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "GainWidget.h"
#include "LimiterWidget.h"
#include "ZunOutputPlotDlg.h"
#include "QEditableTabBar.h"
#include "QEditableTabWidget.h"
#include "WindowTestRig.h"
#include "ZunControlDlg.h"
#include "ZunOutputDlg.h"

#include <QFile>
#include <QLCDNumber>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QtTest>

namespace {
enum : quint16 { Many = 42, Few = 43, Single = 44 };

QStringList tabTexts(const QTabWidget* tabs)
{
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

QStringList outputNames(int n)
{
    QStringList names;
    for (int i = 1; i <= n; ++i)
        names << QStringLiteral("Output %1").arg(i);
    return names;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
} // namespace

class TstControlWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowTestRig> m_rig;

    std::unique_ptr<ZunControlDlg> window(quint16 nr)
    {
        auto w = std::make_unique<ZunControlDlg>(nr, m_rig->deviceServer(), m_rig->statusServer());
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        return w;
    }
    QStringList inputNames(quint16 nr) const
    {
        QStringList names;
        for (const auto& input : m_rig->device(nr)->GetRoutingManager()->GetInputs())
            names << input->GetName();
        return names;
    }

private slots:
    void initTestCase()
    {
        m_rig = std::make_unique<WindowTestRig>();
        m_rig->addDevice(Many, WindowTestRig::DoubleBoard, WindowTestRig::EightInputs);
        m_rig->addDevice(Few, WindowTestRig::DoubleBoard, WindowTestRig::TwoInputs);
        m_rig->addDevice(Single, WindowTestRig::SingleBoard, WindowTestRig::TwoInputs);
    }

    void cleanupTestCase() { m_rig.reset(); }

    void tabsOrderAndFlags_data()
    {
        QTest::addColumn<int>("nr");
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("outputs");
        QTest::newRow("eight inputs") << int(Many) << 8 << 8;
        QTest::newRow("two inputs") << int(Few) << 2 << 8;
        QTest::newRow("single board, one input") << int(Single) << 1 << 4;
    }

    void tabsOrderAndFlags()
    {
        QFETCH(int, nr);
        QFETCH(int, inputs);
        QFETCH(int, outputs);
        QCOMPARE(inputNames(nr).size(), inputs);
        auto w = window(nr);
        QTabWidget* tabs = w->tabWidget();
        // Until the first image only the system tab.
        QCOMPARE(tabTexts(tabs), QStringList {"System"});
        w->UpdateGui();
        QStringList expected {"System"};
        QStringList channels;
        if (inputs > 4) {
            expected << "Inputs" << "Outputs" << "Limiter";
            QCOMPARE(w->firstGainPage()->mode(), 0);
            QCOMPARE(w->secondGainPage()->mode(), 1);
        } else {
            expected << "In-/Outputs" << "Limiter";
            channels << inputNames(nr);
            QCOMPARE(w->firstGainPage()->mode(), 2);
            QCOMPARE(tabs->indexOf(w->secondGainPage()), -1);
        }
        channels << outputNames(outputs);
        expected << channels << "Outputs";
        QCOMPARE(tabTexts(tabs), expected);
        for (int i = 0; i < tabs->count(); ++i)
            QCOMPARE(tabs->tabBar()->tabData(i).toBool(), channels.contains(tabs->tabText(i)));
        QCOMPARE(tabs->currentWidget(), static_cast<QWidget*>(w->firstGainPage()));

        // The advanced tab comes and goes beside the system tab, and survives a rebuild.
        w->showAdvancedSettings(true);
        QCOMPARE(tabs->tabText(1), QString("Advanced"));
        w->UpdateGui();
        QCOMPARE(tabTexts(tabs), QStringList({"System", "Advanced"}) + expected.mid(1));
        w->showAdvancedSettings(false);
        QCOMPARE(tabTexts(tabs), expected);
    }

    void titles()
    {
        auto w = window(Few);
        QCOMPARE(w->windowTitle(), QString("ZunControl"));
        QCOMPARE(w->getDisplayName(), QString("Not connected"));
        w->UpdateGui();
        QCOMPARE(w->windowTitle(), QString("Rig 43 connected"));
        w->enableTabs();
        QCOMPARE(w->windowTitle(), QString("Zun 43 connected | Current setup: "));
        w->disableTabs();
        QCOMPARE(w->windowTitle(), QString("Zun 43 disconnected | Current setup: "));
        // The system tab stays usable, every other tab is greyed.
        QVERIFY(w->tabWidget()->isTabEnabled(0));
        for (int i = 1; i < w->tabWidget()->count(); ++i)
            QVERIFY(!w->tabWidget()->isTabEnabled(i));
        w->enableTabs();
        for (int i = 0; i < w->tabWidget()->count(); ++i)
            QVERIFY(w->tabWidget()->isTabEnabled(i));
        w->updateDisplayName(7, "Show %1");
        QCOMPARE(w->windowTitle(), QString("Rig 43 connected | Current setup: Show %1"));
        QSharedPointer<ZunDeviceStats> other = DeviceTestRig::record(1080, Many);
        w->updateDisplayName(other);
        QCOMPARE(w->windowTitle(), QString("Rig 43 connected | Current setup: Show %1"));
        QSharedPointer<ZunDeviceStats> mine = DeviceTestRig::record(1080, Few);
        mine->setName("Hall");
        w->updateDisplayName(mine);
        QCOMPARE(w->windowTitle(), QString("Hall connected | Current setup: "));
        w->updateDisplayName(QSharedPointer<ZunDeviceStats>());
        QCOMPARE(w->windowTitle(), QString("Hall connected | Current setup: "));
    }

    void renamingAChannelTabRenamesTheChannel()
    {
        auto w = window(Few);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->UpdateGui();
        CRoutingManager* routing = m_rig->device(Few)->GetRoutingManager();
        CZunInput* input = routing->GetInputs().value(0);
        CZunOutput* output = routing->GetOutputs().value(0);
        const QString inputName = input->GetName();

        // Through the bar: the input's tab.
        QTabBar* bar = w->tabWidget()->tabBar();
        const int tab = tabTexts(w->tabWidget()).indexOf(inputName);
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(tab).center());
        QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(tab).center());
        QLineEdit* editor = w->tabWidget()->editableTabBar()->lineEdit();
        QVERIFY(editor);
        editor->setText("Kick");
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(input->GetName(), QString("Kick"));
        QCOMPARE(routing->GetInputByName("Kick"), input);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // Non-channel tabs open no editor.
        const int limiter = tabTexts(w->tabWidget()).indexOf("Limiter");
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(limiter).center());
        QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(limiter).center());
        QVERIFY(!w->tabWidget()->editableTabBar()->lineEdit());

        // An output and an input bear the same name: the input takes the new one.
        output->SetName("Kick");
        emit w->tabWidget()->tabNameChanged("Kick", "Bass");
        QCOMPARE(input->GetName(), QString("Bass"));
        QCOMPARE(output->GetName(), QString("Kick"));
        emit w->tabWidget()->tabNameChanged("Kick", "Sub");
        QCOMPARE(output->GetName(), QString("Sub"));
        // A name that no channel bears changes nothing.
        emit w->tabWidget()->tabNameChanged("Nobody", "Else");
        QCOMPARE(input->GetName(), QString("Bass"));
        QCOMPARE(output->GetName(), QString("Sub"));
        input->SetName(QString());
        output->SetName(QString());
    }

    void escapeDoesNothing()
    {
        auto w = window(Few);
        w->UpdateGui();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QString title = w->windowTitle();
        const int current = w->tabWidget()->currentIndex();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &escape);
        QVERIFY(escape.isAccepted());
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), title);
        QCOMPARE(w->tabWidget()->currentIndex(), current);
    }

    void statusStreamsWhileAGainPageIsShown()
    {
        auto w = window(Many);
        w->UpdateGui();
        QSignalSpy asked(w.get(), &ZunControlDlg::statusTxTimeOut);
        QTabWidget* tabs = w->tabWidget();
        tabs->setCurrentIndex(0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(asked.size(), 0);
        QVERIFY(!w->statusTimer()->isActive());

        // Shown: one request at once, then one per timer period.
        tabs->setCurrentWidget(w->firstGainPage());
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0][0].toUInt(), uint(Many));
        QVERIFY(w->statusTimer()->isActive());
        QCOMPARE(w->statusTimer()->interval(), 2300);
        QVERIFY(!w->statusTimer()->isSingleShot());
        QMetaObject::invokeMethod(w->statusTimer(), "timeout");
        QMetaObject::invokeMethod(w->statusTimer(), "timeout");
        QCOMPARE(asked.size(), 3);

        // From one gain page to the other: one more at once, and the timer goes on.
        tabs->setCurrentWidget(w->secondGainPage());
        QCOMPARE(asked.size(), 4);
        QVERIFY(w->statusTimer()->isActive());

        // Away from the gain pages: no more requests.
        tabs->setCurrentWidget(w->limiterPage());
        QVERIFY(!w->statusTimer()->isActive());
        QCOMPARE(asked.size(), 4);
        w->hide();
        QVERIFY(!w->statusTimer()->isActive());
    }

    void statusBarDisplays_data()
    {
        QTest::addColumn<int>("nr");
        QTest::addColumn<bool>("doubleBoard");
        QTest::newRow("double board") << int(Many) << true;
        QTest::newRow("single board") << int(Single) << false;
    }

    void statusBarDisplays()
    {
        QFETCH(int, nr);
        QFETCH(bool, doubleBoard);
        auto w = window(nr);
        QCOMPARE(w->statusBar()->findChildren<QLCDNumber*>().size(), doubleBoard ? 3 : 2);
        QCOMPARE(w->rateDisplay()->digitCount(), 6);
        QCOMPARE(w->dsp0LoadDisplay()->digitCount(), 2);
        QCOMPARE(w->rateDisplay()->segmentStyle(), QLCDNumber::Filled);
        QCOMPARE(bool(w->dsp1LoadDisplay()), doubleBoard);
        emit w->device()->signal_ProcessingStats(96000, 12, 34);
        QCOMPARE(w->rateDisplay()->intValue(), 96000);
        QCOMPARE(w->dsp0LoadDisplay()->intValue(), 12);
        if (doubleBoard)
            QCOMPARE(w->dsp1LoadDisplay()->intValue(), 34);
        // Right-aligned in the order DSP 0, DSP 1, rate.
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->dsp0LoadDisplay()->x() < w->rateDisplay()->x());
        if (doubleBoard)
            QVERIFY(w->dsp1LoadDisplay()->x() < w->rateDisplay()->x());
    }

    void rebuildsReleaseTheirPages()
    {
        auto w = window(Few);
        w->UpdateGui();
        QPointer<ZunOutputDlg> oldPage = w->outputPages().value(0);
        QPointer<QWidget> oldPlot = w->outputPlotPage();
        auto reload = [&] {
            w->UpdateGui();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        reload();
        QVERIFY(!oldPage);
        QVERIFY(!oldPlot);
        const long before = residentKiB();
        for (int i = 0; i < 100; ++i)
            reload();
        const long after = residentKiB();
        qInfo("resident memory over 100 image reloads: %ld KiB before, %ld KiB after", before, after);
        // Only the pages of the last rebuild exist.
        QCOMPARE(w->findChildren<ZunOutputDlg*>().size(), 8);
        QCOMPARE(w->tabWidget()->count(), 3 + 2 + 8 + 1);
        // No signal of the window reaches a page beyond those.
        int reached = 0;
        for (ZunOutputDlg* page : w->findChildren<ZunOutputDlg*>())
            connect(page, &QObject::destroyed, this, [&reached] { ++reached; });
        w.reset();
        QCOMPARE(reached, 8);
    }

    void geometryIsStoredOnClose()
    {
        QMdiArea area;
        area.resize(1400, 900);
        area.show();
        auto* w = new ZunControlDlg(Few, m_rig->deviceServer(), m_rig->statusServer());
        QMdiSubWindow* sub = area.addSubWindow(w);
        sub->resize(950, 600);
        sub->move(30, 40);
        sub->show();
        QPointer<ZunControlDlg> guard(w);
        QVERIFY(sub->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!guard);
        QSettings s(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        QCOMPARE(s.value("ZunControlDlgNr43/frameSize").toSize(), QSize(950, 600));
        QCOMPARE(s.value("ZunControlDlgNr43/pos").toPoint(), QPoint(30, 40));
    }

    void aNumberTheServicesDoNotHoldClosesWithAMessage()
    {
        QMdiArea area;
        area.show();
        auto* w = new ZunControlDlg(999, m_rig->deviceServer(), m_rig->statusServer());
        QPointer<QMdiSubWindow> sub = area.addSubWindow(w);
        QPointer<ZunControlDlg> guard(w);
        sub->show();
        // Nothing that needs the device works on the missing one.
        w->UpdateGui();
        w->enableTabs();
        w->retriggerStatusTxOnOff(true);
        w->connectToZun();
        QCOMPARE(w->getDisplayName(), QString("Not connected"));
        QTRY_VERIFY(!guard);
        QTRY_VERIFY(!sub);
        const QStringList boxes = m_rig->takeBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].contains("Zun 999"));
    }
};

QTEST_MAIN(TstControlWindow)
#include "tst_controlwindow.moc"
