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
    // A new name comes with the processor's announce, which the discovery reports as a
    // network change: the title is not looked at for each status.
    if (m_title)
        m_title->setText(titleText());
}

QLabel* ZunStatusDisplay::newIndicator(Column& column, Row row, const QString& text)
{
    auto* label = new QLabel(text);
    setTextColor(label, row == Signal ? DarkGreen : DarkRed);
    column.labels[row] = label;
    return label;
}

void ZunStatusDisplay::buildDisplay()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_inputColumns.clear();
    m_outputColumns.clear();
    m_inputs.clear();
    m_outputs.clear();
    m_states = 0;

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
    m_muteShown = false;
    connect(m_buttonMute, &QPushButton::toggled, this, [this](bool on) { m_muteShown = on; });

    const int n = m_stats ? m_stats->getHardwareInfo().analogOutputCount() : 0;
    for (int o = 0; o < n; ++o) {
        m_outputs << o;
        const int s = m_routing.GetSourceOfOutput(o);
        if (s != NoSource && !m_inputs.contains(s))
            m_inputs << s;
    }

    Q_ASSERT(m_inputs.size() <= 8 && m_outputs.size() <= 8); // the bits of m_states
    m_inputCount = quint8(m_inputs.size());
    m_outputCount = quint8(m_outputs.size());
    for (int i = 0; i < m_inputCount; ++i)
        m_keys[i] = quint8(m_inputs.at(i));
    for (int o = 0; o < m_outputCount; ++o)
        m_keys[m_inputCount + o] = quint8(m_outputs.at(o));
    // The record's master-mute flag is DSP 1's: on two boards it mutes outputs 1-4 and the
    // input paths A-D, while DSP 2's play on. An output's own mute bit carries its DSP's
    // master mute besides.
    const bool twoBoards = m_stats && m_stats->getHardwareInfo().isDoubleBoard();
    m_firstDspColumns = 0;
    for (int i = 0; i < m_inputCount + m_outputCount; ++i) {
        const bool output = i >= m_inputCount;
        const int path = output ? m_keys[i] : m_routing.GetKeypadInfoOfSource(m_keys[i]);
        if (!twoBoards || (path >= 0 && path < 4))
            m_firstDspColumns |= quint16(1u << i);
    }
    int c = 0;
    m_inputColumns.resize(size_t(m_inputs.size()));
    for (Column& column : m_inputColumns) {
        column.key = m_inputs.at(c);
        m_layout->addWidget(new QLabel(QStringLiteral("In %1").arg(c + 1)), 1, c);
        m_layout->addWidget(newIndicator(column, Event, QStringLiteral("CLP")), 2, c);
        m_layout->addWidget(newIndicator(column, LockOrLimit, QStringLiteral("LCK")), 3, c);
        m_layout->addWidget(newIndicator(column, Signal, QStringLiteral("SIG")), 4, c);
        m_layout->addWidget(newIndicator(column, Mute, QStringLiteral("MUT")), 5, c);
        ++c;
    }
    int k = 0;
    m_outputColumns.resize(size_t(m_outputs.size()));
    for (Column& column : m_outputColumns) {
        column.key = m_outputs.at(k);
        m_layout->addWidget(new QLabel(QStringLiteral("Out %1").arg(k + 1)), 1, c);
        m_layout->addWidget(newIndicator(column, Event, QStringLiteral("TEM")), 2, c);
        m_layout->addWidget(newIndicator(column, LockOrLimit, QStringLiteral("LIM")), 3, c);
        m_layout->addWidget(newIndicator(column, Signal, QStringLiteral("SIG")), 4, c);
        m_layout->addWidget(newIndicator(column, Mute, QStringLiteral("MUT")), 5, c);
        ++c;
        ++k;
    }
    m_layout->addWidget(m_title, 0, 0, 1, qMax(1, c));
    m_layout->addWidget(m_buttonMute, 6, 0, 1, 4);
    m_layout->addItem(new QSpacerItem(1, 1, QSizePolicy::Minimum, QSizePolicy::Minimum), 6, qMax(c, 4));
    adjustSize();
}

