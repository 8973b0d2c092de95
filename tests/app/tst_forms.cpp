// The selection forms: when Upload and Remove may be pressed, what the forms hand back.
#include "CZunSetupManager.h"
#include "RemoveForm.h"
#include "SelectIntegerForm.h"
#include "UploadForm.h"
#include "ZunPositionDelegate.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QtTest>

class TstForms : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString touch(const QString& name)
    {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        return f.fileName();
    }

private slots:
    void uploadEnabledOnlyForExistingFileWithSuffix()
    {
        QVERIFY(m_dir.isValid());
        UploadForm form("Zun Setup (*.zun)", {"zun"}, m_dir.path(), nullptr);
        QCOMPARE(form.windowTitle(), QString("Upload Form"));
        QVERIFY(!form.bttnUpload->isEnabled());

        form.lineEditFilename->setText(touch("setup.ZUN")); // suffix in capitals
        QVERIFY(form.bttnUpload->isEnabled());
        QCOMPARE(form.getFilename(), m_dir.filePath("setup.ZUN"));

        form.lineEditFilename->setText(m_dir.filePath("missing.zun"));
        QVERIFY(!form.bttnUpload->isEnabled());

        QDir(m_dir.path()).mkdir("folder.zun");
        form.lineEditFilename->setText(m_dir.filePath("folder.zun"));
        QVERIFY(!form.bttnUpload->isEnabled());

        form.lineEditFilename->setText(touch("setup.fwu"));
        QVERIFY(!form.bttnUpload->isEnabled());

        form.lineEditFilename->setText(touch("archive.tar.zun")); // the last suffix counts
        QVERIFY(form.bttnUpload->isEnabled());

        form.lineEditFilename->clear();
        QVERIFY(!form.bttnUpload->isEnabled());
    }

    void uploadPositions()
    {
        UploadForm form("Zun Setup (*.zun)", {"zun"}, QString(), nullptr);
        QCOMPARE(form.getSelectedPosition(), -1);
        for (int i = 0; i < 10; ++i)
            form.addPosition("---");
        QCOMPARE(form.getSelectedPosition(), 0); // the first entry is current
        form.comboBox->setCurrentIndex(7);
        QCOMPARE(form.getSelectedPosition(), 7);
        form.hidePositionSelector();
        QVERIFY(form.comboBox->isHidden());
        form.setLabelText("prompt");
        QCOMPARE(form.label->text(), QString("prompt"));
    }

    void uploadButtonsCloseTheForm()
    {
        UploadForm form("Zun Firmware (*.fwu)", {"fwu"}, QString(), nullptr);
        form.lineEditFilename->setText(touch("fw.fwu"));
        QTimer::singleShot(0, form.bttnUpload, &QPushButton::click);
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QTimer::singleShot(0, form.bttnCancel, &QPushButton::click);
        QCOMPARE(form.exec(), int(QDialog::Rejected));
    }

    void removeNeedsAnEntry()
    {
        RemoveForm form(nullptr);
        QCOMPARE(form.windowTitle(), QString("Remove Form"));
        QStringListModel empty;
        form.setModel(&empty);
        QVERIFY(!form.bttnRemove->isEnabled());
        QCOMPARE(form.getSelectedPosition(), -1);

        QStringListModel names({"Setup 1", "Setup 2", "Setup 3"});
        form.setModel(&names);
        QVERIFY(form.bttnRemove->isEnabled());
        QCOMPARE(form.getSelectedPosition(), 0);
        form.comboBox->setCurrentIndex(2);
        QCOMPARE(form.getSelectedPosition(), 2);
        QCOMPARE(form.currentText(), QString("Setup 3"));

        form.set_SelectedPosition(3); // past the end
        QVERIFY(!form.bttnRemove->isEnabled());
        form.set_SelectedPosition(1);
        QVERIFY(form.bttnRemove->isEnabled());
        QCOMPARE(form.comboBox->currentIndex(), 1);

        form.setButtonText("Store");
        QCOMPARE(form.bttnRemove->text(), QString("Store"));
    }

    void editableRemoveSelectsItsText()
    {
        RemoveForm form(nullptr);
        QStringListModel names({"Alpha", "Beta"});
        form.setModel(&names);
        form.comboBox->setEditable(true);
        form.set_SelectedPosition(1);
        QCOMPARE(form.comboBox->lineEdit()->selectedText(), QString("Beta"));
    }

    // Mended: a click into the name field of an empty position and a typed name stored
    // "---                   St"; a named position's name is typed over as a whole.
    void nameTypedIntoTheFieldIsTheName_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("click");
        QTest::newRow("empty position, clicked") << 1 << true;
        QTest::newRow("empty position, typed at once") << 1 << false;
        QTest::newRow("named position, typed at once") << 0 << false;
    }

    void nameTypedIntoTheFieldIsTheName()
    {
        QFETCH(int, row);
        QFETCH(bool, click);
        RemoveForm form;
        form.comboBox->setEditable(true);
        form.comboBox->setInsertPolicy(QComboBox::InsertAtCurrent);
        QStringListModel names({QStringLiteral("Main"), QString::fromLatin1(CZunSetupManager::EmptyRowText)});
        form.setModel(&names);
        form.show();
        form.set_SelectedPosition(row);
        QLineEdit* edit = form.comboBox->lineEdit();
        if (click)
            QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 4, edit->height() / 2));
        QTest::keyClicks(edit, QStringLiteral("Stage"));
        QCOMPARE(form.currentText(), QStringLiteral("Stage"));
        QCOMPARE(form.getSelectedPosition(), row);
    }

    void selectIntegerStaysInRange()
    {
        SelectIntegerForm form(1, 30, nullptr);
        QCOMPARE(form.getSelectedPosition(), 1);
        QVERIFY(form.bttnRecall->isEnabled());
        QTimer::singleShot(0, form.bttnRecall, &QPushButton::click);
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QCOMPARE(form.getSelectedPosition(), 1); // untouched

        form.spinBox->setValue(31);
        QCOMPARE(form.getSelectedPosition(), 30);
        form.set_SelectedPosition(0);
        QCOMPARE(form.getSelectedPosition(), 1);
        QCOMPARE(form.spinBox->value(), 1);
        form.set_SelectedPosition(12);
        QCOMPARE(form.spinBox->value(), 12);
        QCOMPARE(form.getSelectedPosition(), 12);
    }

    // Mended: the title read "Remov... R Filter", and the empty positions of the setup
    // lists read "---" without their number.
    void removeFormShowsItsTitleAndNumbersThePositions()
    {
        RemoveForm form;
        form.setWindowTitle(QStringLiteral("Remove FIR Filter"));
        QVERIFY(form.minimumWidth() >= RemoveForm::widthForTitle(form.fontMetrics(), form.windowTitle()));
        QVERIFY(form.minimumWidth() > form.fontMetrics().horizontalAdvance(form.windowTitle()) + 100);
        QStringListModel setups({QStringLiteral("Main"), QStringLiteral("---                    ")});
        form.setModel(&setups);
        struct Shown : ZunPositionDelegate
        {
            using ZunPositionDelegate::ZunPositionDelegate;
            QString text(const QModelIndex& index) const
            {
                QStyleOptionViewItem option;
                initStyleOption(&option, index);
                return option.text;
            }
        } shown;
        QVERIFY(qobject_cast<ZunPositionDelegate*>(form.comboBox->itemDelegate()));
        QCOMPARE(shown.text(setups.index(0)), QStringLiteral("0: Main"));
        QCOMPARE(shown.text(setups.index(1)), QStringLiteral("1: ---"));
        QCOMPARE(form.currentText(), QStringLiteral("Main")); // the name itself, unnumbered
        UploadForm upload(QStringLiteral("Zun Setup (*.zun)"), {QStringLiteral("zun")}, QString());
        QVERIFY(qobject_cast<ZunPositionDelegate*>(upload.findChild<QComboBox*>()->itemDelegate()));
    }
};

QTEST_MAIN(TstForms)
#include "tst_forms.moc"
