#include "ZunAbstractInOutputDlg.h"

#include "CEQManager.h"
#include "CZun.h"
#include "CZunBiquad.h"
#include "CZunHighOrderFilter.h"
#include "EQTableDelegate.h"
#include "HOFTableDelegate.h"
#include "PlotWidget.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterTableView.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

// "Nr", "Name" and "Bank": the same columns in both tables.
void hideIdentityColumns(QTableView* table)
{
    table->hideColumn(ZunEQModel::ColNr);
    table->hideColumn(ZunEQModel::ColName);
    table->hideColumn(ZunEQModel::ColBank);
}

// Widens a shown column whose header or cells need more than its width (the widths set
// below suit a small font), and the table when its columns no longer fit, so that no cell
// and no title is cut off; the stretched last column takes what is left. Unlike
// resizeColumnToContents this never narrows a column, so after a change of some rows
// (firstRow to lastRow) only their cells are measured; without rows, every shown one.
void fitColumns(QTableView* table, int firstRow = 0, int lastRow = -1)
{
    if (!table->model())
        return;
    QHeaderView* header = table->horizontalHeader();
    auto* view = static_cast<QAbstractItemView*>(table);
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    int width = 2 * table->frameWidth() + table->verticalHeader()->sizeHint().width() +
                table->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < header->count(); ++c) {
        if (table->isColumnHidden(c))
            continue;
        const QString title = table->model()->headerData(c, Qt::Horizontal).toString();
        int need = header->fontMetrics().horizontalAdvance(title) + margin;
        if (lastRow < 0)
            need = qMax(need, view->sizeHintForColumn(c));
        for (int r = firstRow; r <= lastRow; ++r)
            need = qMax(need, view->sizeHintForIndex(table->model()->index(r, c)).width() + 1);
        // An open editor (the Type list with its arrows) needs more than the text it edits;
        // the view counts only the editors that stay open.
        for (const QWidget* editor : table->viewport()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (editor->isVisible() && table->indexAt(editor->geometry().center()).column() == c)
                need = qMax(need, editor->sizeHint().width());
        if (c + 1 < header->count() && need > header->sectionSize(c))
            header->resizeSection(c, need);
        width += c + 1 < header->count() ? header->sectionSize(c) : need;
    }
    if (width > table->maximumWidth()) {
        table->setMinimumWidth(width);
        table->setMaximumWidth(width);
    }
}

// Fits the whole table once the current burst of changes is over: a re-read of the image
// resets the models once per EQ it makes.
void fitLater(QTableView* table)
{
    static const char* const pending = "zunFitPending";
    if (table->property(pending).toBool())
        return;
    table->setProperty(pending, true);
    QTimer::singleShot(0, table, [table] {
        table->setProperty(pending, false);
        fitColumns(table);
    });
}

// Calls the page's slot whenever the proxy's rows are sorted, reset or added to, and fits
// the table to the rows that change.
void followRows(QAbstractItemModel* proxy, QTableView* table, ZunAbstractInOutputDlg* page,
                void (ZunAbstractInOutputDlg::*slot)())
{
    QObject::connect(proxy, &QAbstractItemModel::layoutChanged, page, slot);
    QObject::connect(proxy, &QAbstractItemModel::modelReset, page, slot);
    QObject::connect(proxy, &QAbstractItemModel::rowsInserted, page, slot);
    QObject::connect(proxy, &QAbstractItemModel::dataChanged, table,
                     [table](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                         fitColumns(table, topLeft.row(), bottomRight.row());
                     });
}

// Installs a table's new delegate in place of the one before (a second device pointer):
// the open editors were made by the old one and go with it, the new one opens its own.
template <typename Delegate>
Delegate* replaceDelegate(QTableView* table, Delegate* old, Delegate* delegate)
{
    table->setItemDelegate(delegate);
    if (old) {
        table->reset();
        old->deleteLater();
    }
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return delegate;
}

} // namespace