void ZunStatusDisplay::followBatches()
{
    if (m_audioStatus)
        disconnect(m_audioStatus.data(), &AudioIOStatus::refreshed, this, &ZunStatusDisplay::updateMeters);
}

void ZunStatusDisplay::updateMeters()
{
    if (!m_audioStatus)
        return;
    const AudioIOStatus& status = *m_audioStatus;
    const bool m = status.IsMasterMuted();
    if (m_muteShown != m)
        m_buttonMute->setChecked(m);
    const bool locked = status.IsDigitalInputLocked();
    quint64 states = 0;
    int bit = 0;
    const auto put = [&states, &bit](bool on) { states |= quint64(on) << bit++; };
    const quint16 masterMuted = m ? m_firstDspColumns : 0;
    for (int i = 0; i < m_inputCount; ++i) {
        const int s = m_keys[i];
        put(status.IsOverload(s));
        put(locked);
        put(status.GetInputLevel(s) > m_levelIn);
        put(status.IsInputMuted(s) || ((masterMuted >> i) & 1));
    }
    for (int i = 0; i < m_outputCount; ++i) {
        const int o = m_keys[m_inputCount + i];
        put(status.IsThermalLimiting(o));
        put(status.IsPeakLimiting(o));
        put(status.GetOutputLevel(o) > m_levelOut);
        put(status.IsOutputMuted(o) || ((masterMuted >> (m_inputCount + i)) & 1));
    }
    const quint64 changed = states ^ m_states;
    m_states = states;
    if (changed)
        paintIndicators(changed);
}

void ZunStatusDisplay::paintIndicators(quint64 changed)
{
    const int inputBits = Rows * int(m_inputColumns.size());
    for (int bit = 0; bit < Rows * int(m_inputColumns.size() + m_outputColumns.size()); ++bit) {
        if (!((changed >> bit) & 1))
            continue;
        const int row = bit % Rows;
        // LCK and SIG light green, every other indicator red.
        const bool green = row == Signal || (bit < inputBits && row == LockOrLimit);
        const bool on = (m_states >> bit) & 1;
        setTextColor(labelOf(bit), green ? (on ? Green : DarkGreen) : (on ? Red : DarkRed));
    }
}

QLabel* ZunStatusDisplay::labelOf(int bit) const
{
    const int inputBits = Rows * int(m_inputColumns.size());
    const Column& column = bit < inputBits ? m_inputColumns[size_t(bit / Rows)]
                                           : m_outputColumns[size_t((bit - inputBits) / Rows)];
    return column.labels[bit % Rows];
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

int ZunStatusDisplay::findIndicator(bool output, const QString& kind, int key) const
{
    static const char* const outNames[] = {"TEM", "LIM", "SIG", "MUT"};
    static const char* const inNames[] = {"CLP", "LCK", "SIG", "MUT"};
    const std::vector<Column>& columns = output ? m_outputColumns : m_inputColumns;
    const int first = output ? Rows * int(m_inputColumns.size()) : 0;
    for (int row = 0; row < Rows; ++row) {
        if (kind != QLatin1String(output ? outNames[row] : inNames[row]))
            continue;
        for (size_t c = 0; c < columns.size(); ++c)
            if (columns[c].key == key)
                return first + Rows * int(c) + row;
    }
    return -1;
}

QLabel* ZunStatusDisplay::indicator(bool output, const QString& kind, int key) const
{
    const int bit = findIndicator(output, kind, key);
    return bit >= 0 ? labelOf(bit) : nullptr;
}

bool ZunStatusDisplay::indicatorState(bool output, const QString& kind, int key) const
{
    const int bit = findIndicator(output, kind, key);
    return bit >= 0 && ((m_states >> bit) & 1);
}
