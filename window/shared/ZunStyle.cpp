#include "ZunStyle.h"

#include <QPainter>
#include <QStyleOption>
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

void ZunStyle::drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p, const QWidget* w) const
{
    if (pe != PE_FrameFocusRect || !opt || !p) {
        ProxyStyle::drawPrimitive(pe, opt, p, w);
        return;
    }
    // Two pixels of the highlight's hue, light on a dark palette and dark on a light one,
    // so that it stands apart from buttons and cells alike.
    const QColor highlight = opt->palette.color(QPalette::Highlight).toHsl();
    const bool darkGround = opt->palette.color(QPalette::Button).lightness() < 160;
    const QColor frame = QColor::fromHsl(qMax(0, highlight.hslHue()), qMax(highlight.hslSaturation(), 160),
                                         darkGround ? 210 : 60);
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(frame, 2));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRectF(opt->rect).adjusted(1, 1, -1, -1));
    p->restore();
}

void ZunStyle::drawControl(ControlElement element, const QStyleOption* opt, QPainter* p, const QWidget* w) const
{
    const bool focused = opt && (opt->state & State_HasFocus);
    if (focused && element == CE_PushButton) {
        ProxyStyle::drawControl(element, opt, p, w);
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(*opt);
        frame.rect = subElementRect(SE_PushButtonFocusRect, opt, w);
        drawPrimitive(PE_FrameFocusRect, &frame, p, w);
        return;
    }
    if (focused && element == CE_ItemViewItem) {
        // The wrapped style draws the cell's focus itself, faintly or not at all.
        if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(opt)) {
            QStyleOptionViewItem plain(*item);
            plain.state &= ~State_HasFocus;
            ProxyStyle::drawControl(element, &plain, p, w);
            QStyleOptionFocusRect frame;
            frame.QStyleOption::operator=(*opt);
            drawPrimitive(PE_FrameFocusRect, &frame, p, w);
            return;
        }
    }
    ProxyStyle::drawControl(element, opt, p, w);
}
