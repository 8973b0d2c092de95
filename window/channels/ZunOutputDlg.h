#pragma once

#include "CZunOutput.h"
#include "ZunAbstractInOutputDlg.h"

#include <QPointer>

// The page of one output channel: its EQ and crossover tables and its response plot.
class ZunOutputDlg : public ZunAbstractInOutputDlg
{
    Q_OBJECT
public:
    explicit ZunOutputDlg(CZunOutput* channel, QWidget* parent = nullptr);

private:
    QPointer<CZunOutput> m_output;
};
