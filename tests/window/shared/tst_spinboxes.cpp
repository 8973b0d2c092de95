// The editors of the control window: stepping along a breakpoint table, finished edits
// announced once, delays typed in milliseconds in the user's locale and counted in samples.
#include "CZunDelaySpinBox.h"
#include "CZunDoubleSpinBox.h"
#include "CZunParam.h"
#include "CZunSpinBox.h"
#include "ZunWheelGuard.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

class TestSpinBoxes : public QObject
{
    Q_OBJECT

    // Fine at the bottom, coarse at the top: 0.5 from 0, 1 from 2, 5 from 5, maximum 20.
    const CZunParam m_param{{{0.0, 0.5}, {2.0, 1.0}, {5.0, 5.0}, {20.0, 0.0}}};

    static void typeInto(QAbstractSpinBox& box, const QString& text)
    {
        QLineEdit* edit = box.findChild<QLineEdit*>();
        edit->selectAll();
        edit->insert(text);
        box.interpretText();
    }

private slots:
    void stepsFollowEveryBreakpoint_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<double>("start");
        QTest::addColumn<QList<double>>("expected");
        QTest::newRow("up") << int(Qt::Key_Up) << 0.0
                            << QList<double>{0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 10.0, 15.0, 20.0, 20.0};
        // At a breakpoint the segment that begins there steps; from the maximum the last
        // segment's step brings the value down.
        QTest::newRow("down") << int(Qt::Key_Down) << 20.0
                              << QList<double>{15.0, 10.0, 5.0, 0.0, 0.0};
        QTest::newRow("down from inside") << int(Qt::Key_Down) << 4.0
                                          << QList<double>{3.0, 2.0, 1.0, 0.5, 0.0};
        QTest::newRow("page up") << int(Qt::Key_PageUp) << 0.0 << QList<double>{2.5, 7.5, 20.0};
    }
    void stepsFollowEveryBreakpoint()
    {
        QFETCH(int, key);
        QFETCH(double, start);
        QFETCH(QList<double>, expected);
        CZunDoubleSpinBox box(&m_param);
        box.setRange(0.0, 20.0);
        box.setValue(start);
        QSignalSpy done(&box, &CZunDoubleSpinBox::valueChangedEditFinished);
        QList<double> seen;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyPress(&box, Qt::Key(key));
            seen << box.value();
        }
        QCOMPARE(seen, expected);
        QCOMPARE(done.count(), expected.size()); // one announcement per step
        QTest::keyRelease(&box, Qt::Key(key));
    }

    void shiftStepsFineAndControlEndsGoToTheParameterEnds()
    {
        const CZunParam param{{{0.0, 0.1}, {20.0, 1.0}, {40.0, 0.0}}};
        CZunDoubleSpinBox box(&param);
        box.setRange(0.0, 30.0);
        box.setValue(19.9);
        QTest::keyPress(&box, Qt::Key_Up);
        QCOMPARE(box.value(), 20.0);
        QTest::keyPress(&box, Qt::Key_Up);
        QCOMPARE(box.value(), 21.0);
        QTest::keyPress(&box, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(box.value(), 21.1);
        QSignalSpy done(&box, &CZunDoubleSpinBox::valueChangedEditFinished);
        QTest::keyPress(&box, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(box.value(), 30.0); // the parameter's 40, clamped by the box
        QCOMPARE(done.takeFirst().at(0).toDouble(), 30.0);
        QVERIFY(!box.isKeyHeld());
        QTest::keyPress(&box, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(box.value(), 0.0);
    }

    void integerBoxTruncatesAndRefusesDecimalKeys()
    {
        const CZunParam param{{{0.0, 1.5}, {10.0, 0.0}}};
        CZunSpinBox box(&param);
        box.setRange(0, 10);
        QCOMPARE(box.singleStep(), 1);
        QTest::keyPress(&box, Qt::Key_Up);
        QCOMPARE(box.value(), 1); // 1.5 truncated
        QSignalSpy done(&box, &CZunSpinBox::valueChangedEditFinished);
        QTest::keyPress(&box, Qt::Key_Period);
        QTest::keyPress(&box, Qt::Key_Comma);
        QCOMPARE(box.value(), 1);
        QCOMPARE(done.count(), 0);
    }

    void guardedValueWaitsForTheKeyRelease()
    {
        CZunDoubleSpinBox box(&m_param);
        box.setRange(0.0, 20.0);
        QTest::keyPress(&box, Qt::Key_Up);
        box.setValueGuarded(7.0);
        QCOMPARE(box.value(), 0.5);
        QTest::keyRelease(&box, Qt::Key_Up);
        box.setValueGuarded(7.0);
        QCOMPARE(box.value(), 7.0);
    }

    void wheelStepsAndAnnounces()
    {
        CZunDoubleSpinBox box(&m_param);
        box.setRange(0.0, 20.0);
        box.setValue(2.0);
        QSignalSpy done(&box, &CZunDoubleSpinBox::valueChangedEditFinished);
        QWheelEvent up(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(&box, &up);
        QCOMPARE(box.value(), 3.0);
        QWheelEvent fineDown(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::MiddleButton,
                             Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&box, &fineDown);
        QCOMPARE(box.value(), 2.5);
        QCOMPARE(done.count(), 1); // the middle-button turn only sets
    }

    // A selector that changes the processor takes the wheel only once the operator has
    // focused it; a notch as the window system sends it does not focus it either.
    void guardedSelectorTakesTheWheelOnlyWhenFocused()
    {
        QWidget page;
        auto* edit = new QLineEdit(&page);
        auto* box = new QComboBox(&page);
        box->move(0, 40);
        box->addItems({"A", "B", "C"});
        ZunWheelGuard::install({box});
        QSignalSpy activated(box, QOverload<int>::of(&QComboBox::activated));
        auto notchDown = [box]() {
            QWheelEvent down(QPointF(5, 5), box->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                             Qt::NoModifier, Qt::NoScrollPhase, false);
            QSpontaneKeyEvent::setSpontaneous(&down);
            QApplication::sendEvent(box, &down);
        };
        page.show();
        QApplication::setActiveWindow(&page);
        QVERIFY(QTest::qWaitForWindowActive(&page));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        notchDown();
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(activated.count(), 0);
        QVERIFY(edit->hasFocus());
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        notchDown();
        QCOMPARE(box->currentIndex(), 1);
        QCOMPARE(activated.count(), 1);
    }

    void delayTextInTheUsersLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("samples");
        QTest::addColumn<QString>("shown");
        QTest::newRow("point 1 ms") << "en_US" << "1" << 48 << "1";
        QTest::newRow("point rounds down") << "en_US" << "0.0104" << 0 << "0";
        QTest::newRow("point rounds up") << "en_US" << "0.0105" << 1 << "0.0208333";
        QTest::newRow("comma") << "de_DE" << "2,5" << 120 << "2,5";
        QTest::newRow("comma rounds up") << "de_DE" << "0,0105" << 1 << "0,0208333";
        QTest::newRow("too long ends at the top") << "en_US" << "99999999" << 65536 << "1365.33";
        QTest::newRow("negative ends at 0") << "de_DE" << "-3" << 0 << "0";
        QTest::newRow("largest") << "en_US" << "1365.3333" << 65536 << "1365.33";
    }
    void delayTextInTheUsersLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(int, samples);
        QFETCH(QString, shown);
        CZunDelaySpinBox box;
        box.setLocale(QLocale(locale));
        QSignalSpy done(&box, &CZunDelaySpinBox::valueChangedEditFinished);
        typeInto(box, typed);
        QCOMPARE(box.value(), samples);
        QCOMPARE(box.text(), shown);
        emit box.editingFinished();
        QCOMPARE(done.count(), 1);
        // a time beyond the box leaves as typed, so that its refusal names the operator's number
        if (QTest::currentDataTag() == QByteArray("too long ends at the top"))
            QCOMPARE(done.at(0).at(0).value<CZunDelay>().milliseconds(), 99999999.0);
        else
            QCOMPARE(done.at(0).at(0).value<CZunDelay>(), CZunDelay(quint32(samples), 48000.0));
    }

    void unreadableDelayTextChangesNothing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("overflow") << "1e999";
        QTest::newRow("other locale's separator") << "1.000.5";
    }
    void unreadableDelayTextChangesNothing()
    {
        QFETCH(QString, typed);
        CZunDelaySpinBox box;
        box.setLocale(QLocale(QStringLiteral("en_US")));
        box.setValue(96);
        typeInto(box, typed);
        QCOMPARE(box.value(), 96);
    }

    void rangeStepsAndRateChanges()
    {
        CZunDelaySpinBox box;
        QCOMPARE(box.text(), QStringLiteral("0"));
        box.setValue(65536);
        QCOMPARE(box.value(), 65536);
        box.setValue(65537);
        QCOMPARE(box.value(), 65536);
        box.setValue(48);
        QSignalSpy changed(&box, qOverload<CZunDelay>(&CZunDelaySpinBox::valueChanged));
        box.setSamplingrate(96000.0);
        QCOMPARE(box.value(), 96);
        QCOMPARE(box.text(), QStringLiteral("1"));
        QCOMPARE(changed.count(), 1);
        QSignalSpy done(&box, &CZunDelaySpinBox::valueChangedEditFinished);
        box.stepBy(1);
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).value<CZunDelay>(), CZunDelay(97, 96000.0));
        box.setSamplingrate(0.0);
        box.setSamplingrate(48000.0); // a rate of 0 takes no further rate
        QCOMPARE(box.samplingrate(), 0.0);
        QCOMPARE(box.value(), 0);
    }
};

QTEST_MAIN(TestSpinBoxes)
#include "tst_spinboxes.moc"
