#include "ZunRoutingConfiguration.h"

#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunFIRLimManager.h"
#include "CZunMetaCmd.h"
#include "ZunClockDelays.h"
#include "ZunLinkLosses.h"
#include "ZunOperation.h"
#include "ZunOperations.h"
#include "ZunTimedSteps.h"

#include <stdexcept>
#include <utility>

ZunRoutingConfiguration::ZunRoutingConfiguration(CZun& zun) : m_zun(zun), m_steps(new ZunTimedSteps(&zun))
{
    // The pauses turn the processor's keep-alive off: it comes back at the sequence's end,
    // whichever way it ends.
    QObject::connect(m_steps, &ZunTimedSteps::signal_Finished, m_steps, [this]() {
        if (const QSharedPointer<ZunOperation> rest = std::exchange(m_rest, {}))
            rest->finish(ZunOperation::Outcome::Done);
    });
}

bool ZunRoutingConfiguration::isRunning() const { return m_steps->isRunning(); }

void ZunRoutingConfiguration::apply(const Choice& choice, std::function<void()> routingWords)
{
    if (m_steps->isRunning())
        throw std::logic_error("The configuration wizard's last changes are still being sent to the Zun. Please "
                               "wait until they are done.");
    // Through the operations list: another holder keeps it off after the last step.
    m_rest = m_zun.RestKeepAlive();
    addHead(choice);
    m_steps->add(0, std::move(routingWords));
    addTail(choice);
    m_steps->start();
}

void ZunRoutingConfiguration::addPause()
{
    m_steps->add(m_pauseMs, [this]() { m_zun.SendCmd(m_zun.nr("Cmd_TCPCloseTime"), 0); });
}

QShPtrFLE ZunRoutingConfiguration::thruSetFor(int dsp, double rate, int multipath, bool keepSettings) const
{
    CZunFIRLimManager* manager = m_zun.GetFIRLimManager();
    const QShPtrFLE set = manager->CreateThruFIRFilter(rate, multipath);
    // Fresh limiters would reset the speakers' protection (a raised limit): kept settings
    // keep the limits too.
    if (keepSettings) {
        if (const QShPtrFLE current = manager->GetActiveFIRFilter(uint(dsp))) {
            set->takeLimiterValues(*current);
            set->computeKey();
        }
    }
    return set;
}

// Before a new routing: the master gains down, the defaults unless kept, the clock. The
// masters go down first: the defaults bring them to 0 dB and unmute every output, so their
// group brings the masters down again with nothing between. A master already lower stays.
void ZunRoutingConfiguration::addHead(const Choice& choice)
{
    m_steps->add(0, [this]() { m_zun.SendMetaCmd(m_zun.mastersAtMost(MasterCeiling)); });
    addPause();
    addPause();
    if (!choice.keepSettings)
        m_steps->add(0, [this]() {
            m_zun.GetOperations()->note(ZunLongOperation::Wizard, QStringLiteral("defaults"), 1);
            m_zun.RestoreDefaultSettings(false, m_zun.mastersAtMost(MasterCeiling));
        });
    addPause();
    addPause();
    m_steps->add(0, [this, keepSettings = choice.keepSettings, clock = choice.clock]() {
        // Kept delays stay within the limits of the new clock: those beyond go to their
        // limits before the clock changes (the wizard's last page names them).
        if (keepSettings) {
            const ZunClockDelays limited(m_zun, CZun::SampleRateOfClock(quint16(clock & 0xFF)));
            CZunMetaCmd delays;
            for (const ZunClockDelays::Change& c : limited.changes())
                delays.appendCmd(m_zun.nr(c.command), c.raw);
            if (!delays.commands().isEmpty())
                m_zun.SendMetaCmd(delays);
        }
        m_zun.SendCmd(m_zun.nr("Cmd_ClockSel"), quint16(clock & 0xFF));
    });
    addPause();
    addPause();
}

// After the routing words: the external clock, then the FIR sets, copy modes and the final
// re-initialisation.
void ZunRoutingConfiguration::addTail(const Choice& choice)
{
    addPause();
    m_steps->add(0, [this, extClock = choice.extClock]() { m_zun.GetRoutingManager()->SetExtClockSelect(extClock); });
    addPause();
    ZunLinkLosses& losses = m_zun.GetLinkLosses();
    const quint64 started = losses.count();
    m_steps->add(5 * m_pauseMs, [this, &losses, started, choice]() {
        const ZunLinkLosses::InFlight operation(losses, started);
        sendSets(choice);
    });
}

void ZunRoutingConfiguration::sendSets(const Choice& choice)
{
    const bool doubleBoard = m_zun.GetHardwareInfo().isDoubleBoard();
    QShPtrFLE set1;
    QShPtrFLE set2;
    ZunC::CopyFIRCoeffsMode second = choice.mode1;
    if (choice.crossover == 0) {
        // Pass-through sets at the rate of the clock choice.
        const int clock = choice.clock;
        const double rate = clock == 0 ? 0.0 : clock == 2 ? 96000.0 : clock == 3 ? 192000.0 : 48000.0;
        set1 = thruSetFor(1, rate, choice.multipath1, choice.keepSettings);
        // DSP 2 shares DSP 1's set while both would be the same set (compared before the
        // resource check writes DSP 1's program into its set).
        const QShPtrFLE own =
            doubleBoard ? thruSetFor(2, rate, choice.multipath2, choice.keepSettings) : QShPtrFLE();
        const bool shared = !own || own->getKey() == set1->getKey();
        m_zun.CheckFilterMIPS(set1, choice.mode1);
        m_zun.UploadFIRFilter(set1, 0);
        set2 = set1;
        if (doubleBoard) {
            if (!shared) {
                set2 = own;
                m_zun.UploadFIRFilter(set2, 0);
            }
            second = choice.mode2;
        }
    } else {
        CFIRLimManagerInterface* manager = m_zun.GetFIRLimManager();
        set1 = QShPtrFLE::create(manager, choice.firFile1, 48000.0);
        m_zun.CheckFilterMIPS(set1, choice.mode1);
        m_zun.UploadFIRFilter(set1, 0);
        set2 = set1;
        if (doubleBoard) {
            if (choice.firFile2 != choice.firFile1 || choice.mode2 != choice.mode1) {
                // Each set is checked for the program it needs: two files of one kind may
                // still need two programs (a longer filter on DSP 2).
                set2 = QShPtrFLE::create(manager, choice.firFile2, 48000.0);
                m_zun.CheckFilterMIPS(set2, choice.mode2);
                m_zun.UploadFIRFilter(set2, 0);
            }
            second = choice.mode2;
        }
    }
    m_zun.InvokeActivateFIRFilter(set1->getKey(), choice.mode1, set2->getKey(), second);
    CZunMetaCmd meta;
    meta.appendCmd(m_zun.nr("Cmd_SPI_InitAllPar"), 0);
    meta.appendCmd(m_zun.nr("Cmd_DSP_InitAll"), 0);
    meta.setSupersede(false);
    m_zun.SendMetaCmd(meta);
}
