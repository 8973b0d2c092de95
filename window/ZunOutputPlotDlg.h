#pragma once

#include <QPointer>
#include <QWidget>

class CZunOutput;

// The page that plots the response of every output.
class ZunOutputPlotDlg : public QWidget
{
    Q_OBJECT
public:
    explicit ZunOutputPlotDlg(QWidget* parent = nullptr);

    void addOutput(QPointer<CZunOutput> output);

private:
    QList<QPointer<CZunOutput>> m_outputs;
};
