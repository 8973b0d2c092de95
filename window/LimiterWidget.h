#pragma once

#include <QSharedPointer>
#include <QWidget>

class CZun;

// The limiter page: the limiters of every output in the chosen unit and reference.
class LimiterWidget : public QWidget
{
    Q_OBJECT
public:
    explicit LimiterWidget(QSharedPointer<CZun> zun, QWidget* parent = nullptr);

signals:
    void signal_exception(QString text, QString caption);

private:
    QSharedPointer<CZun> m_zun;
};
