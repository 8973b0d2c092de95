#include "RoutingRenderArea.h"

#include "RoutingPictureGeometry.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initRoutingPictures()
{
    Q_INIT_RESOURCE(zunwindow_routing);
}

namespace
{
const QString Prefix = QStringLiteral(":/resources/");
const QColor MissingRouting(255, 85, 85);
const QColor MissingPicture(114, 159, 207);

void ensureResources()
{
    static std::once_flag once;
    std::call_once(once, initRoutingPictures);
}
} // namespace

RoutingRenderArea::RoutingRenderArea(QWidget* parent) : QWidget(parent)
{
    ensureResources();
    m_margin = QSize(4, 4);
    m_layers[Base].load(Prefix + QStringLiteral("Main.png"));
    m_layerNames[Base] = Prefix + QStringLiteral("Main.png");
    m_layerFound[Base] = !m_layers[Base].isNull();
    m_baseSize = m_layers[Base].size() + m_margin;
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_sizeHint = sizeHintFor(m_baseSize, screen ? screen->geometry().height() : 768);
    loadMultipath(Multipath1, Prefix + multipathPictureName(0));
    loadMultipath(Multipath2, Prefix + multipathPictureName(0));
    loadChecked(SignalPath1, Prefix + QStringLiteral("SP_1_1_1_1.png"), MissingPicture);
    loadChecked(SignalPath2, Prefix + QStringLiteral("SP_1_1_1_1.png"), MissingPicture);
}

RoutingRenderArea::~RoutingRenderArea() = default;

QSize RoutingRenderArea::scaledBase(double scale) const
{
    return QSize(int(std::lround(m_baseSize.width() * scale)), int(std::lround(m_baseSize.height() * scale)));
}

QSize RoutingRenderArea::sizeHintFor(const QSize& baseSize, int screenHeight)
{
    if (screenHeight >= 768)
        return baseSize;
    return QSize(int(std::lround(baseSize.width() * 0.7)), int(std::lround(baseSize.height() * 0.7)));
}

QString RoutingRenderArea::multipathPictureName(int pictureMode)
{
    switch (pictureMode) {
    case 0: return QStringLiteral("MP_NONE.png");
    case 1: return QStringLiteral("MP_MH.png");
    case 2: return QStringLiteral("MP_LM.png");
    case 3: return QStringLiteral("MP_LMH.png");
    case 4: return QStringLiteral("MP_MHMH.png");
    default: return QString();
    }
}

// Bits 8, 7 and 6 of the full routing's pattern offer the fan-outs 1->1, 1->2 and 1->3;
// a multipath FIR that serves the ways of a group turns its active split into a passive one.
QString RoutingRenderArea::signalPathName(quint32 flags, int multipathMode)
{
    if (flags & (1u << 8))
        return QStringLiteral("SP_1_1_1_1.png");
    if (flags & (1u << 7))
        return multipathMode == 1 || multipathMode == 4 ? QStringLiteral("SP_2P_2P.png") : QStringLiteral("SP_2A_2A.png");
    if (flags & (1u << 6))
        return multipathMode == 3 ? QStringLiteral("SP_1_3P.png") : QStringLiteral("SP_1_3A.png");
    return QStringLiteral("SP_1_1_1_1.png");
}

QString RoutingRenderArea::signalPathName(quint32 flags)
{
    if (flags & (1u << 8))
        return QStringLiteral("SP_1_1_1_1.png");
    if (flags & (1u << 7))
        return QStringLiteral("SP_2A_2A.png");
    if (flags & (1u << 6))
        return QStringLiteral("SP_1_3A.png");
    return QStringLiteral("SP_1_1_1_1.png");
}

void RoutingRenderArea::loadChecked(int layer, const QString& name, const QColor& missing)
{
    m_layerNames[layer] = name;
    m_layerFound[layer] = QFileInfo::exists(name);
    if (m_layerFound[layer]) {
        m_layers[layer].fill(QColor(255, 255, 255, 255));
        m_layers[layer].load(name);
    } else {
        // Keeps the size: a block the size of the picture it replaces (nothing while the
        // layer has never held a picture).
        m_layers[layer].fill(missing);
    }
}

void RoutingRenderArea::loadMultipath(int layer, const QString& name)
{
    m_layerNames[layer] = name;
    m_layers[layer].fill(QColor(255, 255, 255, 255));
    // An unknown mode names no picture: the layer stays white (a failed load would empty it).
    m_layerFound[layer] = !name.isEmpty() && m_layers[layer].load(name);
}

void RoutingRenderArea::recompose()
{
    createPixmap();
    repaint();
}

