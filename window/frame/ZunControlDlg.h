#pragma once

#include <QList>
#include <QMap>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class AudioIOStatusServer;
class CZun;
class CZunAbstractInOutput;
class CZunInput;
class CZunOutput;
class CZunServer;
class GainWidget;
class LimiterWidget;
class QEditableTabWidget;
class QHBoxLayout;
class QLCDNumber;
class QStatusBar;
class QVBoxLayout;
class ZunAdvancedSettingsWidget;
class ZunDeviceStats;
class ZunEQModel;
class ZunHOFModel;
class ZunInputDlg;
class ZunLazyPage;
class ZunOutputDlg;
class ZunOutputPlotDlg;
class ZunSystemWidget;

// The control window of one processor. It looks the shared device object and its audio
// status up in the device services, shows every page of the device in an editable tab
// widget (system, advanced, gain pages, limiter, one page per channel, output plot),
// rebuilds the channel pages each time the device's parameter image has been read anew,
// keeps its title in step with the connection and the active setup, shows the sampling
// rate and DSP loads in its status bar, asks for status streams every 2300 ms while a gain
// page is on screen, and shows every failure its pages and the device report. Its close
// ends the link: while the processor runs long operations it asks first, as the program's
// quit does.
//
// A number that the device services do not hold (the processor went away meanwhile) gives
// a window without pages that says so and closes.
//
// Over 600 lines: each page is its own class; this is the wiring between pages, device and status bar.
class ZunControlDlg : public QWidget
{
    Q_OBJECT
public:
    // How long the status bar names a setting the processor refused.
    static constexpr int RefusalShownMs = 20000;
    static constexpr int StatusTimerMs = 2300;

    ZunControlDlg(quint16 nr, CZunServer* deviceServer, AudioIOStatusServer* statusServer,
                  QWidget* parent = nullptr);
    ~ZunControlDlg() override;

    quint16 deviceNumber() const { return m_nr; }
    // The Window-menu text: "Not connected" unless the device is connected.
    QString getDisplayName() const;
    // What this window's operations are writing to the processor now (a configuration
    // load, a FIR upload, a firmware update, ...); empty when nothing is.
    QStringList writingOperations() const;
    // The question a close asks while the processor runs long operations (closing ends the
    // link and stops them); empty when none runs.
    QString closeQuestion() const;
    // Asks the operator: true to close anyway. The default shows a box (Wait, Close
    // anyway); tests answer in its place.
    using CloseAnswer = std::function<bool(const QString& question)>;
    void setCloseAnswer(CloseAnswer answer) { m_closeAnswer = std::move(answer); }
    // The program quits anyway (its own question was answered): the close asks nothing.
    void setClosingAnyway() { m_closingAnyway = true; }

    // The frame a sub-window takes so that the pages show whole: at least the size they
    // need, as far as the view has room, and moved back into the view when it grew past its
    // edge. A frame never shrinks.
    static QRect frameForPages(const QRect& frame, const QSize& need, const QRect& view);

