// The configuration wizard run from the advanced tab against an emulated processor on
// loopback, as an operator walks it: Back and Next through every page, in both routing
// modes, and what the processor holds after Finish is what the pages showed. A run that
// changes nothing changes nothing; kept settings keep the speakers' limits.
#include "CRoutingLibrary.h"
#include "CZunConfigWizard.h"
#include "CZunFIRLimManager.h"
#include "CZunFullRoutingPreset.h"
#include "CZunRoutingWord.h"
#include "DeviceTestRig.h"
#include "FilterLimiterEWS.h"
#include "PromptAnswers.h"
#include "QWizardComboBox.h"
#include "SimDeviceRig.h"
#include "TcpSimProcess.h"
#include "ZunMaintenanceActions.h"
#include "ZunOperations.h"
#include "ZunSignalSpy.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

using namespace DeviceTestRig;

namespace
{
// What a page shows in a choice: the data of its current item, nothing without one.
QVariant shown(const QComboBox* box)
{
    return box->currentIndex() < 0 ? QVariant() : box->itemData(box->currentIndex());
}

// Preset values compare by the words they put into the processor.
QString key(const QVariant& v)
{
    if (v.userType() == qMetaTypeId<CZunFullRoutingPreset>())
        return QStringLiteral("full %1").arg(v.value<CZunFullRoutingPreset>().getPattern(), 0, 16);
    if (v.userType() == qMetaTypeId<CZunRoutingPreset>())
        return QStringLiteral("rp %1").arg(v.value<CZunRoutingPreset>().getNumber());
    if (v.userType() == qMetaTypeId<CZunInputPreset>())
        return QStringLiteral("ip %1").arg(v.value<CZunInputPreset>().getNumber());
    return v.isValid() ? v.toString() : QStringLiteral("none");
}

// Closes every message box as it shows and keeps its title.
class BoxCloser : public QObject
{
public:
    BoxCloser()
    {
        connect(&m_timer, &QTimer::timeout, this, [this]() {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    titles << box->windowTitle();
                    box->done(QMessageBox::Ok);
                }
        });
        m_timer.start(5);
    }
    QStringList titles;

private:
    QTimer m_timer;
};
} // namespace

class TestWizardE2E : public QObject
{
    Q_OBJECT

    SimDeviceRig m_rig;
    std::unique_ptr<QWidget> m_tab;
    ZunMaintenanceActions* m_actions = nullptr;
    PromptAnswers* m_answers = nullptr;
    QTemporaryDir m_files;

    quint16 nr(const char* name) const { return m_rig.nr(name); }
    // One word as the processor holds it.
    int held(const char* name)
    {
        const QString line = m_rig.sim->query(QStringLiteral("get %1").arg(nr(name)), QStringLiteral("word "));
        return line.section(' ', 2, 2).toInt();
    }
    quint32 heldSetId(int dsp)
    {
        return dsp == 1 ? quint32(held("Cmd_0_FIR_ID1")) << 16 | quint32(held("Cmd_0_FIR_ID0"))
                        : quint32(held("Cmd_1_FIR_ID1")) << 16 | quint32(held("Cmd_1_FIR_ID0"));
    }

    void start(bool withLibrary = true)
    {
        QString error;
        const auto library = withLibrary ? QSharedPointer<CRoutingLibrary>::create(map(1080)) : QSharedPointer<CRoutingLibrary>();
        QVERIFY2(m_rig.start(library, &error), qPrintable(error));
        m_tab.reset(new QWidget);
        m_actions = new ZunMaintenanceActions(m_rig.zun, m_tab.get());
        m_answers = PromptAnswers::install(m_actions);
    }