void RoutingRenderArea::createPixmap()
{
    QSize size = m_baseSize.isValid() ? m_baseSize : QSize(1, 1);
    if (!m_doubleBoard)
        size.setHeight(qMin(size.height(), RoutingPictureGeometry::OneBoardHeight + m_margin.height()));
    QPixmap composite(size);
    // The margin strips at the right and bottom stay clear instead of holding whatever a
    // new pixmap holds.
    composite.fill(Qt::transparent);
    QPainter p(&composite);
    if (!m_doubleBoard)
        p.setClipRect(0, 0, size.width(), RoutingPictureGeometry::OneBoardHeight);
    for (int i = 0; i < LayerCount; ++i) {
        if (!m_doubleBoard && (i == Multipath2 || i == SignalPath2))
            continue;
        const RoutingPictureGeometry::Rect& r = RoutingPictureGeometry::Layers[i];
        if (!m_layers[i].isNull())
            p.drawPixmap(r.x, r.y, m_layers[i]);
    }
    p.end();
    m_composite = composite;
}

void RoutingRenderArea::setDoubleBoard(bool doubleBoard)
{
    if (doubleBoard == m_doubleBoard)
        return;
    m_doubleBoard = doubleBoard;
    recompose();
}

void RoutingRenderArea::setInputPreset(CZunInputPreset preset)
{
    m_inputPreset = preset;
    loadChecked(InputRouting,
                Prefix + m_inputPreset.getName() + QLatin1Char('_') + m_routingPreset.getName() + QStringLiteral("_2.png"),
                MissingPicture);
    recompose();
}

void RoutingRenderArea::setInputPreset(QVariant preset) { setInputPreset(qvariant_cast<CZunInputPreset>(preset)); }

void RoutingRenderArea::setRoutingPreset(CZunRoutingPreset preset)
{
    m_routingPreset = preset;
    loadChecked(Routing, Prefix + m_routingPreset.getName() + QStringLiteral("_2.png"), MissingRouting);
    setInputPreset(m_inputPreset);
}

void RoutingRenderArea::setRoutingPreset(QVariant preset) { setRoutingPreset(qvariant_cast<CZunRoutingPreset>(preset)); }

void RoutingRenderArea::setFullRoutingPreset(CZunFullRoutingPreset preset)
{
    m_fullRoutingPreset = preset;
    const QString routing = preset.GetRoutingPreset().getName();
    loadChecked(Routing, Prefix + routing + QStringLiteral("_2.png"), MissingRouting);
    loadChecked(InputRouting,
                Prefix + preset.GetInputPreset().getName() + QLatin1Char('_') + routing + QStringLiteral("_2.png"),
                MissingPicture);
    const QString path = Prefix + signalPathName(preset.getPattern());
    loadChecked(SignalPath1, path, MissingPicture);
    loadChecked(SignalPath2, path, MissingPicture);
    recompose();
}

void RoutingRenderArea::setFullRoutingPreset(QVariant preset)
{
    setFullRoutingPreset(qvariant_cast<CZunFullRoutingPreset>(preset));
}

void RoutingRenderArea::setMultipath(int dsp, int mode)
{
    int& multipath = dsp == 1 ? m_multipath1 : m_multipath2;
    int& copyMode = dsp == 1 ? m_copyMode1 : m_copyMode2;
    multipath = mode;
    // Coefficient copies exist only without multipath or with Mid+Hi.
    if (mode != 0 && mode != 1)
        copyMode = 0;
    const int pictureMode = copyMode == 1 && mode == 1 ? 4 : mode;
    const QString picture = multipathPictureName(pictureMode);
    loadMultipath(dsp == 1 ? Multipath1 : Multipath2, picture.isEmpty() ? QString() : Prefix + picture);
    loadChecked(dsp == 1 ? SignalPath1 : SignalPath2, Prefix + signalPathName(m_fullRoutingPreset.getPattern(), mode),
                MissingPicture);
    recompose();
}

void RoutingRenderArea::setMultipath1(ZunC::MultipathMode mode) { setMultipath(1, int(mode)); }
void RoutingRenderArea::setMultipath1(QVariant mode) { setMultipath(1, mode.toInt()); }
void RoutingRenderArea::setMultipath2(ZunC::MultipathMode mode) { setMultipath(2, int(mode)); }
void RoutingRenderArea::setMultipath2(QVariant mode) { setMultipath(2, mode.toInt()); }

void RoutingRenderArea::setCopyFIRCoeffs(int dsp, int mode)
{
    int& copyMode = dsp == 1 ? m_copyMode1 : m_copyMode2;
    const int multipath = dsp == 1 ? m_multipath1 : m_multipath2;
    if (mode == 1) {
        if (multipath == 0 || multipath == 1)
            copyMode = 1;
    } else {
        copyMode = mode;
    }
    setMultipath(dsp, multipath);
}

void RoutingRenderArea::setCopyFIRCoeffs1(QVariant mode) { setCopyFIRCoeffs(1, mode.toInt()); }
void RoutingRenderArea::setCopyFIRCoeffs2(QVariant mode) { setCopyFIRCoeffs(2, mode.toInt()); }

void RoutingRenderArea::paintEvent(QPaintEvent*)
{
    if (m_composite.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    // Centred across the room the layout gives: a wide area leaves no gap on one side only.
    const QPixmap scaled = m_composite.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawPixmap(QPoint(qMax(m_margin.width() / 2, (width() - scaled.width()) / 2), m_margin.height() / 2), scaled);
}
