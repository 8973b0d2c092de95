#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QSocketNotifier>

class CCmdMap;
class ZunSimDevice;

// Reads control lines from standard input so that a test can switch faults on and off
// or change a parameter "at the front panel" while the emulator runs. One command per
// line; unknown lines are reported on stderr and ignored, applied ones are confirmed
// with "ok <line>" on stdout. "quit" ends the emulator. "failupload [off]" makes every
// copy into the flash (entry upload, setup store, firmware piece) fail with Msg_ErrFlash.
// "store SLOT [NAME]" is "Store" at the front panel.
class ZunSimControl : public QObject
{
    Q_OBJECT
public:
    ZunSimControl(ZunSimDevice* device, QObject* parent = nullptr);

    // Applies one control line; returns false for an unknown or malformed line.
    bool apply(const QString& line);

signals:
    // A parameter word was changed by a control line (front-panel change).
    void signal_FrontPanelChange(quint16 cmd, quint16 value);

private slots:
    void on_Readable();

private:
    ZunSimDevice* m_device;
    QSharedPointer<CCmdMap> m_map; // of the firmware the emulator started with
    QSocketNotifier m_notifier;
    QByteArray m_pending;
};
