#include "ZunGainStrip.h"

#include "CZunDelaySpinBox.h"
#include "GainStripScales.h"
#include "ZunGainSlider.h"
#include "ZunMeterThermo.h"
#include "ZunWheelGuard.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

ZunGainStrip::ZunGainStrip(ZunGainSlider* slider, QWidget* parent)
    : QWidget(parent), m_grid(new QGridLayout(this)), m_nameLabel(new QLabel(this)), m_slider(slider),
      m_gainBox(new QDoubleSpinBox(this)), m_delayLabel(new QLabel(tr("Delay (ms)"), this)),
      m_delayBox(new CZunDelaySpinBox(this)), m_mute(new QPushButton(tr("Mute"), this))
{
    m_slider->setParent(this);
    m_grid->setSpacing(3);
    m_grid->setContentsMargins(1, 6, 1, 6);
    m_nameLabel->setFrameShape(QFrame::Box);
    m_nameLabel->setFrameShadow(QFrame::Sunken);
    m_nameLabel->setAlignment(Qt::AlignCenter);
    m_gainBox->setKeyboardTracking(false);
    m_gainBox->setAlignment(Qt::AlignCenter);
    m_gainBox->setDecimals(1);
    m_gainBox->setRange(-18.0, 6.0);
    m_gainBox->setSingleStep(0.1);
    // Digits need no shaping; the box lays its text out again on every edit, before the
    // edit is sent.
    QFont digits = m_gainBox->font();
    digits.setStyleStrategy(QFont::PreferNoShaping);
    m_gainBox->setFont(digits);
    m_mute->setCheckable(true);
    // A wheel turned to scroll the page must not move a gain or a delay under the pointer.
    ZunWheelGuard::install({m_slider, m_gainBox, m_delayBox});

    // The fader and its box follow each other; the fader's move is the edit (a second
    // setGain with the same value finds it stored and stays silent). The edit is sent
    // before the box lays out its new text.
    // On the fader's 0.1 dB grid, as the box shows it: otherwise the box's rounded echo
    // would count as a second edit.
    connect(m_slider, &QwtSlider::valueChanged, this, [this](double v) { setGain(std::round(v * 10.0) / 10.0); });
    connect(m_gainBox, qOverload<double>(&QDoubleSpinBox::valueChanged), m_slider, &QwtSlider::setValue);
    connect(m_slider, &QwtSlider::valueChanged, m_gainBox, &QDoubleSpinBox::setValue);
    connect(m_delayBox, &CZunDelaySpinBox::valueChangedEditFinished, this, [this](CZunDelay d) { setDelay(d); });
    connect(m_mute, &QPushButton::clicked, this, [this](bool checked) { onButtonMute(checked); });
}

QString ZunGainStrip::name() const { return m_nameLabel->text(); }

void ZunGainStrip::setGain(double v, bool fromDevice)
{
    if (std::abs(v - m_gain) < GainTolerance)
        return;
    // While the operator holds the fader the device's confirmations of earlier positions
    // would pull it back under the pointer; the confirmation of the last one follows.
    if (fromDevice && m_slider->isHeld())
        return;
    const double before = m_gain;
    m_gain = v;
    if (fromDevice) {
        showGain(v);
        return;
    }
    m_slider->setValue(v);
    try {
        gainEdited(v);
    } catch (...) {
        // Refused: the strip goes on showing what the processor holds.
        m_gain = before;
        showGain(before);
        throw;
    }
}

void ZunGainStrip::showGain(double v)
{
    const QSignalBlocker sliderBlock(m_slider);
    const QSignalBlocker boxBlock(m_gainBox);
    m_slider->setValue(v);
    m_gainBox->setValue(v);
}

void ZunGainStrip::setDelay(CZunDelay d, bool fromDevice)
{
    if (std::abs(d.seconds() - m_delay.seconds()) <= DelayTolerance)
        return;
    const CZunDelay before = m_delay;
    m_delay = d;
    if (fromDevice) {
        showDelay(d);
        return;
    }
    showDelay(d);
    try {
        delayEdited(d);
    } catch (...) {
        m_delay = before;
        showDelay(before);
        throw;
    }
}

