#pragma once

#include "ZunDSPProgramInfo.h"
#include "ZunStoreTries.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>

class CCmdMap;
class CZun;

// The DSP programs of one device: the list of programs in the flash or on their way
// there, the upload of a program image (once per program) and the activation of a
// program on each DSP. Lives in a worker thread of its device object; the device's
// signal_UploadDSPProgram and signal_ActivateDSPProgram reach it blocking, so the
// emitter waits until the commands are sent (not until they are answered).
//
// An upload holds one level of the recursive transfer lock from its sending to its
// completion; the list has a lock of its own, only ever held briefly, so that no other
// thread waits for an upload to read it. The command map and the upload records belong to
// the manager's thread: the device object has the list rebuilt there (initialize).
// A refused upload is taken off the list again, so the next request tries once more.
class ZunDSPProgramManager : public QObject
{
    Q_OBJECT
public:
    explicit ZunDSPProgramManager(CZun* zun);
    ~ZunDSPProgramManager() override;

    QList<ZunDSPProgramInfo> programs() const;
    int pendingUploads() const;
    // Whether the DSPs run these programs now (the second DSP only on a double board):
    // then activating them boots nothing. Any thread.
    bool isRunning(quint16 id0, quint16 id1) const;

public slots:
    void initialize();
    void UploadDSPProgram(quint16 id);
    void UploadDSPProgram(ZunDSPProgramInfo program);
    void ActivateDSPProgram(quint16 id0, quint16 id1);
    void on_DSPProgUploaded(bool ok);
    // The connection ended: uploads in flight will not complete.
    void on_Disconnected();
    // A block write failed on the link: when it carried the oldest upload in flight,
    // that upload failed.
    void on_BlockFailed(QByteArray payload);

signals:
    void signal_ListDSPProgramsRefreshed();

private:
    // spoiled: list slots whose entries a store of it left spoiled, removed before it is
    // sent again.
    void upload(const ZunDSPProgramInfo& program, const QList<int>& spoiled = {});
    // Each stored program that the directory now read does not list, or lists only in an
    // entry that spans less flash than the bytes sent, is sent again (twice at most), then
    // named to the operator. One whose entry is the last (its span not known yet) waits for
    // a later directory.
    void verifyStores();
    void activate(quint16 id0, quint16 id1);
    void report(const std::exception& e);
    void release();
    quint16 nr(const char* name) const;

    CZun* m_zun;
    QSharedPointer<CCmdMap> m_map;
    QList<ZunDSPProgramInfo> m_programs;
    int m_pendingUploads = 0;
    mutable QRecursiveMutex m_lock;         // the list and the count, held briefly
    QRecursiveMutex m_transferLock;         // held from an upload's sending to its completion
    // Manager thread only: levels held for uploads in flight, and their program ids.
    int m_heldLevels = 0;
    QList<quint16> m_uploading;
    QList<QByteArray> m_uploadingImages;
    // Stores the processor answered that no directory has confirmed yet: the bytes sent,
    // and its store answers counted with this one.
    struct Unverified
    {
        quint32 length = 0;
        quint64 answeredAt = 0;
    };
    QHash<quint16, Unverified> m_unverified;
    ZunStoreTries<quint16> m_storeTries;
};
