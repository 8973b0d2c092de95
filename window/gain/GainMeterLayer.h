#pragma once

#include <QPointer>
#include <QRegion>
#include <QVector>
#include <QWidget>

class ZunMeterThermo;

// The pipes of a gain page's meters, painted as one. A meter that repaints its own pipe
// costs the toolkit a paint of its own each frame (its region, its painter, its clip);
// with a few dozen meters on a page that is most of what an open page costs. The layer
// lies over the page, is the meters' pipes alone (its mask), is opaque there and takes
// no input, so that a frame's moved bands are one region and one paint. The meters still
// paint their border and scale; where a meter's paint reaches its pipe (a new colour, the
// window disabled) the layer paints the pipe again.
class GainMeterLayer : public QWidget
{
    Q_OBJECT
public:
    explicit GainMeterLayer(QWidget* page);

    // The meters whose pipes the layer paints (the page's strips' meters); the layer lies
    // over every strip built so far.
    void addMeter(ZunMeterThermo* meter);
    void clear();

    // A band of a meter's pipe (in the meter's coordinates) to repaint: at once, or at the
    // end of the frame in which it moved.
    void repaintBand(const ZunMeterThermo* meter, const QRect& band);
    // The bands of the meters moved between these two are repainted as one region.
    void beginFrame() { m_inFrame = true; }
    void endFrame();

    // A meter painted itself, or its pipe may have moved within it: the layer follows.
    void meterPainted(const ZunMeterThermo* meter);
    void pipeMayHaveMoved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Pipe
    {
        QPointer<ZunMeterThermo> meter;
        QPoint at; // the meter's origin on the page
        QRect pipe; // in the meter's coordinates
    };

    // The pipes where they now lie on the page; the mask follows them, and what the layer
    // covered or uncovered is painted again.
    void followPipes();
    const Pipe* pipeOf(const ZunMeterThermo* meter) const;

    QWidget* m_page;
    QList<QPointer<ZunMeterThermo>> m_meters;
    QVector<Pipe> m_pipes;
    QRegion m_covered;
    QRegion m_pending;
    bool m_inFrame = false;
    bool m_followQueued = false;
};
