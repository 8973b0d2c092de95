#pragma once

#include "CFIRLimManagerInterface.h"
#include "FilterLimiterEWS.h"
#include "ZunC.h"
#include "ZunStoreTries.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QStringList>

#include <atomic>
#include <functional>

class CCmdMap;
class CZun;
class CZunParam;
class QStandardItemModel;

// The FIR/limiter sets stored in the device's flash: a list of them, a one-column model
// for the views (row n = set n; display = name, user role = id, tool tip = information
// text), a cache of each stored set as a ".fir" file in the device folder, uploads,
// downloads and removals, and the set active on each DSP (a private copy).
//
// Lives in a worker thread of its device object; every slot runs there. The model lives
// in the thread that built the manager (the GUI thread) and is changed only there: the
// manager posts each change to it, in the order of the list changes.
//
// Each flash transfer holds one extra level of the recursive list mutex from its start to
// its completion signal. A connection that ends releases the levels of the transfers that
// can no longer complete.
//
// Over 600 lines: list, model, transfers and activation all hold the one list mutex described above.
class CZunFIRLimManager : public QObject, public CFIRLimManagerInterface
{
    Q_OBJECT
public:
    explicit CZunFIRLimManager(CZun* zun);
    ~CZunFIRLimManager() override;

    // Limiter parameter ranges of the limiter table's editors (program-wide).
    static const CZunParam& LimGainRange();
    static const CZunParam& LimPowerRangeW();
    static const CZunParam& LimVoltageRange();
    static const CZunParam& LimLevelRangeDb();
    static const CZunParam& LimSurgeDurationRange();
    static const CZunParam& LimRmsTimeRange();
    static const CZunParam& LimImpedanceRange();

    QStandardItemModel* GetFirModel() const { return m_model; }
    // The pause between a DSP program's activation and the load of its sets (50 ms); tools
    // without a processor set 0.
    void setBootPauseMs(int ms) { m_bootPauseMs.store(ms); }
    QShPtrFLE GetFIRFilter(uint id) const;
    int GetFIRFilterPos(uint id) const;
    QShPtrFLE GetFIRFilterCopy(uint id) const;
    bool IsInList(const QShPtrFLE& set) const;
    bool IsInList(const QString& name) const override;
    QShPtrFLE CreateThruFIRFilter(double sampleRate, int multipathMode);
    int filterCount() const;

    // The listed set active on a DSP (1 = DSP 0, 2 = DSP 1; 0 reads DSP 0), not a copy.
    QShPtrFLE GetActiveFIRFilter(uint dsp) const;
    int GetActiveFIRFilterPos(uint dsp) const;
    int GetActiveFIRFilterRow(uint dsp) const { return GetActiveFIRFilterPos(dsp); }
    // The private copies the limiter table edits (in the GUI thread only: the manager's
    // thread never reads or writes them).
    QShPtrFLE activeSet(int dsp) const;
    // Stores the limiter edits of the active sets (the limiter tab's Submit). Called in
    // the thread that edits them: they are copied here and the copies are stored and
    // activated in the manager's thread, so an edit made meanwhile stays on the active
    // set, pending for the next submit. False when the work could not be queued.
    bool SubmitLimiter();
    void SetFirFiltersLinked(bool linked);
    bool FirFiltersLinked() const { return m_linked.load(); }

    // An activation was asked (counted at once, in the asking thread, until it has sent its
    // sets) or its answer is awaited: until then the image's set words may name the sets of
    // before, or the first word of a pair alone.
    void activationAsked() { ++m_activationsAsked; }
    void activationNotAsked() { decrement(m_activationsAsked); }
    bool activationInFlight() const { return m_activationsAsked.load() + m_loadsAwaited.load() > 0; }

    // Flash entries of the FIR/limiter list whose bytes are no set (a store that took
    // another client's transfer buffer): each id with its list slot. They are offered for
    // removal, and a garbage collection leaves them out.
    QMap<quint32, int> unreadableEntries() const;
    bool isUnreadableEntry(quint32 id) const;