void ZunGainStrip::showDelay(CZunDelay d)
{
    const QSignalBlocker block(m_delayBox);
    m_delayBox->setDelay(d);
}

void ZunGainStrip::setMute(bool on)
{
    const QSignalBlocker block(m_mute);
    m_mute->setChecked(on);
}

void ZunGainStrip::setName(QString name) { m_nameLabel->setText(name); }

void ZunGainStrip::setSamplingrate(double rate)
{
    m_rate = rate;
    {
        const QSignalBlocker block(m_delayBox);
        m_delayBox->setSamplingrate(rate);
    }
    // The box shows the stored delay at the new rate, not its own count carried over: a
    // delay from the processor that equals the stored one is not shown again.
    showDelay(m_delay);
}

void ZunGainStrip::onButtonMute(bool checked, bool) { muteEdited(checked); }

void ZunGainStrip::drawGainScale(bool on)
{
    m_slider->setScalePosition(on ? QwtSlider::LeadingScale : QwtSlider::NoScale);
    // With its scale the fader is as wide as its widest label needs (no fixed width: the
    // layout takes the fader's own hint, which follows the labels of its division).
    m_slider->setMinimumSize(on ? QSize(0, 120) : sliderSizeWithoutScale());
    m_grid->update();
}

void ZunGainStrip::setGainRange(double min, double max)
{
    if (min == m_rangeMin && max == m_rangeMax)
        return;
    m_rangeMin = min;
    m_rangeMax = max;
    // A new range is no edit: neither control may announce the value it clamps.
    const QSignalBlocker boxBlock(m_gainBox);
    const QSignalBlocker sliderBlock(m_slider);
    m_gainBox->setRange(min, max);
    applyGainScale(min, max);
    m_slider->setValue(m_gain);
    m_gainBox->setValue(m_gain);
}

void ZunGainStrip::applyGainScale(double min, double max)
{
    m_slider->setGainScale([min, max](int labels) { return GainStripScales::channelGain(min, max, labels); }, 1.0,
                           1, 1, 1);
}

void ZunGainStrip::showMeterScale(ZunMeterThermo* meter, QVBoxLayout* box, bool on, const QSize& withScale,
                                  int halfHeight)
{
    meter->setScaleShown(on);
    const int d = on ? 0 : meter->borderDistance();
    box->setContentsMargins(0, d, 0, d);
    meter->setMinimumSize(on ? withScale : QSize(12, (halfHeight - d) * 2));
    m_grid->update();
}

QColor ZunGainStrip::settingColor(const char* key)
{
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    return settings.value(QLatin1String(key)).value<QColor>();
}

QString ZunGainStrip::muteStyle(const QColor& inactive, const QColor& active, const QColor& disabled)
{
    // Without the colours of the settings the toolkit's own look stays (a style of invalid
    // colours would paint the button black).
    if (!inactive.isValid() || !active.isValid())
        return QString();
    QString style = QStringLiteral("QPushButton {background-color: %1;} QPushButton:checked{background-color: %2;} "
                                   "QPushButton:pressed {background-color: %2;}")
                        .arg(inactive.name(), active.name());
    if (disabled.isValid())
        style += QStringLiteral("QPushButton:disabled {background-color: %1;}").arg(disabled.name());
    return style;
}

void ZunGainStrip::enterEvent(QEvent* event)
{
    QPalette p = palette();
    const QColor hover = p.color(QPalette::Window).darker(125);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Window, hover);
    setPalette(p);
    setAutoFillBackground(true);
    QWidget::enterEvent(event);
}

void ZunGainStrip::leaveEvent(QEvent* event)
{
    setAutoFillBackground(false);
    setPalette(QApplication::palette());
    QWidget::leaveEvent(event);
}
