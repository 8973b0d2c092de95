#pragma once

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class CZunInput;
class ZunEQModel;
class ZunHOFModel;

// The page of one input channel: its EQ and crossover tables and its response plot.
class ZunInputDlg : public QWidget
{
    Q_OBJECT
public:
    explicit ZunInputDlg(CZunInput* channel, QWidget* parent = nullptr);

    void setEQModel(ZunEQModel* model);
    void setHOFModel(ZunHOFModel* model);

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);

private:
    QPointer<CZunInput> m_channel;
    QSharedPointer<CZun> m_zun;
    ZunEQModel* m_eqModel = nullptr;
    ZunHOFModel* m_hofModel = nullptr;
};
