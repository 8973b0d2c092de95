#include "ZunStatusDisplay.h"

#include "AudioIOStatus.h"
#include "ZunDeviceStats.h"

#include <QGraphicsProxyWidget>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSettings>
#include <QSpacerItem>

namespace {
const int NoSource = 26;
const QColor DarkRed(30, 0, 0);
const QColor DarkGreen(0, 30, 0);
const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);

void setTextColor(QLabel* label, const QColor& color)
{
    // Active and inactive only: an offline (disabled) tile draws its indicators in the
    // style's disabled text colour, never in a live colour.
    QPalette p = label->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, color);
    p.setColor(QPalette::Inactive, QPalette::WindowText, color);
    label->setPalette(p);
}
} // namespace

ZunStatusDisplay::ZunStatusDisplay(QSharedPointer<ZunDeviceStats> stats, QSharedPointer<AudioIOStatus> audioStatus,
                                   QWidget* parent)
    : QWidget(parent)
    , m_audioStatus(audioStatus)
    , m_stats(stats)
{
    // 6 and 7 points, as on the processors' own displays, were unreadable on a 96-dpi
    // screen: one point more each.
    setFont(QFont(QStringLiteral("Helvetica"), 7));
    m_layout = new QGridLayout;
    // With one pixel the column heads ran together ("Out 1Out 2").
    m_layout->setHorizontalSpacing(4);
    m_layout->setVerticalSpacing(2);
    setLayout(m_layout);
    onRoutingChanged(stats);
    if (m_audioStatus)
        connect(m_audioStatus.data(), &AudioIOStatus::refreshed, this, &ZunStatusDisplay::updateMeters);
    setWhatsThis(QStringLiteral(
        "<h1>Status monitor</h1> \t\t Provides an overview of the most important data. \t\t For every input and "
        "output, signal, mute and lock status (if digital input) is shown. <br> \t\t <b>Establish a connection</b> "
        "to a device by double clicking on an item-></b> <br>\t\t The <b>Mute</b> button master mutes a device "
        "without having to establish a connection. <br> \t\t"));
    m_animation = new QPropertyAnimation(this);
    m_animation->setDuration(200);
    m_animation->setStartValue(1.0);
    m_animation->setKeyValueAt(0.5, 0.0);
    m_animation->setEndValue(1.0);
}

ZunStatusDisplay::~ZunStatusDisplay() = default;

quint32 ZunStatusDisplay::serial() const
{
    return m_stats ? m_stats->serial() : 0;
}

QString ZunStatusDisplay::titleText() const
{
    return QStringLiteral("Zun %1 : %2").arg(serial()).arg(m_stats ? m_stats->getName() : QString());
}

void ZunStatusDisplay::onRoutingChanged(QSharedPointer<ZunDeviceStats> changed)
{
    if (!changed || !m_stats || changed->serial() != m_stats->serial())
        return;
    // The audio-status record decodes the announced word with its processor's map; a word
    // it cannot decode keeps the routing it had.
    if (m_audioStatus) {
        m_audioStatus->SetRouting(changed->routingWord());
        m_routing = m_audioStatus->GetRouting();
    }
    buildDisplay();
}

void ZunStatusDisplay::onNetworkChanged()
{
    setEnabled(m_stats && m_stats->isLive());
}

QLabel* ZunStatusDisplay::newIndicator(Kind kind, int key, const QString& text)
{
    auto* label = new QLabel(text);
    setTextColor(label, (kind == OutSig || kind == InSig) ? DarkGreen : DarkRed);
    m_indicators[kind].insert(key, Indicator{label, false});
    return label;
}

