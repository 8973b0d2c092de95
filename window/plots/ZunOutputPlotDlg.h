#pragma once

#include "CZunOutput.h"

#include <QMetaType>
#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class PlotWidget;
class QVBoxLayout;

using QPtrCZunOutput = QPointer<CZunOutput>;

// The "Outputs" page: one plot with the magnitude and phase of every output of the device.
class ZunOutputPlotDlg : public QWidget
{
    Q_OBJECT
public:
    explicit ZunOutputPlotDlg(QWidget* parent = nullptr);

    PlotWidget* plot() const { return m_plot; }

signals:
    void pointerCZunChanged(QSharedPointer<CZun> zun);

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);
    // Adds the output's magnitude and phase curves, both named after the output.
    void addOutput(QPtrCZunOutput output);

private:
    QVBoxLayout* m_layout = nullptr;
    PlotWidget* m_plot = nullptr;
    QSharedPointer<CZun> m_zun;
};

Q_DECLARE_METATYPE(QPtrCZunOutput)
