#include "ZunControlDlg.h"
#include "ZunWaitQuestion.h"

#include "AudioIOStatus.h"
#include "AudioIOStatusServer.h"
#include "CRoutingManager.h"
#include "CZun.h"
#include "CZunInput.h"
#include "CZunOutput.h"
#include "CZunServer.h"
#include "CZunSetupManager.h"
#include "CZunStatusBuffer.h"
#include "GainWidget.h"
#include "LimiterWidget.h"
#include "QEditableTabBar.h"
#include "QEditableTabWidget.h"
#include "ZunAdvancedSettingsWidget.h"
#include "ZunDeviceStats.h"
#include "ZunEQModel.h"
#include "ZunHOFModel.h"
#include "ZunInputDlg.h"
#include "ZunLazyPage.h"
#include "ZunOutputDlg.h"
#include "ZunOperations.h"
#include "ZunOperatorMessage.h"
#include "ZunOutputPlotDlg.h"
#include "ZunSettingsWriter.h"
#include "ZunSystemWidget.h"
#include "ZunWindowMetaTypes.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLCDNumber>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QMdiArea>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <type_traits>
#include <utility>

namespace {
QString settingsKey(quint16 nr, const char* what)
{
    return QStringLiteral("ZunControlDlgNr%1/%2").arg(nr).arg(QLatin1String(what));
}

QLCDNumber* makeDisplay(int digits)
{
    auto* display = new QLCDNumber(digits);
    display->setSegmentStyle(QLCDNumber::Filled);
    return display;
}
} // namespace

