// The main window's sizing rules: its first size on a screen, a control window's first size
// in the MDI area, Tile, a stored place and a window brought forward; each keeps every
// window on the screen.
#include "MainWindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>
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

    // Mended: Tile laid both monitors and a control window in one column, the network list
    // showing one and a half rows and the status monitor a sliver. The monitors share the
    // first row at the room they need to be read (MainWindow::tileMinimum), the control
    // window takes the area's width below them.
    void tileKeepsTheMonitorsSideBySide_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::newRow("1366x768") << QRect(0, 0, 1180, 600);
        QTest::newRow("1920x1080") << QRect(0, 0, 1180, 680);
    }
    void tileKeepsTheMonitorsSideBySide()
    {
        QFETCH(QRect, area);
        const QList<QRect> rects
            = MainWindow::tileGeometries(area, {QSize(620, 230), QSize(470, 167), MainWindow::ControlWindowMinimum});
        QCOMPARE(rects.size(), 3);
        QCOMPARE(rects[0].top(), area.top());
        QCOMPARE(rects[1].top(), area.top());
        QCOMPARE(rects[1].left(), rects[0].right() + 1);
        QCOMPARE(rects[1].right(), area.right());
        QCOMPARE(rects[2].top(), rects[0].bottom() + 1);
        QCOMPARE(rects[2].width(), area.width());
        QVERIFY(rects[0].height() >= 230 && rects[2].height() >= 520);
    }

    // Mended: after Cascade the status monitor opened over the network monitor at the next
    // start and hid it; then, put beside it at the size Cascade had given it, it ran past the
    // area's right edge. A place clear of it within the area stays; else beside it (narrower
    // if need be), else below it, else within the area.
    void theStatusMonitorOpensClearOfTheNetworkMonitorWithinTheArea_data()
    {
        QTest::addColumn<QRect>("network");
        QTest::addColumn<QRect>("status");
        QTest::addColumn<QRect>("expected");
        const QRect network(0, 0, 600, 340);
        QTest::newRow("over it") << network << QRect(30, 30, 470, 600) << QRect(600, 0, 470, 600);
        QTest::newRow("at its place") << network << QRect(0, 0, 470, 600) << QRect(600, 0, 470, 600);
        QTest::newRow("beside it") << network << QRect(600, 0, 470, 600) << QRect(600, 0, 470, 600);
        QTest::newRow("below it") << network << QRect(0, 340, 470, 250) << QRect(0, 340, 470, 250);
        QTest::newRow("cascaded as wide as the area") << network << QRect(60, 60, 1100, 540) << QRect(600, 0, 580, 540);
        QTest::newRow("taller than the area") << network << QRect(600, 0, 800, 900) << QRect(600, 0, 580, 620);
        QTest::newRow("a wide network monitor") << QRect(0, 0, 1000, 340) << QRect(30, 30, 470, 250)
                                                << QRect(0, 340, 470, 250);
        QTest::newRow("no room clear of it") << QRect(0, 0, 1000, 500) << QRect(30, 30, 470, 300)
                                             << QRect(710, 0, 470, 300);
    }
    void theStatusMonitorOpensClearOfTheNetworkMonitorWithinTheArea()
    {
        QFETCH(QRect, network);
        QFETCH(QRect, status);
        QFETCH(QRect, expected);
        const QRect area(0, 0, 1180, 620);
        const QRect place = MainWindow::statusMonitorPlace(network, status, area);
        QCOMPARE(place, expected);
        QVERIFY(area.contains(place));
    }

    // Mended: after Tile a control window lay below the area's visible part, and bringing
    // it forward (its row, its tile, the Window menu) showed nothing until the operator
    // scrolled; a size stored on a 1920 x 1080 screen opened larger than the area at
    // 1366 x 768, its close button past the edge. Each row puts a window where Tile did
    // and brings it forward, or places it from a stored geometry, in a shown area, and
    // gives where the operator sees it.
    // Mended: a minimised window stayed minimised when its row or the Window menu brought it
    // forward; only its own restore button brought it back.
    void aWindowBroughtForwardOrPlacedIsSeenWhole_data()
    {
        QTest::addColumn<QRect>("tiled"); // null: placed from storedSize and storedPos
        QTest::addColumn<QSize>("storedSize");
        QTest::addColumn<QPoint>("storedPos");
        QTest::addColumn<QSize>("seen");
        QTest::addColumn<bool>("minimised"); // before it is brought forward
        QTest::newRow("tiled below the view") << QRect(0, 620, 1000, 520) << QSize() << QPoint() << QSize(1000, 520) << false;
        QTest::newRow("tiled right of the view") << QRect(1190, 0, 910, 520) << QSize() << QPoint() << QSize(910, 520) << false;
        QTest::newRow("tiled taller than the view, half below")
            << QRect(0, 300, 910, 900) << QSize() << QPoint() << QSize(910, 900) << false;
        QTest::newRow("stored on 1920x1080") << QRect() << QSize(1700, 980) << QPoint(150, 60) << QSize(1180, 600) << false;
        QTest::newRow("stored near the right edge") << QRect() << QSize(910, 520) << QPoint(900, 300) << QSize(910, 520) << false;
        QTest::newRow("minimised") << QRect(100, 40, 910, 520) << QSize() << QPoint() << QSize(910, 520) << true;
    }
    void aWindowBroughtForwardOrPlacedIsSeenWhole()
    {
        QFETCH(QRect, tiled);
        QFETCH(QSize, storedSize);
        QFETCH(QPoint, storedPos);
        QFETCH(QSize, seen);
        QFETCH(bool, minimised);
        QMdiArea area;
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area.resize(1180, 600);
        QMdiSubWindow* monitor = area.addSubWindow(new QWidget);
        monitor->setGeometry(0, 0, 400, 300);
        QMdiSubWindow* sub = area.addSubWindow(new QWidget);
        sub->setMinimumSize(400, 300);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        sub->show();
        area.setActiveSubWindow(monitor);
        // As a processor's window opens (placed, then brought forward), or after Tile.
        if (tiled.isNull())
            MainWindow::placeSubWindow(sub, storedSize, storedPos);
        else
            sub->setGeometry(tiled);
        if (minimised)
            sub->showMinimized();
        MainWindow::bringForward(&area, sub);
        QCOMPARE(area.activeSubWindow(), sub);
        QVERIFY(sub->isVisible() && !sub->isMinimized());
        QCOMPARE(sub->size(), seen);
        const QRect view = area.viewport()->rect();
        // Whole where it fits the view, else its title bar at the view's top left.
        if (view.size() == view.size().expandedTo(seen))
            QVERIFY2(view.contains(sub->geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                                     .arg(sub->x()).arg(sub->y()).arg(sub->width())
                                                                     .arg(sub->height()).arg(view.width())
                                                                     .arg(view.height())));
        else
            QCOMPARE(sub->pos(), QPoint(sub->x(), 0));
    }
};

QTEST_MAIN(TstWindowSizes)
#include "tst_windowsizes.moc"
