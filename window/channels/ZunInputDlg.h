#pragma once

#include "CZunInput.h"
#include "ZunAbstractInOutputDlg.h"

#include <QPointer>

// The page of one input channel: its EQ and crossover tables and its response plot.
class ZunInputDlg : public ZunAbstractInOutputDlg
{
    Q_OBJECT
public:
    explicit ZunInputDlg(CZunInput* channel, QWidget* parent = nullptr);

private:
    QPointer<CZunInput> m_input;
};
