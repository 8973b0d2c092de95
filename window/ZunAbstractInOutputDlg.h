#pragma once

#include "CZunAbstractInOutput.h"

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class CZunBiquad;
class CZunHighOrderFilter;
class PlotWidget;
class QGroupBox;
class QHBoxLayout;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTableView;
class QVBoxLayout;
class ZunEQModel;
class ZunHOFModel;

// The page of one channel (an input path or an output): its EQs and crossover filters in two
// tables, each showing only this channel's rows of the window's shared models through a
// proxy on the Bank column, buttons that add and remove them through the device model, and
// the channel's magnitude and phase with one shaded curve per EQ and filter.
//
// The tables are plain table views over plain proxies for now; the filter table view, the
// EQ and filter proxies and their delegates take their places when they exist.
class ZunAbstractInOutputDlg : public QWidget
{
    Q_OBJECT
public:
    ZunAbstractInOutputDlg(CZunAbstractInOutput* channel, QWidget* parent);
    ~ZunAbstractInOutputDlg() override;

    PlotWidget* plot() const { return m_plot; }
    QTableView* eqTable() const { return m_tableEQ; }
    QTableView* hofTable() const { return m_tableHOF; }
    QSortFilterProxyModel* eqProxy() const { return m_proxyEQ; }
    QSortFilterProxyModel* hofProxy() const { return m_proxyHOF; }
    // The filter text that selects this channel's rows: its slot in two characters.
    static QString slotFilter(int slot);

signals:
    void pointerCZunChanged(QSharedPointer<CZun> zun);
    void signal_exception(QString text, QString caption);

public slots:
    void setPointerCZun(QSharedPointer<CZun> zun);
    void setEQModel(ZunEQModel* model);
    void setHOFModel(ZunHOFModel* model);
    void UpdateTableEQs();
    void UpdateTableHOFs();
    void HideColumnsInEQTable();
    void HideColumnsInHOFTable();
    void onButtonNewEQ();
    void onButtonRemoveEQ();
    void onButtonNewHOF();
    void onButtonRemoveHOF();
    void resizeColEQ(int column);
    void resizeColHOF(int column);
    void UpdateGui();
    void on_NewEQ(CZunBiquad* eq);
    void on_EQToBeDeleted(CZunBiquad* eq);
    void on_NewFilter(CZunHighOrderFilter* filter);
    void on_FilterToBeDeleted(CZunHighOrderFilter* filter);

private:
    // A New/Remove group (calling onNew and onRemove) with a stretch below it, then a table
    // of the given width, added to the top layout.
    void addTableColumn(const QString& title, int tableWidth, void (ZunAbstractInOutputDlg::*onNew)(),
                        void (ZunAbstractInOutputDlg::*onRemove)(), QGroupBox*& group, QVBoxLayout*& groupLayout,
                        QPushButton*& buttonNew, QPushButton*& buttonRemove, QTableView*& table);
    // The numbers (column 0 of the source model) of the selected rows, each row once, in
    // the order of first appearance in the selection.
    static QList<int> selectedNumbers(QTableView* table);
    bool plotted(CZunAbstractFrequencyResponse* response) const;

    QVBoxLayout* m_mainLayout = nullptr;
    QHBoxLayout* m_topLayout = nullptr;

    QGroupBox* m_groupEQ = nullptr;
    QTableView* m_tableEQ = nullptr;
    ZunEQModel* m_modelEQ = nullptr;
    QSortFilterProxyModel* m_proxyEQ = nullptr;
    QPushButton* m_buttonNewEQ = nullptr;
    QPushButton* m_buttonRemoveEQ = nullptr;
    QVBoxLayout* m_layoutEQ = nullptr;

    QGroupBox* m_groupHOF = nullptr;
    QTableView* m_tableHOF = nullptr;
    ZunHOFModel* m_modelHOF = nullptr;
    QSortFilterProxyModel* m_proxyHOF = nullptr;
    QPushButton* m_buttonNewHOF = nullptr;
    QPushButton* m_buttonRemoveHOF = nullptr;
    QVBoxLayout* m_layoutHOF = nullptr;

    QPointer<CZunAbstractInOutput> m_channel;
    PlotWidget* m_plot = nullptr;
    QSharedPointer<CZun> m_zun;
};