    // Waiting hooks for tests: the transfers counted now.
    quint32 pendingDownloads() const { return m_pendingDownloads.load(); }
    quint32 pendingUploads() const { return m_pendingUploads.load() + m_resendsDue.load(); }
    // Stores the processor answered that no directory has listed yet (any thread): until
    // then a store may still be sent again.
    int unsettledStores() const { return m_unsettled.load(); }

public slots:
    void initialize();
    void UploadFIRFilter(QShPtrFLE set, unsigned int oldId);
    void UploadFIRFilter(QShPtrFLE set);
    // A store the program starts of its own (the pass-through set of an empty flash): a
    // disconnect asked meanwhile ends it quietly, and the next connection stores it again.
    void UploadOwnFIRFilter(QShPtrFLE set);
    void UploadFIRFilter(QString file, unsigned int oldId);
    void UploadFIRFilter(QString file);
    void AddFIRFilterToList(QShPtrFLE set);
    void RemoveFIRFilter(unsigned int id);
    void on_FIRDownloaded(int position, QByteArray data);
    void on_FIRUploaded(bool ok);
    void on_StoreRefused(quint16 kind, quint16 code);
    void on_FIRFilterRemoved(unsigned int id);
    void on_ZunStatusChanged();
    void UpdateFirModel(QMap<quint32, QStringList> setupsByFir);
    // Each set into the folder; failed as for the setup manager's.
    void allToFile(QString folder, QStringList* failed = nullptr);
    void fromDir(QString folder);
    // Puts back the sets of a garbage collection's backup (the files named, which the
    // collection has checked): a set that can not be stored does not stop the others.
    // Returns "file: reason" of each one not sent.
    QStringList restoreDir(QString folder, QStringList files);
    bool upDownLoadsInProgress() const;

    void ActivateFIRFilter(ulong id, quint16 dsp);
    void ActivateFIRFilter(quint32 id0, ZunC::CopyFIRCoeffsMode mode0, quint32 id1, ZunC::CopyFIRCoeffsMode mode1);
    void on_FIRFilterSelect(bool ok, int dsp, uint id);
    // A command the link dropped before sending it (the processor refused an earlier
    // block, and the queue behind it was emptied): a load dropped so ends the wait for its
    // answer, and the DSP's words name again the set it runs.
    void on_Unanswered(quint16 cmd, quint16 value, bool wentOut);
    // Stores the modified ones of the given copies of the active sets (the same object
    // twice when the DSPs share one) and activates what the DSPs then run.
    void UpdateLimiter(QShPtrFLE set0, QShPtrFLE set1);
    // The connection ended: transfers in flight will not complete.
    void on_Disconnected();
    // A block write failed on the link (refused chunk, or dropped): when it carried the
    // oldest upload in flight, that upload failed and nothing else of it will come.
    void on_BlockFailed(QByteArray payload);

signals:
    void signal_Initialized();
    void signal_MapFIRFilterRefreshed();
    void signal_FIRFilterChanged(int dsp, QShPtrFLE set, int row);
    void signal_FIRFilterRemoved(uint id);
    void signal_FirFiltersLinked(bool linked);
    // An activation of sets (both DSPs' form of ActivateFIRFilter) ended without sending a
    // set to a DSP: no signal_FIRFilterSelect of the image will answer it.
    void signal_ActivationUnanswered();
    // An activation sent a set to a DSP: its answer comes with the image, unless the link
    // is lost before.
    void signal_ActivationSent();

private:
    // Throwing forms of the slots; the slots report a failure to the device's
    // signal_exception instead (an exception must not leave a worker thread's loop).
    void uploadSet(const QShPtrFLE& set, quint32 oldId);
    void removeSet(quint32 id);
    void importDir(const QString& folder);
    // True when a set was sent to a DSP (its answer will come).
    bool activate(quint32 id0, int mode0, quint32 id1, int mode1);
    bool loadSet(quint32 key, quint16 dsp);
    void updateLimiter(const QShPtrFLE& a0, const QShPtrFLE& a1);
    void guarded(const std::function<void()>& work);
    // Runs an activation, or, when one runs already (its waits run this thread's events),
    // keeps it to run after that one ends: activations reach the DSPs in the order asked.
    void oneActivationAtATime(std::function<void()> activation);

