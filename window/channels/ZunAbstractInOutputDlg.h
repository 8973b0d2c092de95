#pragma once

#include "CZunAbstractInOutput.h"

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

class CZun;
class CZunBiquad;
class CZunHighOrderFilter;
class EQTableDelegate;
class HOFTableDelegate;
class PlotWidget;
class QGroupBox;
class QHBoxLayout;
class QMimeData;
class QPushButton;
class QSplitter;
class QVBoxLayout;
class ZunEQModel;
class ZunEQProxyModel;
class ZunFilterTableView;
class ZunHOFModel;
class ZunHOFProxyModel;

// The page of one channel (an input path or an output): its EQs and crossover filters in two
// tables, each showing only this channel's rows of the window's shared models through a
// proxy on the Bank column, buttons that add and remove them through the device model, and
// the channel's magnitude and phase with one shaded curve per EQ and filter.
//
// EQs and filters dropped or pasted into a table become new ones of this channel (the
// proxies ask the channel, queued); edits in a table's cells go through the shared models
// to the device, whose change signals refresh the rows, the open editors and the curves.
// The proxies belong to the page, the delegates to their tables.
class ZunAbstractInOutputDlg : public QWidget
{
    Q_OBJECT
public:
    ZunAbstractInOutputDlg(CZunAbstractInOutput* channel, QWidget* parent);
    ~ZunAbstractInOutputDlg() override;

    PlotWidget* plot() const { return m_plot; }
    ZunFilterTableView* eqTable() const { return m_tableEQ; }
    ZunFilterTableView* hofTable() const { return m_tableHOF; }
    ZunEQProxyModel* eqProxy() const { return m_proxyEQ; }
    ZunHOFProxyModel* hofProxy() const { return m_proxyHOF; }
    EQTableDelegate* eqDelegate() const { return m_delegateEQ; }
    HOFTableDelegate* hofDelegate() const { return m_delegateHOF; }

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
                        QPushButton*& buttonNew, QPushButton*& buttonRemove, ZunFilterTableView*& table);
    // The payload of the table's selected rows (each row once, in the order of first
    // appearance); empty without a model.
    static QMimeData* selectedRows(ZunFilterTableView* table);
    bool plotted(CZunAbstractFrequencyResponse* response) const;
    void connectEQProxy();
    void connectHOFProxy();

    QVBoxLayout* m_mainLayout = nullptr;
    QHBoxLayout* m_topLayout = nullptr;

    QGroupBox* m_groupEQ = nullptr;
    ZunFilterTableView* m_tableEQ = nullptr;
    ZunEQModel* m_modelEQ = nullptr;
    ZunEQProxyModel* m_proxyEQ = nullptr;
    EQTableDelegate* m_delegateEQ = nullptr;
    QPushButton* m_buttonNewEQ = nullptr;
    QPushButton* m_buttonRemoveEQ = nullptr;
    QVBoxLayout* m_layoutEQ = nullptr;

    QGroupBox* m_groupHOF = nullptr;
    ZunFilterTableView* m_tableHOF = nullptr;
    ZunHOFModel* m_modelHOF = nullptr;
    ZunHOFProxyModel* m_proxyHOF = nullptr;
    HOFTableDelegate* m_delegateHOF = nullptr;
    QPushButton* m_buttonNewHOF = nullptr;
    QPushButton* m_buttonRemoveHOF = nullptr;
    QVBoxLayout* m_layoutHOF = nullptr;

    QPointer<CZunAbstractInOutput> m_channel;
    PlotWidget* m_plot = nullptr;
    QSharedPointer<CZun> m_zun;
};
