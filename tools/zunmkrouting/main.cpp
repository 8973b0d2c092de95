// zunmkrouting: draws the pictures of the routing diagram (and the system tab's logo) at
// build time, from the routing library's own preset definitions: which input feeds which
// routing slot and input path, which slot feeds which output, how the ways of a DSP share
// a multipath FIR and how its outputs group. One PNG per picture the routing picture
// names, then a resource file that lists them under the prefix "/resources".
//
//   zunmkrouting OUTDIR QRCFILE
#include "CCmdMap.h"
#include "CRoutingLibrary.h"
#include "RoutingPictureGeometry.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace
{
using RoutingPictureGeometry::Layers;
using RoutingPictureGeometry::rowY;

const QColor Ink(40, 44, 52);
const QColor Wire(90, 96, 106);
const QColor Faint(120, 126, 136);
const QColor SlotColours[8] = {{31, 119, 180}, {214, 39, 40}, {44, 160, 44}, {148, 103, 189},
                               {230, 120, 10}, {23, 160, 190}, {140, 86, 75}, {210, 80, 170}};
const QColor WayFill(253, 236, 205), WayPen(214, 130, 0);
const QColor GroupPen(0, 128, 128);

QFont font(int px, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

QColor tint(const QColor& c)
{
    // The colour at a fifth of its strength over white.
    return QColor(255 - (255 - c.red()) / 5, 255 - (255 - c.green()) / 5, 255 - (255 - c.blue()) / 5);
}

struct Canvas
{
    QImage image;
    QPainter p;
    explicit Canvas(int layer) : image(Layers[layer].w, Layers[layer].h, QImage::Format_ARGB32)
    {
        image.fill(Qt::white);
        p.begin(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
    }
    void text(const QRectF& r, const QString& t, const QFont& f, const QColor& c, int flags = Qt::AlignCenter)
    {
        p.setFont(f);
        p.setPen(c);
        p.drawText(r, flags, t);
    }
    void line(qreal x0, qreal y0, qreal x1, qreal y1, const QColor& c, qreal w)
    {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x0, y0), QPointF(x1, y1));
    }
    void box(const QRectF& r, const QColor& fill, const QColor& pen, qreal radius = 5)
    {
        p.setPen(QPen(pen, 2));
        p.setBrush(fill);
        p.drawRoundedRect(r, radius, radius);
        p.setBrush(Qt::NoBrush);
    }
};

class Writer
{
public:
    explicit Writer(const QString& dir) : m_dir(dir) {}
    bool save(const QString& name, Canvas& c)
    {
        c.p.end();
        return save(name, c.image);
    }
    bool save(const QString& name, const QImage& image)
    {
        if (!image.save(m_dir.absoluteFilePath(name), "PNG")) {
            QTextStream(stderr) << "zunmkrouting: cannot write " << m_dir.absoluteFilePath(name) << Qt::endl;
            return false;
        }
        m_names << name;
        return true;
    }
    bool writeQrc(const QString& path) const
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return false;
        QTextStream out(&f);
        const QDir base = QFileInfo(path).absoluteDir();
        out << "<RCC>\n    <qresource prefix=\"/resources\">\n";
        for (const QString& n : m_names)
            out << "        <file alias=\"" << n << "\">" << base.relativeFilePath(m_dir.absoluteFilePath(n))
                << "</file>\n";
        out << "    </qresource>\n</RCC>\n";
        return true;
    }
    int count() const { return m_names.size(); }

private:
    QDir m_dir;
    QStringList m_names;
};

// --- the base picture: DSP bands, their names and the output jacks ------------------------

void drawMain(Canvas& c)
{
    c.image.fill(QColor(236, 240, 244));
    c.box(QRectF(1, 4, 777, 196), QColor(226, 232, 239), QColor(200, 208, 218), 8);
    c.box(QRectF(1, 203, 777, 187), QColor(226, 232, 239), QColor(200, 208, 218), 8);
    for (int dsp = 0; dsp < 2; ++dsp) {
        const qreal centre = dsp == 0 ? 102 : 296;
        c.p.save();
        c.p.translate(9, centre);
        c.p.rotate(-90);
        c.text(QRectF(-60, -8, 120, 16), QStringLiteral("DSP %1").arg(dsp + 1), font(12, true), Ink);
        c.p.restore();
    }
    for (int o = 0; o < 8; ++o) {
        const int y = rowY(o);
        // The short gaps between the layers of every output row.
        c.line(392, y, 398, y, Wire, 2);
        c.line(475, y, 481, y, Wire, 2);
        c.line(723, y, 732, y, Wire, 2);
        c.p.setPen(QPen(Ink, 2));
        c.p.setBrush(Qt::white);
        c.p.drawEllipse(QPointF(736, y), 4.5, 4.5);
        c.p.setBrush(Qt::NoBrush);
        c.text(QRectF(742, y - 9, 38, 18), QStringLiteral("Out %1").arg(o + 1), font(11, true), Ink,
               Qt::AlignLeft | Qt::AlignVCenter);
    }
}

