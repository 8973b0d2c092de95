// The advanced tab of a device object that is not connected: what is shown by firmware
// and hardware, the end of every long operation (success and failure), refusals before
// anything is sent, downloads that stay in their folder, and the alarm without a sound.
#include "CZunFIRLimManager.h"
#include "CZunStatusBuffer.h"
#include "DeviceTestRig.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunFirSetupActions.h"
#include "ZunDSPProgramInfo.h"
#include "ZunMaintenanceActions.h"
#include "PromptAnswers.h"
#include "ZunSignalSpy.h"

#include <QApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QTextEdit>
#include <QtTest>

using namespace DeviceTestRig;

Q_DECLARE_METATYPE(ZunLongOperation)

class TestAdvancedTab : public QObject
{
    Q_OBJECT

    std::unique_ptr<Config> m_config;
    QSharedPointer<CZun> m_zun;
    SendLog m_sent;
    QTemporaryDir m_files;

    // Firmware below the oldest command table runs with the oldest one.
    void make(quint16 firmware, quint32 hardware)
    {
        m_zun.reset(new CZun(record(firmware, 42, 0, hardware), map(qMax<quint16>(firmware, 1075)),
                             QSharedPointer<CRoutingLibrary>()));
        // At 48 kHz, the rate of the sets listed here.
        m_zun->GetStatusBuffer()->setValue(nr("Cmd_ClockSel"), nr("Inf_Sel_Clk_48"));
        m_sent.clear();
        m_sent.attach(m_zun.data());
    }
    quint16 nr(const char* name) const { return m_zun->GetCmdMap()->getCmdNr(name); }
    template <class T> static T* child(QWidget& tab, const char* name) { return tab.findChild<T*>(QString::fromLatin1(name)); }
    static QString log(QWidget& tab) { return child<QTextEdit>(tab, "textEdit")->toPlainText(); }
    // A set in the manager's list (and model) with outputs of n taps.
    QShPtrFLE listed(const QString& name, int taps0, int taps1 = 1, int taps2 = 1, int taps3 = 1)
    {
        auto s = QShPtrFLE::create(QString(), 48000.0);
        const int taps[4] = {taps0, taps1, taps2, taps3};
        for (int o = 0; o < 4; ++o)
            s->setOutput(o, QVector<qint32>(taps[o], 5000), 0, o);
        s->SetName(name);
        s->computeKey();
        QMetaObject::invokeMethod(m_zun->GetFIRLimManager(), "AddFIRFilterToList", Qt::BlockingQueuedConnection,
                                  Q_ARG(QShPtrFLE, s));
        QCoreApplication::processEvents();
        return s;
    }
    static bool waiting(QWidget& tab) { return tab.testAttribute(Qt::WA_SetCursor) && tab.cursor().shape() == Qt::WaitCursor; }

private slots:
    void initTestCase() { m_config.reset(new Config); }
    void cleanup() { m_zun.reset(); }

    void shownByFirmwareAndBoards_data()
    {
        QTest::addColumn<quint16>("firmware");
        QTest::addColumn<quint32>("hardware");
        QTest::addColumn<bool>("pin");
        QTest::addColumn<bool>("secondDsp");
        QTest::newRow("1072, one board") << quint16(1072) << quint32(0xFF14) << false << false;
        QTest::newRow("1073, one board") << quint16(1073) << quint32(0xFF14) << true << false;
        QTest::newRow("1080, two boards") << quint16(1080) << quint32(0xFF94) << true << true;
    }
    void shownByFirmwareAndBoards()
    {
        QFETCH(quint16, firmware);
        QFETCH(quint32, hardware);
        QFETCH(bool, pin);
        QFETCH(bool, secondDsp);
        make(firmware, hardware);
        ZunAdvancedSettingsWidget tab(m_zun);
        emit m_zun->signal_Connected();
        QTRY_COMPARE(!child<QPushButton>(tab, "bttnSecurityPIN")->isHidden(), pin);
        for (int round = 0; round < 2; ++round) {
            tab.UpdateGui();
            QCOMPARE(!child<QComboBox>(tab, "comboFIRFilter2")->isHidden(), secondDsp);
            QCOMPARE(!child<QLabel>(tab, "labelSelectFir2")->isHidden(), secondDsp);
            QCOMPARE(!child<QCheckBox>(tab, "checkBoxSameFIRs")->isHidden(), secondDsp);
        }
        // Each status reload writes the firmware line again; the pane keeps the earlier ones.
        QCOMPARE(log(tab).count(QStringLiteral("Zun firmware version %1.0").arg(firmware)), 2);
    }

