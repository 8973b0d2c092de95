// The PIN form: the change button follows what is typed into both entries, and the two
// PINs are packed one digit per nibble.
#include "ChangePINForm.h"
#include "ZunMaintenanceActions.h"

#include <QApplication>

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestPinForm : public QObject
{
    Q_OBJECT

    static QList<QLineEdit*> edits(ChangePINForm& f) { return f.findChildren<QLineEdit*>(); }
    static QPushButton* button(ChangePINForm& f) { return f.findChild<QPushButton*>(); }

    // Answers the form the maintenance prompt opens: types both PINs and changes, or cancels.
    static void answerForm(const QString& oldTyped, const QString& newTyped)
    {
        QTimer::singleShot(0, [=]() {
            auto* form = qobject_cast<ChangePINForm*>(QApplication::activeModalWidget());
            QVERIFY(form);
            if (oldTyped.isEmpty()) {
                form->reject();
                return;
            }
            QTest::keyClicks(edits(*form)[0], oldTyped);
            QTest::keyClicks(edits(*form)[1], newTyped);
            button(*form)->click();
        });
    }

private slots:
    void buttonFollowsTypedEntries_data()
    {
        QTest::addColumn<QString>("oldTyped");
        QTest::addColumn<QString>("newTyped");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("both complete") << "1234" << "8765" << true;
        QTest::newRow("same PIN twice") << "1111" << "1111" << true;
        QTest::newRow("a 9 is refused") << "1239" << "8765" << false;
        QTest::newRow("a 0 is refused") << "1234" << "0765" << false;
        QTest::newRow("three digits") << "123" << "8765" << false;
        QTest::newRow("new entry empty") << "1234" << "" << false;
    }
    void buttonFollowsTypedEntries()
    {
        QFETCH(QString, oldTyped);
        QFETCH(QString, newTyped);
        QFETCH(bool, enabled);
        ChangePINForm f;
        QCOMPARE(edits(f).size(), 2);
        QVERIFY(!button(f)->isEnabled());
        QTest::keyClicks(edits(f)[0], oldTyped);
        QTest::keyClicks(edits(f)[1], newTyped);
        QCOMPARE(button(f)->isEnabled(), enabled);
    }

    // Mended: an input mask kept four places, so both entries always showed four bullets.
    void theEntriesShowHowManyDigitsAreTyped()
    {
        ChangePINForm f;
        QLineEdit* old = edits(f)[0];
        QCOMPARE(old->displayText().size(), 0);
        QTest::keyClicks(old, "12");
        QCOMPARE(old->displayText().size(), 2);
        QCOMPARE(old->text(), QString("12"));
        QTest::keyClicks(old, "9"); // refused: still two
        QCOMPARE(old->displayText().size(), 2);
        QTest::keyClicks(old, "345");
        QCOMPARE(old->text(), QString("1234")); // four at most
        QCOMPARE(old->displayText().size(), 4);
        QTest::keyClick(old, Qt::Key_Backspace);
        QCOMPARE(old->displayText().size(), 3);
    }

    void bothEntriesAreCheckedOnEitherEdit()
    {
        ChangePINForm f;
        QTest::keyClicks(edits(f)[1], "5678");
        QTest::keyClicks(edits(f)[0], "123");
        QVERIFY(!button(f)->isEnabled());
        // Completing the old PIN enables the button: the new one is checked again too.
        QTest::keyClicks(edits(f)[0], "4");
        QVERIFY(button(f)->isEnabled());
    }

    void textSetByTheProgramDoesNotEnable()
    {
        ChangePINForm f;
        edits(f)[0]->setText("1234");
        edits(f)[1]->setText("5678");
        QVERIFY(!button(f)->isEnabled());
    }

    void changePacksBothPinsAndAccepts()
    {
        ChangePINForm f;
        QTest::keyClicks(edits(f)[0], "1234");
        QTest::keyClicks(edits(f)[1], "8172");
        QSignalSpy accepted(&f, &QDialog::accepted);
        button(f)->click();
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(f.oldPin(), quint16(0x1234));
        QCOMPARE(f.newPin(), quint16(0x8172));
    }

    // Mended: the form had no Cancel; the frame's close button was the only way out.
    void cancelLeavesBothPinsZero()
    {
        ChangePINForm f;
        QTest::keyClicks(edits(f)[0], "1234");
        QTest::keyClicks(edits(f)[1], "8172");
        QPushButton* cancel = nullptr;
        for (QPushButton* b : f.findChildren<QPushButton*>())
            if (b->text() == "Cancel")
                cancel = b;
        QVERIFY(cancel);
        QSignalSpy rejected(&f, &QDialog::rejected);
        cancel->click();
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(f.oldPin(), quint16(0));
        QCOMPARE(f.newPin(), quint16(0));
    }

    void maintenancePromptReturnsTheFormsWords()
    {
        ZunMaintenanceActions::Prompts prompts(nullptr);
        quint16 oldPin = 1, newPin = 1;
        answerForm("1234", "8172");
        QVERIFY(prompts.pin(&oldPin, &newPin));
        QCOMPARE(oldPin, quint16(0x1234));
        QCOMPARE(newPin, quint16(0x8172));
        answerForm(QString(), QString());
        QVERIFY(!prompts.pin(&oldPin, &newPin));
    }
};

QTEST_MAIN(TestPinForm)
#include "tst_pinform.moc"
