#pragma once

#include <QList>
#include <QMap>
#include <QString>

class CZun;

// The record a garbage collection keeps in its backup folder: the processor it was taken
// from and each file it wrote, with the id its FIR/limiter set or setup has in the flash.
// A restore reads back only what the record names, as it named it: a file added to the
// folder, edited, or a folder of another processor is refused (the files themselves are
// checked as any configuration folder is, by ZunConfigFolder).
class ZunBackupRecord
{
public:
    // Its file in the backup folder; a configuration load of the folder passes over it.
    static const char* const FileName;
    // No record is larger: a file that is, is no record.
    static constexpr qint64 MaxBytes = 1 << 20;

    struct Entry
    {
        QString file;
        int position = -1; // a setup's position; -1 for a FIR/limiter set
        quint32 id = 0;    // as the flash directory lists it
        bool operator==(const Entry& o) const { return file == o.file && position == o.position && id == o.id; }
    };

    ZunBackupRecord() = default;
    ZunBackupRecord(int processor, const QList<Entry>& entries) : m_processor(processor), m_entries(entries) {}

    // The record of folder as a collection writes it for device: each FIR/limiter set
    // (*.fir) and setup (Set*.zun) file that passes the checks of a configuration folder,
    // with the id the flash lists it by. *unfit gets each file the checks refuse, with why.
    // Also what a folder written without a record (by an earlier version) is tried as.
    static ZunBackupRecord ofFolder(CZun* device, const QString& folder, QMap<QString, QString>* unfit);
    // Whether folder holds a record at all (a folder without one is an earlier version's).
    static bool isIn(const QString& folder);
    // Reads the record of folder; refusal() says why there is none to trust. A record
    // with a value outside its range, or that lists no file, is refused whole.
    static ZunBackupRecord read(const QString& folder);
    // Writes it into folder, flushed; false (and why in *error) when it could not be
    // written whole.
    bool write(const QString& folder, QString* error) const;

    int processor() const { return m_processor; }
    const QList<Entry>& entries() const { return m_entries; }
    // The entry of file, or null.
    const Entry* entry(const QString& file) const;
    // Why the record can not be trusted for the processor with that number; empty when it can.
    QString refusal(int processor) const;

private:
    int m_processor = -1;
    QList<Entry> m_entries;
    QString m_error;
};
