// The editable tab bar: which tabs open an editor, what a finished edit reports and when,
// and that a cancelled edit reports nothing and leaves the bar ready for the next one.
#include "QEditableTabBar.h"
#include "QEditableTabWidget.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

class TstEditableTabBar : public QObject
{
    Q_OBJECT

    std::unique_ptr<QEditableTabWidget> m_tabs;

    QEditableTabBar* bar() const { return m_tabs->editableTabBar(); }

    // Double click in the middle of a tab (its press makes the tab current first).
    void doubleClick(int index)
    {
        const QPoint at = bar()->tabRect(index).center();
        QTest::mouseClick(bar(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(bar(), Qt::LeftButton, Qt::NoModifier, at);
    }

    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

private slots:
    void init()
    {
        m_tabs = std::make_unique<QEditableTabWidget>();
        m_tabs->addTab(new QLabel("page"), "System");
        m_tabs->addTab(new QLabel("page"), "Input 1");
        m_tabs->addTab(new QLabel("page"), "Output 1");
        m_tabs->tabBar()->setTabData(1, QVariant(true));
        m_tabs->tabBar()->setTabData(2, QVariant(true));
        m_tabs->resize(400, 200);
        m_tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_tabs.get()));
    }

    void cleanup()
    {
        m_tabs.reset();
        flushDeletes();
    }

    void onlyFlaggedTabsOpenAnEditor()
    {
        doubleClick(0);
        QVERIFY(!bar()->lineEdit());
        doubleClick(1);
        QLineEdit* editor = bar()->lineEdit();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("Input 1"));
        QCOMPARE(editor->selectedText(), QString("Input 1"));
        QCOMPARE(editor->geometry(), bar()->tabRect(1));
        QVERIFY(editor->isVisible());
    }

    void theCurrentTabIsEditedWhereverTheClickLands()
    {
        m_tabs->setCurrentIndex(2);
        // The double-click event alone, over another tab.
        const QPoint over = bar()->tabRect(0).center();
        QMouseEvent dbl(QEvent::MouseButtonDblClick, over, bar()->mapToGlobal(over), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(bar(), &dbl);
        QCOMPARE(m_tabs->currentIndex(), 2);
        QVERIFY(bar()->lineEdit());
        QCOMPARE(bar()->lineEdit()->geometry(), bar()->tabRect(2));
    }

    void finishingReportsBeforeTheTabChanges_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("new name") << "Kick";
        QTest::newRow("empty") << "";
        QTest::newRow("unchanged") << "Input 1";
    }

    void finishingReportsBeforeTheTabChanges()
    {
        QFETCH(QString, typed);
        QStringList seen;
        connect(m_tabs.get(), &QEditableTabWidget::tabNameChanged, this, [&](QString oldName, QString newName) {
            seen << oldName << newName << m_tabs->tabText(1);
        });
        doubleClick(1);
        QLineEdit* editor = bar()->lineEdit();
        editor->setText(typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(seen, (QStringList {"Input 1", typed, "Input 1"}));
        QCOMPARE(m_tabs->tabText(1), typed);
        QVERIFY(!editor->isVisible());
        flushDeletes();
        QVERIFY(!bar()->lineEdit());
    }

    void cancellingReportsNothingAndTheNextEditOpens_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape") << true;
        QTest::newRow("second double click") << false;
    }

    void cancellingReportsNothingAndTheNextEditOpens()
    {
        QFETCH(bool, byEscape);
        QSignalSpy renamed(m_tabs.get(), &QEditableTabWidget::tabNameChanged);
        doubleClick(1);
        QLineEdit* editor = bar()->lineEdit();
        editor->setText("Snare");
        if (byEscape)
            QTest::keyClick(editor, Qt::Key_Escape);
        else
            QTest::mouseDClick(bar(), Qt::LeftButton, Qt::NoModifier, bar()->tabRect(1).center());
        QVERIFY(!bar()->lineEdit());
        flushDeletes();
        QCOMPARE(renamed.size(), 0);
        QCOMPARE(m_tabs->tabText(1), QString("Input 1"));
        doubleClick(1);
        QVERIFY(bar()->lineEdit());
    }

    void escapeWithoutEditorIsSwallowed()
    {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(bar(), &escape);
        QVERIFY(escape.isAccepted());
        QVERIFY(!bar()->lineEdit());
        QCOMPARE(m_tabs->currentIndex(), 0);
    }
};

QTEST_MAIN(TstEditableTabBar)
#include "tst_editabletabbar.moc"
