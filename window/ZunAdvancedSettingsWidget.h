#pragma once

#include <QSharedPointer>
#include <QWidget>

class CZun;

// The advanced tab: firmware, hardware, FIR sets, setups, the log and the maintenance
// actions.
class ZunAdvancedSettingsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZunAdvancedSettingsWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void UpdateGui();

private:
    QSharedPointer<CZun> m_zun;
};