    // The wizard's pages and choices, found as the operator sees them.
    template <class T>
    static T* child(QWizardPage* page, const QString& text)
    {
        for (T* c : page->findChildren<T*>())
            if (c->text() == text)
                return c;
        return nullptr;
    }
    static QWizardComboBox* boxWith(QWizardPage* page, const std::function<bool(const QVariant&)>& holds)
    {
        for (QWizardComboBox* box : page->findChildren<QWizardComboBox*>())
            if (box->count() && holds(box->itemData(box->count() - 1)))
                return box;
        return nullptr;
    }
    template <class T>
    static QWizardComboBox* presetBox(QWizardPage* page)
    {
        return boxWith(page, [](const QVariant& v) { return v.userType() == qMetaTypeId<T>(); });
    }
    static QWizardComboBox* buddyOf(QWizardPage* page, const QString& label)
    {
        QLabel* l = child<QLabel>(page, label);
        return l ? qobject_cast<QWizardComboBox*>(l->buddy()) : nullptr;
    }
    static QWizardComboBox* gridBox(QWizardPage* page, int row, int column)
    {
        return qobject_cast<QWizardComboBox*>(page->findChild<QGridLayout*>()->itemAtPosition(row, column)->widget());
    }
    static QWizardComboBox* kindBox(QWizardPage* page)
    {
        for (QWizardComboBox* box : page->findChildren<QWizardComboBox*>())
            if (box->count() == 2 && box->itemText(1) == QLatin1String("FIR"))
                return box;
        return nullptr;
    }
    static QWizardComboBox* fileBox(QWizardPage* page, int dsp) { return page->findChildren<QWizardComboBox*>().at(dsp); }

    // Every field of the page against the choice that shows it.
    static QMap<QString, QComboBox*> fieldBoxes(CZunConfigWizard& w, int id)
    {
        QWizardPage* page = w.page(id);
        switch (id) {
        case CZunConfigWizard::XOver:
            return {{"XOverSelect", kindBox(page)}, {"FIRPath1", fileBox(page, 1)}, {"FIRPath2", fileBox(page, 2)}};
        case CZunConfigWizard::FullRouting:
            return {{"FullRoutingPreset", presetBox<CZunFullRoutingPreset>(page)}};
        case CZunConfigWizard::ExpertRouting:
            return {{"RoutingPreset", presetBox<CZunRoutingPreset>(page)},
                    {"InputPreset", presetBox<CZunInputPreset>(page)}};
        case CZunConfigWizard::MultipathClock:
            return {{"Multipath1", buddyOf(page, "&Multipath DSP1")}, {"Multipath2", buddyOf(page, "Multi&path DSP2")},
                    {"Clock", buddyOf(page, "&Clock")}, {"CopyFIRCoeffs1", gridBox(page, 1, 4)},
                    {"CopyFIRCoeffs2", gridBox(page, 3, 4)}};
        default: return {};
        }
    }
    // Fails the test when a field of the page holds anything but what the page shows.
    static bool fieldsAsShown(CZunConfigWizard& w, int id)
    {
        const QMap<QString, QComboBox*> boxes = fieldBoxes(w, id);
        for (auto it = boxes.cbegin(); it != boxes.cend(); ++it) {
            if (!it.value())
                return false;
            const QString field = key(w.field(it.key()));
            const QString page = key(shown(it.value()));
            // An empty file choice shows its prompt; its field is the empty path.
            if (field != page && !(it.key().startsWith("FIRPath") && (field == "none" || field.isEmpty()) && page.isEmpty())) {
                qWarning("page %d: field %s holds %s, the page shows %s", id, qPrintable(it.key()), qPrintable(field),
                         qPrintable(page));
                return false;
            }
        }
        return true;
    }

    // The operator's buttons; every page reached is checked.
    static bool press(CZunConfigWizard& w, QWizard::WizardButton which)
    {
        QAbstractButton* b = w.button(which);
        if (!b->isVisible() || !b->isEnabled())
            return false;
        b->click();
        return w.currentId() < 0 || fieldsAsShown(w, w.currentId());
    }
    static bool next(CZunConfigWizard& w) { return press(w, QWizard::NextButton); }
    static bool back(CZunConfigWizard& w) { return press(w, QWizard::BackButton); }
    // Back and Next again: the page comes back as it was built the first time.
    static bool backAndNext(CZunConfigWizard& w) { return back(w) && next(w); }
    // Shown, on through the pages to Finish, "Keep current settings" as given.
    static bool onToFinish(CZunConfigWizard& w, bool keep)
    {
        w.show();
        while (w.currentId() != CZunConfigWizard::Finish)
            if (!next(w))
                return false;
        w.setField("KeepSettings", keep);
        return true;
    }
    static void select(QComboBox* box, const QString& k)
    {
        for (int i = 0; i < box->count(); ++i)
            if (key(box->itemData(i)) == k)
                box->setCurrentIndex(i);
    }

