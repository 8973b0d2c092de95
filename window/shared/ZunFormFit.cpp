#include "ZunFormFit.h"

#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QLayout>

int ZunFormFit::widthForTitle(const QFontMetrics& metrics, const QString& title)
{
    return metrics.horizontalAdvance(title) * 6 / 5 + 130;
}

void ZunFormFit::install(QDialog* form)
{
    form->installEventFilter(new ZunFormFit(form));
}

bool ZunFormFit::eventFilter(QObject* watched, QEvent* event)
{
    auto* form = qobject_cast<QDialog*>(watched);
    if (form && event->type() == QEvent::WindowTitleChange)
        form->setMinimumWidth(widthForTitle(form->fontMetrics(), form->windowTitle()));
    if (form && event->type() == QEvent::Show && form->layout()) {
        const int width = qMax(form->width(), form->sizeHint().width());
        const QLayout* layout = form->layout();
        const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : form->sizeHint().height();
        form->resize(width, qMax(form->height(), height));
    }
    return QObject::eventFilter(watched, event);
}
