#pragma once

#include "FilterLimiterEWS.h"
#include "ui_ZunSystemWidget.h"

#include <QSharedPointer>
#include <QWidget>

class CZun;
class QComboBox;
class QLabel;
class RoutingRenderArea;

// The "System" tab of a control window: connection, setup recall, signal-input switch, AES
// jacks, front-panel lock, DSP link, the advanced-tab switch and the routing picture. It
// forwards each choice to the device object and follows the device's notifications; what
// the device reports is shown without being sent back.
//
// A setup recall is a long operation: the tab shows the wait cursor and keeps the connect
// button and the setup selector disabled until the device reports the new setup, refuses
// it, the link ends, or an error box of the window ends it (on_CZunException).
class ZunSystemWidget : public QWidget, private Ui::ZunSystemWidget
{
    Q_OBJECT
public:
    explicit ZunSystemWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    ~ZunSystemWidget() override;

    RoutingRenderArea* routingRenderArea() const { return m_routingRenderArea; }
    bool isLongOperationPending() const { return m_recallPending; }
    // A connection asked for and neither made nor failed yet.
    bool isConnectPending() const { return m_connectPending; }

    // The text of the signal-input item of a full routing's pattern (bits 28-31).
    static QString inputKindText(quint32 pattern);
    // The AES selector values a device offers, ascending: below the threshold (1 above
    // device number 680, else 2), and on the output side also every value of 4 or more.
    static QList<int> offeredAESValues(const QList<int>& values, int deviceNr, bool output);
    // Whether the number names a setup position the current image can be stored under
    // (0xCDEF, 254 and 255 stand for no active setup).
    static bool isStorePosition(quint16 active, int listSize);

signals:
    void advancedSettingsChanged(bool on);
    void connected();
    void disconnected();
    void FIRLinkChanged(bool, bool);
    void longOperationStarted();
    void longOperationFinished();
    void signal_exception(QString text, QString caption);

public slots:
    void initializeComboBoxSwitchInput();
    void initializeComboBoxAESOutput();
    void initializeComboBoxAESInput();
    void initializeRoutingRenderArea();
    void set_Setup(int row);
    void set_SignalInput(int row);
    void set_AESInput(int row);
    void set_AESOutput(int row);
    void UpdateGui();
    void do_connect();
    void on_connect();
    void on_SetupModified();
    void disableControls();
    void enableControls();
    void on_FIRFilterChanged(int dsp, QShPtrFLE filter, int row);
    void on_SetupChanged(int nr, QString name);
    void on_Connected();
    void on_Disconnected();
    void on_LowFlashMemory();
    void on_FrontPanelLocked(bool locked);
    void on_CZunException();
    void onCheckLockFrontPanel(bool checked);
    void onCheckStereo(bool on);

private slots:
    // The processor's answer to a setup recall; a refusal ends the long operation.
    void onSetupSelectReply(bool ok, int position);
    // The processor's answer to the store made before a recall: the recall goes on only
    // when the changes are stored.
    void onSetupStoreReply(bool ok);
    // The link failed; a connection attempt has ended with it.
    void onLinkError();

private:
    void fillAESSelector(QComboBox* box, QLabel* label, const QMap<int, QString>& keys, bool output, int current);
    void startRecall(int position);
    void endLongOperation();
    void restoreSetupSelection();
    // The connect button and the selectors as the link is: connected, being made, or not.
    void showLinkState();
    // The selectors the link enables, each only where the processor has the part it needs.
    void showHardwareChoices(bool connected);
    // The DSP link is offered where outputs 5-8 can follow outputs 1-4, and shown wherever
    // the processor holds it, so that it can be undone.
    void showStereoChoice(bool linked);
    int activeMultipath(int dsp) const;

    QSharedPointer<CZun> m_zun;
    RoutingRenderArea* m_routingRenderArea = nullptr;
    bool m_recallPending = false;
    bool m_connectPending = false;
    bool m_lowMemoryAsking = false; // the offer of a garbage collection is open
    // The recall that waits for the store's answer, -1 when none does.
    int m_recallAfterStore = -1;
};