    // What the pages showed when the operator pressed Finish.
    struct Shown
    {
        QMap<QString, QString> values;
        QVariant full, routing, input;
        int clock = -1, multipath1 = -1, multipath2 = -1, copy1 = -1, copy2 = -1, kind = -1;
    };
    static Shown recordShown(CZunConfigWizard& w, bool advanced)
    {
        Shown s;
        s.kind = shown(kindBox(w.page(CZunConfigWizard::XOver))).toInt();
        if (advanced) {
            s.routing = shown(presetBox<CZunRoutingPreset>(w.page(CZunConfigWizard::ExpertRouting)));
            s.input = shown(presetBox<CZunInputPreset>(w.page(CZunConfigWizard::ExpertRouting)));
        } else {
            s.full = shown(presetBox<CZunFullRoutingPreset>(w.page(CZunConfigWizard::FullRouting)));
        }
        const QMap<QString, QComboBox*> mc = fieldBoxes(w, CZunConfigWizard::MultipathClock);
        s.clock = shown(mc["Clock"]).toInt();
        s.multipath1 = shown(mc["Multipath1"]).toInt();
        s.multipath2 = shown(mc["Multipath2"]).toInt();
        // A copy choice that is not shown copies nothing.
        s.copy1 = mc["CopyFIRCoeffs1"]->isHidden() ? 0 : shown(mc["CopyFIRCoeffs1"]).toInt();
        s.copy2 = mc["CopyFIRCoeffs2"]->isHidden() ? 0 : shown(mc["CopyFIRCoeffs2"]).toInt();
        return s;
    }

    // The processor holds what the pages showed: clock, routing, the sets of both DSPs
    // with their multipath modes (IIR) and their coefficient copies.
    bool holdsShown(const Shown& s, bool advanced, const QString& firName = QString())
    {
        return waitUntil([&]() {
            if (!transfersIdle(m_rig.zun.data()) || held("Cmd_ClockSel") != s.clock)
                return false;
            const quint16 routing = quint16(held("Cmd_SPI_Routing"));
            if (advanced) {
                if (routing != CZunRoutingWord::compose(s.routing.value<CZunRoutingPreset>().getNumber(),
                                                         s.input.value<CZunInputPreset>().getNumber()))
                    return false;
            } else {
                const auto full = s.full.value<CZunFullRoutingPreset>();
                if (routing != full.getRoutingWord().word || held("Cmd_DSP_FullRouting0") != int(full.getPattern() & 0xFFFF)
                    || held("Cmd_DSP_FullRouting1") != int(full.getPattern() >> 16))
                    return false;
            }
            if (held("Cmd_0_FIRCopy") != s.copy1 || held("Cmd_1_FIRCopy") != s.copy2)
                return false;
            for (int dsp : {1, 2}) {
                const QShPtrFLE set = m_rig.zun->GetFIRLimManager()->GetFIRFilter(heldSetId(dsp));
                if (!set)
                    return false;
                if (s.kind == 0 && (!set->isDefaultCrossover() || set->multipathMode() != (dsp == 1 ? s.multipath1 : s.multipath2)))
                    return false;
                if (s.kind == 1 && (set->isDefaultCrossover() || set->GetName() != firName))
                    return false;
            }
            return true;
        }, 30000);
    }

    // A FIR crossover set at a rate, written as a file.
    QString writeFir(const QString& name, double rate, quint32* key = nullptr)
    {
        FilterLimiterEWS set(QString(), rate);
        set.setSampleRate(rate);
        for (int o = 0; o < 4; ++o)
            set.setOutput(o, QVector<qint32>(64, 2000 * (o + 1)), 10, o);
        set.SetName(name);
        const quint32 k = set.computeKey();
        if (key)
            *key = k;
        const QString path = m_files.filePath(name + QStringLiteral(".fir"));
        set.toFile(path);
        return path;
    }

    // The link dropped at the next command: the link's own box, then connected again.
    void lostWithItsOwnBox(ZunSignalSpy& failed)
    {
        QVERIFY(m_rig.sim->control(QStringLiteral("droplink")));
        m_rig.zun->requestCmdStatus(nr("Cmd_KeyLock"));
        QVERIFY(waitUntil([&]() {
            return std::any_of(failed.begin(), failed.end(), [](const QVariantList& a) { return a.at(1) == "Network error"; });
        }));
        failed.clear();
        m_rig.zun->connect(true);
        QVERIFY(waitUntil([&]() { return m_rig.zun->IsFIRManagerReady(); }, 30000));
        QVERIFY(settleTransfers(m_rig.zun.data()));
    }