ZunControlDlg::ZunControlDlg(quint16 nr, CZunServer* deviceServer, AudioIOStatusServer* statusServer,
                             QWidget* parent)
    : QWidget(parent), m_nr(nr)
{
    setWindowIcon(QIcon(QStringLiteral("favicon.ico")));
    QApplication::setOverrideCursor(Qt::WaitCursor);

    m_zun = deviceServer ? deviceServer->getZun(nr) : QSharedPointer<CZun>();
    setAttribute(Qt::WA_DeleteOnClose);
    if (!m_zun) {
        m_tabWidget = new QEditableTabWidget;
        buildLayout();
        QApplication::restoreOverrideCursor();
        refuseMissingDevice();
        return;
    }

    // The main window wires the audio status to the device when it registers the
    // processor; a window opened again must not double every request.
    if (const QSharedPointer<AudioIOStatus> status = statusServer ? statusServer->getStatus(nr) : nullptr) {
        const auto queuedOnce = Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection);
        connect(status.data(), &AudioIOStatus::ZunFrontPanelChanged, m_zun.data(), &CZun::requestCmdStatus, queuedOnce);
        connect(status.data(), &AudioIOStatus::signal_ZunOutOfSync, m_zun.data(), &CZun::RefreshStatusBuffer,
                queuedOnce);
        connect(status.data(), &AudioIOStatus::signal_CyclesSamplingRateChanged, m_zun.data(),
                &CZun::UpdateProcessingPower, queuedOnce);
        connect(status.data(), &AudioIOStatus::signal_toLogFile, m_zun.data(), &CZun::printToLog, queuedOnce);
    }

    m_tabWidget = new QEditableTabWidget;
    connect(m_tabWidget, &QEditableTabWidget::pageRenamed, this, &ZunControlDlg::onTabRenamed);

    buildPages(statusServer);
    registerWindowMetaTypes();
    connectPages();

    buildLayout();
    m_statusTimer.setInterval(StatusTimerMs);
    m_buildTimer.setInterval(0);
    connect(&m_buildTimer, &QTimer::timeout, this, &ZunControlDlg::buildNextPage);

    // Models with the window as owner: they outlive every page that shows them.
    m_eqModel = new ZunEQModel(m_zun, this);
    m_hofModel = new ZunHOFModel(m_zun, this);
    CZun* zun = m_zun.data();
    connect(this, &ZunControlDlg::pointerCZunChanged, m_eqModel, &ZunEQModel::setPointerCZun);
    connect(this, &ZunControlDlg::pointerCZunChanged, m_hofModel, &ZunHOFModel::setPointerCZun);
    connect(zun, &CZun::signal_ZunStatusChanged, m_eqModel, &ZunEQModel::reloadModel);
    connect(zun, &CZun::signal_ZunStatusChanged, m_hofModel, &ZunHOFModel::reloadModel);
    connect(m_eqModel, &ZunEQModel::signal_exception, this, &ZunControlDlg::displayMsgBox, Qt::QueuedConnection);
    connect(m_hofModel, &ZunHOFModel::signal_exception, this, &ZunControlDlg::displayMsgBox, Qt::QueuedConnection);
    connect(zun, &CZun::signal_ZunStatusChanged, this, &ZunControlDlg::UpdateGui, Qt::QueuedConnection);
    connect(zun, &CZun::signal_ZunStatusChanged, m_systemTab, &ZunSystemWidget::UpdateGui, Qt::QueuedConnection);
    connect(zun, &CZun::signal_ZunStatusChanged, m_advancedTab, &ZunAdvancedSettingsWidget::UpdateGui,
            Qt::QueuedConnection);
    for (GainWidget* gain : {m_gain1, m_gain2}) {
        connect(zun, &CZun::signal_Connected, gain, &GainWidget::on_connect, Qt::QueuedConnection);
        connect(zun, &CZun::signal_Disconnected, gain, &GainWidget::on_disconnect, Qt::QueuedConnection);
    }
    connect(zun, &CZun::signal_ZunStatusChanged, m_gain1, &GainWidget::UpdateGui, Qt::QueuedConnection);
    connect(zun, &CZun::signal_ZunStatusChanged, m_gain2, &GainWidget::UpdateGui, Qt::QueuedConnection);
    connect(zun, &CZun::signal_exception, this, &ZunControlDlg::displayMsgBox);
    connect(zun, &CZun::signal_StatusBarMessage, this,
            QOverload<QString, int>::of(&ZunControlDlg::showStatusBarMessage));
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_StatusBarMessage, this,
            QOverload<QString, int>::of(&ZunControlDlg::showStatusBarMessage));
    // A refused setting is seen whether or not the advanced tab with its log is shown: the
    // control goes back to the processor's value, and the status bar says which it was.
    connect(zun, &CZun::signal_LogMessage, this,
            [this](QString text, bool alarm) {
                if (alarm && ZunOperatorMessage::isRefusal(text))
                    showStatusBarMessage(ZunOperatorMessage::text(text, m_zun ? m_zun->GetCmdMap().data() : nullptr),
                                         RefusalShownMs);
            },
            Qt::QueuedConnection);
    // The routing manager's failures reach the window through the device object, which
    // passes them on as its own signal_exception (connected above).
    connect(zun->GetSetupManager(), &CZunSetupManager::signal_SetupChanged, this,
            QOverload<int, QString>::of(&ZunControlDlg::updateDisplayName));
    connect(zun, &CZun::signal_Connected, this, &ZunControlDlg::enableTabs, Qt::QueuedConnection);
    connect(zun, &CZun::signal_Disconnected, this, &ZunControlDlg::disableTabs, Qt::QueuedConnection);

    emit pointerCZunChanged(m_zun);

    connect(&m_statusTimer, &QTimer::timeout, this, &ZunControlDlg::triggerStatusTx);

    buildStatusBar();
    connect(zun, &CZun::signal_ProcessingStats, this, &ZunControlDlg::updateStatusInformation);
    // A processor registered without its hardware information learns it on connecting:
    // a second board gets its load display then.
    connect(zun, &CZun::signal_HardwareInfoUpdated, this, [this] {
        if (m_zun->GetHardwareInfo().isDoubleBoard() && !m_dsp1Display) {
            m_dsp1Display = makeDisplay(3);
            m_statusBar->insertPermanentWidget(1, m_dsp1Display); // between DSP 0 load and rate
            showKnownStatusInformation();
        }
    });
    m_displayName = m_zun->GetName().isEmpty() ? QStringLiteral("Zun %1").arg(m_nr)
                                               : QStringLiteral("Zun %1 : %2").arg(m_nr).arg(m_zun->GetName());
    // Not yet connected is not a lost link (disableTabs above only set the start state).
    m_linkLost = false;
    showKnownStatusInformation();
    // Opened for a processor that is connected already (another window had it, or a
    // firmware update runs): the window shows the link as it is, and the pages of the
    // image the device holds.
    if (m_zun->IsConnected()) {
        enableTabs();
        if (m_zun->HasImage()) {
            QMetaObject::invokeMethod(this, "UpdateGui", Qt::QueuedConnection);
            QMetaObject::invokeMethod(m_systemTab, "UpdateGui", Qt::QueuedConnection);
            QMetaObject::invokeMethod(m_systemTab, "initializeComboBoxSwitchInput", Qt::QueuedConnection);
            QMetaObject::invokeMethod(m_advancedTab, "UpdateGui", Qt::QueuedConnection);
            for (GainWidget* gain : {m_gain1, m_gain2})
                QMetaObject::invokeMethod(gain, "UpdateGui", Qt::QueuedConnection);
        }
    }
    QApplication::restoreOverrideCursor();
}

