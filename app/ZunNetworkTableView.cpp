#include "ZunNetworkTableView.h"

#include "SelectIntegerForm.h"
#include "UploadForm.h"
#include "ZunSettingsWriter.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSettings>

ZunNetworkTableView::ZunNetworkTableView(QWidget* parent)
    : QTableView(parent)
{
}

bool ZunNetworkTableView::isDeveloperMode()
{
    return QSettings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl")).value(QStringLiteral("UserMode")).toString() == QLatin1String("Developer");
}

void ZunNetworkTableView::createActions()
{
    if (!isDeveloperMode())
        return;
    auto make = [this](const QString& text, const char* shortcut, const QString& tip, void (ZunNetworkTableView::*slot)()) {
        auto* a = new QAction(text, this);
        a->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
        a->setStatusTip(tip);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    fwUpdateAct = make(tr("Update &Firmware ..."), "Ctrl+F", tr("Update firmware of selected devices."), &ZunNetworkTableView::fwUpdate);
    uploadSetupAct = make(tr("&Upload Setup ..."), "Ctrl+U", tr("Upload setup to selected devices."), &ZunNetworkTableView::uploadSetup);
    selectSetupAct = make(tr("&Recall Setup ..."), "Ctrl+S", tr("Recall setup on selected devices."), &ZunNetworkTableView::selectSetup);
    sendUdpCmdAct = make(tr("&Send UDP command ..."), "Ctrl+C", tr("Send Command to selected devices."), &ZunNetworkTableView::sendUdpCommand);
}

QList<QAction*> ZunNetworkTableView::actions_() const
{
    QList<QAction*> l;
    for (QAction* a : {fwUpdateAct, uploadSetupAct, selectSetupAct, sendUdpCmdAct})
        if (a)
            l << a;
    return l;
}

void ZunNetworkTableView::initContextMenu()
{
    if (!isDeveloperMode())
        return;
    addActions(actions_());
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void ZunNetworkTableView::mousePressEvent(QMouseEvent* e)
{
    // After the press has selected the row under the cursor: the menu acts on that row.
    QTableView::mousePressEvent(e);
    if (e->button() == Qt::RightButton)
        validateActions();
}

void ZunNetworkTableView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTableView::selectionChanged(selected, deselected);
    validateActions();
}

void ZunNetworkTableView::validateActions()
{
    if (!isDeveloperMode())
        return;
    const bool any = !selectedIndexes().isEmpty();
    for (QAction* a : actions_())
        a->setEnabled(any);
}

QList<quint32> ZunNetworkTableView::selectedSerials() const
{
    QList<quint32> serials;
    if (!model())
        return serials;
    const QModelIndexList sel = selectedIndexes();
    for (const QModelIndex& i : sel) {
        const quint32 s = model()->data(model()->index(i.row(), 0)).toUInt();
        if (!serials.contains(s))
            serials << s;
    }
    return serials;
}

void ZunNetworkTableView::fwUpdate()
{
    const QList<quint32> serials = selectedSerials();
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    UploadForm form(QStringLiteral("Zun Firmware (*.fwu)"), QStringList {QStringLiteral("fwu")},
                    settings.value(QStringLiteral("FirmwareDir")).toString(), nullptr);
    form.setWindowTitle(QStringLiteral("Update Firmware"));
    form.hidePositionSelector();
    form.setLabelText(QStringLiteral("Enter filename of firmware or select file with 'Browse', upload and follow log messages."));
    if (form.exec() != QDialog::Accepted)
        return;
    const QString file = form.getFilename();
    ZunSettingsWriter::store(QStringLiteral("FirmwareDir"), QFileInfo(file).dir().path());
    emit requestFwUpdate(serials, file);
}

void ZunNetworkTableView::uploadSetup()
{
    const QList<quint32> serials = selectedSerials();
    QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("ZunControl"));
    UploadForm form(QStringLiteral("Zun Setup (*.zun)"), QStringList {QStringLiteral("zun")},
                    settings.value(QStringLiteral("SetupDir")).toString(), nullptr);
    form.setWindowTitle(QStringLiteral("Upload Setup"));
    for (int i = 0; i < 10; ++i)
        form.addPosition(QStringLiteral("---                     "));
    if (form.exec() != QDialog::Accepted)
        return;
    const QString file = form.getFilename();
    emit requestSetupUpload(serials, file, form.getSelectedPosition());
    ZunSettingsWriter::store(QStringLiteral("SetupDir"), QFileInfo(file).dir().path());
}

void ZunNetworkTableView::selectSetup()
{
    const QList<quint32> serials = selectedSerials();
    SelectIntegerForm form(FirstRecallPosition, LastRecallPosition, nullptr);
    form.setWindowTitle(QStringLiteral("Recall Setup"));
    if (form.exec() != QDialog::Accepted)
        return;
    emit requestSelectSetup(serials, quint16(form.getSelectedPosition()));
}

QString ZunNetworkTableView::parseUdpCommand(const QString& text, QByteArray* datagram)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return QStringLiteral("Invalid UDP command");
    bool ok = false;
    const int cmd = parts[0].toInt(&ok, 10);
    if (!ok || cmd < 0 || cmd > 3400)
        return QStringLiteral("Invalid UDP command nr");
    const int value = parts[1].toInt(&ok, 10);
    if (!ok || value < 0 || value > 65535)
        return QStringLiteral("Invalid UDP command value");
    QByteArray d(6, '\0');
    d[0] = char(0x11);
    d[1] = char(0xFF);
    d[2] = char(cmd & 0xFF);
    d[3] = char(cmd >> 8);
    d[4] = char(value & 0xFF);
    d[5] = char(value >> 8);
    *datagram = d;
    return QString();
}

void ZunNetworkTableView::sendUdpCommand()
{
    const QList<quint32> serials = selectedSerials();
    bool ok = false;
    const QString text = QInputDialog::getText(this, tr("Send UDP command"), tr("Enter cmd and val with space between numbers"),
                                               QLineEdit::Normal, QStringLiteral("20 72"), &ok);
    if (!ok)
        return; // cancelled: nothing to complain about
    QByteArray datagram;
    const QString error = parseUdpCommand(text, &datagram);
    if (!error.isEmpty()) {
        QMessageBox::information(nullptr, tr(error.toUtf8().constData()), tr("Enter 2 numbers with space inbetween"));
        return;
    }
    emit requestSendUdpCommand(serials, datagram);
}