    void linkedSecondSelectorStaysDisabled()
    {
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        auto* combo2 = child<QComboBox>(tab, "comboFIRFilter2");
        tab.onCheckSameFIR(true);
        QTRY_VERIFY(child<QCheckBox>(tab, "checkBoxSameFIRs")->isChecked());
        QVERIFY(!combo2->isEnabled());
        emit tab.longOperationStarted();
        emit tab.longOperationFinished();
        QVERIFY(child<QComboBox>(tab, "comboFIRFilter1")->isEnabled());
        QVERIFY(!combo2->isEnabled());
        tab.setCheckSameFIR(false);
        QVERIFY(combo2->isEnabled());
    }

    // Every report that ends a job, success or failure, ends the wait state; a report of
    // another job (an image reload, a failure elsewhere) leaves the running one as it is.
    void completionsEndTheWait_data()
    {
        QTest::addColumn<ZunLongOperation>("job");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<bool>("flag");
        QTest::addColumn<bool>("ends");
        const auto fir = ZunLongOperation::FirChoice;
        const auto firmware = ZunLongOperation::Firmware;
        QTest::newRow("set changed") << fir << "on_FIRFilterChanged" << true << true;
        QTest::newRow("DSP initialised, the set still to load") << fir << "on_DSPInitialized" << true << false;
        QTest::newRow("DSP not initialised") << fir << "on_DSPInitialized" << false << true;
        QTest::newRow("flash erased") << ZunLongOperation::Erase << "on_FlashMemErased" << true << true;
        QTest::newRow("flash not erased") << ZunLongOperation::Erase << "on_FlashMemErased" << false << true;
        QTest::newRow("setup uploaded") << ZunLongOperation::SetupUpload << "on_SetupUploaded" << true << true;
        QTest::newRow("setup not uploaded") << ZunLongOperation::SetupUpload << "on_SetupUploaded" << false << true;
        QTest::newRow("upload failure") << ZunLongOperation::SetupUpload << "signal_exception" << true << true;
        QTest::newRow("firmware refused") << firmware << "on_FirmwareCheck" << false << true;
        QTest::newRow("firmware accepted") << firmware << "on_FirmwareCheck" << true << false;
        QTest::newRow("firmware finished") << firmware << "finishFwUpdate" << true << true;
        QTest::newRow("defaults restored") << ZunLongOperation::Restore << "on_DefaultSettingsRestored" << true << true;
        QTest::newRow("image reload in a firmware update") << firmware << "on_FIRFilterChanged" << true << false;
        QTest::newRow("device failure in a firmware update") << firmware << "signal_exception" << true << false;
        QTest::newRow("DSP report in an erase") << ZunLongOperation::Erase << "on_DSPInitialized" << false << false;
        QTest::newRow("setup report in a folder load") << ZunLongOperation::ConfigLoad << "on_SetupUploaded" << true << false;
        QTest::newRow("erase report in a FIR choice") << fir << "on_FlashMemErased" << true << false;
        QTest::newRow("link lost in an erase") << ZunLongOperation::Erase << "on_Disconnected" << true << true;
        QTest::newRow("link lost in a firmware update") << firmware << "on_Disconnected" << true << false;
    }
    void completionsEndTheWait()
    {
        QFETCH(ZunLongOperation, job);
        QFETCH(QString, slot);
        QFETCH(bool, flag);
        QFETCH(bool, ends);
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        PromptAnswers::install(tab.maintenance()); // the firmware's outcomes are told
        auto* combo1 = child<QComboBox>(tab, "comboFIRFilter1");
        auto* combo2 = child<QComboBox>(tab, "comboFIRFilter2");
        ZunSignalSpy finished(&tab, &ZunAdvancedSettingsWidget::longOperationFinished);
        emit tab.maintenance()->longOperationStarted(job);
        QVERIFY(waiting(tab) && tab.isRunning(job));
        QVERIFY(!combo1->isEnabled() && !combo2->isEnabled());
        if (slot == "on_FIRFilterChanged")
            tab.on_FIRFilterChanged(1, QShPtrFLE(), -1);
        else if (slot == "on_DSPInitialized")
            tab.on_DSPInitialized(flag, 1, 0);
        else if (slot == "on_SetupUploaded")
            tab.on_SetupUploaded(flag, 3);
        else if (slot == "signal_exception")
            emit m_zun->signal_exception(QStringLiteral("lost"), QStringLiteral("ZunControl"));
        else if (slot == "finishFwUpdate")
            tab.finishFwUpdate();
        else if (slot == "on_Disconnected")
            tab.on_Disconnected();
        else
            QVERIFY(QMetaObject::invokeMethod(&tab, slot.toLatin1().constData(), Q_ARG(bool, flag)));
        QCoreApplication::processEvents();
        QCOMPARE(finished.count() > 0, ends);
        QCOMPARE(waiting(tab), !ends);
        QCOMPARE(tab.isRunning(job), !ends);
        QCOMPARE(combo1->isEnabled(), ends);
        QCOMPARE(combo2->isEnabled(), ends);
    }

