#include "ZunFilterTableView.h"

#include "CEQManager.h"
#include "CZun.h"
#include "ZunChannelMimeData.h"
#include "ZunEQListFile.h"
#include "ZunEQMimeData.h"
#include "ZunEQModel.h"
#include "ZunEQProxyModel.h"
#include "ZunFilterImport.h"
#include "ZunFilterProxyModel.h"
#include "ZunHOFMimeData.h"
#include "ZunHOFModel.h"
#include "ZunHOFProxyModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QSettings>

namespace
{
QSettings userSettings() { return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")); }

// The device behind a table's proxy, for the keep-alive around a modal dialog.
QSharedPointer<CZun> deviceOf(QAbstractItemModel* model)
{
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(model);
    QAbstractItemModel* source = proxy ? proxy->sourceModel() : model;
    if (auto* eqs = qobject_cast<ZunEQModel*>(source))
        return eqs->pointerCZun();
    if (auto* filters = qobject_cast<ZunHOFModel*>(source))
        return filters->pointerCZun();
    return {};
}

} // namespace

ZunFilterTableView::ZunFilterTableView(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(true);
    m_importEnabled = userSettings().value(QStringLiteral("importEqs"), false).toBool();

    m_copy = newAction(QStringLiteral("&Copy"), tr("Ctrl+C"), tr("Copy the current selection's contents to the clipboard"));
    connect(m_copy, &QAction::triggered, this, &ZunFilterTableView::copy);
    m_paste = newAction(QStringLiteral("&Paste"), tr("Ctrl+V"), tr("Paste the clipboard's contents into the current selection"));
    connect(m_paste, &QAction::triggered, this, &ZunFilterTableView::paste);
    m_selectAll = newAction(QStringLiteral("Select &All"), tr("Ctrl+A"), tr("Select all rows"));
    connect(m_selectAll, &QAction::triggered, this, &QAbstractItemView::selectAll);
    if (m_importEnabled) {
        m_import = newAction(QStringLiteral("&Import ..."), tr("Ctrl+I"), tr("Import from file"));
        connect(m_import, &QAction::triggered, this, &ZunFilterTableView::fromFile);
    }
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) { edit(index); });
    setAcceptDrops(true);
}

QAction* ZunFilterTableView::newAction(const QString& text, const QString& shortcut, const QString& tip)
{
    auto* action = new QAction(text, this);
    action->setShortcut(QKeySequence(shortcut));
    // Only while this view (or its open editor) has the focus: another table on the page
    // keeps its own shortcuts.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    action->setStatusTip(tip);
    addAction(action);
    return action;
}

bool ZunFilterTableView::accepts(const QMimeData* data) const
{
    if (qobject_cast<ZunEQProxyModel*>(model()))
        return ZunEQProxyModel::isValidMimeData(data);
    if (qobject_cast<ZunHOFProxyModel*>(model())) {
        const auto* filters = qobject_cast<const ZunHOFMimeData*>(data);
        return filters && filters->count() > 0;
    }
    return false;
}

bool ZunFilterTableView::drop(const QMimeData* data)
{
    if (!model() || !data)
        return false;
    return model()->dropMimeData(data, Qt::CopyAction, 0, 0, QModelIndex());
}

QString ZunFilterTableView::listRefusal(int eqs, const QList<HO_FILTER_PARAMS>& filters) const
{
    const QSharedPointer<CZun> device = deviceOf(model());
    auto* proxy = qobject_cast<ZunFilterProxyModel*>(model());
    if (!device || !proxy || proxy->slot() < 0)
        return QString();
    // The EQ table takes the EQs of a list, the filter table its crossover filters.
    const bool eqTable = qobject_cast<ZunEQProxyModel*>(proxy) != nullptr;
    return device->GetEQManager()->GetListRefusal(proxy->slot(), eqTable ? eqs : 0,
                                                  eqTable ? QList<HO_FILTER_PARAMS>() : filters, false);
}

bool ZunFilterTableView::dropWhole(const QMimeData* data, const QString& refused)
{
    int eqs = 0;
    QList<HO_FILTER_PARAMS> filters;
    if (const auto* rows = qobject_cast<const ZunEQMimeData*>(data))
        eqs = rows->count();
    else if (const auto* rows = qobject_cast<const ZunHOFMimeData*>(data))
        filters = rows->getFilters().toList();
    else if (const auto* channel = qobject_cast<const ZunChannelMimeData*>(data)) {
        eqs = channel->getEQs().size();
        filters = channel->getFilters();
    }
    // A list longer than the channel takes is refused whole, before anything is made: each
    // row past the last free EQ or filter would fail on its own.
    const QString refusal = listRefusal(eqs, filters);
    if (!refusal.isEmpty()) {
        emit signal_exception(refused.arg(refusal), QStringLiteral("ZunControl"));
        return false;
    }
    return drop(data);
}

