#include "ZunOutputDlg.h"

ZunOutputDlg::ZunOutputDlg(CZunOutput* channel, QWidget* parent)
    : ZunAbstractInOutputDlg(channel, parent), m_output(channel)
{
}
