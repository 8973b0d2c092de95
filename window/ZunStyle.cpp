#include "ZunStyle.h"

ZunStyle::ZunStyle(const QString& styleName)
    : ProxyStyle(styleName)
{
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
