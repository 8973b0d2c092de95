#include "ZunStyle.h"

#include <QWidget>

ZunStyle::ZunStyle(const QString& styleName)
    : ProxyStyle(styleName)
{
}

ZunStyle* ZunStyle::applyTo(QWidget* widget, const QString& styleName)
{
    auto* style = new ZunStyle(styleName);
    style->setParent(widget);
    widget->setStyle(style);
    return style;
}

int ZunStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const
{
    switch (hint) {
    case QStyle::SH_SpinBox_KeyPressAutoRepeatRate:
    case QStyle::SH_SpinBox_ClickAutoRepeatRate:
        return 100;
    case QStyle::SH_SpinBox_ClickAutoRepeatThreshold:
        return 500;
    default:
        return ProxyStyle::styleHint(hint, option, widget, returnData);
    }
}
