#pragma once

#include "ProxyStyle.h"

// The program's style: a named toolkit style with its own spin-box auto-repeat timing
// (steps every 100 ms after a 500 ms delay).
class ZunStyle : public ProxyStyle
{
    Q_OBJECT
public:
    explicit ZunStyle(const QString& styleName);

    // Gives the widget a style of its own; the widget does not own its style, so the
    // style is parented to the widget and goes with it.
    static ZunStyle* applyTo(QWidget* widget, const QString& styleName);

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
