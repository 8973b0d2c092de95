#pragma once

#include "FilterLimiterEWS.h"
#include "ZunStoreTries.h"

#include <QHash>
#include <QSet>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QStringList>

#include <atomic>
#include <functional>

class CCmdMap;
class CZunMetaCmd;
class CZun;
class QStandardItemModel;
class ZunSetup;

// The setups stored in the device's flash, one entry per setup-list position. Lives in a
// worker thread of its device object; the model lives in the device object's (GUI)
// thread and is updated there. A recursive transfer lock is held from the start of every
// flash transfer to its completion, so that GetSetup (called from worker threads) waits
// for outstanding transfers while the manager's own slots go on. That wait has a time
// limit: a completion that never comes (a lost reply) must not freeze the caller; the
// device object's (GUI) thread never waits and reads the list as it is. A lost link gives
// back every hold and count its transfers took. The list itself has a lock of its own,
// taken for every change of an entry and only ever held briefly.
//
// The manager owns every setup it lists (also the ones handed to UploadSetup) and deletes
// them only when it is destroyed, so a pointer from GetSetup stays valid.
// Slots report their failures through the device's signal_exception; they never throw.
class CZunSetupManager : public QObject
{
    Q_OBJECT
public:
    // How long a reader from another thread waits for an outstanding transfer.
    static constexpr int TransferWaitMs = 5000;

    explicit CZunSetupManager(CZun* zun);
    ~CZunSetupManager() override;

    static const char* const EmptyRowText;

    QStandardItemModel* GetModel() const { return m_model; }
    QStandardItemModel* setupModel() const { return m_model; }
    // Null for 0xCDEF, 255 and 254 and for an empty position; std::logic_error for a
    // position outside the list.
    ZunSetup* GetSetup(int position) const;
    QStringList GetSetupsUsingFir(quint32 id) const;
    bool IsFirUsed(quint32 id) const;
    bool IsFirUsed(QShPtrFLE set) const;
    // Store the processor's current parameters at position under name / recall the setup
    // at position. Called in the caller's thread; throw std::logic_error.
    void StoreSetup(const quint16& position, QString name);
    void SelectSetup(const quint16& position);

    int pendingUploads() const { return m_pendingUploads.load(); }
    // Stores the processor answered that no directory has listed yet (any thread): until
    // then a store may still be sent again.
    int unsettledStores() const { return m_unsettled.load(); }
    int pendingDownloads() const { return m_pendingDownloads.load(); }
    int listSize() const;

public slots:
    void initialize();
    void UploadSetup(QString fileName, int position);
    void UploadSetup(ZunSetup* setup, int position);
    void RemoveSetup(int position);
    void AddSetupToList(int position, ZunSetup* setup);
    void on_SetupSelect(bool ok, int position);
    void on_SetupDownloaded(int position, QByteArray data);
    void on_SetupUploaded(bool ok, int position);
    void on_StoreRefused(quint16 kind, quint16 code);
    // A setup's block the processor refused (or the link did not send): its store never
    // comes, so the upload ends here.
    void on_BlockFailed(QByteArray payload);
    void on_SetupRemoved(int position);
    void on_SetupModified();
    // A lost link answers none of the transfers in flight.
    void on_Disconnected();
    // Each setup into the folder. With failed, the failure of each that could not be
    // written (naming the file and why), and the others are written; without, the first
    // failure is told.
    void allToFile(QString folder, QStringList* failed = nullptr);
    void fromDir(QString folder);
    // The garbage collection's restore of the files named of its backup folder (see the
    // .cpp); returns "file: reason" of each setup not sent.
    QStringList restoreDir(QString folder, QStringList files);

signals:
    void signal_SetupChanged(int position, QString name);
    void signal_SetupRemoved(int position);
    void signal_MapFirSetupsRefreshed(QMap<quint32, QStringList> setupsByFir);

private:
    enum HoldKind { Upload = 1, Download = 2, Removal = 3 };

