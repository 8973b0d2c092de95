#pragma once

#include <QSharedPointer>
#include <QWidget>

class CZun;
class QPushButton;

// The system tab: connection, setups, inputs, front panel, DSP link and the routing picture.
// For now it holds the connect button only.
class ZunSystemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZunSystemWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);
    // Closing the control window ends the device's connection.
    ~ZunSystemWidget() override;

signals:
    void advancedSettingsChanged(bool on);
    void signal_exception(QString text, QString caption);

public slots:
    void UpdateGui();
    void do_connect();
    void on_CZunException();

private slots:
    void on_connect();

private:
    QSharedPointer<CZun> m_zun;
    QPushButton* m_connect = nullptr;
};