// --- input preset with routing preset: which input feeds each slot, on which path ----------

QString inputName(const CCmdMap& map, int source)
{
    const QString key = QStringLiteral("InfS_Input_%1").arg(source, 2, 10, QLatin1Char('0'));
    return map.containsString(key) ? map.getStringConst(key) : QStringLiteral("No source");
}

void drawInputRouting(Canvas& c, const CCmdMap& map, const CZunInputPreset& input, const CZunRoutingPreset& routing)
{
    const int top = Layers[1].y;
    c.text(QRectF(6, 0, 150, 22), QStringLiteral("Inputs"), font(15, true), Ink, Qt::AlignLeft | Qt::AlignVCenter);
    c.text(QRectF(166, 0, 52, 22), QStringLiteral("Path"), font(11, true), Faint, Qt::AlignCenter);
    const QStringList labels = input.getLabelText().split(QLatin1Char('|'));
    for (int slot = 0; slot < 8; ++slot) {
        if (!routing.UsesSlot(slot))
            continue;
        const QColor colour = SlotColours[slot];
        const qreal y = rowY(slot) - top;
        const int source = input.GetSourceOfSlot(slot);
        c.box(QRectF(4, y - 15, 148, 30), tint(colour), colour, 6);
        c.text(QRectF(11, y - 15, 136, 30), inputName(map, source), font(14, true), Ink, Qt::AlignLeft | Qt::AlignVCenter);
        const QString label = labels.value(slot).trimmed();
        bool digits = false;
        label.toInt(&digits);
        if (!label.isEmpty() && !digits)
            c.text(QRectF(100, y - 15, 46, 30), label, font(11, true), colour.darker(130), Qt::AlignRight | Qt::AlignVCenter);
        c.line(152, y, 174, y, colour, 3);
        QPainterPath arrow;
        arrow.moveTo(179, y);
        arrow.lineTo(171, y - 5);
        arrow.lineTo(171, y + 5);
        arrow.closeSubpath();
        c.p.fillPath(arrow, colour);
        const int path = input.GetKeypadInfoOfSlot(slot);
        const QChar letter = QChar('A' + (path >= 0 && path < 8 ? path : slot));
        c.p.setPen(Qt::NoPen);
        c.p.setBrush(colour);
        c.p.drawEllipse(QPointF(193, y), 13, 13);
        c.p.setBrush(Qt::NoBrush);
        c.text(QRectF(180, y - 13, 26, 26), letter, font(14, true), Qt::white);
        c.line(206, y, Layers[1].w, y, colour, 3);
    }
}

// --- routing preset: which slot feeds which output ---------------------------------------

void drawRouting(Canvas& c, const CZunRoutingPreset& routing)
{
    const int top = Layers[2].y, w = Layers[2].w;
    c.text(QRectF(6, 0, w - 6, 18), QStringLiteral("Routing"), font(15, true), Ink, Qt::AlignLeft | Qt::AlignVCenter);
    c.text(QRectF(6, 17, w - 6, 14), routing.getDescription().trimmed(), font(11), Faint, Qt::AlignLeft | Qt::AlignVCenter);
    for (int output = 0; output < 8; ++output) {
        const int slot = routing.GetSlotOfOutput(output);
        if (slot < 0 || slot > 7)
            continue;
        const qreal y0 = rowY(slot) - top, y1 = rowY(output) - top;
        QPainterPath wire;
        wire.moveTo(0, y0);
        wire.cubicTo(w * 0.55, y0, w * 0.45, y1, w, y1);
        c.p.setPen(QPen(SlotColours[slot], 3, Qt::SolidLine, Qt::RoundCap));
        c.p.drawPath(wire);
    }
    for (int slot = 0; slot < 8; ++slot)
        if (routing.UsesSlot(slot)) {
            c.p.setPen(Qt::NoPen);
            c.p.setBrush(SlotColours[slot]);
            c.p.drawEllipse(QPointF(5, rowY(slot) - top), 5, 5);
            c.p.setBrush(Qt::NoBrush);
        }
}

