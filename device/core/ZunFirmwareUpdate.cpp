#include "ZunFirmwareUpdate.h"

#include "CMemoryManager.h"
#include "CZun.h"
#include "CZunStatusBuffer.h"
#include "ZunBaseComm.h"
#include "ZunOperations.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

ZunFirmwareUpdate::ZunFirmwareUpdate(CZun* zun) : QObject(zun), m_zun(zun)
{
    m_finish.setSingleShot(true);
    connect(&m_finish, &QTimer::timeout, this, &ZunFirmwareUpdate::finishNow);
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_FirmwareCheckFinished, this, &ZunFirmwareUpdate::onCheck,
            Qt::QueuedConnection);
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_FirmwareCheckUnanswered, this,
            &ZunFirmwareUpdate::onCheckUnanswered, Qt::QueuedConnection);
    // Each piece copied into the flash is on record: a kill after the first leaves the
    // firmware area erased and part-written.
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_MemCopyFinished, this,
            [this]() {
                int written = 0;
                {
                    QMutexLocker locker(&m_mutex);
                    if (!m_operation || !m_operation->isRunning())
                        return;
                    written = ++m_written;
                }
                m_zun->GetOperations()->note(ZunLongOperation::Firmware, QStringLiteral("written"), written);
            },
            Qt::QueuedConnection);
    connect(zun->GetStatusBuffer(), &CZunStatusBuffer::signal_FirmwareBlockRefused, this,
            [this](QString reason) {
                // The rest of the update is dropped with it: its check gets no answer.
                finish(ZunOperation::Outcome::Refused,
                       tr("The processor refused a block of the firmware file %1 (%2): the update was stopped before "
                          "the processor checked the file. Update again.")
                           .arg(QDir::toNativeSeparators(m_file), reason));
            },
            Qt::QueuedConnection);
}

void ZunFirmwareUpdate::start(const QString& file)
{
    const QFileInfo info(file);
    const QString name = QDir::toNativeSeparators(file);
    QString refusal;
    // Refused before the keep-alive goes off: a processor must not be left without its
    // keep-alive for an update that never starts.
    if (!info.isFile() || !info.isReadable())
        refusal = tr("The firmware file %1 was not found or can not be read. Nothing was sent.").arg(name);
    else if (info.size() == 0)
        refusal = tr("The firmware file %1 is empty. Nothing was sent.").arg(name);
    else if (quint64(info.size()) > m_zun->GetLink()->maxFirmwareSize())
        refusal = tr("The firmware file %1 has %2 bytes, more than a firmware of this processor can have (%3 bytes). "
                     "Nothing was sent.")
                      .arg(name)
                      .arg(info.size())
                      .arg(m_zun->GetLink()->maxFirmwareSize());
    // One long operation at a time, whoever starts the update (a control window or the list).
    QSharedPointer<ZunOperation> operation;
    QString running;
    if (refusal.isEmpty()) {
        operation = m_zun->GetOperations()->beginAlone(ZunLongOperation::Firmware,
                                                       ZunOperation::LossReport | ZunOperation::KeepAlive, &running);
        if (!operation)
            refusal = tr("Zun nr %1 is running %2: the firmware update with %3 was not started, and nothing was sent. "
                         "Try again once that has ended.")
                          .arg(m_zun->GetNr())
                          .arg(running, name);
    }
    if (operation) {
        {
            QMutexLocker locker(&m_mutex);
            m_operation = operation;
            m_file = file;
            m_written = 0;
        }
        const qint64 pieces = (info.size() + ZunBaseComm::FirmwarePieceBytes - 1) / ZunBaseComm::FirmwarePieceBytes;
        m_zun->GetOperations()->note(ZunLongOperation::Firmware, QStringLiteral("pieces"), pieces);
        m_zun->setKeepAlive(false);
        m_zun->m_firmwareUpdating = true;
        try {
            m_zun->GetLink()->uploadFirmware(file);
            return;
        } catch (const std::exception& e) {
            refusal = QString::fromStdString(e.what());
        }
        finish(ZunOperation::Outcome::Refused, refusal);
    } else {
        emit signal_Finished(int(ZunOperation::Outcome::Refused), refusal);
    }
    throw std::logic_error(refusal.toStdString());
}

bool ZunFirmwareUpdate::isRunning() const
{
    QMutexLocker locker(&m_mutex);
    return m_operation && m_operation->isRunning();
}

bool ZunFirmwareUpdate::endByAnnouncement()
{
    if (!isRunning())
        return false;
    finish(ZunOperation::Outcome::Done, QString());
    return true;
}

bool ZunFirmwareUpdate::finishNow()
{
    if (!isRunning())
        return false;
    finish(ZunOperation::Outcome::Done, doneText());
    return true;
}

QString ZunFirmwareUpdate::doneText()
{
    return tr("The firmware was updated and the processor restarted. The program reconnects to it.");
}

void ZunFirmwareUpdate::onCheck(bool ok)
{
    if (!isRunning())
        return;
    if (!ok) {
        finish(ZunOperation::Outcome::Refused,
               tr("The processor refused the firmware file %1: it failed the processor's check. Nothing was changed; "
                  "the processor keeps its firmware.")
                   .arg(QDir::toNativeSeparators(m_file)));
        return;
    }
    int delay = m_zun->GetMemoryManager()->flashSize() < 0x200000 ? 45000 : 60000;
    if (m_delayOverride >= 0)
        delay = m_delayOverride;
    m_finish.start(delay);
}

void ZunFirmwareUpdate::onCheckUnanswered()
{
    if (!isRunning())
        return;
    // Not the file's fault: the check never got its answer. Only a link that went down is
    // blamed for it.
    const QString file = QDir::toNativeSeparators(m_file);
    if (m_zun->IsConnected())
        finish(ZunOperation::Outcome::TimedOut,
               tr("The processor did not answer its check of the firmware file %1, though the link to it stayed up. "
                  "It may still run its old firmware: look at its firmware version, and update again if it is the "
                  "old one.")
                   .arg(file));
    else
        finish(ZunOperation::Outcome::LinkLost,
               tr("The firmware update was cut by the link to the processor before the processor confirmed its check "
                  "of %1. It may still run its old firmware: reconnect, look at its firmware version, and update "
                  "again if it is the old one.")
                   .arg(file));
}

void ZunFirmwareUpdate::finish(ZunOperation::Outcome outcome, const QString& text)
{
    QSharedPointer<ZunOperation> operation;
    {
        QMutexLocker locker(&m_mutex);
        operation = m_operation;
    }
    if (!operation || !operation->isRunning())
        return;
    QMetaObject::invokeMethod(&m_finish, "stop", Qt::AutoConnection);
    // The flag that keeps the update's own erase from counting as a factory reset.
    if (outcome != ZunOperation::Outcome::Done)
        m_zun->m_firmwareUpdating = false;
    operation->finish(outcome);
    emit signal_Finished(int(outcome), text);
}
