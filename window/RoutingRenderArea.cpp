#include "RoutingRenderArea.h"

RoutingRenderArea::RoutingRenderArea(QWidget* parent) : QWidget(parent) {}

void RoutingRenderArea::setInputPreset(CZunInputPreset) {}
void RoutingRenderArea::setInputPreset(QVariant) {}
void RoutingRenderArea::setRoutingPreset(CZunRoutingPreset) {}
void RoutingRenderArea::setRoutingPreset(QVariant) {}
void RoutingRenderArea::setFullRoutingPreset(CZunFullRoutingPreset) {}
void RoutingRenderArea::setFullRoutingPreset(QVariant) {}
void RoutingRenderArea::setMultipath1(ZunC::MultipathMode) {}
void RoutingRenderArea::setMultipath1(QVariant) {}
void RoutingRenderArea::setMultipath2(ZunC::MultipathMode) {}
void RoutingRenderArea::setMultipath2(QVariant) {}
void RoutingRenderArea::setCopyFIRCoeffs1(QVariant) {}
void RoutingRenderArea::setCopyFIRCoeffs2(QVariant) {}