// --- multipath: which outputs of a DSP one FIR serves as ways ----------------------------

struct WayGroup
{
    int first;
    QStringList ways;
};

void drawMultipath(Canvas& c, const QString& mode, const QList<WayGroup>& groups)
{
    const int top = Layers[3].y, w = Layers[3].w;
    c.text(QRectF(0, 0, w, 13), QStringLiteral("Multipath"), font(11, true), Ink);
    c.text(QRectF(0, 12, w, 13), mode, font(11), Faint);
    for (int row = 0; row < 4; ++row)
        c.line(0, rowY(row) - top, w, rowY(row) - top, Wire, 2);
    for (const WayGroup& g : groups) {
        const qreal y0 = rowY(g.first) - top, y1 = rowY(g.first + g.ways.size() - 1) - top;
        c.box(QRectF(9, y0 - 15, w - 18, y1 - y0 + 30), WayFill, WayPen, 6);
        for (int i = 0; i < g.ways.size(); ++i) {
            const qreal y = rowY(g.first + i) - top;
            c.text(QRectF(9, y - 10, w - 18, 20), g.ways.at(i), font(12, true), WayPen.darker(140));
        }
    }
}

// --- signal path: the processing chain of each output and how the outputs group ----------

void drawSignalPath(Canvas& c, const QString& subtitle, const QList<QList<int>>& groups, bool multipathFir)
{
    const int top = Layers[5].y, w = Layers[5].w;
    c.text(QRectF(8, 0, w - 8, 18), QStringLiteral("Signal path"), font(13, true), Ink, Qt::AlignLeft | Qt::AlignVCenter);
    c.text(QRectF(8, 17, w - 8, 15), subtitle, font(11), Faint, Qt::AlignLeft | Qt::AlignVCenter);
    struct Block
    {
        qreal x0, x1;
        const char* name;
    };
    const Block blocks[] = {{12, 46, "EQ"}, {56, 112, "X-over"}, {122, 158, "FIR"}, {168, 226, "Limiter"}};
    for (const QList<int>& g : groups) {
        const bool shared = multipathFir && g.size() > 1;
        for (int row : g) {
            const qreal y = rowY(row) - top;
            c.line(0, y, w, y, Wire, 2);
            for (const Block& b : blocks) {
                if (shared && (b.x0 == 56 || b.x0 == 122))
                    continue;
                c.box(QRectF(b.x0, y - 11, b.x1 - b.x0, 22), Qt::white, Wire, 4);
                c.text(QRectF(b.x0, y - 11, b.x1 - b.x0, 22), QString::fromLatin1(b.name), font(11, true), Ink);
            }
        }
        if (g.size() > 1) {
            const qreal y0 = rowY(g.first()) - top, y1 = rowY(g.last()) - top;
            // The outputs of one loudspeaker: a bracket at the entry.
            c.line(4, y0 - 8, 4, y1 + 8, GroupPen, 4);
            if (shared) {
                c.box(QRectF(56, y0 - 13, 102, y1 - y0 + 26), WayFill, WayPen, 6);
                c.text(QRectF(56, y0 - 13, 102, y1 - y0 + 26), QStringLiteral("Multipath\nFIR"), font(12, true),
                       WayPen.darker(140));
            }
        }
    }
}

// --- the system tab's logo ----------------------------------------------------------------

