// The selection forms: when Upload and Remove may be pressed, what the forms hand back, and
// that each opens with its texts whole.
#include "CZunSetupManager.h"
#include "ChangePINForm.h"
#include "RemoveForm.h"
#include "SelectIntegerForm.h"
#include "UploadForm.h"
#include "ZunFormFit.h"
#include "ZunMaintenanceActions.h"
#include "ZunNetworkTableView.h"
#include "ZunPositionDelegate.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QtTest>

#include <memory>

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

    // The texts of a shown form that do not get the room they need: a word-wrapped text
    // cut at the bottom, a line or a button cut at the side, a title the frame shortens.
    static QStringList cutTexts(QDialog& form)
    {
        QStringList cut;
        for (const QLabel* l : form.findChildren<QLabel*>())
            if (l->isVisible()
                && (l->wordWrap() ? l->height() < l->heightForWidth(l->width())
                                  : l->width() < l->sizeHint().width() || l->height() < l->sizeHint().height()))
                cut << l->text();
        for (const QAbstractButton* b : form.findChildren<QAbstractButton*>())
            if (b->isVisible() && b->width() < b->minimumSizeHint().width())
                cut << b->text();
        if (form.width() < ZunFormFit::widthForTitle(form.fontMetrics(), form.windowTitle()))
            cut << form.windowTitle();
        return cut;
    }

private slots:
    // Mended: the PIN form opened 212 x 98 and cut its rule ("only numbers between 1 and 8"),
    // the Recall Setup and Upload Setup forms their texts and titles.
    void eachFormOpensWithItsTextsWhole_data()
    {
        QTest::addColumn<int>("form");
        QTest::newRow("Change PIN") << 0;
        QTest::newRow("Recall Setup") << 1;
        QTest::newRow("Upload Setup") << 2;
        QTest::newRow("Remove FIR Filter") << 3;
        // Mended: the name dialog opened 200 px wide and cut its title.
        QTest::newRow("Device name") << 4;
        QTest::newRow("Change IP address") << 5;
    }
    void eachFormOpensWithItsTextsWhole()
    {
        QFETCH(int, form);
        if (form >= 4) {
            // The maintenance prompts' own dialogs, as they open.
            QStringList cut;
            bool seen = false;
            QTimer::singleShot(0, [&]() {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d)
                    return;
                seen = QTest::qWaitForWindowExposed(d);
                cut = cutTexts(*d);
                d->reject();
            });
            ZunMaintenanceActions::Prompts prompts(nullptr);
            QString answer;
            if (form == 4)
                QVERIFY(!prompts.textUpTo("Enter desired device name", "Device name:", "Name", 24, &answer));
            else
                QVERIFY(!prompts.text("Change IP address", "Enter desired IP address in format 012.345.678.901",
                                      "10.78.1.44", &answer));
            QVERIFY(seen);
            QCOMPARE(cut, QStringList());
            return;
        }
        std::unique_ptr<QDialog> d;
        if (form == 0) {
            d = std::make_unique<ChangePINForm>();
        } else if (form == 1) {
            d = std::make_unique<SelectIntegerForm>(ZunNetworkTableView::FirstRecallPosition,
                                                    ZunNetworkTableView::LastRecallPosition);
            d->setWindowTitle(QStringLiteral("Recall Setup"));
        } else if (form == 2) {
            auto upload = std::make_unique<UploadForm>(QStringLiteral("Zun Setup (*.zun)"), QStringList{"zun"}, QString());
            upload->setWindowTitle(QStringLiteral("Upload Setup"));
            for (int i = 0; i < 10; ++i)
                upload->addPosition(QStringLiteral("---                     "));
            d = std::move(upload);
        } else {
            auto remove = std::make_unique<RemoveForm>();
            remove->setWindowTitle(QStringLiteral("Remove FIR Filter"));
            remove->setLabelText(QStringLiteral("Please select the FIR filter set in the drop down list and click "
                                                "'Remove'. The set active on a DSP cannot be removed."));
            d = std::move(remove);
        }
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        QCOMPARE(cutTexts(*d), QStringList());
    }

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
        QVERIFY(form.minimumWidth() >= ZunFormFit::widthForTitle(form.fontMetrics(), form.windowTitle()));
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
