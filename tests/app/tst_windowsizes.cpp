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
    // not fit side by side; then it laid them over one another (one processor's output Mute
    // buttons under the next one's window). Every window keeps its minimum, none lies over
    // another, the grid fills the area when the minimums fit and else keeps to its width
    // where a column of them fits it (the area scrolls down to the rest).
    void tileLaysNoWindowOverAnother_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<int>("windows");
        QTest::addColumn<bool>("fits");
        QTest::newRow("two monitors and a control window") << QRect(0, 0, 1180, 650) << 3 << false;
        QTest::newRow("two monitors and two control windows") << QRect(0, 0, 1180, 650) << 4 << false;
        QTest::newRow("one control window") << QRect(0, 0, 1180, 650) << 1 << true;
        QTest::newRow("five on a wide area") << QRect(0, 0, 1900, 980) << 5 << true;
        QTest::newRow("four monitors") << QRect(10, 20, 1180, 700) << 4 << true;
        QTest::newRow("an area smaller than a minimum") << QRect(0, 0, 800, 480) << 2 << false;
    }
    void tileLaysNoWindowOverAnother()
    {
        QFETCH(QRect, area);
        QFETCH(int, windows);
        QFETCH(bool, fits);
        QList<QSize> minimums;
        for (int i = 0; i < windows; ++i)
            minimums << (i % 3 == 2 && QTest::currentDataTag() != QLatin1String("four monitors")
                             ? MainWindow::ControlWindowMinimum
                             : QSize(470, 340));
        const QList<QRect> rects = MainWindow::tileGeometries(area, minimums);
        QCOMPARE(rects.size(), windows);
        QRect covered;
        int widest = 0;
        for (int i = 0; i < windows; ++i) {
            QVERIFY2(rects[i].left() >= area.left() && rects[i].top() >= area.top(), qPrintable(QString::number(i)));
            QCOMPARE(rects[i].size(), rects[i].size().expandedTo(minimums[i]));
            for (int j = 0; j < i; ++j)
                QVERIFY2(!rects[i].intersects(rects[j]), qPrintable(QStringLiteral("%1 over %2").arg(i).arg(j)));
            covered |= rects[i];
            widest = qMax(widest, minimums[i].width());
        }
        if (fits)
            QCOMPARE(covered, area); // side by side, the whole area
        else if (widest <= area.width())
            QCOMPARE(covered.width(), area.width());
    }

    // Mended: after Cascade the status monitor opened over the network monitor at the next
    // start and hid it; a place beside it or anywhere clear of it stays.
    void theStatusMonitorNeverOpensOverTheNetworkMonitor()
    {
        const QRect network(0, 0, 600, 340);
        QCOMPARE(MainWindow::statusMonitorPlace(network, QRect(30, 30, 470, 600)), QPoint(600, 0));
        QCOMPARE(MainWindow::statusMonitorPlace(network, QRect(0, 0, 470, 600)), QPoint(600, 0));
        QCOMPARE(MainWindow::statusMonitorPlace(network, QRect(600, 0, 470, 600)), QPoint(600, 0));
        QCOMPARE(MainWindow::statusMonitorPlace(network, QRect(0, 340, 470, 300)), QPoint(0, 340));
    }
};

QTEST_MAIN(TstWindowSizes)
#include "tst_windowsizes.moc"