void ZunFilterTableView::copy()
{
    if (!model() || !selectionModel())
        return;
    // The clipboard takes ownership of the payload.
    QApplication::clipboard()->setMimeData(model()->mimeData(selectionModel()->selectedIndexes()), QClipboard::Clipboard);
}

void ZunFilterTableView::paste()
{
    // The proxy takes what it knows and refuses anything else.
    dropWhole(QApplication::clipboard()->mimeData(QClipboard::Clipboard),
              tr("The rows were not pasted: %1. Nothing was changed."));
}

void ZunFilterTableView::fromFile()
{
    const QString fileName = ZunEQListFile::choose(this, deviceOf(model()).data());
    if (!fileName.isEmpty())
        importFile(fileName);
}

void ZunFilterTableView::importFile(const QString& fileName)
{
    // Frequencies are checked against half the sample rate of the processor shown (a list
    // made for 96 kHz holds corners above 24 kHz).
    ZunFilterImport::Ranges ranges;
    const QSharedPointer<CZun> device = deviceOf(model());
    if (device)
        ranges.sampleRate = device->GetSampleRate();
    const ZunFilterImport::Result read = ZunFilterImport::ReadCSV(fileName, ranges);
    // An import that finds nothing says so: the operator must not take silence for a list
    // that was read.
    const QString name = QFileInfo(fileName).fileName();
    if (!read.fileRead) {
        emit signal_exception(tr("%1 was not imported: only a readable EQ list in a CSV file (*.csv) can be imported.")
                                      .arg(name)
                                  + (read.problems.isEmpty() ? QString() : QStringLiteral("\n") + read.problems.join('\n')),
                              QStringLiteral("ZunControl"));
        return;
    }
    if (read.eqs.isEmpty() && read.filters.isEmpty() && read.refused == 0) {
        emit signal_exception(tr("%1 holds no EQ or filter to import.").arg(name), QStringLiteral("ZunControl"));
        return;
    }
    // A list longer than the channel's free EQs (or filters, or EQs for the filters'
    // sections) is refused whole, before anything is made.
    const QString refusal = listRefusal(read.eqs.size(), QList<HO_FILTER_PARAMS>(read.filters.cbegin(), read.filters.cend()));
    if (!refusal.isEmpty()) {
        emit signal_exception(tr("%1 was not imported: %2. Nothing was changed.").arg(name, refusal),
                              QStringLiteral("ZunControl"));
        return;
    }
    ZunChannelMimeData payload;
    payload.setEQs(QList<EQ_PARAMS>(read.eqs.cbegin(), read.eqs.cend()));
    payload.setFilters(QList<HO_FILTER_PARAMS>(read.filters.cbegin(), read.filters.cend()));
    drop(&payload);
    if (read.refused > 0)
        emit signal_exception(tr("%1 rows of %2 could not be imported:\n%3")
                                  .arg(read.refused)
                                  .arg(QFileInfo(fileName).fileName(), read.problems.join('\n')),
                              QStringLiteral("ZunControl"));
}

void ZunFilterTableView::validateActions()
{
    const bool hasSelection = selectionModel() && !selectionModel()->selectedIndexes().isEmpty();
    m_copy->setEnabled(hasSelection);
    m_selectAll->setEnabled(model() && model()->rowCount() > 0);
    const QMimeData* clip = QApplication::clipboard()->mimeData(QClipboard::Clipboard);
    bool pasteable = false;
    if (qobject_cast<ZunEQProxyModel*>(model()))
        pasteable = ZunEQProxyModel::isValidMimeData(clip);
    else if (auto* filters = qobject_cast<ZunHOFProxyModel*>(model()))
        pasteable = filters->isValidMimeData(clip);
    m_paste->setEnabled(pasteable);
    if (m_import)
        m_import->setEnabled(true);
}

void ZunFilterTableView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        validateActions();
    else if (event->button() == Qt::LeftButton)
        m_pressPosition = event->pos();
    QTableView::mousePressEvent(event);
}

void ZunFilterTableView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !model() || !selectionModel())
        return;
    if ((event->pos() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(model()->mimeData(selectionModel()->selectedIndexes()));
    drag->exec(Qt::CopyAction);
}

void ZunFilterTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (accepts(event->mimeData()))
        event->acceptProposedAction();
}

void ZunFilterTableView::dragMoveEvent(QDragMoveEvent* event) { event->accept(); }

void ZunFilterTableView::dropEvent(QDropEvent* event)
{
    if (accepts(event->mimeData()))
        dropWhole(event->mimeData(), tr("The rows were not dropped: %1. Nothing was changed."));
    event->acceptProposedAction();
}