    // A set chosen for one DSP leaves the other DSP's set and every copy mode as they are:
    // a multipath set-up keeps its copied coefficients. Linked, both DSPs take the set and
    // keep their modes.
    void choosingASetKeepsTheOtherDspAndTheCopyModes()
    {
        make(1080, 0xFF94);
        auto set = [&](const char* name, quint16 value) { m_zun->GetStatusBuffer()->setValue(nr(name), value); };
        set("Cmd_0_DSP_Type", 791);
        const QShPtrFLE a = listed(QStringLiteral("A"), 300);
        const QShPtrFLE b = listed(QStringLiteral("B"), 290);
        auto program = [](const QShPtrFLE& s, int mode) {
            CBlockFIR probe = *s;
            probe.checkFilterResources();
            ZunDSPProgramInfo info(ZunDSPProgramInfo::linkedProgID(mode, probe.dspProgramId()), 1080);
            info.setDSPType(791);
            return info.progID();
        };
        QCOMPARE(program(a, 0), program(b, 0)); // so that a change of set boots nothing
        // DSP 0 copies mid+high onto sub+low with set A; DSP 1 runs set B without copies.
        set("Cmd_0_FIRCopy", 1);
        set("Cmd_0_FIR_ID0", quint16(a->getKey() & 0xFFFF));
        set("Cmd_0_FIR_ID1", quint16(a->getKey() >> 16));
        set("Cmd_0_DSP_ID", program(a, 1));
        set("Cmd_1_FIR_ID0", quint16(b->getKey() & 0xFFFF));
        set("Cmd_1_FIR_ID1", quint16(b->getKey() >> 16));
        set("Cmd_1_DSP_ID", program(b, 0));
        CZunFIRLimManager* fir = m_zun->GetFIRLimManager();
        QVERIFY(QMetaObject::invokeMethod(fir, "on_ZunStatusChanged", Qt::BlockingQueuedConnection));
        ZunAdvancedSettingsWidget tab(m_zun);
        auto* combo1 = child<QComboBox>(tab, "comboFIRFilter1");
        QTRY_COMPARE(combo1->count(), 2);
        const int rowA = fir->GetFIRFilterPos(a->getKey()), rowB = fir->GetFIRFilterPos(b->getKey());
        auto managerDone = [&]() {
            QVERIFY(QMetaObject::invokeMethod(fir, []() {}, Qt::BlockingQueuedConnection));
        };
        auto noCopyMode = [&]() { return m_sent.count(nr("Cmd_0_FIRCopy")) + m_sent.count(nr("Cmd_1_FIRCopy")) == 0; };

        // DSP 2 takes A: nothing of DSP 1 is sent.
        m_sent.clear();
        tab.set_FIRFilter2(rowA);
        QTRY_VERIFY(m_sent.contains(nr("Cmd_1_FIR_ID0"), quint16(a->getKey() & 0xFFFF)));
        managerDone();
        QVERIFY(noCopyMode());
        QCOMPARE(m_sent.count(nr("Cmd_0_FIR_ID0")) + m_sent.count(nr("Cmd_0_DSP_LoadKoef")), 0);

        // DSP 1 takes B in its running copy mode: no boot, DSP 2 untouched.
        set("Cmd_1_FIR_ID0", quint16(a->getKey() & 0xFFFF));
        set("Cmd_1_FIR_ID1", quint16(a->getKey() >> 16));
        set("Cmd_1_DSP_ID", program(a, 0));
        set("Cmd_0_DSP_ID", program(b, 1));
        QVERIFY(QMetaObject::invokeMethod(fir, "on_ZunStatusChanged", Qt::BlockingQueuedConnection));
        m_sent.clear();
        tab.set_FIRFilter1(rowB);
        QTRY_VERIFY(m_sent.contains(nr("Cmd_0_FIR_ID0"), quint16(b->getKey() & 0xFFFF)));
        managerDone();
        QVERIFY(noCopyMode());
        QCOMPARE(m_sent.count(nr("Cmd_0_DSP_ID")) + m_sent.count(nr("Cmd_1_FIR_ID0")), 0);

        // Linked: both DSPs take A, each in the mode it runs.
        tab.setCheckSameFIR(true);
        m_sent.clear();
        tab.set_FIRFilter1(rowA);
        QTRY_VERIFY(m_sent.contains(nr("Cmd_1_FIR_ID0"), quint16(a->getKey() & 0xFFFF)));
        managerDone();
        QVERIFY(noCopyMode());
        QVERIFY(m_sent.contains(nr("Cmd_0_FIR_ID0"), quint16(a->getKey() & 0xFFFF)));
    }

