#include "ScaleDraw1000k.h"

#include <qwt_text.h>

ScaleDraw1000k::~ScaleDraw1000k() = default;

QwtText ScaleDraw1000k::label(double value) const
{
    const double q = value / 1000.0;
    const int n = int(q); // toward zero
    const double f = q - n;
    if (f >= 0.0 && f < 0.001 && value != 0.0)
        return QwtText(QString("%1k").arg(n), QwtText::AutoText);
    return QwtText(QString("%1").arg(value, 0, 'g'), QwtText::AutoText);
}