    // What the tests look at.
    QSharedPointer<CZun> device() const { return m_zun; }
    QEditableTabWidget* tabWidget() const { return m_tabWidget; }
    ZunSystemWidget* systemTab() const { return m_systemTab; }
    ZunAdvancedSettingsWidget* advancedTab() const { return m_advancedTab; }
    GainWidget* firstGainPage() const { return m_gain1; }
    GainWidget* secondGainPage() const { return m_gain2; }
    LimiterWidget* limiterPage() const { return m_limiter; }
    ZunOutputPlotDlg* outputPlotPage() const { return m_plot; }
    // The channel and plot pages made so far: a page is made when its tab is first shown
    // or, one per turn of the event loop, after the tabs are placed (pagesBuilt()).
    QList<ZunInputDlg*> inputPages() const { return m_inputPages.values(); }
    QList<ZunOutputDlg*> outputPages() const { return m_outputPages.values(); }
    bool pagesBuilt() const { return m_toBuild.isEmpty(); }
    QTimer* statusTimer() { return &m_statusTimer; }
    QStatusBar* statusBar() const { return m_statusBar; }
    QLCDNumber* rateDisplay() const { return m_rateDisplay; }
    QLCDNumber* dsp0LoadDisplay() const { return m_dsp0Display; }
    QLCDNumber* dsp1LoadDisplay() const { return m_dsp1Display; }

signals:
    void pointerCZunChanged(QSharedPointer<CZun> zun);
    void statusTxTimeOut(quint16 deviceNumber);

public slots:
    void UpdateGui();
    void updateDisplayName(QSharedPointer<ZunDeviceStats> stats);
    void connectToZun();
    void enableTabs();
    void disableTabs();
    void displayMsgBox(QString text, QString caption);
    void showAdvancedSettings(bool on);
    // A channel tab was renamed: its channel (found by its page, never by its name) takes
    // the new name.
    void onTabRenamed(QWidget* page, QString oldName, QString newName);
    void retriggerStatusTxOnOff(bool on);
    void triggerStatusTx();
    void showStatusBarMessage(QString text, int timeoutMs);
    void showStatusBarMessage(QString text);
    void updateStatusInformation(int rate, int dsp0Load, int dsp1Load);
    void updateDisplayName(int setupNr, QString setupName);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildPages(AudioIOStatusServer* statusServer);
    void connectPages();
    // The tab widget above the status bar; the first title.
    void buildLayout();
    void buildStatusBar();
    // Ctrl+Tab and Ctrl+Shift+Tab step through this window's tabs (never to another
    // window's), and a tab change never leaves the cursor in a box of the page shown.
    void buildTabKeys();
    void stepTab(int step);
    // Grows the enclosing sub-window to what the pages need (frameForPages).
    void fitFrameToPages();
    // The active setup's name without its blank padding, empty when it cannot be read.
    QString activeSetupName() const;
    // "| Current setup: <name>", empty when there is no name.
    QString setupPart() const;
    // The one title: the processor's name as the network list shows it, the link as it is
    // (connected only while it is up), and the setup (setupName, else the active one's).
    void showTitle(const QString& setupName = QString());
    void setTabsEnabled(bool on);
    // A tab put (back) into the widget shows the link as it is now.
    void showLinkStateOn(QWidget* page);
    // The figures the device measured before the window listened.
    void showKnownStatusInformation();
    void takeOut(QWidget* page);
    // New tabs for other channel objects; their pages are made later (buildNextPage).
    void rebuildTabs(const QList<QPointer<CZunInput>>& inputs, const QList<QPointer<CZunOutput>>& outputs);
    void buildNextPage();
    // A page that a rebuild has replaced: no signal reaches it any more, and it goes.
    void release(QWidget* page);
    // The processor is not (any more) in the device services: say so and close.
    void refuseMissingDevice();

    quint16 m_nr;
    QString m_displayName;
    QSharedPointer<CZun> m_zun;
    QEditableTabWidget* m_tabWidget = nullptr;
    QMap<CZunInput*, ZunInputDlg*> m_inputPages;
    QMap<CZunOutput*, ZunOutputDlg*> m_outputPages;
    QVBoxLayout* m_outerLayout = nullptr;
    QHBoxLayout* m_innerLayout = nullptr;
    ZunSystemWidget* m_systemTab = nullptr;
    ZunAdvancedSettingsWidget* m_advancedTab = nullptr;
    GainWidget* m_gain1 = nullptr;
    GainWidget* m_gain2 = nullptr;
    ZunOutputPlotDlg* m_plot = nullptr;
    ZunLazyPage* m_plotHolder = nullptr;
    // The channel tabs of the last rebuild, the channels they were built for, and the
    // pages still to be made.
    struct ChannelTab
    {
        QPointer<CZunAbstractInOutput> channel;
        ZunLazyPage* holder;
    };
    QList<ChannelTab> m_channelTabs;
    QList<QPointer<CZunInput>> m_tabInputs;
    QList<QPointer<CZunOutput>> m_tabOutputs;
    bool m_tabsBuilt = false;
    QList<QPointer<ZunLazyPage>> m_toBuild;
    QTimer m_buildTimer;
    LimiterWidget* m_limiter = nullptr;
    ZunEQModel* m_eqModel = nullptr;
    ZunHOFModel* m_hofModel = nullptr;
    QTimer m_statusTimer;
    QStatusBar* m_statusBar = nullptr;
    QLCDNumber* m_rateDisplay = nullptr;
    QLCDNumber* m_dsp0Display = nullptr;
    QLCDNumber* m_dsp1Display = nullptr;
    // The device reported the link lost and not yet back: the pages are greyed.
    bool m_linkLost = false;
    // Between signal_Connected and signal_Disconnected: the only state by which the title
    // says connected (late reports of an old connection, or of none, never do).
    bool m_linkUp = false;
    // The processor's name as the network list last showed it (empty: none reported yet).
    QString m_listName;
    // The channel pages have been built once: later rebuilds keep the operator's page.
    bool m_built = false;
    CloseAnswer m_closeAnswer;
    bool m_closingAnyway = false;
};
