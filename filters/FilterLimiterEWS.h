#pragma once

#include "CBlockFIR.h"
#include "CFIRLimManagerInterface.h"
#include "CZunAbstractFrequencyResponse.h"

#include <QByteArray>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

// One FIR filter set with its limiter settings, as the processor's flash, the ".fir"
// files and the setup archives hold it. Its name is the response's user name; the key
// (its id on the device) is the checksum of its serialised image.
class FilterLimiterEWS : public CZunAbstractFrequencyResponse, public CBlockFIR
{
    Q_OBJECT
public:
    // Reads a set from a file of any form (ZunFirFile::readImage). An empty file name
    // gives the pass-through set. A sample rate of 0.0 keeps the rate stored in the
    // file; another rate is used only for a file that stores none (0).
    FilterLimiterEWS(CFIRLimManagerInterface* manager, const QString& fileName, double sampleRate);
    explicit FilterLimiterEWS(const QString& fileName, double sampleRate, QObject* parent = nullptr);
    // The set whose serialised image data is.
    FilterLimiterEWS(CFIRLimManagerInterface* manager, const QByteArray& data);

    CFIRLimManagerInterface* manager() const { return m_manager; }
    void setManager(CFIRLimManagerInterface* manager) { m_manager = manager; }

    QByteArray toByteArray() const;

    quint32 getKey() const { return m_key; }
    // Recomputes the key from the current image and clears the limiter-modified flag.
    quint32 computeKey();

    // The name trimmed, with "___" and the key in hexadecimal when withKey, every
    // character outside A-Z a-z 0-9 , ^ & ' @ { } [ ] $ = ! - # ( ) % . + ~ _ replaced
    // by a blank, then ".fir". Never contains a folder separator.
    QString makeFileName(bool withKey = false) const;
    // Counts a trailing number up until no set of the manager's list has the name.
    void makeUniqueName();
    // Turns the set into the pass-through set of a multipath mode, named
    // "Thru " + label + number. The caller recomputes the key.
    void multipathLabel(int mode, int number);

    quint16 outputEntryWord0(int output) const;
    quint16 maxOutputEntryWord0() const;

    // For a set read from a file: what was read otherwise than the file says (a name cut
    // to what the image keeps, outputs without coefficients), naming the file, for the
    // log; empty when nothing was.
    QString readNote() const { return m_readNote; }

    QString getInfoHtml(const QStringList& setups);
    QString infoHtml() const { return m_infoHtml; }

    bool limiterFlagsSet() const;
    bool isOwnLimiterPath(int output) const;
    quint8 pathFlag(int output) const;

    // ".fir" zip with one entry: into folder under makeFileName(withKey), or to path.
    void toFile(const QString& folder, bool withKey) const;
    void toFile(const QString& path) const;
    void exportXml(const QString& path) const;

    static const char* const DefaultName;

private:
    void init(const QString& fileName, double sampleRate);

    CFIRLimManagerInterface* m_manager = nullptr;
    quint32 m_key = 0;
    QString m_infoHtml;
    QString m_readNote;
};

typedef QSharedPointer<FilterLimiterEWS> QShPtrFLE;
Q_DECLARE_METATYPE(QShPtrFLE)