    // On the crossover page: fir on both DSPs; then on to Finish, recording what the pages
    // show, and Finish pressed.
    bool finishWithFir(CZunConfigWizard& w, const QString& fir, Shown* s)
    {
        QWizardPage* xo = w.page(CZunConfigWizard::XOver);
        fileBox(xo, 1)->setEditText(fir);
        child<QCheckBox>(xo, "Use same FIR filter on DSP1 and DSP2")->setChecked(true);
        while (w.currentId() != CZunConfigWizard::Finish)
            if (!next(w))
                return false;
        *s = recordShown(w, false);
        return press(w, QWizard::FinishButton);
    }

private slots:
    void cleanup()
    {
        m_tab.reset();
        m_rig.stop();
    }

    // IIR crossovers in both routing modes: the operator makes choices, goes back and
    // forth over every page, makes them again, and Finish sends what the pages show.
    void walkBothModes_data()
    {
        QTest::addColumn<bool>("advanced");
        QTest::newRow("full routing") << false;
        QTest::newRow("expert routing") << true;
    }
    void walkBothModes()
    {
        QFETCH(bool, advanced);
        start();
        Shown s;
        bool walked = false;
        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.show();
            QWizardPage* mc = w.page(CZunConfigWizard::MultipathClock);
            auto chooseRouting = [&]() {
                if (advanced) {
                    QWizardPage* p = w.page(CZunConfigWizard::ExpertRouting);
                    select(presetBox<CZunRoutingPreset>(p), "rp 36"); // 4x 1->2 alternating
                    select(presetBox<CZunInputPreset>(p), "ip 69");
                } else {
                    select(presetBox<CZunFullRoutingPreset>(w.page(CZunConfigWizard::FullRouting)), "full 80066480");
                }
            };
            auto chooseModes = [&]() {
                select(buddyOf(mc, "&Clock"), "1");
                select(buddyOf(mc, "&Multipath DSP1"), "1");
                if (advanced)
                    select(gridBox(mc, 1, 4), "1");
                select(buddyOf(mc, "Multi&path DSP2"), "2");
            };
            if (!next(w) || w.currentId() != CZunConfigWizard::XOver || !backAndNext(w) || !next(w))
                return false;
            if (advanced) {
                w.setField("AdvancedMode", true);
                if (!next(w) || w.currentId() != CZunConfigWizard::ExpertRouting)
                    return false;
            }
            chooseRouting();
            if (!backAndNext(w))
                return false;
            chooseRouting();
            if (!next(w) || w.currentId() != CZunConfigWizard::MultipathClock)
                return false;
            chooseModes();
            if (!fieldsAsShown(w, w.currentId()) || !backAndNext(w)) // the page is built anew
                return false;
            chooseModes();
            if (!next(w) || w.currentId() != CZunConfigWizard::Finish || !back(w) || !next(w))
                return false;
            s = recordShown(w, advanced);
            walked = true;
            return press(w, QWizard::FinishButton) && w.result() == QDialog::Accepted;
        };
        // Finish neither blocks nor spins the GUI thread: the steps run from its event loop.
        bool nested = false;
        QTimer::singleShot(0, this, [&]() { nested = true; });
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(!nested);
        QVERIFY(m_rig.zun->IsApplyingRouting());
        QCOMPARE(m_rig.sent.count(nr("Cmd_ClockSel")), 0);
        QVERIFY(walked);
        QCOMPARE(s.clock, 1);
        QCOMPARE(s.multipath1, 1);
        QCOMPARE(s.multipath2, 2);
        QCOMPARE(s.copy1, advanced ? 1 : 0);
        QVERIFY(holdsShown(s, advanced));
    }

    // A processor running a FIR crossover: Back and Next on the crossover page keep FIR,
    // and Finish keeps the FIR set running instead of a pass-through one. A file at a rate
    // the DSPs cannot run is refused with its reason.
    void firCrossoverKept()
    {
        start();
        const QString fir = writeFir("Main PA", 48000.0);
        const QString fast = writeFir("Fast PA", 192000.0);
        Shown s;
        BoxCloser boxes;
        auto walk = [&](CZunConfigWizard& w, bool runsFir) {
            w.show();
            QWizardPage* xo = w.page(CZunConfigWizard::XOver);
            if (!next(w))
                return false;
            if (runsFir) {
                // the crossover page opens on the FIR the processor runs, and stays there
                if (shown(kindBox(xo)).toInt() != 1 || !backAndNext(w) || shown(kindBox(xo)).toInt() != 1)
                    return false;
            } else {
                kindBox(xo)->setCurrentIndex(1);
            }
            // this processor's DSPs run no 192 kHz: refused, the page stays incomplete
            fileBox(xo, 1)->setEditText(fast);
            if (xo->isComplete() || boxes.titles != QStringList("Invalid FIR filter"))
                return false;
            return finishWithFir(w, fir, &s);
        };
        m_answers->wizard = [&](CZunConfigWizard& w) { return walk(w, false); };
        m_actions->on_BttnRouting();
        QCOMPARE(s.kind, 1);
        QVERIFY(holdsShown(s, false, "Main PA"));
        QVERIFY(reread(m_rig.zun.data()));

        boxes.titles.clear();
        s = Shown();
        m_answers->wizard = [&](CZunConfigWizard& w) { return walk(w, true); };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        QCOMPARE(s.kind, 1);
        QVERIFY(holdsShown(s, false, "Main PA"));
        QCOMPARE(m_rig.sent.count(nr("Cmd_ClockSel")), 1);
    }

    // A run that changes nothing, keeping the settings, changes nothing: the routing (a
    // preset whose name another preset shares), the clock, and the speakers' limits.
    void unchangedRunChangesNothing()
    {
        start();
        // The second of the two "4xAna In 4x1->2" presets, and limits of the operator's own.
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_SPI_Routing")).arg(0x23A4)));
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_DSP_Routing")).arg(0x23A4)));
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_DSP_FullRouting0")).arg(0x6480)));
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_DSP_FullRouting1")).arg(0x8006)));
        QVERIFY(reread(m_rig.zun.data()));
        const int clock = held("Cmd_ClockSel");
        QShPtrFLE limited = m_rig.zun->GetFIRLimManager()->CreateThruFIRFilter(m_rig.zun->GetSampleRate(), 0);
        for (int o = 0; o < 4; ++o)
            QVERIFY(limited->setLimiterThresholdContinuous(60.0, o, 0, 0));
        limited->SetName(QStringLiteral("Stage 60 W"));
        const quint32 id = limited->computeKey();
        m_rig.zun->CheckFilterMIPS(limited, 0);
        m_rig.zun->UploadFIRFilter(limited, 0);
        m_rig.zun->InvokeActivateFIRFilter(id, ZunC::NoCopies, id, ZunC::NoCopies);
        QVERIFY(waitUntil([&]() { return heldSetId(1) == id && heldSetId(2) == id; }, 30000));
        QVERIFY(settleTransfers(m_rig.zun.data()));
        QVERIFY(reread(m_rig.zun.data()));

        m_answers->wizard = [&](CZunConfigWizard& w) { return onToFinish(w, true) && press(w, QWizard::FinishButton); };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        QVERIFY(m_rig.sent.count(nr("Cmd_ClockSel")) == 1); // the wizard did run
        QVERIFY(waitUntil([&]() { return transfersIdle(m_rig.zun.data()) && heldSetId(1) != id; }, 30000));
        QVERIFY(settleTransfers(m_rig.zun.data()));
        QCOMPARE(held("Cmd_SPI_Routing"), 0x23A4);
        QCOMPARE(held("Cmd_DSP_FullRouting0"), 0x6480);
        QCOMPARE(held("Cmd_DSP_FullRouting1"), 0x8006);
        QCOMPARE(held("Cmd_ClockSel"), clock);

        // The sets the processor runs now, as a device of its own reads them back.
        const quint32 ids[2] = {heldSetId(1), heldSetId(2)};
        m_rig.zun->disconnect();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsConnected(); }));
        auto m = map(1080);
        QSharedPointer<CZun> reader = m_rig.newDevice(QSharedPointer<CRoutingLibrary>::create(m));
        reader->connect(true);
        QVERIFY(waitUntil([&]() { return reader->IsFIRManagerReady(); }, 30000));
        QVERIFY(settleTransfers(reader.data()));
        for (quint32 running : ids) {
            const QShPtrFLE set = reader->GetFIRLimManager()->GetFIRFilter(running);
            QVERIFY(set);
            QVERIFY(set->isDefaultCrossover());
            for (int o = 0; o < 4; ++o)
                QCOMPARE(set->limiterThresholdContinuous(o, 0, 0), 60.0);
        }
        reader->disconnect();
        QVERIFY(waitUntil([&]() { return !reader->IsConnected(); }));
    }

    // From 48 to 96 kHz keeping the settings: a delay beyond the limit at 96 kHz (614 ms,
    // where a delay line holds 341.333 ms) is named on the last page before Finish, and
    // what reaches the processor is the limit.
    void keptDelaysWithinTheNewClock()
    {
        start();
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_ClockSel")).arg(nr("Inf_Sel_Clk_48"))));
        QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(nr("Cmd_0_ChDelay0")).arg(614 * 96)));
        QVERIFY(reread(m_rig.zun.data()));
        QString told;
        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.show();
            while (w.currentId() != CZunConfigWizard::MultipathClock)
                if (!next(w))
                    return false;
            select(buddyOf(w.page(CZunConfigWizard::MultipathClock), "&Clock"), QString::number(nr("Inf_Sel_Clk_96")));
            if (!next(w) || w.currentId() != CZunConfigWizard::Finish)
                return false;
            for (QLabel* l : w.page(CZunConfigWizard::Finish)->findChildren<QLabel*>())
                if (l->isVisible() && l->text().contains("beyond"))
                    told = l->text();
            w.setField("KeepSettings", true);
            return press(w, QWizard::FinishButton);
        };
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY2(told.contains("delay of output 1: 614 ms to 341.333 ms"), qPrintable(told));
        QVERIFY(waitUntil([&]() { return held("Cmd_ClockSel") == nr("Inf_Sel_Clk_96") && transfersIdle(m_rig.zun.data()); }, 30000));
        QCOMPARE(held("Cmd_0_ChDelay0"), 32768);
        for (const auto& c : m_rig.sent.commands())
            QVERIFY(c.first != nr("Cmd_0_ChDelay0") || c.second <= 32768);
    }

    // On a processor that answers slowly, but within the link's deadlines, Finish waits for
    // the wizard's own uploads (here about 20 s of them) and then runs the set it chose. A
    // link lost before that, while the wizard's sets are on their way or at Finish before its
    // first command, brings one box, the wizard's, saying its changes were lost; the link's
    // own message and the sets it kept from the processor go to the log; nothing later is
    // muted by the wizard's watch.
    void finishOnASlowProcessor()
    {
        start();
        Shown s;
        // fault: a control line of the emulator, sent at Finish
        auto finishWith = [&](const QString& fir, const QString& fault) {
            m_answers->wizard = [&, fir, fault](CZunConfigWizard& w) {
                w.show();
                QWizardPage* xo = w.page(CZunConfigWizard::XOver);
                if (!next(w))
                    return false;
                kindBox(xo)->setCurrentIndex(1);
                return finishWithFir(w, fir, &s) && (fault.isEmpty() || m_rig.sim->control(fault));
            };
            m_rig.sent.clear();
            m_answers->shown.clear();
            m_actions->on_BttnRouting();
        };
        ZunSignalSpy failed(m_rig.zun.data(), &CZun::signal_exception);
        QVERIFY(m_rig.sim->control(QStringLiteral("delay 1500")));
        finishWith(writeFir("Slow PA", 48000.0), QString());
        QVERIFY(waitUntil([&]() { return m_rig.sent.count(nr("Cmd_0_DSP_LoadKoef")) > 0 || !failed.isEmpty(); }, 180000));
        QVERIFY(failed.isEmpty());
        QVERIFY(m_rig.sim->control(QStringLiteral("delay 0")));
        QVERIFY(holdsShown(s, false, "Slow PA"));
        QVERIFY(settleTransfers(m_rig.zun.data())); // the activation answered

        // The link lost when the wizard's first set is on its way, or at Finish; or a processor
        // that falls silent at Finish, noticed only by its unanswered commands, after the
        // wizard has sent its activation (of a set the processor holds: nothing to upload).
        const QList<QPair<QString, QString>> losses = {
            {"droplink block", "Lost PA"}, {"droplink", "Cut PA"}, {"silent", "Slow PA"}};
        for (const auto& [fault, name] : losses) {
            QVERIFY(m_rig.sim->control(QStringLiteral("delay 300")));
            finishWith(writeFir(name, 48000.0), fault);
            // Every reply 300 ms late: the wizard's commands before its first block take a while.
            QVERIFY(waitUntil([&]() {
                return !m_answers->shown.isEmpty() && !m_rig.zun->IsConnected() && transfersIdle(m_rig.zun.data());
            }, 60000));
            // Its loss told, the wizard has ended: nothing lists it (a quit asks nothing, no tab busy).
            QVERIFY2(waitUntil([&]() { return m_rig.zun->GetOperations()->running().isEmpty(); }, 20000),
                     qPrintable(m_rig.zun->GetOperations()->runningTexts().join(", ")));
            QVERIFY(!m_rig.zun->IsApplyingRouting());
            // The FIR manager's last word on the lost sets, then the window's queue.
            QMetaObject::invokeMethod(m_rig.zun->GetFIRLimManager(), []() {}, Qt::BlockingQueuedConnection);
            ZunSignalSpy::takeQueued();
            QCOMPARE(m_answers->shown.size(), 1);
            QVERIFY2(m_answers->shown.first().startsWith("The configuration wizard's changes were not applied"),
                     qPrintable(m_answers->shown.join('\n')));
            QVERIFY2(failed.isEmpty(), qPrintable(failed.isEmpty() ? QString() : failed.first().at(0).toString()));
            // Its loss told, the wizard mutes nothing more: a set sent without the link has its box.
            QVERIFY(waitUntil([&]() { return !m_rig.zun->IsLinkLossReportedByOperation(); }));
            m_rig.zun->UploadFIRFilter(QShPtrFLE::create(m_rig.zun->GetFIRLimManager(), writeFir("Late PA", 48000.0), 48000.0), 0);
            QVERIFY(waitUntil([&]() { return failed.size() == 1; }));
            failed.clear();
            QVERIFY(m_rig.sim->control(QStringLiteral("delay 0")));
            QVERIFY(m_rig.sim->control(QStringLiteral("silent off")));
            m_rig.zun->connect(true);
            QVERIFY(waitUntil([&]() { return m_rig.zun->IsFIRManagerReady(); }, 30000));
            QVERIFY(settleTransfers(m_rig.zun.data()));
            // The processor has its keep-alive back, and the program watches it.
            QVERIFY(waitUntil([&]() { return held("Cmd_TCPCloseTime") == 15 && m_rig.zun->IsTcpCheckOn(); }));
            lostWithItsOwnBox(failed);
        }

        // A Finish whose activation the processor never answers (the flash refused its set)
        // watches the link no longer: a later loss has the link's own box, not the wizard's.
        QVERIFY(m_rig.sim->control(QStringLiteral("failupload")));
        finishWith(writeFir("Refused PA", 48000.0), QString());
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsLinkLossReportedByOperation(); }));
        QVERIFY(m_rig.sim->control(QStringLiteral("failupload off")));
        lostWithItsOwnBox(failed);
        QVERIFY2(m_answers->shown.isEmpty(), qPrintable(m_answers->shown.join('\n')));
    }

    // Mended: with the defaults chosen, Finish brought both masters to the defaults' 0 dB and
    // unmuted a muted output some 200 ms before it lowered the masters to -40 dB; a master
    // below -40 dB was raised to it. The processor's words after each command it takes from
    // Finish on, each what a kill at that point leaves: no master above where it stood, and
    // none above -40 dB while the muted output plays, save the defaults' own command, whose
    // group lowers both masters again before anything else.
    void theFinishNeverRaisesTheLevel_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<double>("second"); // DSP 2's master before Finish; DSP 1's is -3 dB
        QTest::newRow("defaults") << false << -3.0;
        QTest::newRow("defaults, DSP 2 below -40 dB") << false << -60.0;
        QTest::newRow("kept, DSP 2 below -40 dB") << true << -60.0;
    }
    void theFinishNeverRaisesTheLevel()
    {
        QFETCH(bool, keep);
        QFETCH(double, second);
        start();
        const double step = m_rig.zun->GetCmdMap()->getFltConst("Step_Gain");
        const int before[2] = {qRound(-3.0 / step), qRound(second / step)}, top = qRound(-40.0 / step);
        const quint16 words[3] = {nr("Cmd_0_MasterGain"), nr("Cmd_1_MasterGain"), nr("Cmd_1_ChMute0")}; // Out5
        for (const auto& [word, value] :
             {qMakePair(words[0], before[0]), qMakePair(words[1], before[1]), qMakePair(words[2], 1)})
            QVERIFY(m_rig.sim->control(QStringLiteral("set %1 %2").arg(word).arg(quint16(value))));
        QVERIFY(reread(m_rig.zun.data()));
        m_answers->wizard = [&](CZunConfigWizard& w) {
            return onToFinish(w, keep)
                && m_rig.sim->control(QStringLiteral("watch %1 %2 %3").arg(words[0]).arg(words[1]).arg(words[2]))
                && press(w, QWizard::FinishButton);
        };
        m_actions->on_BttnRouting();
        QVERIFY(waitUntil([&]() { return !m_rig.zun->IsApplyingRouting(); }));
        QVERIFY(settleTransfers(m_rig.zun.data()));
        // "MS CMD=VALUE MASTER1 MASTER2 OUT5MUTE" after each command: command, value, masters, mute
        QList<QList<int>> trace;
        QString table; // for a failure
        for (const QString& e : m_rig.sim->query("watched", "watched ").mid(8).split(';', Qt::SkipEmptyParts)) {
            const QStringList f = e.split(QRegularExpression("[ =]"));
            trace << QList<int>{f[1].toInt(), f[2].toInt(), qint16(f[3].toInt()), qint16(f[4].toInt()), f[5].toInt()};
            table += QStringLiteral("\n%1=%2: %3 dB, %4 dB, Out5 muted %5")
                         .arg(f[1], f[2]).arg(trace.last()[2] * step).arg(trace.last()[3] * step).arg(f[5]);
        }
        const QByteArray shown = table.toUtf8();
        QVERIFY2(trace.size() > 3, shown.constData());
        for (int i = 0; i < trace.size(); ++i) {
            const QList<int>& t = trace[i];
            if (t[0] == nr("Cmd_SetupSelect")) {
                QVERIFY2(!keep && i + 2 < trace.size() && trace[i + 1][0] == words[0] && trace[i + 2][0] == words[1]
                             && trace[i + 2][2] <= qMin(before[0], top) && trace[i + 2][3] <= qMin(before[1], top),
                         shown.constData());
                i += 2;
                continue;
            }
            QVERIFY2(t[2] <= before[0] && t[3] <= before[1], shown.constData());
            QVERIFY2(t[4] == 1 || (t[2] <= top && t[3] <= top), shown.constData());
        }
        QCOMPARE(trace.last().mid(2), (QList<int>{qMin(before[0], top), qMin(before[1], top), keep ? 1 : 0}));
    }

    // Without a routing to choose (no routing library), nothing reaches the processor,
    // even when the wizard is ended with Finish regardless.
    void nothingSentWithoutARouting()
    {
        start(false);
        bool stuck = false;
        m_answers->wizard = [&](CZunConfigWizard& w) {
            w.show();
            for (int guard = 0; guard < 5 && w.currentId() != CZunConfigWizard::FullRouting; ++guard)
                w.next();
            stuck = w.currentId() == CZunConfigWizard::FullRouting && !w.button(QWizard::NextButton)->isEnabled();
            w.accept();
            return true;
        };
        ZunSignalSpy log(m_actions, &ZunMaintenanceActions::signal_log);
        m_rig.sent.clear();
        m_actions->on_BttnRouting();
        QVERIFY(stuck);
        QCOMPARE(m_rig.sent.count(nr("Cmd_ClockSel")), 0);
        QCOMPARE(m_rig.sent.count(nr("Cmd_SPI_Routing")), 0);
        QCOMPARE(m_rig.sent.count(nr("Cmd_DSP_FullRouting0")), 0);
        QCOMPARE(log.count(), 1);
        QVERIFY(m_rig.zun->IsTcpCheckOn());
    }
};

QTEST_MAIN(TestWizardE2E)
#include "tst_wizard_e2e.moc"