    // Mended: one wheel notch over the unfocused DSP 2 selector swapped the running set.
    void wheelOverAnUnfocusedSelectorChangesNoSet()
    {
        make(1080, 0xFF94);
        listed(QStringLiteral("A"), 300);
        listed(QStringLiteral("B"), 290);
        ZunAdvancedSettingsWidget tab(m_zun);
        m_sent.clear();
        for (const char* name : {"comboFIRFilter1", "comboFIRFilter2"}) {
            auto* combo = child<QComboBox>(tab, name);
            QTRY_COMPARE(combo->count(), 2);
            combo->setCurrentIndex(0);
            QWheelEvent down(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                             Qt::NoScrollPhase, false);
            QApplication::sendEvent(combo, &down);
            QCOMPARE(combo->currentIndex(), 0);
        }
        QCoreApplication::processEvents();
        QVERIFY(m_sent.commands().isEmpty());
    }

    // Mended: sets listed after the tab was shown, same-named ones with their ids, were cut
    // in the closed selectors ("Thru (67a5f21l").
    void closedSelectorsShowTheWholeName()
    {
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        tab.resize(880, 566);
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        listed(QStringLiteral("Thru"), 300);
        listed(QStringLiteral("Thru"), 290);
        // The text drawn in a closed selector is cut at the edge of its edit field.
        auto fits = [](QComboBox* combo) {
            QStyleOptionComboBox opt;
            opt.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
            return combo->fontMetrics().horizontalAdvance(combo->currentText()) <= field.width();
        };
        for (const char* name : {"comboFIRFilter1", "comboFIRFilter2"}) {
            auto* combo = child<QComboBox>(tab, name);
            QTRY_COMPARE(combo->count(), 2);
            for (int row = 0; row < 2; ++row) {
                combo->setCurrentIndex(row);
                QVERIFY(combo->currentText().startsWith(QLatin1String("Thru (")));
                QTRY_VERIFY2(fits(combo), qPrintable(combo->currentText()));
            }
        }
    }

    // Refused by the resource check: its text, nothing sent, the selectors back.
    void activationRefusedForTooManyMips()
    {
        make(1080, 0xFF94);
        m_zun->GetStatusBuffer()->setValue(nr("Cmd_0_DSP_Type"), nr("Inf_DSPTyp0"));
        listed(QStringLiteral("Small"), 10);
        listed(QStringLiteral("Huge"), 4096, 4096, 1024, 1);
        ZunAdvancedSettingsWidget tab(m_zun);
        auto* combo1 = child<QComboBox>(tab, "comboFIRFilter1");
        QTRY_COMPARE(combo1->count(), 2);
        combo1->setCurrentIndex(1);
        ZunSignalSpy failed(&tab, &ZunAdvancedSettingsWidget::signal_exception);
        m_sent.clear();
        tab.set_FIRFilter1(1);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Filter can not be used with Zun. Too many MIPS required."));
        QVERIFY(!waiting(tab));
        QVERIFY(combo1->isEnabled() && child<QComboBox>(tab, "comboFIRFilter2")->isEnabled());
        QCOMPARE(combo1->currentIndex(), -1); // no set is active
        QCoreApplication::processEvents();
        QCOMPARE(m_sent.count(nr("Cmd_0_FIR_ID0")), 0);
    }

