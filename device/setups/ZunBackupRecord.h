#pragma once

#include <QList>
#include <QString>

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

    struct Entry
    {
        QString file;
        int position = -1; // a setup's position; -1 for a FIR/limiter set
        quint32 id = 0;    // as the flash directory lists it
    };

    ZunBackupRecord() = default;
    ZunBackupRecord(int processor, const QList<Entry>& entries) : m_processor(processor), m_entries(entries) {}

    // Reads the record of folder; error() says why there is none to trust.
    static ZunBackupRecord read(const QString& folder);
    // Writes it into folder; false (and why in *error) when it could not be written whole.
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
