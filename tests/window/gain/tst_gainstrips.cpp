// The strips of the gain page without a device: tick rules, values from the device that
// stay silent, edits that leave once, meters that repaint only on real movement, the
// greyed-out Mute of an output, and a plain drag of an output strip's settings.
#include "CZunDelaySpinBox.h"
#include "GainStripScales.h"
#include "InputGainLevelWidget.h"
#include "MasterGainDelayWidget.h"
#include "OutputGainLevelWidget.h"
#include "ThermoOutputLevel.h"
#include "ThermoCoilTemperature.h"
#include "ZunChannelMimeData.h"
#include "ZunGainSlider.h"

#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using Ticks = QList<double>;

class TestGainStrips : public QObject
{
    Q_OBJECT

    static Ticks ticks(const QwtScaleDiv& div, QwtScaleDiv::TickType type) { return div.ticks(type); }

private slots:
    void channelGainTicks_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<Ticks>("major");
        QTest::addColumn<Ticks>("medium");
        QTest::newRow("-18 to 6") << -18.0 << 6.0 << Ticks{-18, -15, -12, -9, -6, -3, 0, 3, 6}
                                  << Ticks{-17, -16, -14, -13, -11, -10, -8, -7, -5, -4, -2, -1, 1, 2, 4, 5};
        // ends off the multiples of 3: majors truncate toward zero, mediums stay inside
        QTest::newRow("-7.5 to 4.5") << -7.5 << 4.5 << Ticks{-6, -3, 0, 3} << Ticks{-7, -5, -4, -2, -1, 1, 2, 4};
        QTest::newRow("above zero") << 1.5 << 7.0 << Ticks{3, 6} << Ticks{2, 4, 5, 7};
    }
    void channelGainTicks()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(Ticks, major);
        QFETCH(Ticks, medium);
        const QwtScaleDiv div = GainStripScales::channelGain(min, max);
        QCOMPARE(ticks(div, QwtScaleDiv::MajorTick), major);
        QCOMPARE(ticks(div, QwtScaleDiv::MediumTick), medium);
        QVERIFY(ticks(div, QwtScaleDiv::MinorTick).isEmpty());
        QCOMPARE(div.lowerBound(), min);
        QCOMPARE(div.upperBound(), max);
    }

    // A wide range on a short fader: the labels thin out to multiples of 6, 12, 24 dB (the
    // first that fits), with medium ticks halfway; a narrow one keeps every 3 dB.
    void channelGainTicksThinOutOnShortFaders()
    {
        QwtScaleDiv div = GainStripScales::channelGain(-80.0, 12.0, 8);
        QCOMPARE(ticks(div, QwtScaleDiv::MajorTick), (Ticks{-72, -60, -48, -36, -24, -12, 0, 12}));
        QCOMPARE(ticks(div, QwtScaleDiv::MediumTick), (Ticks{-78, -66, -54, -42, -30, -18, -6, 6}));
        div = GainStripScales::channelGain(-80.0, 12.0, 16);
        QCOMPARE(ticks(div, QwtScaleDiv::MajorTick).size(), 16);
        QCOMPARE(ticks(div, QwtScaleDiv::MajorTick).first(), -78.0);
        QCOMPARE(GainStripScales::channelGain(-18.0, 6.0, 9), GainStripScales::channelGain(-18.0, 6.0));

        // on a strip: as many labels as the fader's height holds without overlap
        for (int height : {260, 420, 700}) {
            OutputGainLevelWidget strip;
            strip.setGainRange(-80.0, 12.0);
            strip.drawGainScale(true);
            strip.resize(90, height);
            strip.show();
            QVERIFY(QTest::qWaitForWindowExposed(&strip));
            ZunGainSlider* fader = strip.gainSlider();
            const Ticks majors = ticks(fader->scaleDiv(), QwtScaleDiv::MajorTick);
            const int length = fader->height() - fader->handleSize().height() - 2 * fader->borderWidth();
            const double pitch = double(length) * (majors.last() - majors.first()) / 92.0 / (majors.size() - 1);
            QVERIFY2(pitch >= QFontMetrics(fader->font()).height(),
                     qPrintable(QString("%1 labels on %2 px").arg(majors.size()).arg(length)));
            QCOMPARE(fader->lowerBound(), -80.0);
            QCOMPARE(fader->upperBound(), 12.0);
        }
    }

    void masterGainTicks_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<Ticks>("major");
        QTest::addColumn<Ticks>("medium");
        QTest::addColumn<Ticks>("minor");
        QTest::newRow("-94.5 to 33") << -94.5 << 33.0 << Ticks{-72, -48, -24, 0, 24} << Ticks{-84, -60, -36, -12, 12}
                                     << Ticks{-90, -78, -66, -54, -42, -30, -18, -6, 6, 18, 30};
        QTest::newRow("-48 to 12") << -48.0 << 12.0 << Ticks{-48, -24, 0} << Ticks{-36, -12, 12}
                                   << Ticks{-42, -30, -18, -6, 6};
        QTest::newRow("-10 to 5") << -10.0 << 5.0 << Ticks{0} << Ticks{} << Ticks{-6};
    }
    void masterGainTicks()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(Ticks, major);
        QFETCH(Ticks, medium);
        QFETCH(Ticks, minor);
        const QwtScaleDiv div = GainStripScales::masterGain(min, max);
        QCOMPARE(ticks(div, QwtScaleDiv::MajorTick), major);
        QCOMPARE(ticks(div, QwtScaleDiv::MediumTick), medium);
        QCOMPARE(ticks(div, QwtScaleDiv::MinorTick), minor);
    }

    void deviceValuesStaySilentEditsLeaveOnce()
    {
        OutputGainLevelWidget strip;
        strip.setName(QStringLiteral("Out"));
        QSignalSpy gain(&strip, &OutputGainLevelWidget::gainChanged);
        QSignalSpy delay(&strip, &OutputGainLevelWidget::delayChanged);
        QSignalSpy mute(&strip, &OutputGainLevelWidget::muteChannel);
        QSignalSpy invert(&strip, &OutputGainLevelWidget::invertChannel);

        strip.setGain(-3.5, true);
        strip.setDelay(CZunDelay(96, 48000.0), true);
        strip.setMute(true);
        strip.setPhaseInvert(true);
        QCOMPARE(strip.gainSpinBox()->value(), -3.5);
        QCOMPARE(strip.gainSlider()->value(), -3.5);
        QCOMPARE(strip.delaySpinBox()->value(), 96);
        QVERIFY(strip.muteButton()->isChecked());
        QVERIFY(strip.phaseInvertButton()->isChecked());
        QCOMPARE(gain.count() + delay.count() + mute.count() + invert.count(), 0);

        // typed into the box: the fader follows and one edit leaves
        strip.gainSpinBox()->setValue(2.0);
        QCOMPARE(strip.gainSlider()->value(), 2.0);
        QCOMPARE(gain.count(), 1);
        QCOMPARE(gain.at(0), (QList<QVariant>{QStringLiteral("Out"), 2.0}));
        // moved on the fader
        strip.gainSlider()->setValue(1.0);
        QCOMPARE(strip.gainSpinBox()->value(), 1.0);
        QCOMPARE(gain.count(), 2);
        // a delay step, a click on each button
        strip.delaySpinBox()->stepBy(1);
        QCOMPARE(delay.count(), 1);
        QCOMPARE(delay.at(0).at(1).value<CZunDelay>(), CZunDelay(97, 48000.0));
        strip.muteButton()->click();
        strip.phaseInvertButton()->click();
        QCOMPARE(mute.takeFirst(), (QList<QVariant>{QStringLiteral("Out"), false}));
        QCOMPARE(invert.takeFirst(), (QList<QVariant>{QStringLiteral("Out"), false}));
        // the same device values again change nothing; a delay within the tolerance neither
        strip.setGain(1.0, true);
        strip.setDelay(CZunDelay::fromSeconds(97 / 48000.0 + ZunGainStrip::DelayTolerance), true);
        QCOMPARE(strip.delay(), CZunDelay(97, 48000.0));
        QCOMPARE(gain.count(), 2);
        QCOMPARE(delay.count(), 1);
    }

    // The processor's confirmation of the operator's value is its step count times the step
    // size (3 x 0.1 dB is 0.30000000000000004): the same value, which must leave the box
    // alone, also the next value the operator is typing into it.
    void confirmationOfTheEditedValueLeavesTheBoxAlone()
    {
        OutputGainLevelWidget strip;
        QSignalSpy gain(&strip, &OutputGainLevelWidget::gainChanged);
        strip.gainSpinBox()->setValue(0.3);
        QCOMPARE(gain.count(), 1);
        auto* edit = strip.gainSpinBox()->findChild<QLineEdit*>();
        QVERIFY(edit);
        edit->setText(QStringLiteral("-1"));
        strip.setGain(3 * 0.1, true);
        QCOMPARE(edit->text(), QStringLiteral("-1"));
        QCOMPARE(gain.count(), 1);
        // another value is shown
        strip.setGain(5 * 0.1, true);
        QCOMPARE(strip.gainSpinBox()->value(), 0.5);
        QCOMPARE(gain.count(), 1);
    }

    void masterAndInputStripsSignalTheirOwnWay()
    {
        MasterGainDelayWidget master;
        master.setGainRange(-94.5, 33.0);
        master.setSamplingrate(24000.0);
        QSignalSpy gain(&master, &MasterGainDelayWidget::gainChanged);
        QSignalSpy mute(&master, &MasterGainDelayWidget::muteChannel);
        master.setGain(20.0, true);
        master.setMute(true);
        QCOMPARE(master.gainSpinBox()->value(), 20.0);
        QCOMPARE(gain.count() + mute.count(), 0);
        master.gainSpinBox()->setValue(-50.0);
        QCOMPARE(gain.count(), 1);
        QCOMPARE(gain.at(0).at(0).toDouble(), -50.0);
        master.muteButton()->click();
        QCOMPARE(mute.at(0).at(0).toBool(), false);

        InputGainLevelWidget input;
        input.setName(QStringLiteral("In A"));
        QSignalSpy inputGain(&input, &InputGainLevelWidget::gainChanged);
        input.gainSpinBox()->setValue(7.0); // outside -18..6: the box refuses beyond 6
        QCOMPARE(inputGain.count(), 1);
        QCOMPARE(inputGain.at(0), (QList<QVariant>{QStringLiteral("In A"), 6.0}));
        input.disableMute(true);
        QVERIFY(!input.muteButton()->isEnabled());
    }

    void metersMoveOnlyPastTheirThresholds()
    {
        OutputGainLevelWidget strip;
        strip.setLevel(-20.0);
        QCOMPARE(strip.levelMeter()->value(), -20.0);
        strip.setLevel(-19.5); // exactly 0.5: not redrawn
        QCOMPARE(strip.levelMeter()->value(), -20.0);
        strip.setLevel(-19.4);
        QCOMPARE(strip.levelMeter()->value(), -19.4);
        strip.setCoilTemperature(40.0);
        strip.setCoilTemperature(41.0); // exactly 1.0
        QCOMPARE(strip.temperatureMeter()->value(), 40.0);
        strip.switchPeakLED(true);
        QVERIFY(strip.isPeakLEDOn());
    }

    // Every order of master mute and input-path mutes, repeated reports included: Mute is
    // greyed exactly while at least one reason holds.
    void muteDisabledFollowsItsReasons_data()
    {
        QTest::addColumn<QString>("events"); // M/m master on/off, A/a path 0, B/b path 1
        QTest::addColumn<bool>("disabled");
        QTest::newRow("master") << "M" << true;
        QTest::newRow("master off") << "Mm" << false;
        QTest::newRow("off on a fresh strip") << "m" << false;
        QTest::newRow("repeated master then off") << "MMm" << false;
        QTest::newRow("path then master off") << "AMm" << true;
        QTest::newRow("master then path off") << "MAa" << true;
        QTest::newRow("both cleared any order") << "AMma" << false;
        QTest::newRow("two paths one cleared") << "ABa" << true;
        QTest::newRow("two paths cleared") << "ABba" << false;
        QTest::newRow("path repeated") << "AAa" << false;
        QTest::newRow("off before on") << "aA" << true;
    }
    void muteDisabledFollowsItsReasons()
    {
        QFETCH(QString, events);
        QFETCH(bool, disabled);
        OutputGainLevelWidget strip;
        for (QChar c : events) {
            const bool on = c.isUpper();
            switch (c.toUpper().toLatin1()) {
            case 'M': strip.disableMute(on); break;
            case 'A': strip.disableMuteForPath(0, on); break;
            case 'B': strip.disableMuteForPath(1, on); break;
            }
        }
        QCOMPARE(strip.isMuteDisabled(), disabled);
        QCOMPARE(strip.muteButton()->isEnabled(), !disabled);
    }

    void plainDropCarriesGainDelayMuteAndPolarity()
    {
        OutputGainLevelWidget source, target;
        source.setGain(-6.0, true);
        source.setDelay(CZunDelay(480, 48000.0), true);
        source.setMute(true);
        target.setName(QStringLiteral("Target"));
        std::unique_ptr<ZunChannelMimeData> data(source.createMimeData());
        QVERIFY(data->hasChannelSettings());
        QVERIFY(data->getEQs().isEmpty());

        QSignalSpy gain(&target, &OutputGainLevelWidget::gainChanged);
        QSignalSpy delay(&target, &OutputGainLevelWidget::delayChanged);
        QSignalSpy mute(&target, &OutputGainLevelWidget::muteChannel);
        QSignalSpy invert(&target, &OutputGainLevelWidget::invertChannel);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &drop);
        QCOMPARE(gain.at(0), (QList<QVariant>{QStringLiteral("Target"), -6.0}));
        QCOMPARE(delay.at(0).at(1).value<CZunDelay>(), CZunDelay(480, 48000.0));
        QCOMPARE(mute.at(0).at(1).toBool(), true);
        QCOMPARE(invert.at(0).at(1).toBool(), false);
        // the buttons wait for the device's confirmation
        QVERIFY(!target.muteButton()->isChecked());

        // onto itself: gain and delay unchanged stay silent, mute and polarity go again
        gain.clear();
        delay.clear();
        QDragEnterEvent again(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &again);
        QDropEvent self(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &self);
        QCOMPARE(gain.count() + delay.count(), 0);
        QCOMPARE(mute.count(), 2);

        // a Shift drop belongs to the page
        QDragEnterEvent shifted(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&target, &shifted);
        QVERIFY(!shifted.isAccepted());
    }

    // While the operator holds a fader the device's confirmations never pull it from under
    // the pointer; once let go, the device's value shows. A new range shows the stored gain.
    void heldFaderStaysUnderThePointer()
    {
        OutputGainLevelWidget strip;
        ZunGainSlider* fader = strip.gainSlider();
        QSignalSpy gain(&strip, &OutputGainLevelWidget::gainChanged);
        emit fader->sliderPressed();
        fader->setValue(-5.0);
        QCOMPARE(gain.count(), 1);
        strip.setGain(-3.0, true); // an earlier position confirmed, or a clamped one
        QCOMPARE(fader->value(), -5.0);
        QCOMPARE(strip.gainSpinBox()->value(), -5.0);
        emit fader->sliderReleased();
        strip.setGain(-3.0, true);
        QCOMPARE(fader->value(), -3.0);
        QCOMPARE(strip.gainSpinBox()->value(), -3.0);
        QCOMPARE(gain.count(), 1);

        InputGainLevelWidget input;
        input.setGain(-30.0, true);
        input.setGainRange(-80.0, 12.0);
        QCOMPARE(input.gainSpinBox()->value(), -30.0);
        QCOMPARE(input.gainSlider()->value(), -30.0);
    }

    // A typed time beyond the delay box's end (65,536 samples, 682.667 ms at 96 kHz) leaves
    // as the number typed, so that its refusal names it; the box shows its end meanwhile.
    void typedDelayBeyondTheBoxLeavesAsTyped()
    {
        OutputGainLevelWidget strip;
        strip.setSamplingrate(96000.0);
        QSignalSpy delay(&strip, &OutputGainLevelWidget::delayChanged);
        CZunDelaySpinBox* box = strip.delaySpinBox();
        box->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(box, QStringLiteral("1000"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(delay.count(), 1);
        QVERIFY(qAbs(delay.at(0).at(1).value<CZunDelay>().milliseconds() - 1000.0) < 1e-9);
        QCOMPARE(box->value(), int(CZunDelaySpinBox::MaxSamples));
        // an ordinary entry and a step afterwards carry the box's own value
        box->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(box, QStringLiteral("2"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(delay.last().at(1).value<CZunDelay>(), CZunDelay(192, 96000.0));
        box->stepBy(1);
        QCOMPARE(delay.last().at(1).value<CZunDelay>(), CZunDelay(193, 96000.0));
    }
};

QTEST_MAIN(TestGainStrips)
#include "tst_gainstrips.moc"
