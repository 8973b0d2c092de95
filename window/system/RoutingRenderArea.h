#pragma once

#include "CZunFullRoutingPreset.h"
#include "CZunInputPreset.h"
#include "CZunRoutingPreset.h"
#include "ZunC.h"

#include <QPixmap>
#include <QVariant>
#include <QWidget>

// The routing diagram of a processor, composed from pictures in the resources, one per
// layer, chosen by the current presets and multipath modes. A layer whose picture does not
// exist becomes a coloured block, so a missing combination shows at once. The widget never
// reads the device: it shows what its callers last set.
class RoutingRenderArea : public QWidget
{
    Q_OBJECT
public:
    enum Layer { Base = 0, InputRouting, Routing, Multipath1, Multipath2, SignalPath1, SignalPath2, LayerCount };

    explicit RoutingRenderArea(QWidget* parent = nullptr);
    ~RoutingRenderArea() override;

    // The picture's smallest text is 11 pixels high: below 0.7 of its own size it is
    // hard to read, below half of it it is not.
    static constexpr double ReadableScale = 0.7;
    static constexpr double SmallestScale = 0.5;

    void setSizeHint(const QSize& size) { m_sizeHint = size; }
    QSize sizeHint() const override { return m_sizeHint; }
    // Never smaller than half the picture's own size, whatever hint was set.
    QSize minimumSizeHint() const override { return m_sizeHint.boundedTo(scaledBase(SmallestScale)); }
    // The picture's own size at the readable scale (plus its margin).
    QSize readableSize() const { return scaledBase(ReadableScale); }

    // The size hint for a screen of that height: 70 % of the base size below 768 pixels.
    static QSize sizeHintFor(const QSize& baseSize, int screenHeight);
    // The picture names the layers take (under ":/resources/").
    static QString multipathPictureName(int pictureMode);
    static QString signalPathName(quint32 flags, int multipathMode);
    static QString signalPathName(quint32 flags);

    // What is shown: the resource name each layer was last loaded from (empty while a
    // layer is still empty), whether that picture existed, and the composite.
    QString layerName(int layer) const { return m_layerNames[layer]; }
    bool layerFound(int layer) const { return m_layerFound[layer]; }
    const QPixmap& layer(int layer) const { return m_layers[layer]; }
    const QPixmap& composite() const { return m_composite; }
    int copyMode1() const { return m_copyMode1; }
    int copyMode2() const { return m_copyMode2; }
    // A one-board processor has no DSP 2 and no outputs 5-8: the picture leaves them out.
    void setDoubleBoard(bool doubleBoard);
    bool isDoubleBoard() const { return m_doubleBoard; }

public slots:
    void createPixmap();
    void setInputPreset(CZunInputPreset preset);
    void setInputPreset(QVariant preset);
    void setRoutingPreset(CZunRoutingPreset preset);
    void setRoutingPreset(QVariant preset);
    void setFullRoutingPreset(CZunFullRoutingPreset preset);
    void setFullRoutingPreset(QVariant preset);
    void setMultipath1(ZunC::MultipathMode mode);
    void setMultipath1(QVariant mode);
    void setMultipath2(ZunC::MultipathMode mode);
    void setMultipath2(QVariant mode);
    void setCopyFIRCoeffs1(QVariant mode);
    void setCopyFIRCoeffs2(QVariant mode);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize scaledBase(double scale) const;
    // Loads a picture; a missing one fills the layer (keeping its size) with the colour.
    void loadChecked(int layer, const QString& name, const QColor& missing);
    void loadMultipath(int layer, const QString& name);
    void setMultipath(int dsp, int mode);
    void setCopyFIRCoeffs(int dsp, int mode);
    void recompose();

    QSize m_sizeHint {-1, -1};
    QSize m_baseSize {-1, -1};
    QSize m_margin {-1, -1};
    QPixmap m_composite;
    int m_multipath1 = 0;
    int m_multipath2 = 0;
    int m_copyMode1 = 0;
    int m_copyMode2 = 0;
    bool m_doubleBoard = true;
    CZunFullRoutingPreset m_fullRoutingPreset;
    CZunRoutingPreset m_routingPreset;
    CZunInputPreset m_inputPreset;
    QPixmap m_layers[LayerCount];
    QString m_layerNames[LayerCount];
    bool m_layerFound[LayerCount] = {};
};