void ZunControlDlg::showKnownStatusInformation()
{
    int rate = 0, load0 = 0, load1 = 0;
    if (m_zun->GetProcessingStats(&rate, &load0, &load1))
        updateStatusInformation(rate, load0, load1);
}

ZunControlDlg::~ZunControlDlg()
{
    // The pages the tab widget does not hold at the moment have no Qt parent.
    QList<QWidget*> loose;
    for (QWidget* page : {static_cast<QWidget*>(m_advancedTab), static_cast<QWidget*>(m_gain1),
                          static_cast<QWidget*>(m_gain2), static_cast<QWidget*>(m_limiter)})
        if (page && !page->parent())
            loose << page;
    // The pages go while the window is still whole: a gain page shown or hidden as its
    // neighbours go still reaches this window's slots.
    QWidget* tabs = m_tabWidget;
    m_tabWidget = nullptr;
    delete tabs;
    qDeleteAll(loose);
}

void ZunControlDlg::buildPages(AudioIOStatusServer* statusServer)
{
    m_systemTab = new ZunSystemWidget(m_zun);
    m_tabWidget->addTab(m_systemTab, tr("System"));
    disableTabs();

    const QSharedPointer<AudioIOStatus> status = statusServer ? statusServer->getStatus(m_nr) : nullptr;
    m_advancedTab = new ZunAdvancedSettingsWidget(m_zun);
    m_gain1 = new GainWidget(2, m_zun, status);
    m_gain2 = new GainWidget(1, m_zun, status);
    m_limiter = new LimiterWidget(m_zun);
}

void ZunControlDlg::connectPages()
{
    for (GainWidget* gain : {m_gain1, m_gain2}) {
        connect(gain, &GainWidget::signal_exception, this, &ZunControlDlg::displayMsgBox);
        connect(gain, &GainWidget::changedVisibility, this, &ZunControlDlg::retriggerStatusTxOnOff);
    }
    connect(m_systemTab, &ZunSystemWidget::signal_exception, this, &ZunControlDlg::displayMsgBox);
    connect(m_systemTab, &ZunSystemWidget::advancedSettingsChanged, this, &ZunControlDlg::showAdvancedSettings);
    connect(m_advancedTab, &ZunAdvancedSettingsWidget::signal_exception, this, &ZunControlDlg::displayMsgBox);
    connect(m_limiter, &LimiterWidget::signal_exception, this, &ZunControlDlg::displayMsgBox, Qt::QueuedConnection);
}

