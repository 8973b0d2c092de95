#pragma once

#include "ProxyStyle.h"

// The program's style: a named toolkit style with its own spin-box auto-repeat timing
// (steps every 100 ms after a 500 ms delay), and a clear frame on the button or table cell
// that has the keyboard focus, however it got there (the toolkit styles show it only after
// a Tab key, and faintly).
class ZunStyle : public ProxyStyle
{
    Q_OBJECT
public:
    explicit ZunStyle(const QString& styleName);

    // Gives the widget a style of its own; the widget does not own its style, so the
    // style is parented to the widget and goes with it.
    static ZunStyle* applyTo(QWidget* widget, const QString& styleName);

    void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p, const QWidget* w = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* opt, QPainter* p, const QWidget* w = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
