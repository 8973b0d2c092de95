#include "CZunNetworkScanDlg.h"

#include "CZunNetwork.h"
#include "ZunDeviceStatsModel.h"
#include "ZunDeviceStatsProxyModel.h"
#include "ZunNetworkTableView.h"
#include "ZunSettingsWriter.h"

#include <QCloseEvent>
#include <QColor>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QtConcurrent>
#include <QVBoxLayout>

#include <stdexcept>

CZunNetworkScanDlg::CZunNetworkScanDlg(QWidget* parent)
    : QWidget(parent)
{
    m_layout = new QVBoxLayout;
    m_label = new QLabel(this);
    m_layout->addWidget(m_label);
    m_portNote = new QLabel(this);
    m_portNote->setWordWrap(true);
    m_portNote->hide();
    m_layout->addWidget(m_portNote);

    // The discovery object lives in its own thread: it is the thread.
    m_network = new CZunNetwork;
    m_network->moveToThread(m_network);
    {
        QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        m_network->setUseNIC(settings.value(QStringLiteral("useNIC"), 0).toInt());
    }
    connect(m_network, &CZunNetwork::signal_PortHeldElsewhere, this, &CZunNetworkScanDlg::showPortOfItsOwn,
            Qt::QueuedConnection);
    m_network->start(QThread::InheritPriority);

    m_model = new ZunDeviceStatsModel(m_network, this);
    m_proxy = new ZunDeviceStatsProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->sort(0, Qt::AscendingOrder);
    m_proxy->setDynamicSortFilter(true);

    m_tableView = new ZunNetworkTableView;
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setSortingEnabled(true);
    m_tableView->createActions();
    m_tableView->initContextMenu();
    m_tableView->setModel(m_proxy);
    m_tableView->sortByColumn(0, Qt::AscendingOrder);
    static const int widths[] = {40, 90, 160, 80, 65, 65, 65};
    for (int c = 0; c < 7; ++c)
        m_tableView->horizontalHeader()->resizeSection(c, widths[c]);
    m_tableView->setMinimumWidth(585);
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &CZunNetworkScanDlg::fitColumns);
    connect(m_proxy, &QAbstractItemModel::layoutChanged, this, &CZunNetworkScanDlg::fitColumns);
    m_layout->addWidget(m_tableView);

    connect(m_tableView, &QAbstractItemView::doubleClicked, this, &CZunNetworkScanDlg::onRowDoubleClicked);
    connect(m_tableView, &QAbstractItemView::clicked, this, &CZunNetworkScanDlg::onRowClicked);

    auto* buttons = new QHBoxLayout;
    m_scanButton = new QPushButton(this);
    m_scanButton->setMaximumWidth(100);
    m_scanButton->setToolTip(tr("Scan network for devices with firmware older than 1077."));
    connect(m_scanButton, &QPushButton::clicked, this, &CZunNetworkScanDlg::onButtonScan);
    buttons->addWidget(m_scanButton);

    m_muteButton = new QPushButton(tr("Mute all"), this);
    m_muteButton->setCheckable(true);
    m_muteButton->setMaximumWidth(120);
    m_muteButton->setToolTip(tr("Mute all devices appearing in the list"));
    connect(m_muteButton, &QPushButton::clicked, this, &CZunNetworkScanDlg::onButtonMute);
    buttons->addWidget(m_muteButton, 1, Qt::AlignRight);
    m_layout->addLayout(buttons);

    {
        QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
        const QColor active = settings.value(QStringLiteral("ColorButtonActive")).value<QColor>();
        const QColor inactive = settings.value(QStringLiteral("ColorButtonInactive")).value<QColor>();
        m_muteButton->setStyleSheet(QStringLiteral("QPushButton {background-color: %1;} QPushButton:checked{background-color: %2;} "
                                                   "QPushButton:pressed {background-color: %2;}")
                                        .arg(inactive.name(), active.name()));
    }

    m_statusLabel = new QLabel(this);
    m_layout->addWidget(m_statusLabel);
    setLayout(m_layout);

    setWindowTitle(tr("Network Monitor"));
    m_label->setText(tr("Found devices:"));
    m_scanButton->setText(tr("Network scan"));
    m_statusLabel->setText(tr("Status"));
    setWhatsThis(tr("<h1>Network monitor</h1> \t\t This dialog provides an overview of all devices attached to the network.<br> \t\t <b>Sort</b> the list by clicking on the column headers. <br>\t\t <b>Establish a connection</b> to a device by double clicking a row.</b> <br>\t\t Since version 1077, Zun devices respond to UDP broadcast from this app, \t\t and the list of devices is being filled automatically.<br> \t\t The properties shown in the list are \t\t <dl> \t\t  <dt> <b>Serial</b><dd> the serial number of the device.  \t\t  <dt><b>IP</b> <dd>the internet protocol address of the device. \t\t  <dt><b>Name</b> <dd>the name of the Zun which can be set by the user or the name of the current setup, if any. \t\t  <dt><b>Firmware</b> <dd>the version nr of the firmware, currently installed on the Zun. \t\t  <dt><b>Online</b> <dd>when the Zun responded to a UDP broadcast, this field is set to <b>yes</b>. If no response is received for about 8 seconds, it is set to <b>no</b> \t\t       When a connection is established to any computer (not necessarily this one), it is set to <b>connected</b>. Only one TCP connection at a time is possible. \t\t  <dt><b>Status</b> <dd>the error status of the Zun. If an error occurs, <b>Err [nr]</b> is shown. Contact Orvanta to solve the problem. \t\t  <dt><b>Signal</b> <dd>the status of the digital input, if any. If digital input is connected, this field shows <b>locked</b> otherwise <b>not locked</b>. \t\t       If only analog inputs are selected, the field shows <b>analog</b>. </dd>\t\t </dl> <br>\t\t The button <b>Network Scan</b> must be used to find Zuns with a firmware version lower than 1077, since these \t\t devices do not respond to UDP broadcasts. Instead, Ping requests will be sent to all connected subnets. <br> \t\t <b>Note:</b> for these devices, status and signal will not be updated correctly."));

    connect(&m_scan, &QFutureWatcher<bool>::finished, this, &CZunNetworkScanDlg::onScanFinished);
    QMetaObject::invokeMethod(this, "initScan", Qt::QueuedConnection);
}