ZunAbstractInOutputDlg::ZunAbstractInOutputDlg(CZunAbstractInOutput* channel, QWidget* parent)
    : QWidget(parent), m_channel(channel)
{
    m_mainLayout = new QVBoxLayout;
    m_topLayout = new QHBoxLayout;
    auto* splitter = new QSplitter(Qt::Vertical);
    auto* top = new QWidget;
    top->setLayout(m_topLayout);
    splitter->addWidget(top);

    addTableColumn(tr("EQs"), 320, &ZunAbstractInOutputDlg::onButtonNewEQ, &ZunAbstractInOutputDlg::onButtonRemoveEQ,
                   m_groupEQ, m_layoutEQ, m_buttonNewEQ, m_buttonRemoveEQ, m_tableEQ);
    addTableColumn(tr("Filters"), 420, &ZunAbstractInOutputDlg::onButtonNewHOF,
                   &ZunAbstractInOutputDlg::onButtonRemoveHOF, m_groupHOF, m_layoutHOF, m_buttonNewHOF,
                   m_buttonRemoveHOF, m_tableHOF);
    m_topLayout->addStretch();

    m_mainLayout->addWidget(splitter);

    m_plot = new PlotWidget;
    m_plot->setMinimumHeight(30);
    if (channel) {
        m_plot->addCurve(channel, CZunPlotCurve::Magnitude, "Magnitude");
        m_plot->addCurve(channel, CZunPlotCurve::Phase, "Phase");
    }
    m_plot->setAutoReplot(true);
    splitter->addWidget(m_plot);
    splitter->setOpaqueResize(false);
    setLayout(m_mainLayout);

    auto* checks = new QHBoxLayout;
    checks->setDirection(QBoxLayout::RightToLeft);
    const struct {
        const char* text;
        void (PlotWidget::*show)(bool);
    } boxes[] = {{"Show phase curves", &PlotWidget::showPhaseCurves},
                 {"Show EQ curves", &PlotWidget::showEQCurves},
                 {"Show filter curves", &PlotWidget::showFilterCurves}};
    for (const auto& b : boxes) {
        auto* box = new QCheckBox(b.text);
        box->setChecked(true);
        checks->addWidget(box, 0, Qt::AlignRight);
        connect(box, &QCheckBox::clicked, m_plot, b.show);
    }
    checks->addStretch(1);
    m_mainLayout->addLayout(checks);

    m_groupEQ->setWhatsThis(
        tr("<h1>Create and remove EQs</h1> \t\tUse these buttons to create and delete EQs.<br> \t\t<b>Remove</b> will "
           "always delete only one EQ, even if more than one is selected.<br> \t\t<b>Remove all</b> deletes all EQs "
           "in this channel. \t\t"));
    m_groupHOF->setWhatsThis(
        tr("<h1>Create and remove filters</h1> \t\tUse these buttons to create and delete filters.<br> "
           "\t\t<b>Remove</b> will always delete only one filter, even if more than one is selected.<br> "
           "\t\t<b>Remove</b> all deletes all filters in this channel. \t\t"));
    m_tableEQ->setWhatsThis(
        tr("<h1>EQ settings </h1> \t\tThe table shows the EQs that are currently set for this channel. All "
           "parameters can be edited by either clicking \t\ton an entry or simply by typing when one of the entries "
           "has focus. One can navigate through the entries by using the tab key.<br> \t\tTo <b>add an EQ</b>, "
           "click the <b>New</b> button, to <b>remove EQs</b>, select them by clicking the first column and click "
           "the <b>Remove</b> button to the left of the table.<br><br> \t\t<b>Note:</b> The maximum number of EQs "
           "per channel is 20. <br> \t\tFor information about different EQ shapes, consult the manual. \t\t<h2> "
           "Using spinboxes </h2> \t\tThe user can either enter the desired value by typing, by using the cursor "
           "up/down, the Page up/down keys or by clicking the spinbox arrows. \t\tIn some cases, when keys or arrows "
           "are used, pressing the shift key provides small increase/decrease steps. \t\t"));
    m_tableHOF->setWhatsThis(
        tr("<h1>X-Over filter settings </h1> \t\tThe table shows the X-Over filters that are currently set for this "
           "channel. All parameters can be edited by either clicking \t\ton an entry or simply by typing when one of "
           "the entries has focus. One can navigate through the entries by using the tab key. <br><br>\t\tTo <b>add "
           "a filter</b>, click the <b>New</b> button, to <b>remove filters</b>, select them by clicking the first "
           "column and click the <b>Remove</b> button to the left of the table.<br><br> \t\t<b>Note:</b> In "
           "channels 1-4 and 5-8 each, a maximum number of 12 filters can be set. Each order of 12 dB uses one EQ "
           "and decreases the amount of usable EQs in the left table.<br> \t\tFor information about different filter "
           "shapes and characters, consult the manual. \t\t<h2> Using spinboxes </h2> \t\tThe user can either enter "
           "the desired value by typing, by using the cursor up/down, the Page up/down keys or by clicking the "
           "spinbox arrows. \t\tIn some cases, when keys or arrows are used, pressing the shift key provides small "
           "increase/decrease steps. \t\t"));
    splitter->setWhatsThis(
        tr("<h1>Splitter</h1> \t\tUse this element to resize the dialog to your needs. With lots of EQs, it makes "
           "sense to drag it down to make all EQs visible at a time. \t\t"));
    m_plot->setWhatsThis(
        tr("<h1>Plot Widget</h1> \t\tShows the magnitude and phase responses of the channel and the magnitude "
           "responses of EQs and filters. \t\tFrom the filters, the EQs and the gain, a frequency response is "
           "constructed. The curve of each filter and EQ is displayed as a shaded area.<br><br> \t\tIn the legend to "
           "the right, these shaded areas can be switched off by clicking on the corresponding legend entries. "
           "\t\tBelow the legend, it is possible to turn off/on the display of EQs, filters and phases in general. "
           "<br>\t\t<b>Note:</b> The response of an output channel, also considers the response of the "
           "corresponding input. \t\t"));
}