void ZunStatusDisplay::buildDisplay()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (auto& map : m_indicators)
        map.clear();
    m_inputs.clear();
    m_outputs.clear();

    m_title = new QLabel(titleText());
    m_title->setFont(QFont(QStringLiteral("Helvetica"), 8));

    m_buttonMute = new QPushButton(tr("Master Mute"));
    m_buttonMute->setCheckable(true);
    // 70 x 16 at the most, unless the text needs more (larger fonts clipped "Master Mute").
    const QFontMetrics fm(m_buttonMute->font());
    m_buttonMute->setMaximumSize(qMax(70, fm.horizontalAdvance(m_buttonMute->text()) + 8), qMax(16, fm.height() + 2));
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    const QColor inactive = settings.value(QStringLiteral("ColorButtonInactive")).value<QColor>();
    const QColor active = settings.value(QStringLiteral("ColorButtonActive")).value<QColor>();
    m_buttonMute->setStyleSheet(
        QStringLiteral("QPushButton {background-color: %1;} QPushButton:checked{background-color: %2;} ")
            .arg(inactive.name(), active.name()));

    m_levelIn = InputSignalLevel;
    m_levelOut = OutputSignalLevel;
    connect(m_buttonMute, &QPushButton::clicked, this, &ZunStatusDisplay::onButtonMasterMute);

    const int n = m_stats ? m_stats->getHardwareInfo().analogOutputCount() : 0;
    for (int o = 0; o < n; ++o) {
        m_outputs << o;
        const int s = m_routing.GetSourceOfOutput(o);
        if (s != NoSource && !m_inputs.contains(s))
            m_inputs << s;
    }

    int c = 0;
    for (int s : qAsConst(m_inputs)) {
        m_layout->addWidget(new QLabel(QStringLiteral("In %1").arg(c + 1)), 1, c);
        m_layout->addWidget(newIndicator(InClp, s, QStringLiteral("CLP")), 2, c);
        m_layout->addWidget(newIndicator(InLck, s, QStringLiteral("LCK")), 3, c);
        m_layout->addWidget(newIndicator(InSig, s, QStringLiteral("SIG")), 4, c);
        m_layout->addWidget(newIndicator(InMut, s, QStringLiteral("MUT")), 5, c);
        ++c;
    }
    int k = 0;
    for (int o : qAsConst(m_outputs)) {
        m_layout->addWidget(new QLabel(QStringLiteral("Out %1").arg(k + 1)), 1, c);
        m_layout->addWidget(newIndicator(OutTem, o, QStringLiteral("TEM")), 2, c);
        m_layout->addWidget(newIndicator(OutLim, o, QStringLiteral("LIM")), 3, c);
        m_layout->addWidget(newIndicator(OutSig, o, QStringLiteral("SIG")), 4, c);
        m_layout->addWidget(newIndicator(OutMut, o, QStringLiteral("MUT")), 5, c);
        ++c;
        ++k;
    }
    m_layout->addWidget(m_title, 0, 0, 1, qMax(1, c));
    m_layout->addWidget(m_buttonMute, 6, 0, 1, 4);
    m_layout->addItem(new QSpacerItem(1, 1, QSizePolicy::Minimum, QSizePolicy::Minimum), 6, qMax(c, 4));
    adjustSize();
}

void ZunStatusDisplay::setIndicator(Kind kind, int key, bool on)
{
    auto it = m_indicators[kind].find(key);
    if (it == m_indicators[kind].end() || it->state == on)
        return;
    it->state = on;
    const bool green = kind == InLck || kind == InSig || kind == OutSig;
    setTextColor(it->label, green ? (on ? Green : DarkGreen) : (on ? Red : DarkRed));
}

void ZunStatusDisplay::updateMeters()
{
    m_title->setText(titleText());
    if (!m_audioStatus)
        return;
    const bool m = m_audioStatus->IsMasterMuted();
    if (m_buttonMute->isChecked() != m)
        m_buttonMute->setChecked(m);
    const bool locked = m_audioStatus->IsDigitalInputLocked();
    for (int s : qAsConst(m_inputs)) {
        setIndicator(InClp, s, m_audioStatus->IsOverload(s));
        setIndicator(InLck, s, locked);
        setIndicator(InSig, s, m_audioStatus->GetInputLevel(s) > m_levelIn);
        setIndicator(InMut, s, m_audioStatus->IsInputMuted(s) || m);
    }
    for (int o : qAsConst(m_outputs)) {
        setIndicator(OutTem, o, m_audioStatus->IsThermalLimiting(o));
        setIndicator(OutLim, o, m_audioStatus->IsPeakLimiting(o));
        setIndicator(OutSig, o, m_audioStatus->GetOutputLevel(o) > m_levelOut);
        setIndicator(OutMut, o, m_audioStatus->IsOutputMuted(o) || m);
    }
}

void ZunStatusDisplay::onButtonMasterMute(bool checked)
{
    const bool processorMuted = m_audioStatus && m_audioStatus->IsMasterMuted();
    if (checked == processorMuted)
        return;
    m_buttonMute->setChecked(checked);
    emit masterMuteTriggered(serial(), checked);
}

void ZunStatusDisplay::animate()
{
    // Inside the status monitor the tile is painted by its graphics proxy, which ignores
    // the embedded widget's window opacity: the blink must fade the item the scene shows.
    QObject* target = this;
    QByteArray property("windowOpacity");
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget()) {
        target = proxy;
        property = "opacity";
    }
    m_animation->stop();
    m_animation->setTargetObject(target);
    m_animation->setPropertyName(property);
    m_animation->start();
}

void ZunStatusDisplay::mouseDoubleClickEvent(QMouseEvent*)
{
    emit connectionRequest(serial());
}

int ZunStatusDisplay::kindOf(bool output, const QString& kind)
{
    static const char* const outNames[] = {"TEM", "LIM", "SIG", "MUT"};
    static const char* const inNames[] = {"CLP", "LCK", "SIG", "MUT"};
    for (int i = 0; i < 4; ++i)
        if (kind == QLatin1String(output ? outNames[i] : inNames[i]))
            return (output ? OutTem : InClp) + i;
    return -1;
}

QLabel* ZunStatusDisplay::indicator(bool output, const QString& kind, int key) const
{
    const int k = kindOf(output, kind);
    return k < 0 ? nullptr : m_indicators[k].value(key).label;
}

bool ZunStatusDisplay::indicatorState(bool output, const QString& kind, int key) const
{
    const int k = kindOf(output, kind);
    return k >= 0 && m_indicators[k].value(key).state;
}
