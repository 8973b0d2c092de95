#pragma once

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class CZunOutput;
class ZunEQModel;
class ZunHOFModel;

// The page of one output channel: its EQ and crossover tables and its response plot.
class ZunOutputDlg : public QWidget
{
    Q_OBJECT
public:
    explicit ZunOutputDlg(CZunOutput* channel, QWidget* parent = nullptr);

    void setEQModel(ZunEQModel* model);
    void setHOFModel(ZunHOFModel* model);

signals:
    void signal_exception(QString text, QString caption);

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);

private:
    QPointer<CZunOutput> m_channel;
    QSharedPointer<CZun> m_zun;
    ZunEQModel* m_eqModel = nullptr;
    ZunHOFModel* m_hofModel = nullptr;
};