void ZunAbstractInOutputDlg::addTableColumn(const QString& title, int tableWidth, void (ZunAbstractInOutputDlg::*onNew)(),
                                            void (ZunAbstractInOutputDlg::*onRemove)(), QGroupBox*& group,
                                            QVBoxLayout*& groupLayout, QPushButton*& buttonNew,
                                            QPushButton*& buttonRemove, ZunFilterTableView*& table)
{
    group = new QGroupBox(title);
    group->setMinimumWidth(70);
    group->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    groupLayout = new QVBoxLayout;
    buttonNew = new QPushButton("New");
    buttonRemove = new QPushButton("Remove");
    groupLayout->addWidget(buttonNew);
    groupLayout->addWidget(buttonRemove);
    group->setLayout(groupLayout);
    // Never narrower than its buttons' texts ("Remove" was cut at 70).
    group->setMinimumWidth(qMax(70, group->minimumSizeHint().width()));
    connect(buttonNew, &QPushButton::clicked, this, onNew);
    connect(buttonRemove, &QPushButton::clicked, this, onRemove);
    auto* column = new QVBoxLayout;
    column->addWidget(group);
    column->addStretch();
    m_topLayout->addLayout(column);
    table = new ZunFilterTableView;
    connect(table, &ZunFilterTableView::signal_exception, this, &ZunAbstractInOutputDlg::signal_exception);
    m_topLayout->addWidget(table);
    table->setMinimumSize(tableWidth, 100);
    table->setMaximumSize(tableWidth, 640);
}

// The proxies are children of the page, the delegates of their tables and the curves belong
// to the plot: all go with it.
ZunAbstractInOutputDlg::~ZunAbstractInOutputDlg() = default;

void ZunAbstractInOutputDlg::setEQModel(ZunEQModel* model)
{
    m_modelEQ = model;
    ZunEQProxyModel* old = m_proxyEQ;
    m_proxyEQ = new ZunEQProxyModel(this);
    m_proxyEQ->setSourceModel(model);
    m_proxyEQ->setDynamicSortFilter(false);
    m_proxyEQ->showSlot(m_channel ? m_channel->GetSlot() : CZunAbstractInOutput::NoSlot);
    m_proxyEQ->setFilterKeyColumn(ZunEQModel::ColBank);
    m_tableEQ->setModel(m_proxyEQ);
    delete old; // the view has let go of it
    m_proxyEQ->sort(ZunEQModel::ColFrequency, Qt::AscendingOrder);
    hideIdentityColumns(m_tableEQ);
    QHeaderView* header = m_tableEQ->horizontalHeader();
    header->setSortIndicatorShown(false);
    const int widths[][2] = {{3, 90}, {4, 50}, {5, 40}, {6, 50}, {7, 20}};
    for (const auto& w : widths)
        header->resizeSection(w[0], w[1]);
    m_tableEQ->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // Dropped and pasted EQs become new EQs of this channel, once the drop has returned.
    if (m_channel)
        connect(m_proxyEQ, &ZunEQProxyModel::signal_NewZunBiquad, m_channel,
                &CZunAbstractInOutput::allocateNewZunBiquad, Qt::QueuedConnection);
    followRows(m_proxyEQ, m_tableEQ, this, &ZunAbstractInOutputDlg::HideColumnsInEQTable);
    connectEQProxy();
}

