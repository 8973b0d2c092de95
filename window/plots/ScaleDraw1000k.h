#pragma once

#include <qwt_scale_draw.h>

// The frequency axis' labels: whole thousands read as "k" (1000 is "1k", 20000 "20k"),
// everything else as the plain number (20, 500, 1500).
class ScaleDraw1000k : public QwtScaleDraw
{
public:
    ScaleDraw1000k() = default;
    ~ScaleDraw1000k() override;

    QwtText label(double value) const override;
};
