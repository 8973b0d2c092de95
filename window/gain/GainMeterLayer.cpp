#include "GainMeterLayer.h"

#include "ZunMeterThermo.h"

#include <QEvent>
#include <QPainter>
#include <QPaintEvent>

GainMeterLayer::GainMeterLayer(QWidget* page) : QWidget(page), m_page(page)
{
    // Opaque over the pipes alone: the toolkit paints nothing beneath them for a band, and
    // everything beneath what the mask leaves out. Clicks and drops reach the meters and
    // strips beneath.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setFocusPolicy(Qt::NoFocus);
    m_page->installEventFilter(this);
    hide();
}

void GainMeterLayer::addMeter(ZunMeterThermo* meter)
{
    m_meters.append(meter);
    meter->setLayer(this);
    // The pipe moves on the page when the meter or its strip moves, is resized or hidden.
    for (QWidget* w = meter; w && w != m_page; w = w->parentWidget())
        w->installEventFilter(this);
    raise();
    pipeMayHaveMoved();
}

void GainMeterLayer::clear()
{
    for (const QPointer<ZunMeterThermo>& meter : qAsConst(m_meters)) {
        if (!meter)
            continue;
        meter->setLayer(nullptr);
        for (QWidget* w = meter; w && w != m_page; w = w->parentWidget())
            w->removeEventFilter(this);
    }
    m_meters.clear();
    m_pending = QRegion();
    followPipes();
}

void GainMeterLayer::repaintBand(const ZunMeterThermo* meter, const QRect& band)
{
    // A meter not on the page (hidden, or not laid out yet) is painted whole once the layer
    // has followed it there.
    const Pipe* p = pipeOf(meter);
    if (!p)
        return;
    const QRect onPage = (band & p->pipe).translated(p->at);
    if (m_inFrame)
        m_pending += onPage;
    else
        update(onPage);
}

void GainMeterLayer::endFrame()
{
    m_inFrame = false;
    if (m_pending.isEmpty())
        return;
    update(m_pending);
    m_pending = QRegion();
}

void GainMeterLayer::meterPainted(const ZunMeterThermo* meter)
{
    if (const Pipe* p = pipeOf(meter))
        update(p->pipe.translated(p->at));
}

void GainMeterLayer::pipeMayHaveMoved()
{
    // Followed once the toolkit has placed everything, before it paints (its paints wait
    // behind the events posted meanwhile); a widget being destroyed is never asked.
    if (m_followQueued)
        return;
    m_followQueued = true;
    QMetaObject::invokeMethod(this, [this]() { followPipes(); }, Qt::QueuedConnection);
}

bool GainMeterLayer::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        pipeMayHaveMoved();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void GainMeterLayer::paintEvent(QPaintEvent* event)
{
    // Rectangle by rectangle of what is asked: the region as a whole would clip every fill
    // against all of a frame's bands.
    QPainter painter(this);
    const bool active = isActiveWindow();
    for (const QRect& r : event->region()) {
        for (const Pipe& p : qAsConst(m_pipes)) {
            const QRect part = r.translated(-p.at) & p.pipe;
            if (!p.meter || part.isEmpty())
                continue;
            // In the meter's own coordinates, so that a gradient lies as on the meter.
            painter.setTransform(QTransform::fromTranslate(p.at.x(), p.at.y()));
            p.meter->paintPipe(&painter, part, p.meter->pipeColour(active), p.meter->liquidColour(active));
        }
    }
}

void GainMeterLayer::followPipes()
{
    m_followQueued = false;
    setGeometry(m_page->rect());
    QVector<Pipe> pipes;
    QRegion covered;
    for (const QPointer<ZunMeterThermo>& meter : qAsConst(m_meters)) {
        if (!meter || !meter->isVisibleTo(m_page))
            continue;
        const QRect pipe = meter->pipe();
        if (pipe.isEmpty())
            continue;
        const QPoint at = meter->mapTo(m_page, QPoint(0, 0));
        pipes.append({meter, at, pipe});
        covered += pipe.translated(at);
    }
    m_pipes = pipes;
    if (covered == m_covered)
        return;
    const QRegion uncovered = m_covered - covered;
    const QRegion newlyCovered = covered - m_covered;
    m_covered = covered;
    // An empty mask would be no mask: the layer would cover the whole page.
    if (covered.isEmpty()) {
        hide();
    } else {
        setMask(covered);
        show();
        update(newlyCovered);
    }
    // What the layer no longer covers is painted by what lies beneath. The toolkit's update
    // of the page would leave out the opaque widgets there (a meter that moved keeps
    // the pipe painted over its border), so each is asked itself.
    if (uncovered.isEmpty())
        return;
    const QRect bounds = uncovered.boundingRect();
    for (QWidget* w : m_page->findChildren<QWidget*>()) {
        if (w == this || !w->isVisible())
            continue;
        const QPoint at = w->mapTo(m_page, QPoint(0, 0));
        if (bounds.intersects(QRect(at, w->size())))
            w->update(uncovered.translated(-at));
    }
    m_page->update(uncovered);
}

const GainMeterLayer::Pipe* GainMeterLayer::pipeOf(const ZunMeterThermo* meter) const
{
    for (const Pipe& p : m_pipes)
        if (p.meter == meter)
            return &p;
    return nullptr;
}