void ZunAbstractInOutputDlg::setHOFModel(ZunHOFModel* model)
{
    m_modelHOF = model;
    ZunHOFProxyModel* old = m_proxyHOF;
    m_proxyHOF = new ZunHOFProxyModel(this);
    m_proxyHOF->setSourceModel(model);
    m_proxyHOF->showSlot(m_channel ? m_channel->GetSlot() : CZunAbstractInOutput::NoSlot);
    m_proxyHOF->setFilterKeyColumn(ZunHOFModel::ColBank);
    m_tableHOF->setModel(m_proxyHOF);
    delete old;
    m_proxyHOF->setDynamicSortFilter(false);
    m_proxyHOF->sort(ZunHOFModel::ColFrequency, Qt::AscendingOrder);
    hideIdentityColumns(m_tableHOF);
    QHeaderView* header = m_tableHOF->horizontalHeader();
    header->resizeSection(3, 85);
    header->setSortIndicatorShown(false);
    const int widths[][2] = {{4, 80}, {5, 80}, {6, 50}, {7, 40}, {8, 20}};
    for (const auto& w : widths)
        header->resizeSection(w[0], w[1]);
    m_tableHOF->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    if (m_channel)
        connect(m_proxyHOF, &ZunHOFProxyModel::signal_NewHighOrderFilter, m_channel,
                &CZunAbstractInOutput::allocateNewHighOrderFilter, Qt::QueuedConnection);
    followRows(m_proxyHOF, m_tableHOF, this, &ZunAbstractInOutputDlg::HideColumnsInHOFTable);
    connectHOFProxy();
}

// The proxy hears of every new EQ of the device (to follow its changes) and refreshes the
// open editor of a changed cell; made again for a new proxy or a new device.
void ZunAbstractInOutputDlg::connectEQProxy()
{
    if (!m_proxyEQ || !m_zun || !m_delegateEQ)
        return;
    connect(m_zun->GetEQManager(), &CEQManager::signal_NewEQ, m_proxyEQ, &ZunEQProxyModel::on_NewEQ,
            Qt::UniqueConnection);
    connect(m_proxyEQ, &QAbstractItemModel::dataChanged, m_delegateEQ, &EQTableDelegate::updateEditor,
            Qt::UniqueConnection);
    // EQs that exist already (read from the processor before the page was built).
    for (const QPointer<CZunBiquad>& eq : m_channel ? m_channel->GetEQList() : QList<QPointer<CZunBiquad>>())
        m_proxyEQ->on_NewEQ(eq);
}

void ZunAbstractInOutputDlg::connectHOFProxy()
{
    if (!m_proxyHOF || !m_zun || !m_delegateHOF)
        return;
    connect(m_zun->GetEQManager(), &CEQManager::signal_NewHighOrderFilter, m_proxyHOF, &ZunHOFProxyModel::on_NewHOF,
            Qt::UniqueConnection);
    connect(m_proxyHOF, &QAbstractItemModel::dataChanged, m_delegateHOF, &HOFTableDelegate::updateEditor,
            Qt::UniqueConnection);
    for (const QPointer<CZunHighOrderFilter>& filter :
         m_channel ? m_channel->GetHighOrderFilterList() : QList<QPointer<CZunHighOrderFilter>>())
        m_proxyHOF->on_NewHOF(filter);
}

void ZunAbstractInOutputDlg::setPointerCZun(QSharedPointer<CZun> zun)
{
    m_zun = zun;
    m_delegateEQ = replaceDelegate(m_tableEQ, m_delegateEQ, new EQTableDelegate(zun, m_tableEQ));
    connect(m_delegateEQ, &EQTableDelegate::colSizeChangedEQ, this, &ZunAbstractInOutputDlg::resizeColEQ);
    m_delegateHOF = replaceDelegate(m_tableHOF, m_delegateHOF, new HOFTableDelegate(zun, m_tableHOF));
    connect(m_delegateHOF, &HOFTableDelegate::colSizeChangedHOF, this, &ZunAbstractInOutputDlg::resizeColHOF);
    if (zun) {
        connectEQProxy();
        connectHOFProxy();
    }
    HideColumnsInEQTable(); // the delegates paint names: widths for them
    HideColumnsInHOFTable();

    // A second device pointer must not plot every EQ twice: connections and curves are made
    // once per channel and response.
    if (m_channel) {
        connect(m_channel, &CZunAbstractInOutput::newEQ, this, &ZunAbstractInOutputDlg::on_NewEQ, Qt::UniqueConnection);
        connect(m_channel, &CZunAbstractInOutput::EQToBeDeleted, this, &ZunAbstractInOutputDlg::on_EQToBeDeleted,
                Qt::UniqueConnection);
        connect(m_channel, &CZunAbstractInOutput::newFilter, this, &ZunAbstractInOutputDlg::on_NewFilter,
                Qt::UniqueConnection);
        connect(m_channel, &CZunAbstractInOutput::filterToBeDeleted, this,
                &ZunAbstractInOutputDlg::on_FilterToBeDeleted, Qt::UniqueConnection);
        for (const QPointer<CZunBiquad>& eq : m_channel->GetEQList())
            on_NewEQ(eq);
        for (const QPointer<CZunHighOrderFilter>& filter : m_channel->GetHighOrderFilterList())
            on_NewFilter(filter);
    }
    emit pointerCZunChanged(zun);
}

