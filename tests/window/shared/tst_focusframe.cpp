// The program's style shows where the keyboard focus is, on its dark palette: a solid frame
// on a button and on a table cell, also when the focus came with a click (the toolkit styles
// show it only after a Tab key, or as a faint shade or a dotted line).
#include "ZunStyle.h"

#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <QtTest>

class TstFocusFrame : public QObject
{
    Q_OBJECT

    // The widget drawn without and with the focus (given as a click gives it).
    static QPair<QImage, QImage> unfocusedAndFocused(QWidget& widget, QWidget& other, const QRect& part)
    {
        QImage images[2];
        for (int focused = 0; focused < 2; ++focused) {
            (focused ? widget : other).setFocus(Qt::MouseFocusReason);
            if (!QTest::qWaitFor([&] { return widget.hasFocus() == bool(focused); }))
                return {};
            images[focused] = widget.grab(part).toImage();
        }
        return {images[0], images[1]};
    }

    // The longest share of a row's pixels whose lightness the focus changes by a clearly
    // visible step: a solid frame changes (nearly) a whole row, a dotted line half of it.
    static double framedShare(const QPair<QImage, QImage>& images)
    {
        const QImage& a = images.first;
        const QImage& b = images.second;
        double best = 0.0;
        for (int y = 0; y < a.height(); ++y) {
            int changed = 0;
            for (int x = 0; x < a.width(); ++x)
                changed += qAbs(QColor(a.pixel(x, y)).lightness() - QColor(b.pixel(x, y)).lightness()) >= 60 ? 1 : 0;
            best = qMax(best, double(changed) / a.width());
        }
        return best;
    }

private slots:
    void initTestCase()
    {
        QApplication::setStyle(new ZunStyle(QStringLiteral("Cleanlooks")));
        // the colours a first start sets
        QPalette dark(QColor(Qt::darkGray));
        dark.setColor(QPalette::All, QPalette::Base, QColor(64, 64, 64));
        dark.setColor(QPalette::All, QPalette::Window, QColor(88, 88, 88));
        QApplication::setPalette(dark);
    }

    // Mended: no button and no table cell showed that it had the keyboard focus.
    void theFocusIsShown()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* button = new QPushButton(QStringLiteral("Submit"));
        auto* other = new QPushButton(QStringLiteral("Cancel"));
        auto* table = new QTableView;
        QStandardItemModel model(2, 2);
        table->setModel(&model);
        table->setSelectionMode(QAbstractItemView::NoSelection); // the focus alone marks the cell
        table->setCurrentIndex(model.index(0, 0));
        for (QWidget* w : {static_cast<QWidget*>(button), static_cast<QWidget*>(other), static_cast<QWidget*>(table)})
            layout->addWidget(w);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));

        const auto onButton = unfocusedAndFocused(*button, *other, button->rect());
        QVERIFY(!onButton.first.isNull());
        QVERIFY2(framedShare(onButton) > 0.75, qPrintable(QString::number(framedShare(onButton))));

        const QRect cell = table->visualRect(model.index(0, 0));
        const auto onCell = unfocusedAndFocused(*table, *other, cell.translated(table->viewport()->pos()));
        QVERIFY(!onCell.first.isNull());
        QVERIFY2(framedShare(onCell) > 0.75, qPrintable(QString::number(framedShare(onCell))));
    }
};

QTEST_MAIN(TstFocusFrame)
#include "tst_focusframe.moc"
