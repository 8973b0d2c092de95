#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file forms of a FIR/limiter set, each converted to and from the serialised
// filter image (CBlockFIR). docs/filters.md describes every form.
//
// Readers refuse anything malformed with a std::logic_error that names the file and
// the fault (CBlockFIR::invalid_filter for a coefficient count above the maximum); they
// never read past the end of a buffer and never extract anything to disk. Writers go
// through QSaveFile, so a failed write leaves no half-written file behind; they return
// false on failure.
class ZunFirFile
{
public:
    // Files larger than this are refused before they are read.
    static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;

    // Reads a file of any form and returns the serialised image it holds:
    // - "*.blk": the coefficient blocks; the parameter area comes from the ".fcs" file
    //   with the same base name in the same folder;
    // - a zip archive with one entry (the image) or with one ".blk" and one ".fcs" entry;
    // - an XML document whose root element is "zun-firdata";
    // - a raw image (starts with the signature "ZFIR").
    // notes: what was read otherwise than the file says, one phrase each (an XML name cut
    // to what the image keeps, an output without coefficients), for the log.
    static QByteArray readImage(const QString& fileName, QStringList* notes = nullptr);

    // XML form <-> image.
    static QByteArray imageFromXml(const QByteArray& xml, QStringList* notes = nullptr);
    static QByteArray xmlFromImage(const QByteArray& image);

    // Writes the bytes as the file's whole content, or leaves the file as it was. why: the
    // reason of a failure, as the system gives it ("No space left on device").
    static bool saveFile(const QString& path, const QByteArray& bytes, QString* why = nullptr);

    // Writers. entryName must be a plain file name (no folder part).
    static bool writeZip(const QString& path, const QString& entryName, const QByteArray& image,
                         QString* why = nullptr);
    static bool writeBlkZip(const QString& path, const QString& baseName, const QByteArray& image);
    static bool writeRaw(const QString& path, const QByteArray& image);
    // Writes path (".blk", the coefficient blocks) and its ".fcs" companion.
    static bool writeBlk(const QString& blkPath, const QByteArray& image);
    static bool writeXml(const QString& path, const QByteArray& image);

    // True when name is usable as an archive entry or file name of its own: not empty,
    // no folder separators, no drive letter, not "." or "..".
    static bool isSafeEntryName(const QString& name);
    // A name for a file written from a set or setup name: every character unsafe in a file
    // name blanked, and no leading dot or blank (a name starting with "." would be a hidden
    // file, which no folder load takes). May be empty.
    static QString plainFileName(const QString& name);
    // The ".fcs" companion of a ".blk" file.
    static QString companionOf(const QString& blkPath);
};