bool ZunAbstractInOutputDlg::plotted(CZunAbstractFrequencyResponse* response) const
{
    for (CZunPlotCurve* curve : m_plot->curves())
        if (curve->response() == response)
            return true;
    return false;
}

void ZunAbstractInOutputDlg::UpdateTableEQs()
{
    if (m_proxyEQ)
        m_proxyEQ->invalidate();
    HideColumnsInEQTable();
}

void ZunAbstractInOutputDlg::UpdateTableHOFs()
{
    if (m_proxyHOF)
        m_proxyHOF->invalidate();
    HideColumnsInHOFTable();
}

// After a sort or reset the identity columns would show again; new names may need room.
void ZunAbstractInOutputDlg::HideColumnsInEQTable()
{
    hideIdentityColumns(m_tableEQ);
    fitLater(m_tableEQ);
}

void ZunAbstractInOutputDlg::HideColumnsInHOFTable()
{
    hideIdentityColumns(m_tableHOF);
    fitLater(m_tableHOF);
}

void ZunAbstractInOutputDlg::onButtonNewEQ()
{
    if (m_channel)
        m_channel->NewEQ();
}

void ZunAbstractInOutputDlg::onButtonNewHOF()
{
    if (m_channel)
        m_channel->NewHighOrderFilter();
}

QMimeData* ZunAbstractInOutputDlg::selectedRows(ZunFilterTableView* table)
{
    if (!table->model() || !table->selectionModel())
        return nullptr;
    return table->model()->mimeData(table->selectionModel()->selectedIndexes());
}

void ZunAbstractInOutputDlg::onButtonRemoveEQ()
{
    const std::unique_ptr<QMimeData> rows(selectedRows(m_tableEQ));
    const auto* eqs = qobject_cast<const ZunEQMimeData*>(rows.get());
    if (!m_zun || !eqs || eqs->count() == 0)
        return;
    CEQManager* manager = m_zun->GetEQManager();
    for (const EQ_PARAMS& p : eqs->getEQs()) {
        QPointer<CZunBiquad> eq = manager->GetZunBiquad(p.number);
        manager->DeleteZunBiquad(eq, true);
    }
}

void ZunAbstractInOutputDlg::onButtonRemoveHOF()
{
    const std::unique_ptr<QMimeData> rows(selectedRows(m_tableHOF));
    const auto* filters = qobject_cast<const ZunHOFMimeData*>(rows.get());
    if (!m_zun || !filters || filters->count() == 0)
        return;
    CEQManager* manager = m_zun->GetEQManager();
    for (const HO_FILTER_PARAMS& p : filters->getFilters()) {
        QPointer<CZunHighOrderFilter> filter = manager->GetZunHighOrderFilter(p.number);
        manager->DeleteHighOrderFilter(filter, true);
    }
}

// An open editor (the Type list) measures narrower than the names the column shows: the
// column only ever widens.
// (once the editor has its place in the table).
void ZunAbstractInOutputDlg::resizeColEQ(int) { fitLater(m_tableEQ); }

void ZunAbstractInOutputDlg::resizeColHOF(int) { fitLater(m_tableHOF); }

void ZunAbstractInOutputDlg::UpdateGui()
{
    m_tableEQ->show();
    m_tableHOF->show();
}

void ZunAbstractInOutputDlg::on_NewEQ(CZunBiquad* eq)
{
    if (eq && !plotted(eq))
        m_plot->addCurve(eq, CZunPlotCurve::Magnitude, QString());
}

// The channel announces a deleted EQ or filter from its destroyed signal, when the object
// is no longer one: the plot then drops every curve whose response is gone.
void ZunAbstractInOutputDlg::on_EQToBeDeleted(CZunBiquad* eq) { m_plot->removeCurve(eq); }

void ZunAbstractInOutputDlg::on_NewFilter(CZunHighOrderFilter* filter)
{
    if (filter && !plotted(filter))
        m_plot->addCurve(filter, CZunPlotCurve::Magnitude, QString());
}

void ZunAbstractInOutputDlg::on_FilterToBeDeleted(CZunHighOrderFilter* filter) { m_plot->removeCurve(filter); }
