#pragma once

#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"
#include "ZunC.h"

#include <QPixmap>
#include <QVariant>
#include <QWidget>

// The routing diagram of a processor, composed from pictures in the resources, one per
// layer, chosen by the current presets and multipath modes.
class RoutingRenderArea : public QWidget
{
    Q_OBJECT
public:
    explicit RoutingRenderArea(QWidget* parent = nullptr);

    void setSizeHint(const QSize& size) { m_sizeHint = size; }
    QSize sizeHint() const override { return m_sizeHint; }
    QSize minimumSizeHint() const override { return m_sizeHint; }

public slots:
    void setInputPreset(CZunInputPreset preset);
    void setInputPreset(QVariant preset);
    void setRoutingPreset(CZunRoutingPreset preset);
    void setRoutingPreset(QVariant preset);
    void setFullRoutingPreset(CZunFullRoutingPreset preset);
    void setFullRoutingPreset(QVariant preset);
    void setMultipath1(ZunC::MultipathMode mode);
    void setMultipath1(QVariant mode);
    void setMultipath2(ZunC::MultipathMode mode);
    void setMultipath2(QVariant mode);
    void setCopyFIRCoeffs1(QVariant mode);
    void setCopyFIRCoeffs2(QVariant mode);

private:
    QSize m_sizeHint {294, 151};
};
