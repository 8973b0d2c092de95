// The main window's sizing rules: its first size on a screen, a control window's first size
// in the MDI area, and Tile; each keeps every window on the screen.
#include "MainWindow.h"

#include <QtTest>

class TstWindowSizes : public QObject
{
    Q_OBJECT

private slots:
    // Mended: 1180 x 760 plus the frame put the status bar below a 1366 x 768 screen.
    void firstSizeFitsTheScreenWithItsFrame_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("1366x768, panel 40") << QSize(1366, 728) << QSize(1180, 680);
        QTest::newRow("1280x800") << QSize(1280, 800) << QSize(1180, 752);
        QTest::newRow("1920x1080") << QSize(1920, 1040) << QSize(1180, 760);
        QTest::newRow("1024x600") << QSize(1024, 600) << QSize(1008, 552);
    }
    void firstSizeFitsTheScreenWithItsFrame()
    {
        QFETCH(QSize, available);
        QFETCH(QSize, expected);
        QCOMPARE(MainWindow::firstSize(available), expected);
    }

    void aControlWindowOpensWithinTheAreaAndNeverBelowItsMinimum()
    {
        QCOMPARE(MainWindow::controlWindowFirstSize(QSize(910, 685), QSize(1180, 720)), QSize(910, 685));
        QCOMPARE(MainWindow::controlWindowFirstSize(QSize(910, 685), QSize(1180, 630)), QSize(910, 630));
        QCOMPARE(MainWindow::controlWindowFirstSize(QSize(600, 400), QSize(800, 450)), QSize(910, 520));
    }

    // Mended: Tile grew the main window to 1822 x 1089 when the windows' minimum sizes did
    // not fit side by side. Every window keeps its minimum and stays inside the area.
    void tileKeepsEveryWindowInsideTheArea_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<int>("windows");
        QTest::newRow("two monitors and a control window") << QRect(0, 0, 1180, 650) << 3;
        QTest::newRow("one control window") << QRect(0, 0, 1180, 650) << 1;
        QTest::newRow("five on a wide area") << QRect(0, 0, 1900, 980) << 5;
        QTest::newRow("an area smaller than a minimum") << QRect(0, 0, 800, 480) << 2;
    }
    void tileKeepsEveryWindowInsideTheArea()
    {
        QFETCH(QRect, area);
        QFETCH(int, windows);
        QList<QSize> minimums;
        for (int i = 0; i < windows; ++i)
            minimums << (i % 3 == 2 ? MainWindow::ControlWindowMinimum : QSize(470, 340));
        const QList<QRect> rects = MainWindow::tileGeometries(area, minimums);
        QCOMPARE(rects.size(), windows);
        QRect covered;
        for (int i = 0; i < windows; ++i) {
            QVERIFY2(area.contains(rects[i]), qPrintable(QString::number(i)));
            QCOMPARE(rects[i].size(), rects[i].size().expandedTo(minimums[i].boundedTo(area.size())));
            covered |= rects[i];
        }
        QCOMPARE(covered, area); // side by side, the whole area
    }
};

QTEST_MAIN(TstWindowSizes)
#include "tst_windowsizes.moc"
