// The system tab against the emulator on loopback: connection, setup recall, input switch,
// AES jacks, key lock and DSP link reach the processor with the right commands and what
// the processor then holds comes back into the tab. Also: a recall that fails in any way
// ends the long operation, and "Store" never goes to a position that does not exist.
#include "CCmdMap.h"
#include "CMemoryManager.h"
#include "CRoutingLibrary.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "RoutingPictureGeometry.h"
#include "RoutingRenderArea.h"
#include "TcpSimProcess.h"
#include "ZunMetaTypes.h"
#include "ZunOperations.h"
#include "ZunStyle.h"
#include "ZunSystemWidget.h"
#include "ZunSignalSpy.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace DeviceTestRig;

class TestSystemWidget : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    std::unique_ptr<TcpSimProcess> m_sim;
    QSharedPointer<CZun> m_zun;
    std::unique_ptr<ZunSystemWidget> m_tab;
    SendLog m_sent;
    QStringList m_boxes; // texts of the message boxes answered

    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    template <typename T> T* child(const char* name) const { return m_tab->findChild<T*>(QLatin1String(name)); }
    QComboBox* combo(const char* name) const { return child<QComboBox>(name); }
    QCheckBox* check(const char* name) const { return child<QCheckBox>(name); }

    // The hardware word: two boards with AES receiver, transmitter and converter.
    void start(quint16 serial = 42, quint16 hardware = 0x8F98)
    {
        m_sim.reset(new TcpSimProcess);
        QVERIFY2(m_sim->start({"--serial", QString::number(serial), "--firmware", "1080", "--hardware",
                               QString::number(hardware)}),
                 qPrintable(m_sim->error()));
        auto m = map(1080);
        m_zun = QSharedPointer<CZun>::create(record(1080, serial, 0, hardware), m,
                                             QSharedPointer<CRoutingLibrary>::create(m));
        m_zun->SetPort(m_sim->tcpPort());
        m_sent.attach(m_zun.data());
        m_tab.reset(new ZunSystemWidget(m_zun));
        // The control window's connection.
        connect(m_zun.data(), &CZun::signal_ZunStatusChanged, m_tab.get(), &ZunSystemWidget::UpdateGui,
                Qt::QueuedConnection);
        ZunSignalSpy status(m_zun.data(), &CZun::signal_ZunStatusChanged);
        m_tab->do_connect();
        QVERIFY(status.count() > 0 || status.wait(20000));
        settle();
    }
    void settle() { QVERIFY(DeviceTestRig::settle(m_zun.data())); }
    // A fresh read of the processor's whole image, which the tab then shows.
    void reread() { QVERIFY(DeviceTestRig::reread(m_zun.data())); }
    // Answers the next message box: the handler gets it and clicks one of its buttons.
    void answerNextBox(std::function<void(QMessageBox*)> handler)
    {
        auto* timer = new QTimer(this);
        timer->setInterval(5);
        connect(timer, &QTimer::timeout, this, [this, timer, handler]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            timer->stop();
            timer->deleteLater();
            m_boxes << box->text();
            handler(box);
        });
        timer->start();
    }
    void answerNextBox(QMessageBox::StandardButton b)
    {
        answerNextBox([b](QMessageBox* box) {
            if (QAbstractButton* button = box->button(b))
                button->click();
            else
                box->reject(); // not the box the test expected: its check fails
        });
    }
    // Agrees to a recall: Yes to the question, or "Discard and continue" when the image
    // counts as modified (the store's own bookkeeping may leave it so).
    void answerContinue()
    {
        answerNextBox([](QMessageBox* box) {
            if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
                yes->click();
                return;
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Discard and continue"))
                    b->click();
        });
    }
    void activate(QComboBox* box, int index)
    {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    // Stores the current image as setup 0 and waits until the tab's selector lists it.
    void storeSetupZero()
    {
        m_zun->SaveSetup(0, QStringLiteral("Stage"));
        CMemoryManager* dir = m_zun->GetMemoryManager();
        QVERIFY(waitUntil([&]() { return dir->setupIdAt(0) != 0; }));
        reread(); // the stored setup is the active one now
        QVERIFY(QMetaObject::invokeMethod(m_zun->GetSetupManager(), "initialize", Qt::BlockingQueuedConnection));
        QVERIFY(waitUntil([&]() {
            QCoreApplication::processEvents();
            return combo("comboSetupSelect")->itemText(0).startsWith(QLatin1String("Stage"));
        }));
        settle();
    }
    bool waitCursor() const { return m_tab->cursor().shape() == Qt::WaitCursor; }
    bool idle() const
    {
        return !m_tab->isLongOperationPending() && !waitCursor()
               && child<QPushButton>("bttnConnect")->isEnabled() && combo("comboSetupSelect")->isEnabled();
    }
    QString routingLayer(int layer) const
    {
        return QFileInfo(m_tab->routingRenderArea()->layerName(layer)).fileName();
    }

private slots:
    void initTestCase()
    {
        m_config.reset(new Config);
        registerZunMetaTypes();
    }
    void cleanup()
    {
        m_tab.reset();
        m_zun.reset();
        m_sim.reset();
        m_boxes.clear();
    }

    void aesValuesOfferedByDeviceNumber_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<QList<int>>("inputs");
        QTest::addColumn<QList<int>>("outputs");
        QTest::newRow("681") << 681 << QList<int>{0} << QList<int>{0, 8};
        QTest::newRow("680") << 680 << QList<int>{0, 1} << QList<int>{0, 1, 8};
    }
    void aesValuesOfferedByDeviceNumber()
    {
        QFETCH(int, device);
        QFETCH(QList<int>, inputs);
        QFETCH(QList<int>, outputs);
        auto m = map(1080);
        const QList<int> in = m->GetStringMapForKeysBeginningWith("Inf_Sel_ARX_").keys();
        const QList<int> out = m->GetStringMapForKeysBeginningWith("Inf_Sel_ATX_").keys();
        QCOMPARE(ZunSystemWidget::offeredAESValues(in, device, false), inputs);
        QCOMPARE(ZunSystemWidget::offeredAESValues(out, device, true), outputs);
    }

    void connectsShowsTheProcessorAndDisconnects()
    {
        start();
        auto* button = child<QPushButton>("bttnConnect");
        QCOMPARE(button->text(), QStringLiteral("&Disconnect"));
        QVERIFY(combo("comboSwitchInput")->isEnabled());
        // The default routing: analog 2x 1->4, offered with its three other input kinds.
        QCOMPARE(combo("comboSwitchInput")->count(), 4);
        QCOMPARE(combo("comboSwitchInput")->currentText(), QStringLiteral("Analog"));
        QCOMPARE(routingLayer(RoutingRenderArea::InputRouting), QStringLiteral("IR_21_RP_21_2.png"));
        QCOMPARE(routingLayer(RoutingRenderArea::Routing), QStringLiteral("RP_21_2.png"));
        QVERIFY(!check("checkBoxStereo")->isHidden()); // RP_21 may be linked
        QCOMPARE(combo("comboAESInput")->count(), 2);
        QCOMPARE(combo("comboAESOutput")->count(), 3);
        QVERIFY(!m_tab->isLongOperationPending());
        // Mended: a wheel notch over an unfocused selector switched the processor's setup,
        // input or AES jack.
        m_sent.clear();
        for (const char* name : {"comboSwitchInput", "comboAESInput", "comboAESOutput", "comboSetupSelect"}) {
            QComboBox* box = combo(name);
            const int before = box->currentIndex();
            QWheelEvent down(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                             Qt::NoScrollPhase, false);
            QApplication::sendEvent(box, &down);
            QCOMPARE(box->currentIndex(), before);
        }
        QCOMPARE(m_sent.commands().size(), 0);

        ZunSignalSpy disconnected(m_zun.data(), &CZun::signal_Disconnected);
        button->click();
        QVERIFY(disconnected.count() > 0 || disconnected.wait(10000));
        QVERIFY(waitUntil([&]() { return button->text() == QStringLiteral("&Connect"); }));
        QVERIFY(!button->isChecked());
        QVERIFY(!combo("comboSetupSelect")->isEnabled());
        QVERIFY(!combo("comboAESInput")->isEnabled());
    }

    // The routing picture shows the boards the processor has: DSP 2 and outputs 5-8 only
    // on a double board.
    void routingPictureShowsTheProcessorsBoards_data()
    {
        QTest::addColumn<int>("hardware");
        QTest::addColumn<bool>("secondDSP");
        QTest::newRow("double board") << 0x0F80 << true;
        QTest::newRow("one board") << 0x0F00 << false;
    }
    void routingPictureShowsTheProcessorsBoards()
    {
        QFETCH(int, hardware);
        QFETCH(bool, secondDSP);
        start(42, quint16(hardware));
        const QPixmap& picture = m_tab->routingRenderArea()->composite();
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.height() > RoutingPictureGeometry::rowY(4), secondDSP);
    }

    // Mended: a one-board processor without AES receiver, transmitter and converter ("Lab 2")
    // was offered the digital inputs, both AES selectors and the link of outputs 1-4 with 5-8.
    void choicesFollowTheHardware_data()
    {
        QTest::addColumn<int>("hardware");
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<bool>("transmitter");
        QTest::addColumn<bool>("twoBoards");
        const QStringList analog = {"Analog", "Analog (DRC)"};
        QTest::newRow("one board without AES or converter") << 0x0F04 << analog << false << false << false;
        QTest::newRow("one board with AES receiver")
            << 0x0F14 << analog + QStringList{"Digital (AES)"} << true << false << false;
        QTest::newRow("two boards with all of them")
            << 0x8F9C << analog + QStringList{"Digital (AES)", "Digital (SRC)"} << true << true << true;
    }
    void choicesFollowTheHardware()
    {
        QFETCH(int, hardware);
        QFETCH(QStringList, inputs);
        QFETCH(bool, receiver);
        QFETCH(bool, transmitter);
        QFETCH(bool, twoBoards);
        start(42, quint16(hardware));
        QStringList offered;
        for (int i = 0; i < combo("comboSwitchInput")->count(); ++i)
            offered << combo("comboSwitchInput")->itemText(i);
        offered.sort();
        QCOMPARE(offered, inputs);
        QCOMPARE(combo("comboAESInput")->isEnabled(), receiver);
        QCOMPARE(combo("comboAESOutput")->isEnabled(), transmitter);
        // Off with its reason as the tip.
        QCOMPARE(combo("comboAESOutput")->toolTip() == QStringLiteral("Select digital output jacks"), transmitter);
        QCOMPARE(!check("checkBoxStereo")->isHidden(), twoBoards);
        // Mended: a one-board processor whose image reads as linked hid the box, so the
        // link could not be undone. It shows while linked; unchecked, the processor holds
        // no link and the box goes.
        if (!twoBoards) {
            QCheckBox* stereo = check("checkBoxStereo");
            QVERIFY(m_sim->control(QStringLiteral("set %1 2").arg(nr("Cmd_SetupFlags"))));
            reread();
            QVERIFY(!stereo->isHidden() && stereo->isChecked());
            stereo->click();
            QVERIFY(waitUntil([&]() { return !m_zun->GetStatusBuffer()->isLinked(); }));
            settle();
            const QString flags = m_sim->query(QStringLiteral("get %1").arg(nr("Cmd_SetupFlags")), QStringLiteral("word "));
            QVERIFY2(!(flags.section(QLatin1Char(' '), 2).toUInt() & 2), qPrintable(flags));
            reread();
            QVERIFY(stereo->isHidden());
            QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(" / ")));
        }
        if (receiver)
            return;
        // Running AES inputs all the same (its word says otherwise): they stay shown.
        for (auto [name, value] : {std::make_pair("Cmd_SPI_Routing", 0x1291), std::make_pair("Cmd_DSP_Routing", 0x1291),
                                   std::make_pair("Cmd_DSP_FullRouting0", 0xF020),
                                   std::make_pair("Cmd_DSP_FullRouting1", 0x200F)})
            QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr(name)).arg(value)));
        reread();
        QCOMPARE(combo("comboSwitchInput")->currentText(), QStringLiteral("Digital (AES)"));
    }

    void aesJacksReachTheProcessorAndComeBack()
    {
        start();
        QComboBox* in = combo("comboAESInput");
        QComboBox* out = combo("comboAESOutput");
        m_sent.clear();
        activate(in, in->findData(1));
        activate(out, out->findData(8));
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_SPI_ARX_InpSel"), 1},
                                                                     {nr("Cmd_SPI_ATX_OutSel"), 8}}));
        // The tab rebuilds both selectors from the processor's image.
        in->setCurrentIndex(-1);
        out->setCurrentIndex(-1);
        reread();
        QCOMPARE(in->currentData().toInt(), 1);
        QCOMPARE(out->currentData().toInt(), 8);
        // A value the tab does not offer leaves the selector without a current item.
        QVERIFY(m_sim->control(QStringLiteral("set %1 3").arg(nr("Cmd_SPI_ARX_InpSel"))));
        reread();
        QCOMPARE(in->currentIndex(), -1);
    }

    void inputSwitchSendsTheFullRoutingAndComesBack()
    {
        start();
        QComboBox* inputs = combo("comboSwitchInput");
        const int aes = inputs->findText(QStringLiteral("Digital (AES)"));
        QVERIFY(aes >= 0);
        m_sent.clear();
        activate(inputs, aes);
        QVERIFY(m_sent.contains(nr("Cmd_DSP_FullRouting0"), 0xF020));
        QVERIFY(m_sent.contains(nr("Cmd_DSP_FullRouting1"), 0x200F));
        reread();
        QCOMPARE(inputs->currentText(), QStringLiteral("Digital (AES)"));
        QCOMPARE(routingLayer(RoutingRenderArea::InputRouting), QStringLiteral("IR_22_RP_21_2.png"));
        QVERIFY(!check("checkBoxStereo")->isHidden());
        // A full routing the library does not hold offers no input; only RP_21 offers the link.
        QVERIFY(m_sim->control(QStringLiteral("set %1 0").arg(nr("Cmd_DSP_FullRouting1"))));
        QVERIFY(m_sim->control(QStringLiteral("set %1 0x21A1").arg(nr("Cmd_SPI_Routing"))));
        reread();
        QCOMPARE(inputs->count(), 0);
        QVERIFY(check("checkBoxStereo")->isHidden());
        QCOMPARE(routingLayer(RoutingRenderArea::Routing), QStringLiteral("RP_41_2.png"));
    }

    void keyLockReachesTheProcessorAndFollowsTheFrontPanel()
    {
        start();
        QCheckBox* lock = check("checkBoxLockFrontPanel");
        QVERIFY(!lock->isChecked());
        m_sent.clear();
        lock->click();
        QCOMPARE(m_sent.commands(), (QList<QPair<quint16, quint16>>{{nr("Cmd_KeyLock"), 1}}));
        settle();
        QVERIFY(m_sim->query(QStringLiteral("state"), QStringLiteral("state")).contains(QLatin1String("keylock 1 ")));
        QVERIFY(lock->isChecked());
        // Unlocked at the device: the box follows and nothing is sent back.
        m_sent.clear();
        QVERIFY(m_sim->control(QStringLiteral("set %1 255").arg(nr("Cmd_KeyLock"))));
        QVERIFY(waitUntil([&]() { return !lock->isChecked(); }));
        settle();
        QCOMPARE(m_sent.count(nr("Cmd_KeyLock")), 0);
    }

    void dspLinkIsAskedForSentAndLostAtTheDevice()
    {
        start();
        QCheckBox* stereo = check("checkBoxStereo");
        // No: nothing is linked and the box shows the image's state again.
        answerNextBox(QMessageBox::No);
        stereo->click();
        QVERIFY(!stereo->isChecked());
        QVERIFY(!m_zun->GetStatusBuffer()->isLinked());
        answerNextBox(QMessageBox::Yes);
        stereo->click();
        QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->isLinked(); }));
        settle();
        QVERIFY(stereo->isChecked());
        // The processor holds the link bit, whether it came alone or with the whole image
        // (when the two DSPs' blocks differed).
        const QString flags = m_sim->query(QStringLiteral("get %1").arg(nr("Cmd_SetupFlags")), QStringLiteral("word "));
        QVERIFY2(flags.section(QLatin1Char(' '), 2).toUInt() & 2, qPrintable(flags));
        // Front-panel operation ends the link: the operator is told and the box unchecks.
        answerNextBox(QMessageBox::Ok);
        QVERIFY(m_sim->control(QStringLiteral("set %1 0").arg(nr("Cmd_SetupFlags"))));
        QVERIFY(waitUntil([&]() { return !stereo->isChecked(); }));
        QCOMPARE(m_boxes.size(), 3);
        QVERIFY(m_boxes.last().startsWith(QLatin1String("Stereo mode is not supported")));
        // Unchecking unlinks at once, without a question.
        answerNextBox(QMessageBox::Yes);
        stereo->click();
        QVERIFY(waitUntil([&]() { return m_zun->GetStatusBuffer()->isLinked(); }));
        settle();
        stereo->click();
        QVERIFY(waitUntil([&]() { return !m_zun->GetStatusBuffer()->isLinked(); }));
        QCOMPARE(m_boxes.size(), 4);
    }

    // The flash running low with garbage in it: one offer of a garbage collection however
    // many directory reads find it low, one again after a reconnect, each answered "Later";
    // its sentences whole, and it does not say the processor goes to default settings.
    void lowMemoryIsOfferedOncePerCondition()
    {
        start();
        m_zun->SaveSetup(1, QStringLiteral("Alpha"));
        settle();
        m_zun->SaveSetup(1, QStringLiteral("Beta")); // Alpha's entry stays as garbage
        QVERIFY(waitUntil([&]() { return m_zun->GetMemoryManager()->deletedCount() != 0; }));
        settle();
        QTimer later;
        connect(&later, &QTimer::timeout, this, [this]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            m_boxes << box->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QLatin1String("Later"))
                    b->click();
        });
        later.start(5);
        // Entries start behind the firmware's 128 KiB: of 170 KiB, less than 48 KiB are left.
        QVERIFY(m_sim->control(QStringLiteral("set %1 170").arg(nr("Cmd_FlashSize"))));
        reread();
        auto readDirectory = [this](int times) {
            for (int i = 0; i < times; ++i) {
                ZunSignalSpy read(m_zun->GetMemoryManager(), &CMemoryManager::signal_MemDirChanged);
                m_zun->RefreshMemDir();
                QVERIFY(read.wait(10000));
            }
            settle();
            QTest::qWait(200);
        };
        readDirectory(3);
        QCOMPARE(m_boxes.size(), 1);
        m_zun->disconnect();
        QVERIFY(waitUntil([&]() { return !m_zun->IsConnected(); }));
        m_zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_zun->IsFIRManagerReady(); }, 30000));
        readDirectory(2);
        QCOMPARE(m_boxes.size(), 2);
        const QString text = m_boxes.first();
        QVERIFY2(!text.contains(QRegularExpression(QStringLiteral("[a-z]\\.[A-Z]"))) && !text.contains(QLatin1String("to to"))
                     && !text.contains(QLatin1String("default settings")),
                 qPrintable(text));
    }

    void setupRecallAsksSendsAndEnds()
    {
        start();
        storeSetupZero();
        QComboBox* setups = combo("comboSetupSelect");
        QCOMPARE(setups->currentIndex(), 0);
        // its own auto-repeat timing, released with the selector
        QVERIFY(qobject_cast<ZunStyle*>(setups->style()) && setups->style()->parent() == setups);
        ZunSignalSpy started(m_tab.get(), &ZunSystemWidget::longOperationStarted);
        ZunSignalSpy finished(m_tab.get(), &ZunSystemWidget::longOperationFinished);
        m_sent.clear();
        // The active setup itself is asked for and recalled again.
        answerContinue();
        activate(setups, 0);
        QCOMPARE(started.count(), 1);
        QVERIFY(m_sent.contains(nr("Cmd_SetupSelect"), 0));
        QVERIFY(waitUntil([&]() { return idle(); }));
        QVERIFY(finished.count() >= 1);
        QCOMPARE(setups->currentIndex(), 0);

        // An empty position is refused before anything is sent.
        ZunSignalSpy errors(m_tab.get(), &ZunSystemWidget::signal_exception);
        m_sent.clear();
        activate(setups, 3);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("Setup selection"));
        QCOMPARE(setups->currentIndex(), 0);
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);

        // Mended: a recall was sent while the processor ran a configuration load. Refused
        // before the question, naming what runs.
        auto load = m_zun->GetOperations()->begin(ZunLongOperation::ConfigLoad, 0);
        m_boxes.clear();
        answerNextBox([](QMessageBox* box) { box->reject(); });
        activate(setups, 0);
        QTest::qWait(100); // a question, had one been asked
        qDeleteAll(findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)); // the answer no box took
        QCOMPARE(m_boxes.size(), 0);
        QCOMPARE(errors.count(), 2);
        QVERIFY2(errors.at(1).at(0).toString().startsWith("Zun nr 42 is running a configuration load: setup 0 was not "
                                                          "recalled"),
                 qPrintable(errors.at(1).at(0).toString()));
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);
        load->finish(ZunOperation::Outcome::Done);
    }

    void modifiedImageIsStoredUnderTheActiveSetupFirst()
    {
        start();
        storeSetupZero();
        m_zun->SetChannelGain(-3.0, ZunC::Output0);
        QVERIFY(waitUntil([&]() { return m_zun->IsSetupModified(); }));
        settle();
        m_sent.clear();
        answerNextBox([](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Store") && b->isEnabled())
                    b->click();
            if (box->isVisible())
                box->button(QMessageBox::Cancel)->click();
        });
        activate(combo("comboSetupSelect"), 0);
        // The recall follows the store's answer.
        QVERIFY(waitUntil([&]() { return m_sent.contains(nr("Cmd_SetupSelect"), 0); }));
        const QList<QPair<quint16, quint16>> sent = m_sent.commands();
        const int store = sent.indexOf({nr("Cmd_SetupStore"), 0});
        const int select = sent.indexOf({nr("Cmd_SetupSelect"), 0});
        QVERIFY(store >= 0);
        QVERIFY(select > store);
        QVERIFY(waitUntil([&]() { return idle(); }));
    }

    // Mended: the recall ran without waiting for the store; a store the processor refused
    // lost the edits without a word.
    void aRefusedStoreStopsTheRecallAndKeepsTheEdits()
    {
        start();
        storeSetupZero();
        m_zun->SetChannelGain(-7.0, ZunC::Output0);
        QVERIFY(waitUntil([&]() { return m_zun->IsSetupModified(); }));
        settle();
        QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(nr("Cmd_SetupStore"))));
        ZunSignalSpy errors(m_tab.get(), &ZunSystemWidget::signal_exception);
        m_sent.clear();
        answerNextBox([](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Store"))
                    b->click();
        });
        activate(combo("comboSetupSelect"), 0);
        QVERIFY(waitUntil([&]() { return errors.count() > 0 && idle(); }));
        settle();
        QVERIFY(m_sim->control(QStringLiteral("refuse off")));
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString().contains(QLatin1String("not recalled")));
        QVERIFY(m_sent.contains(nr("Cmd_SetupStore"), 0));
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);
        QCOMPARE(m_zun->GetChannelGain(ZunC::Output0), -7.0f);
        QVERIFY(m_zun->IsSetupModified());
        QCOMPARE(combo("comboSetupSelect")->currentIndex(), 0);
    }

    // "Store" only for a position the list has: 0xCDEF, 254 and 255 stand for no active
    // setup, and a number past the list is no position either.
    void storePositions_data()
    {
        QTest::addColumn<int>("active");
        QTest::addColumn<bool>("offered");
        QTest::newRow("first") << 0 << true;
        QTest::newRow("last") << 9 << true;
        QTest::newRow("past the list") << 10 << false;
        QTest::newRow("far past") << 200 << false;
        QTest::newRow("254") << 254 << false;
        QTest::newRow("255") << 255 << false;
        QTest::newRow("0xCDEF") << 0xCDEF << false;
    }
    void storePositions()
    {
        QFETCH(int, active);
        QFETCH(bool, offered);
        QCOMPARE(ZunSystemWidget::isStorePosition(quint16(active), 10), offered);
        // A list as long as the numbers that mean "none" does not make them positions.
        if (active >= 254)
            QVERIFY(!ZunSystemWidget::isStorePosition(quint16(active), 0x10000));
    }

    // A store or a recall the device object refuses before sending (full flash, a setup
    // gone while the question was open) ends the operation with its message.
    void throwingStoreAndSelectEndTheOperation()
    {
        start();
        storeSetupZero();
        CMemoryManager* dir = m_zun->GetMemoryManager();
        QComboBox* setups = combo("comboSetupSelect");
        ZunSignalSpy errors(m_tab.get(), &ZunSystemWidget::signal_exception);

        m_zun->SetChannelGain(-4.0, ZunC::Output0);
        QVERIFY(waitUntil([&]() { return m_zun->IsSetupModified(); }));
        settle();
        m_sent.clear();
        int filled = 0;
        answerNextBox([&](QMessageBox* box) {
            // The flash fills up while the question is open.
            while (dir->canStoreSetup()) {
                dir->incTransfers();
                ++filled;
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Store"))
                    b->click();
        });
        activate(setups, 0);
        for (; filled > 0; --filled)
            dir->decTransfers();
        QVERIFY(waitUntil([&]() { return idle(); }));
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(0).toString().contains(QLatin1String("Max capacity")));
        QCOMPARE(m_sent.count(nr("Cmd_SetupStore")), 0);
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);
        QCOMPARE(setups->currentIndex(), 0);

        // The setup goes while the question is open: the recall is refused, not sent.
        errors.clear();
        answerNextBox([&](QMessageBox* box) {
            m_zun->RemoveSetup(0);
            waitUntil([&]() { return dir->setupIdAt(0) == 0; });
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Discard and continue") || box->button(QMessageBox::Yes) == b)
                    b->click();
        });
        activate(setups, 0);
        QVERIFY(waitUntil([&]() { return idle(); }));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);
        QVERIFY(!m_tab->isLongOperationPending());
    }

    // Mended: with no active setup (0xCDEF) "Store" had nowhere to go.
    void storeIsNotOfferedWithoutAnActiveSetup()
    {
        start();
        storeSetupZero();
        QVERIFY(m_sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_SetupSelect")).arg(0xCDEF)));
        reread();
        QCOMPARE(m_zun->GetActiveSetup(), quint16(0xCDEF));
        m_zun->SetChannelGain(-3.0, ZunC::Output0);
        QVERIFY(waitUntil([&]() { return m_zun->IsSetupModified(); }));
        settle();
        m_sent.clear();
        bool storeEnabled = true;
        answerNextBox([&storeEnabled](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Store")) {
                    storeEnabled = b->isEnabled();
                    b->click(); // a disabled button ignores the click
                }
            if (box->isVisible())
                box->button(QMessageBox::Cancel)->click();
        });
        activate(combo("comboSetupSelect"), 0);
        QVERIFY(!storeEnabled);
        settle();
        QCOMPARE(m_sent.count(nr("Cmd_SetupStore")), 0);
        QCOMPARE(m_sent.count(nr("Cmd_SetupSelect")), 0);
        QVERIFY(idle());
    }

    // Mended: a recall the processor refuses, or that the link takes with it, no longer
    // leaves the tab busy.
    void failedRecallEndsTheLongOperation()
    {
        start();
        storeSetupZero();
        ZunSignalSpy errors(m_tab.get(), &ZunSystemWidget::signal_exception);
        QVERIFY(m_sim->control(QStringLiteral("refuse %1").arg(nr("Cmd_SetupSelect"))));
        answerContinue();
        activate(combo("comboSetupSelect"), 0);
        QVERIFY(m_tab->isLongOperationPending());
        QVERIFY(waitUntil([&]() { return idle(); }));
        QCOMPARE(errors.count(), 1);
        QVERIFY(m_sim->control(QStringLiteral("refuse off")));

        QVERIFY(m_sim->control(QStringLiteral("droplink")));
        answerContinue();
        activate(combo("comboSetupSelect"), 0);
        QVERIFY(waitUntil([&]() { return !m_tab->isLongOperationPending(); }));
        QVERIFY(!waitCursor());
        QVERIFY(child<QPushButton>("bttnConnect")->isEnabled());
    }

    void errorBoxOfTheWindowEndsTheLongOperation()
    {
        start();
        storeSetupZero();
        QVERIFY(m_sim->control(QStringLiteral("delay 3000"))); // the answer is late
        answerContinue();
        activate(combo("comboSetupSelect"), 0);
        QVERIFY(!idle());
        m_tab->on_CZunException();
        QVERIFY(idle());
        QVERIFY(m_sim->control(QStringLiteral("delay 0")));
    }
};

QTEST_MAIN(TestSystemWidget)
#include "tst_systemwidget.moc"