    void uploadsRefuseWhatTheLibraryRefuses()
    {
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        ZunSignalSpy failed(&tab, &ZunAdvancedSettingsWidget::signal_exception);
        ZunSignalSpy started(&tab, &ZunAdvancedSettingsWidget::longOperationStarted);
        const QString fir = m_files.filePath(QStringLiteral("broken.fir")), zun = m_files.filePath(QStringLiteral("broken.zun"));
        for (const QString& f : {fir, zun}) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("PK\x03\x04 this is no archive") > 0);
        }
        QVERIFY(!tab.firSetup()->startFIRFilterUpload(fir));
        QVERIFY(!tab.firSetup()->startSetupUpload(zun, 2));
        QCOMPARE(failed.count(), 2);
        QVERIFY(failed.at(0).at(0).toString().startsWith(QStringLiteral("FIR file '%1' can not be read").arg(fir)));
        QVERIFY(!failed.at(1).at(0).toString().isEmpty());
        QCOMPARE(started.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(m_sent.count(0xFF00), 0);

        // A set the device holds already: said so, and no job that would never end.
        const QShPtrFLE set = listed(QStringLiteral("Stored"), 10);
        set->toFile(m_files.path(), false);
        QVERIFY(!tab.firSetup()->startFIRFilterUpload(m_files.filePath(set->makeFileName())));
        QVERIFY(log(tab).contains(QStringLiteral("FIR filter Stored is already stored in the Zun.")));
        QCOMPARE(started.count(), 0);

        // Mended: without a link, after an operation (the wizard) had reported its loss, an
        // upload was only logged, and the tab stayed busy. One box each, nothing started.
        m_zun->SetLinkLossReportedByOperation(true);
        auto fresh = QShPtrFLE::create(QString(), 48000.0);
        for (int o = 0; o < 4; ++o)
            fresh->setOutput(o, QVector<qint32>(12, 4000), 0, o);
        fresh->SetName(QStringLiteral("Fresh"));
        fresh->computeKey();
        fresh->toFile(m_files.path(), false);
        failed.clear();
        QVERIFY(!tab.firSetup()->startFIRFilterUpload(m_files.filePath(fresh->makeFileName())));
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.at(0).at(0).toString().contains(QStringLiteral("FIR filter Fresh was not stored")),
                 qPrintable(failed.at(0).at(0).toString()));
        QCOMPARE(started.count(), 0);
        QVERIFY(!waiting(tab));
        m_zun->SetLinkLossReportedByOperation(false);
    }

    void downloadsStayInTheirFolder()
    {
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        const QShPtrFLE set = listed(QStringLiteral("../up/a.fir.b"), 10);
        QTemporaryDir out;
        const QString written = tab.firSetup()->downloadFIRFilterTo(set->getKey(), out.path());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(written).fileName()});
        QCOMPARE(FilterLimiterEWS(written, 0.0).toByteArray(), set->toByteArray());

        // XML: only the suffix changes.
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).setValue(QStringLiteral("xmlFir"), true);
        const QString xml = tab.firSetup()->downloadFIRFilterTo(set->getKey(), out.path());
        QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).remove(QStringLiteral("xmlFir"));
        QCOMPARE(QFileInfo(xml).fileName(), QFileInfo(written).completeBaseName() + QStringLiteral(".xml"));
        QCOMPARE(FilterLimiterEWS(xml, 0.0).getKey(), set->getKey());

        // A folder that is not there: reported, nothing written.
        ZunSignalSpy failed(&tab, &ZunAdvancedSettingsWidget::signal_exception);
        QVERIFY(tab.firSetup()->downloadFIRFilterTo(set->getKey(), out.filePath(QStringLiteral("missing"))).isEmpty());
        QCOMPARE(failed.count(), 1);

        // The filter choice, cancelled: the tab keeps its one set of maintenance actions
        // (a firmware update under way stays where its progress goes).
        QTimer::singleShot(0, []() {
            if (auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                form->reject();
        });
        tab.firSetup()->downloadFIRFilter();
        QCOMPARE(tab.findChildren<ZunMaintenanceActions*>().size(), 1);
    }

    void alarmWithoutSoundFile()
    {
        make(1080, 0xFF94);
        ZunAdvancedSettingsWidget tab(m_zun);
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_files.path()));
        emit m_zun->signal_LogMessage(QStringLiteral("Output 3 is limiting"), true);
        QTRY_VERIFY(log(tab).endsWith(QStringLiteral("Output 3 is limiting")));
        QVERIFY(!tab.findChild<QObject*>(QStringLiteral("alarmSound")));
        // Mended: a refusal was logged in the dispatcher's words only.
        emit m_zun->signal_LogMessage(QStringLiteral("Internal error e003 at Cmd:65280, Val:24\n"), true);
        QTRY_VERIFY2(log(tab).endsWith(QStringLiteral("The processor refused command 65280 = 24: Block checksum "
                                                      "error. (Internal error e003 at Cmd:65280, Val:24)")),
                     qPrintable(log(tab)));
        QDir::setCurrent(cwd);
    }
};

QTEST_MAIN(TestAdvancedTab)
#include "tst_advancedtab.moc"