    quint16 nr(const char* name) const;
    void guarded(const std::function<void()>& work);
    // fromFile: an archive the operator brought (see SelectSetup).
    void uploadSetup(ZunSetup* setup, int position, bool fromFile = false);
    void removeSetup(int position);
    void addToList(int position, ZunSetup* setup, bool refreshFirMap = true);
    void adopt(ZunSetup* setup);
    // The setup's copy in the device folder, when there is one.
    void cacheSetup(ZunSetup* setup, int position);
    void checkPosition(int position) const;
    void takeHold(HoldKind kind, int position);
    bool tryTakeHold(HoldKind kind, int position);
    bool releaseHold(HoldKind kind, int position);
    // Sends meta for a transfer that holds (kind, position); a group the link refuses (no
    // connection) gives the hold back and throws.
    void sendHeld(const CZunMetaCmd& meta, HoldKind kind, int position);
    void emitFirMap();
    // The name of the active setup as listed, empty when none is listed there.
    QString activeSetupName() const;
    // Model updates, carried out in the model's thread in the order they were made.
    void modelReset(int rows);
    void modelRow(int row, const QString& text, const QVariant& id, bool icon);
    void modelIcon(int row, bool icon, bool all = false);

    CZun* m_zun;
    QSharedPointer<CCmdMap> m_map;
    QList<QPointer<ZunSetup>> m_setups;
    QStandardItemModel* m_model;
    std::atomic<int> m_pendingDownloads{0};
    std::atomic<int> m_pendingUploads{0};
    mutable QRecursiveMutex* m_lock;          // the list, held briefly
    mutable QRecursiveMutex* m_transferLock;  // held from a transfer's start to its completion
    QList<ZunSetup*> m_owned;
    // The ids (image checksums) of the setups uploaded from archives the operator brought
    // from files (Upload Setup, a configuration folder), as against those the processor
    // stored itself: the sample-rate rule of the recall holds for these.
    QSet<quint32> m_archives;
    QHash<int, int> m_holds; // (kind << 16 | position) -> holds taken and not released
    // An upload in flight: its position, the block sent and the setup's name (its row may
    // show another setup meanwhile, a directory read having listed what the flash holds).
    struct UploadInFlight
    {
        int position;
        QByteArray block;
        QString name;
    };
    QList<UploadInFlight> m_uploadBlocks;
    QHash<int, QPointer<ZunSetup>> m_listedBefore; // uploads in flight: what their row showed
    // Positions removed whose deletion the processor has not yet confirmed nor the directory
    // shown: a download of one, asked before the removal, answers with the removed setup.
    // The manager's thread only.
    QSet<int> m_removing;
    // Stores the processor answered that no directory has listed yet (position -> the
    // setup and the checksum of the image sent), how often each was sent again, and the
    // reads of a position that brought what was not asked for (manager's thread only).
    struct Unverified
    {
        QPointer<ZunSetup> setup;
        quint32 id = 0;
        quint64 answeredAt = 0; // the processor's store answers counted with its own
    };
    QHash<int, Unverified> m_unverified;
    ZunStoreTries<int> m_storeTries;
    QHash<int, int> m_rereads;
    quint16 m_refusal = 0; // the code of the store refusal whose upload signal comes next
    // The stores of the directory now read that it does not list; positions to send again.
    QList<int> verifyStores();
    // Sends setup to position again after the tries' pause, counted as an upload on its
    // way meanwhile; before: what the row showed before the first try. A resend whose link
    // has ended meanwhile is dropped.
    void resendLater(int position, QPointer<ZunSetup> setup, bool fromFile, QPointer<ZunSetup> before);
    std::atomic<int> m_unsettled{0}; // m_unverified's size, for other threads
    int m_links = 0;                 // links ended (manager's thread only)
    bool sendDownload(int position);
};
