#pragma once

#include <QSharedPointer>
#include <QWidget>

class AudioIOStatus;
class CZun;

// The gain page: master strip, input and output strips with meters, in one of three modes
// (0 inputs, 1 outputs, 2 inputs and outputs).
class GainWidget : public QWidget
{
    Q_OBJECT
public:
    GainWidget(int mode, QSharedPointer<CZun> zun, QSharedPointer<AudioIOStatus> status, QWidget* parent = nullptr);

    void setMode(int mode);
    int mode() const { return m_mode; }

signals:
    void signal_exception(QString text, QString caption);
    // Emitted when the page is shown (true) or hidden (false): status streams are asked for
    // exactly while a gain page is on screen.
    void changedVisibility(bool visible);

public slots:
    void UpdateGui();
    void on_connect();
    void on_disconnect();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_mode;
    QSharedPointer<CZun> m_zun;
    QSharedPointer<AudioIOStatus> m_status;
};