CZunNetworkScanDlg::~CZunNetworkScanDlg()
{
    // A running sweep uses the discovery object: it ends first (after its echo wait).
    m_scan.waitForFinished();
    // The discovery thread ends with the monitor: its socket and timer belong to it.
    m_network->quit();
    m_network->wait(5000);
    delete m_network;
}

void CZunNetworkScanDlg::fitColumns()
{
    // The fixed widths clip "not locked", a long name or the sort arrow with larger fonts:
    // widen a column to its texts, never narrow it below what it has.
    QHeaderView* header = m_tableView->horizontalHeader();
    const QFontMetrics cellFont(m_tableView->font());
    const QFontMetrics headerFont(header->font());
    QStyle* style = header->style();
    const int headerMargin = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int cellMargin = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_tableView) + 1) + 2;
    for (int c = 0; c < header->count(); ++c) {
        int needed = headerFont.horizontalAdvance(m_proxy->headerData(c, Qt::Horizontal).toString()) + headerMargin;
        if (header->isSortIndicatorShown() && header->sortIndicatorSection() == c)
            needed += style->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) + headerMargin;
        for (int r = 0; r < m_proxy->rowCount(); ++r)
            needed = qMax(needed, cellFont.horizontalAdvance(m_proxy->index(r, c).data().toString()) + cellMargin);
        if (header->sectionSize(c) < needed)
            header->resizeSection(c, needed);
    }
}

void CZunNetworkScanDlg::showPortOfItsOwn(quint16 port)
{
    m_portNote->setText(tr("Another program on this computer holds UDP port 1234 (another ZunControl?). This one "
                           "listens on port %1 instead: the processors answer its own requests there, so both "
                           "programs list them.")
                            .arg(port));
    m_portNote->show();
}

void CZunNetworkScanDlg::initScan()
{
    m_statusLabel->setText(tr("Scanning ..."));
    try {
        QMetaObject::invokeMethod(m_network, "startBroadcasting", Qt::QueuedConnection);
    } catch (const std::logic_error&) {
        m_statusLabel->setText(tr("Status"));
    }
    m_statusLabel->setText(tr("Finished"));
    m_model->reloadModel();
}

void CZunNetworkScanDlg::onButtonScan()
{
    // One sweep at a time; a click while it runs changes nothing.
    if (m_scan.isRunning())
        return;
    m_statusLabel->setText(tr("Scanning ..."));
    // The sweep waits seconds for echo replies: it runs in the global thread pool, so the
    // window stays responsive. It uses sockets of its own, not the discovery thread's, and
    // what it finds reaches the discovery list under its lock.
    CZunNetwork* network = m_network;
    m_scan.setFuture(QtConcurrent::run([network]() {
        try {
            network->scanNetwork();
        } catch (const std::logic_error&) {
            return false;
        }
        return true;
    }));
}

void CZunNetworkScanDlg::onScanFinished()
{
    if (!m_scan.result())
        m_statusLabel->setText(tr("Status"));
    m_statusLabel->setText(tr("Finished"));
    m_model->reloadModel();
}

void CZunNetworkScanDlg::onButtonMute(bool mute)
{
    // masterMute hands the datagram to the discovery thread, which owns the socket.
    const auto devices = m_network->getDeviceList();
    for (const auto& d : devices)
        m_network->masterMute(d->serial(), mute);
}

void CZunNetworkScanDlg::setMasterMuteStatus(bool allMuted)
{
    m_muteButton->setChecked(allMuted);
}

quint32 CZunNetworkScanDlg::serialAt(const QModelIndex& proxyIndex, bool* ok) const
{
    // The row of the model's own snapshot: the one the view shows, even when the
    // discovery object's list has grown since.
    const QModelIndex source = m_proxy->mapToSource(proxyIndex);
    const auto d = m_model->device(source.row());
    *ok = !d.isNull();
    return d ? d->serial() : 0;
}

void CZunNetworkScanDlg::onRowDoubleClicked(QModelIndex index)
{
    bool ok = false;
    const quint32 serial = serialAt(index, &ok);
    if (ok)
        emit connectionRequest(serial);
}

void CZunNetworkScanDlg::onRowClicked(QModelIndex index)
{
    bool ok = false;
    const quint32 serial = serialAt(index, &ok);
    if (ok)
        emit identificationRequest(serial);
}

void CZunNetworkScanDlg::closeEvent(QCloseEvent* event)
{
    QWidget* frame = parentWidget() ? parentWidget() : this;
    ZunSettingsWriter::store({{QStringLiteral("NetworkMonitor/frameSize"), frame->frameSize()},
                              {QStringLiteral("NetworkMonitor/pos"), frame->pos()}});
    QWidget::closeEvent(event);
}