QImage logo()
{
    QImage image(360, 96, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(44, 52, 64));
    p.drawRoundedRect(QRectF(0, 0, 360, 96), 14, 14);
    p.setFont(font(54, true));
    p.setPen(QColor(240, 150, 30));
    p.drawText(QRectF(18, 0, 130, 96), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zun"));
    p.setFont(font(36));
    p.setPen(Qt::white);
    p.drawText(QRectF(142, 0, 210, 96), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Control"));
    return image;
}
} // namespace

int main(int argc, char** argv)
{
    // The usage before the application object, whose platform would warn about the
    // session first. An option is never a folder name: "--help" asks for this text.
    bool help = false;
    for (int i = 1; i < argc; ++i)
        help = help || qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0;
    if (help || argc != 3 || argv[1][0] == '-' || argv[2][0] == '-') {
        std::fputs("Usage: zunmkrouting OUTDIR QRCFILE\n"
                   "Draws the routing pictures and the logo into OUTDIR and lists them in QRCFILE (the build\n"
                   "runs it).\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    // Drawing text needs the font database of a GUI application, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The platform asks for the session's runtime folder, which a build (a container, a
    // CI job, sudo) often lacks: a private one of its own for this run instead of a
    // warning in every build's output.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (!QDir().mkpath(args[1])) {
        QTextStream(stderr) << "zunmkrouting: cannot create " << args[1] << Qt::endl;
        return 1;
    }
    Writer out(args[1]);
    auto map = QSharedPointer<CCmdMap>::create();
    map->setVersion(0); // the newest definition of every preset of every firmware
    const CRoutingLibrary library(map);

    bool ok = true;
    {
        Canvas c(0);
        drawMain(c);
        ok &= out.save(QStringLiteral("Main.png"), c);
    }
    const QList<CZunRoutingPreset> routings = library.GetRoutingPresets();
    for (const CZunRoutingPreset& routing : routings) {
        Canvas c(2);
        drawRouting(c, routing);
        ok &= out.save(routing.getName() + QStringLiteral("_2.png"), c);
        for (const CZunInputPreset& input : library.GetInputPresets(routing)) {
            Canvas ci(1);
            drawInputRouting(ci, *map, input, routing);
            ok &= out.save(input.getName() + QLatin1Char('_') + routing.getName() + QStringLiteral("_2.png"), ci);
        }
    }
    const QStringList mh = {QStringLiteral("Mid"), QStringLiteral("Hi")};
    const QList<std::tuple<QString, QString, QList<WayGroup>>> multipaths = {
        {QStringLiteral("MP_NONE.png"), QStringLiteral("None"), {}},
        {QStringLiteral("MP_MH.png"), QStringLiteral("Mid+Hi"), {{2, mh}}},
        {QStringLiteral("MP_LM.png"), QStringLiteral("Lo+Mid"), {{0, {QStringLiteral("Lo"), QStringLiteral("Mid")}}}},
        {QStringLiteral("MP_LMH.png"), QStringLiteral("Lo+Mid+Hi"),
         {{1, {QStringLiteral("Lo"), QStringLiteral("Mid"), QStringLiteral("Hi")}}}},
        {QStringLiteral("MP_MHMH.png"), QStringLiteral("2x Mid+Hi"), {{0, mh}, {2, mh}}},
    };
    for (const auto& [name, mode, groups] : multipaths) {
        Canvas c(3);
        drawMultipath(c, mode, groups);
        ok &= out.save(name, c);
    }
    const QList<std::tuple<QString, QString, QList<QList<int>>, bool>> paths = {
        {QStringLiteral("SP_1_1_1_1.png"), QStringLiteral("4 single outputs"), {{0}, {1}, {2}, {3}}, false},
        {QStringLiteral("SP_2A_2A.png"), QStringLiteral("2 x 2 ways, own filters"), {{0, 1}, {2, 3}}, false},
        {QStringLiteral("SP_2P_2P.png"), QStringLiteral("2 x 2 ways, multipath FIR"), {{0, 1}, {2, 3}}, true},
        {QStringLiteral("SP_1_3A.png"), QStringLiteral("1 + 3 ways, own filters"), {{0}, {1, 2, 3}}, false},
        {QStringLiteral("SP_1_3P.png"), QStringLiteral("1 + 3 ways, multipath FIR"), {{0}, {1, 2, 3}}, true},
    };
    for (const auto& [name, subtitle, groups, shared] : paths) {
        Canvas c(5);
        drawSignalPath(c, subtitle, groups, shared);
        ok &= out.save(name, c);
    }
    ok &= out.save(QStringLiteral("logo.png"), logo());
    if (!ok)
        return 1;
    // Listed last: the resource file stands for the whole set.
    if (!out.writeQrc(args[2])) {
        QTextStream(stderr) << "zunmkrouting: cannot write " << args[2] << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "zunmkrouting: " << out.count() << " pictures" << Qt::endl;
    return 0;
}
