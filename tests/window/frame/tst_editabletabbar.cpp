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
    // A double click on a tab (its press makes the tab current first); the editor, if any.
    QLineEdit* doubleClick(int index)
    {
        const QPoint at = bar()->tabRect(index).center();
        QTest::mouseClick(bar(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(bar(), Qt::LeftButton, Qt::NoModifier, at);
        return bar()->lineEdit();
    }

private slots:
    void init()
    {
        m_tabs = std::make_unique<QEditableTabWidget>();
        for (const char* text : {"System", "Input 1", "Output 1"})
            m_tabs->addTab(new QLabel("page"), text);
        m_tabs->tabBar()->setTabData(1, QVariant(true));
        m_tabs->tabBar()->setTabData(2, QVariant(true));
        m_tabs->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_tabs.get()));
    }

    void cleanup()
    {
        m_tabs.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void theEditorCoversTheCurrentFlaggedTab()
    {
        QVERIFY(!doubleClick(0));
        QLineEdit* editor = doubleClick(1);
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->selectedText(), QString("Input 1"));
        QCOMPARE(editor->geometry(), bar()->tabRect(1));
        cleanup();
        init();
        // The current tab, not the one under the mouse.
        m_tabs->setCurrentIndex(2);
        const QPoint over = bar()->tabRect(0).center();
        QMouseEvent dbl(QEvent::MouseButtonDblClick, over, bar()->mapToGlobal(over), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(bar(), &dbl);
        QVERIFY(bar()->lineEdit());
        QCOMPARE(bar()->lineEdit()->geometry(), bar()->tabRect(2));
    }

    void finishingReportsBeforeTheTabChanges_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("new name") << "Kick";
        QTest::newRow("unchanged") << "Input 1";
    }

    void finishingReportsBeforeTheTabChanges()
    {
        QFETCH(QString, typed);
        QStringList seen;
        connect(m_tabs.get(), &QEditableTabWidget::tabNameChanged, this,
                [&](QString oldName, QString newName) { seen << oldName << newName << m_tabs->tabText(1); });
        QLineEdit* editor = doubleClick(1);
        editor->setText(typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(seen, (QStringList {"Input 1", typed, "Input 1"}));
        QCOMPARE(m_tabs->tabText(1), typed);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!bar()->lineEdit());
    }

    // Mended: a blank name was taken over and reported; a channel needs a name.
    void aBlankNameIsRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "   ";
    }
    void aBlankNameIsRefused()
    {
        QFETCH(QString, typed);
        QSignalSpy renamed(m_tabs.get(), &QEditableTabWidget::tabNameChanged);
        QLineEdit* editor = doubleClick(1);
        editor->setText(typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(renamed.size(), 0);
        QCOMPARE(m_tabs->tabText(1), QString("Input 1"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(doubleClick(1)); // ready for the next edit
    }

    // Mended: the edit went to whichever tab was current when it finished, and survived
    // the removal of its own tab.
    void theEditBelongsToTheTabItWasOpenedOn()
    {
        QSignalSpy pages(m_tabs.get(), &QEditableTabWidget::pageRenamed);
        QWidget* input = m_tabs->widget(1);
        // Another tab clicked while typing: the focus loss finishes the edit of Input 1.
        QLineEdit* editor = doubleClick(1);
        editor->setText("Kick");
        QTest::mouseClick(bar(), Qt::LeftButton, Qt::NoModifier, bar()->tabRect(2).center());
        emit editor->editingFinished();
        QCOMPARE(m_tabs->tabText(1), QString("Kick"));
        QCOMPARE(m_tabs->tabText(2), QString("Output 1"));
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages[0][0].value<QWidget*>(), input);

        // Tabs come before it while typing: the edit follows its tab.
        editor = doubleClick(2);
        editor->setText("Sub");
        m_tabs->insertTab(0, new QLabel("page"), "Advanced");
        m_tabs->setCurrentIndex(0);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(m_tabs->tabText(3), QString("Sub"));
        QCOMPARE(m_tabs->tabText(0), QString("Advanced"));

        // Its tab goes (a rebuild): nothing is renamed, nothing reported.
        pages.clear();
        QSignalSpy names(m_tabs.get(), &QEditableTabWidget::tabNameChanged);
        m_tabs->setCurrentIndex(2);
        editor = doubleClick(2);
        QPointer<QLineEdit> guard(editor);
        editor->setText("Lost");
        delete m_tabs->widget(2);
        QVERIFY(!bar()->lineEdit());
        if (guard)
            emit guard->editingFinished();
        QCOMPARE(names.size(), 0);
        QCOMPARE(pages.size(), 0);
        for (int i = 0; i < m_tabs->count(); ++i)
            QVERIFY(m_tabs->tabText(i) != "Lost");
    }

    void cancellingReportsNothing_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape") << true;
        QTest::newRow("second double click") << false;
    }

    void cancellingReportsNothing()
    {
        QFETCH(bool, byEscape);
        QSignalSpy renamed(m_tabs.get(), &QEditableTabWidget::tabNameChanged);
        doubleClick(1)->setText("Snare");
        if (byEscape)
            QTest::keyClick(bar()->lineEdit(), Qt::Key_Escape);
        else
            QTest::mouseDClick(bar(), Qt::LeftButton, Qt::NoModifier, bar()->tabRect(1).center());
        QVERIFY(!bar()->lineEdit());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(renamed.size(), 0);
        QCOMPARE(m_tabs->tabText(1), QString("Input 1"));
        // Escape without an editor is swallowed too.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(bar(), &escape);
        QVERIFY(escape.isAccepted());
        QVERIFY(doubleClick(1)); // ready for the next edit
    }
};

QTEST_MAIN(TstEditableTabBar)
#include "tst_editabletabbar.moc"