void ZunControlDlg::buildLayout()
{
    m_innerLayout = new QHBoxLayout;
    m_innerLayout->addWidget(m_tabWidget);
    m_outerLayout = new QVBoxLayout;
    m_outerLayout->addLayout(m_innerLayout);
    setLayout(m_outerLayout);
    setWindowTitle(tr("ZunControl"));
    buildTabKeys();
}

void ZunControlDlg::buildTabKeys()
{
    // A click on a tab takes the keyboard focus to the bar: the page that comes up gets no
    // cursor in a box that writes to the processor.
    m_tabWidget->tabBar()->setFocusPolicy(Qt::StrongFocus);
    // Shortcuts of this window come before the MDI area, which would take Ctrl+Shift+Tab
    // to the next sub-window with its focus.
    // Each key once: a key listed twice for one action would be ambiguous and do nothing.
    const auto keysOf = [](QKeySequence::StandardKey standard, QList<QKeySequence> keys) {
        for (const QKeySequence& k : QKeySequence::keyBindings(standard))
            if (!keys.contains(k))
                keys << k;
        return keys;
    };
    const QList<QKeySequence> next = keysOf(QKeySequence::NextChild, {QKeySequence(Qt::CTRL | Qt::Key_Tab)});
    const QList<QKeySequence> previous =
        keysOf(QKeySequence::PreviousChild, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    for (const auto& keys : {std::make_pair(next, 1), std::make_pair(previous, -1)}) {
        auto* action = new QAction(this);
        action->setShortcuts(keys.first);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        const int step = keys.second;
        connect(action, &QAction::triggered, this, [this, step] { stepTab(step); });
        addAction(action);
    }
}

void ZunControlDlg::stepTab(int step)
{
    const int n = m_tabWidget->count();
    if (n < 2)
        return;
    int index = m_tabWidget->currentIndex();
    for (int tried = 1; tried < n; ++tried) {
        index = (index + step + n) % n;
        if (m_tabWidget->isTabEnabled(index))
            break;
    }
    // The focus leaves the old page first: a page losing the focus hands it to the new
    // page's first box.
    m_tabWidget->tabBar()->setFocus(Qt::ShortcutFocusReason);
    m_tabWidget->setCurrentIndex(index);
}

QRect ZunControlDlg::frameForPages(const QRect& frame, const QSize& need, const QRect& view)
{
    QRect out(frame.topLeft(), frame.size().expandedTo(need.boundedTo(view.size())));
    if (out.size() == frame.size())
        return frame;
    if (out.right() > view.right())
        out.moveLeft(qMax(view.left(), view.right() + 1 - out.width()));
    if (out.bottom() > view.bottom())
        out.moveTop(qMax(view.top(), view.bottom() + 1 - out.height()));
    return out;
}

void ZunControlDlg::fitFrameToPages()
{
    auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (!sub || !sub->mdiArea() || sub->isMaximized() || sub->isMinimized() || !layout())
        return;
    // What the sub-window adds around this window (title bar, borders) and what the pages
    // need inside it.
    const QSize need = sub->size() - size() + layout()->totalMinimumSize();
    const QRect frame = frameForPages(sub->geometry(), need, sub->mdiArea()->viewport()->rect());
    if (frame != sub->geometry())
        sub->setGeometry(frame);
}

bool ZunControlDlg::event(QEvent* event)
{
    const bool done = QWidget::event(event);
    // A page built or rebuilt (the gain page's strips, a new routing) may need more room
    // than the window has: cut off, its scales and buttons would be unreadable.
    if (event->type() == QEvent::LayoutRequest)
        fitFrameToPages();
    return done;
}

void ZunControlDlg::buildStatusBar()
{
    m_statusBar = new QStatusBar;
    m_outerLayout->addWidget(m_statusBar);
    if (!m_dsp0Display) {
        // Three digits: a full DSP reads 100.
        m_dsp0Display = makeDisplay(3);
        m_statusBar->addPermanentWidget(m_dsp0Display);
    }
    if (m_zun->GetHardwareInfo().isDoubleBoard() && !m_dsp1Display) {
        m_dsp1Display = makeDisplay(3);
        m_statusBar->addPermanentWidget(m_dsp1Display);
    }
    if (!m_rateDisplay) {
        m_rateDisplay = makeDisplay(6);
        m_statusBar->addPermanentWidget(m_rateDisplay);
    }
}

void ZunControlDlg::refuseMissingDevice()
{
    // Later: the main window is still placing the window when the constructor returns.
    QTimer::singleShot(0, this, [this] {
        QPointer<ZunControlDlg> self(this);
        displayMsgBox(QStringLiteral("Zun %1 is no longer known: its control window closes.").arg(m_nr),
                      QStringLiteral("ZunControl"));
        if (!self)
            return;
        if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
            sub->close();
        else
            close();
    });
}

QString ZunControlDlg::getDisplayName() const
{
    if (!m_zun || !m_zun->IsConnected())
        return QStringLiteral("Not connected");
    return m_displayName;
}

QString ZunControlDlg::activeSetupName() const
{
    try {
        // The processor pads the name with blanks.
        return m_zun->GetActiveSetupName().trimmed();
    } catch (const std::exception&) {
        return QString();
    }
}

QString ZunControlDlg::setupPart() const
{
    const QString name = activeSetupName();
    return name.isEmpty() ? QString() : QStringLiteral("| Current setup: %1").arg(name);
}

void ZunControlDlg::takeOut(QWidget* page)
{
    if (!page)
        return;
    const int index = m_tabWidget->indexOf(page);
    if (index >= 0)
        m_tabWidget->removeTab(index);
}

void ZunControlDlg::release(QWidget* page)
{
    if (!page)
        return;
    takeOut(page);
    disconnect(this, nullptr, page, nullptr);
    page->disconnect(this);
    page->deleteLater();
}

void ZunControlDlg::UpdateGui()
{
    if (!m_zun)
        return;
    setCursor(Qt::WaitCursor);

    // Where the operator is. A channel tab is known by its place among the channel tabs
    // (the channel objects themselves may be gone after a new routing).
    QWidget* const current = m_tabWidget->currentWidget();
    int channelPlace = -1;
    for (int i = 0; i < m_channelTabs.size(); ++i)
        if (m_channelTabs.at(i).holder == current)
            channelPlace = i;
    const bool onPlot = current && current == m_plotHolder;

    CRoutingManager* routing = m_zun->GetRoutingManager();
    QList<QPointer<CZunInput>> inputs = routing->GetInputs();
    QList<QPointer<CZunOutput>> outputs = routing->GetOutputs();
    inputs.removeAll(nullptr);
    outputs.removeAll(nullptr);
    // The same channel objects (the routing did not change): the pages follow their
    // channels and the models by themselves; only the tab texts may have to follow a name.
    if (m_tabsBuilt && inputs == m_tabInputs && outputs == m_tabOutputs && !inputs.contains(nullptr)
        && !outputs.contains(nullptr)) {
        for (const ChannelTab& tab : qAsConst(m_channelTabs)) {
            const int index = m_tabWidget->indexOf(tab.holder);
            if (tab.channel && index >= 0 && m_tabWidget->tabText(index) != tab.channel->GetName())
                m_tabWidget->setTabText(index, tab.channel->GetName());
        }
    } else {
        rebuildTabs(inputs, outputs);
    }

    showTitle();

    // An image that completed as the link went: the new tabs are greyed like the old ones;
    // pages put back after a lost link are usable again with the link.
    if (m_linkLost)
        disableTabs();
    else
        setTabsEnabled(true);
    // The first build shows the gains; later ones (an input switch, a recall, a reload)
    // leave the operator where they were.
    QWidget* next = nullptr;
    if (!m_built)
        next = m_gain1;
    else if (onPlot)
        next = m_plotHolder;
    else if (channelPlace >= 0)
        next = channelPlace < m_channelTabs.size() ? m_channelTabs.at(channelPlace).holder : nullptr;
    else
        next = current; // a page that stays: system, advanced, gains, limiter
    m_tabWidget->setCurrentWidget(next && m_tabWidget->indexOf(next) >= 0 ? next : m_gain1);
    m_built = true;
    unsetCursor();
    showStatusBarMessage(QStringLiteral("Gui Updated"), 3);
}

void ZunControlDlg::rebuildTabs(const QList<QPointer<CZunInput>>& inputs, const QList<QPointer<CZunOutput>>& outputs)
{
    // Other channel objects: every channel page and the plot page are made anew.
    for (const ChannelTab& tab : qAsConst(m_channelTabs))
        release(tab.holder);
    m_channelTabs.clear();
    release(m_plotHolder);
    m_plotHolder = nullptr;
    m_plot = nullptr;
    m_inputPages.clear();
    m_outputPages.clear();
    m_toBuild.clear();
    takeOut(m_gain1);
    takeOut(m_gain2);
    takeOut(m_limiter);

    const bool manyInputs = inputs.size() > 4;
    if (manyInputs) {
        m_gain1->setMode(0);
        m_tabWidget->addTab(m_gain1, tr("Inputs"));
        m_gain2->setMode(1);
        m_tabWidget->addTab(m_gain2, tr("Outputs"));
    } else {
        m_gain1->setMode(2);
        m_tabWidget->addTab(m_gain1, tr("In-/Outputs"));
    }
    m_tabWidget->addTab(m_limiter, tr("Limiter"));

    // A channel page: a renamable tab at once, the page itself (the window's models, the
    // device) when its tab is first shown or the window has time for it.
    auto addChannelPage = [this](auto* channel, auto& pages) {
        using Page = std::remove_pointer_t<typename std::remove_reference_t<decltype(pages)>::mapped_type>;
        const QPointer<std::remove_pointer_t<decltype(channel)>> guarded = channel;
        auto* holder = new ZunLazyPage([this, guarded, &pages]() -> QWidget* {
            if (!guarded) // gone with a new routing; the next image replaces the tab
                return new QWidget;
            auto* page = new Page(guarded);
            page->setEQModel(m_eqModel);
            page->setHOFModel(m_hofModel);
            connect(this, &ZunControlDlg::pointerCZunChanged, page, &Page::setPointerCZun);
            connect(page, &Page::signal_exception, this, &ZunControlDlg::displayMsgBox, Qt::QueuedConnection);
            page->setPointerCZun(m_zun);
            pages.insert(guarded, page);
            return page;
        });
        const int index = m_tabWidget->addTab(holder, channel->GetName());
        m_tabWidget->tabBar()->setTabData(index, QVariant(true));
        m_channelTabs.append({channel, holder});
        m_toBuild.append(holder);
    };
    if (!manyInputs)
        for (const QPointer<CZunInput>& input : inputs)
            addChannelPage(input.data(), m_inputPages);
    for (const QPointer<CZunOutput>& output : outputs)
        addChannelPage(output.data(), m_outputPages);

    m_plotHolder = new ZunLazyPage([this, outputs]() -> QWidget* {
        m_plot = new ZunOutputPlotDlg;
        for (const QPointer<CZunOutput>& output : outputs)
            m_plot->addOutput(output);
        return m_plot;
    });
    m_tabWidget->addTab(m_plotHolder, QStringLiteral("Outputs"));
    m_toBuild.append(m_plotHolder);

    m_tabInputs = inputs;
    m_tabOutputs = outputs;
    m_tabsBuilt = true;
    m_buildTimer.start();
}

void ZunControlDlg::buildNextPage()
{
    // One page per turn of the event loop, so that the operator's input never waits for
    // all of them.
    while (!m_toBuild.isEmpty()) {
        const QPointer<ZunLazyPage> holder = m_toBuild.takeFirst();
        if (holder && !holder->isBuilt()) {
            holder->build();
            break;
        }
    }
    if (m_toBuild.isEmpty())
        m_buildTimer.stop();
}

void ZunControlDlg::updateDisplayName(QSharedPointer<ZunDeviceStats> stats)
{
    if (!stats || !m_zun || stats->serial() != m_zun->GetNr())
        return;
    m_displayName = stats->getName().isEmpty() ? QStringLiteral("Zun %1").arg(m_nr)
                                               : QStringLiteral("Zun %1 : %2").arg(m_nr).arg(stats->getName());
    m_listName = stats->getName().trimmed();
    // Discovery reports the record now and then: the name follows it (another processor put
    // in this one's place, a name given at the processor) whether the link is up or not.
    showTitle();
}

void ZunControlDlg::updateDisplayName(int setupNr, QString setupName)
{
    Q_UNUSED(setupNr)
    // The setup list reports its changes without a name (a store, a download): the name is
    // the active setup's, as the processor holds it.
    showTitle(setupName);
}

void ZunControlDlg::showTitle(const QString& setupName)
{
    // Before its first link the window keeps the program's title.
    if (!m_zun || (!m_linkUp && !m_linkLost))
        return;
    const QString name = m_listName.isEmpty() ? m_zun->GetName().trimmed() : m_listName;
    const QString setup = setupName.trimmed();
    setWindowTitle(QStringLiteral("%1 %2 %3")
                       .arg(name.isEmpty() ? QStringLiteral("Zun %1").arg(m_nr) : name,
                            m_linkUp ? QStringLiteral("connected") : QStringLiteral("disconnected"),
                            setup.isEmpty() ? setupPart() : QStringLiteral("| Current setup: %1").arg(setup))
                       .trimmed());
}

void ZunControlDlg::connectToZun()
{
    if (m_systemTab)
        QMetaObject::invokeMethod(m_systemTab, "do_connect", Qt::QueuedConnection);
}

void ZunControlDlg::setTabsEnabled(bool on)
{
    // The system tab stays usable: it holds the connect button.
    for (int i = 1; m_tabWidget && i < m_tabWidget->count(); ++i)
        m_tabWidget->setTabEnabled(i, on);
}

void ZunControlDlg::enableTabs()
{
    m_linkLost = false;
    m_linkUp = true;
    showTitle();
    setTabsEnabled(true);
}

void ZunControlDlg::disableTabs()
{
    m_linkLost = true;
    m_linkUp = false;
    showTitle();
    setTabsEnabled(false);
}

void ZunControlDlg::displayMsgBox(QString text, QString caption)
{
    // The box runs an event loop of its own, in which the window may be closed.
    QPointer<ZunControlDlg> self(this);
    // The box about a lost link comes before the device's queued report of it: the window
    // says so before the box waits for the operator.
    if (m_linkUp && m_zun && !m_zun->IsConnected())
        disableTabs();
    text = ZunOperatorMessage::text(text, m_zun ? m_zun->GetCmdMap().data() : nullptr);
    QMessageBox::warning(nullptr, tr(caption.toLocal8Bit().constData()), tr(text.toLocal8Bit().constData()),
                         QMessageBox::Ok, QMessageBox::NoButton);
    if (self && m_systemTab)
        m_systemTab->on_CZunException();
}

void ZunControlDlg::showAdvancedSettings(bool on)
{
    if (!m_advancedTab)
        return;
    if (on) {
        if (m_tabWidget->indexOf(m_advancedTab) < 0) {
            m_tabWidget->insertTab(m_tabWidget->indexOf(m_systemTab) + 1, m_advancedTab, QStringLiteral("Advanced"));
            showLinkStateOn(m_advancedTab);
        }
    } else {
        takeOut(m_advancedTab);
    }
}

void ZunControlDlg::showLinkStateOn(QWidget* page)
{
    // The page keeps the enabling of the last time it was shown (a tab disabled while the
    // link was lost disables its page): it takes the link's state now.
    const int index = m_tabWidget->indexOf(page);
    if (index > 0)
        m_tabWidget->setTabEnabled(index, !m_linkLost);
}

void ZunControlDlg::onTabRenamed(QWidget* page, QString oldName, QString newName)
{
    Q_UNUSED(oldName)
    if (!m_zun || newName.trimmed().isEmpty())
        return;
    for (const ChannelTab& tab : qAsConst(m_channelTabs))
        if (tab.holder == page && tab.channel) {
            tab.channel->SetName(newName);
            return;
        }
}

void ZunControlDlg::retriggerStatusTxOnOff(bool on)
{
    if (!m_zun)
        return;
    if (on) {
        emit statusTxTimeOut(quint16(m_zun->GetNr()));
        m_statusTimer.start();
    } else {
        m_statusTimer.stop();
    }
}

void ZunControlDlg::triggerStatusTx()
{
    if (m_zun)
        emit statusTxTimeOut(quint16(m_zun->GetNr()));
}

void ZunControlDlg::showStatusBarMessage(QString text, int timeoutMs)
{
    if (m_statusBar)
        m_statusBar->showMessage(text, timeoutMs);
}

void ZunControlDlg::showStatusBarMessage(QString text) { showStatusBarMessage(text, 0); }

void ZunControlDlg::updateStatusInformation(int rate, int dsp0Load, int dsp1Load)
{
    if (!m_zun)
        return;
    m_rateDisplay->display(rate);
    m_dsp0Display->display(dsp0Load);
    if (m_dsp1Display && m_zun->GetHardwareInfo().isDoubleBoard())
        m_dsp1Display->display(dsp1Load);
}

void ZunControlDlg::keyPressEvent(QKeyEvent* event)
{
    // Escape never closes the window nor does anything else in it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

QStringList ZunControlDlg::writingOperations() const
{
    return m_advancedTab ? m_advancedTab->runningOperations() : QStringList();
}

QString ZunControlDlg::closeQuestion() const
{
    // Every long operation of the processor, whoever started it: the close ends the link.
    const QStringList running = m_zun ? m_zun->GetOperations()->runningTexts() : QStringList();
    if (running.isEmpty())
        return QString();
    const QString who = m_zun->GetName().isEmpty() ? QString::number(m_nr) : tr("%1 (%2)").arg(m_nr).arg(m_zun->GetName());
    return tr("Still writing to Zun %1:\n\n%2\n\nClosing the window now ends the link and stops each of these, "
              "leaving the processor part-written; the next connection names what each left. Wait until they have "
              "ended, or close anyway?")
        .arg(who, running.join(QLatin1Char('\n')));
}

void ZunControlDlg::closeEvent(QCloseEvent* event)
{
    const QString question = m_closingAnyway ? QString() : closeQuestion();
    if (!question.isEmpty()) {
        bool anyway = false;
        if (m_closeAnswer) {
            anyway = m_closeAnswer(question);
        } else {
            anyway = ZunWaitQuestion::anyway(this, question, tr("Close anyway"));
        }
        if (!anyway) {
            event->ignore();
            return;
        }
        // Nothing stopped without a word: the log says what was left, and the next
        // connection names each operation with what the processor holds of it.
        m_zun->printToLog(question.section(QLatin1Char('\n'), 0, -3) + tr("\nThe window was closed anyway."));
    }
    if (m_zun && (m_closingAnyway || !question.isEmpty()))
        m_zun->GetOperations()->markStopped();
    if (m_zun) {
        // The frame the main window places: the enclosing sub-window (the window itself
        // when it is shown on its own).
        const QWidget* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
        if (!frame)
            frame = this;
        ZunSettingsWriter::store({{settingsKey(m_nr, "frameSize"), frame->frameSize()},
                                  {settingsKey(m_nr, "pos"), frame->pos()}});
    }
    QWidget::closeEvent(event);
}
