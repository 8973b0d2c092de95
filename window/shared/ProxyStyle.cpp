#include "ProxyStyle.h"

#include <QStyleFactory>

ProxyStyle::ProxyStyle(const QString& styleName)
    : m_style(QStyleFactory::create(styleName))
{
    // "Cleanlooks" and "Plastique" come from an optional plugin package; without it the
    // program still needs a style to draw with.
    if (!m_style) {
        qWarning("ProxyStyle: style \"%s\" not available, using Fusion", qPrintable(styleName));
        m_style = QStyleFactory::create(QStringLiteral("Fusion"));
    }
    setObjectName(m_style->objectName());
}

ProxyStyle::~ProxyStyle()
{
    delete m_style;
}

void ProxyStyle::polish(QWidget* widget) { m_style->polish(widget); }
void ProxyStyle::unpolish(QWidget* widget) { m_style->unpolish(widget); }
void ProxyStyle::polish(QApplication* application) { m_style->polish(application); }
void ProxyStyle::unpolish(QApplication* application) { m_style->unpolish(application); }
void ProxyStyle::polish(QPalette& palette) { m_style->polish(palette); }

QRect ProxyStyle::itemTextRect(const QFontMetrics& fm, const QRect& r, int flags, bool enabled, const QString& text) const
{
    return m_style->itemTextRect(fm, r, flags, enabled, text);
}

QRect ProxyStyle::itemPixmapRect(const QRect& r, int flags, const QPixmap& pixmap) const
{
    return m_style->itemPixmapRect(r, flags, pixmap);
}

void ProxyStyle::drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& pal, bool enabled,
                              const QString& text, QPalette::ColorRole textRole) const
{
    m_style->drawItemText(painter, rect, flags, pal, enabled, text, textRole);
}

void ProxyStyle::drawItemPixmap(QPainter* painter, const QRect& rect, int alignment, const QPixmap& pixmap) const
{
    m_style->drawItemPixmap(painter, rect, alignment, pixmap);
}

QPalette ProxyStyle::standardPalette() const { return m_style->standardPalette(); }

void ProxyStyle::drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p, const QWidget* w) const
{
    m_style->drawPrimitive(pe, opt, p, w);
}

void ProxyStyle::drawControl(ControlElement element, const QStyleOption* opt, QPainter* p, const QWidget* w) const
{
    m_style->drawControl(element, opt, p, w);
}

QRect ProxyStyle::subElementRect(SubElement subElement, const QStyleOption* option, const QWidget* widget) const
{
    return m_style->subElementRect(subElement, option, widget);
}

void ProxyStyle::drawComplexControl(ComplexControl cc, const QStyleOptionComplex* opt, QPainter* p, const QWidget* widget) const
{
    m_style->drawComplexControl(cc, opt, p, widget);
}

QStyle::SubControl ProxyStyle::hitTestComplexControl(ComplexControl cc, const QStyleOptionComplex* opt, const QPoint& pt,
                                                     const QWidget* widget) const
{
    return m_style->hitTestComplexControl(cc, opt, pt, widget);
}

QRect ProxyStyle::subControlRect(ComplexControl cc, const QStyleOptionComplex* opt, SubControl sc, const QWidget* widget) const
{
    return m_style->subControlRect(cc, opt, sc, widget);
}

int ProxyStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    return m_style->pixelMetric(metric, option, widget);
}

QSize ProxyStyle::sizeFromContents(ContentsType ct, const QStyleOption* opt, const QSize& contentsSize, const QWidget* w) const
{
    return m_style->sizeFromContents(ct, opt, contentsSize, w);
}

int ProxyStyle::styleHint(StyleHint stylehint, const QStyleOption* opt, const QWidget* widget, QStyleHintReturn* returnData) const
{
    return m_style->styleHint(stylehint, opt, widget, returnData);
}

QPixmap ProxyStyle::standardPixmap(StandardPixmap standardPixmap, const QStyleOption* opt, const QWidget* widget) const
{
    return m_style->standardPixmap(standardPixmap, opt, widget);
}

QIcon ProxyStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option, const QWidget* widget) const
{
    return m_style->standardIcon(standardIcon, option, widget);
}

QPixmap ProxyStyle::generatedIconPixmap(QIcon::Mode iconMode, const QPixmap& pixmap, const QStyleOption* opt) const
{
    return m_style->generatedIconPixmap(iconMode, pixmap, opt);
}

int ProxyStyle::layoutSpacing(QSizePolicy::ControlType control1, QSizePolicy::ControlType control2,
                              Qt::Orientation orientation, const QStyleOption* option, const QWidget* widget) const
{
    return m_style->layoutSpacing(control1, control2, orientation, option, widget);
}
