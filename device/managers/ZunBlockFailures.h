#pragma once

#include "CZun.h"
#include "CZunCmd.h"
#include "ZunBaseComm.h"
#include "ZunWire.h"

#include <QByteArray>
#include <QMetaObject>

// Hands the link's failed block writes (refused, not sent or timed out) to the manager's
// slot on_BlockFailed(QByteArray), queued into the manager's thread. Filtered in the
// link's thread, so that no other reply wakes the manager.
template <typename Manager>
void forwardFailedBlockWrites(ZunBaseComm* link, Manager* manager)
{
    QObject::connect(
        link, &ZunBaseComm::signal_CmdProcessed, manager,
        [manager](CZunCmd cmd) {
            if (cmd.getCmd() == ZunWire::BlockWrite && (cmd.isError() || cmd.isNotSent() || cmd.isTimedOut()))
                QMetaObject::invokeMethod(manager, "on_BlockFailed", Qt::QueuedConnection,
                                          Q_ARG(QByteArray, cmd.getPayload()));
        },
        Qt::DirectConnection);
}

// A file or set that a lost link keeps from the processor (a folder load's, the wizard's) is
// named in the log and skipped: the loss has its one message already, no box for each file.
// True if skipped.
inline bool skippedWithoutLink(CZun* zun, const QString& fileName)
{
    if (zun->IsConnected())
        return false;
    emit zun->signal_LogMessage(
        QStringLiteral("%1 was not stored: the link to the processor was lost.").arg(fileName), true);
    return true;
}

// What a lost link kept from the processor is logged in the same way instead of a box of its
// own when the operator has been told already: an operation reports the loss in its own box
// (the wizard), the loss cut the operation in flight (its box is the link's), or an earlier
// step of an operation started without a link had the box. True if logged.
inline bool keptByReportedLoss(CZun* zun, const QString& name)
{
    if (zun->IsConnected())
        return false;
    return (zun->IsLinkLossReportedByOperation() || zun->GetLinkLosses().toldAlready())
        && skippedWithoutLink(zun, name);
}
