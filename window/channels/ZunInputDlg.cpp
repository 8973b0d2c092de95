#include "ZunInputDlg.h"

ZunInputDlg::ZunInputDlg(CZunInput* channel, QWidget* parent)
    : ZunAbstractInOutputDlg(channel, parent), m_input(channel)
{
}