    void refreshActive();
    // Asks for the entry in a slot of the list (the transfer counted and held by the caller).
    bool sendDownload(int slot);
    // Each stored set that the directory now read does not list is sent again (twice at
    // most), then named to the operator.
    void verifyStores();
    // Sends set again after the tries' pause, counted as an upload on its way meanwhile; a
    // resend whose link has ended meanwhile is dropped.
    void resendLater(const QShPtrFLE& set);
    std::atomic<quint32> m_resendsDue{0};
    std::atomic<int> m_unsettled{0}; // m_unverified's size, for other threads
    int m_links = 0;                 // links ended (manager's thread only)
    void removeFromList(int row, bool deleteFile);
    void postModel(const std::function<void(QStandardItemModel*)>& change);
    void holdTransfer();
    // Waits until no set is on its way to or from the flash; throws when that never comes,
    // false when the link was lost meanwhile.
    bool waitForTransfers();
    // Forgets every transfer in flight: counters to 0, held mutex levels released.
    void abandonTransfers();
    void releaseTransfer();
    static void decrement(std::atomic<quint32>& counter);
    QString cacheFolder() const;
    void cacheSet(const QShPtrFLE& set) const;
    QString cacheFile(const QShPtrFLE& set) const;
    quint16 nr(const char* name) const;
    QStringList setupsUsing(quint32 id) const;

    CZun* m_zun;
    QSharedPointer<CCmdMap> m_map;
    QList<QShPtrFLE> m_sets;
    QShPtrFLE m_active[2];
    QStandardItemModel* m_model = nullptr;
    std::atomic<int> m_bootPauseMs{50};
    std::atomic<quint32> m_pendingDownloads{0};
    std::atomic<quint32> m_pendingUploads{0};
    std::atomic<quint32> m_activationsAsked{0};
    std::atomic<quint32> m_loadsAwaited{0};
    // Manager thread only: the set each DSP runs by the loads answered (taken from its words
    // when no load is awaited), the set last sent to it and on which link (counted by the
    // links ended, and by the link's own connections), and the DSPs whose load was dropped
    // before it went, told once no load is awaited any more.
    quint32 m_runs[2] = {0, 0};
    quint32 m_sent[2] = {0, 0};
    quint64 m_sentOnLink[2] = {0, 0};
    quint64 m_sentOnConnection[2] = {0, 0};
    quint64 m_linkEnds = 0;
    QList<int> m_droppedLoads;
    // The list mutex: serialises list changes with the transfers (held across each).
    mutable QRecursiveMutex m_mutex;
    // Guards the list, the active sets and the setup map for readers in any thread, held
    // only for a moment: a reader never waits for a transfer.
    mutable QMutex m_dataLock;
    std::atomic<bool> m_linked{false};
    // Levels of the list mutex held for transfers in flight (manager thread only).
    int m_heldLevels = 0;
    // Ids of the uploads in flight, oldest first: a refused upload takes its set back.
    QList<quint32> m_uploading;
    QList<QByteArray> m_uploadingImages;
    // Ids of the removals in flight, oldest first.
    QList<quint32> m_removing;
    // Sets the processor took (its store answered) that no directory has listed yet, and
    // how often each was sent again; reads of a slot that brought what was not asked for.
    QMap<quint32, QShPtrFLE> m_unverified;
    QHash<quint32, quint64> m_answeredAt; // the processor's store answers counted with its own
    ZunStoreTries<quint32> m_storeTries;
    QHash<int, int> m_rereads;
    quint16 m_refusal = 0; // the code of the store refusal whose upload signal comes next
    // Whether a refusal code says the processor's transfer buffer did not hold what was
    // sent (another client's bytes, or none), as against a full flash.
    QMap<quint32, int> m_unreadable; // under m_dataLock
    // An activation is running (manager thread only), and those asked meanwhile.
    bool m_activating = false;
    QList<std::function<void()>> m_laterActivations;
    // Setup names by the set id they use, as the setup manager last reported them.
    QMap<quint32, QStringList> m_setupsByFir;
};
