#pragma once

#include "CZunStatusBuffer.h"
#include "FilterLimiterEWS.h"

#include <QStringList>

class CZun;

// A stored setup: a parameter image with a name. Built from the raw image a processor
// sends (converted into the layout of its device's firmware), from a setup archive
// (".zun": the image and the FIR/limiter sets it uses) or from an older raw image file;
// written back as a setup archive.
class ZunSetup : public CZunStatusBuffer
{
    Q_OBJECT
public:
    // Raw image sizes: the current one and the two of older firmware (which lack the
    // first two or three words).
    static constexpr int OldImageBytes1 = 3396;
    static constexpr int OldImageBytes2 = 3394;
    // Largest FIR/limiter set entry an archive may declare.
    static constexpr qint64 MaxFirEntryBytes = CBlockFIR::MaxImageSize;

    ZunSetup() = default;
    // The image as it is, without conversion.
    explicit ZunSetup(const QByteArray& image) : CZunStatusBuffer(image) {}
    // The device's command map, firmware and FIR/limiter manager are used; device may be
    // null (then the image is converted for firmware 1080 and no FIR set is uploaded).
    ZunSetup(CZun* device, const QByteArray& image);
    ZunSetup(CZun* device, const QString& fileName);
    ~ZunSetup() override;

    CZun* device() const { return m_device; }
    // The checksum of the raw image this was read from, before any conversion: the id a
    // flash lists it under (a setup stored under older firmware is converted when read).
    quint32 storedId() const { return m_storedId; }

    // A raw image of 3,400, 3,396 or 3,394 bytes, converted from its firmware version.
    void fromByteArray(QByteArray image);
    // A setup archive or an older raw image file. An archive is checked whole before
    // anything changes: one to three entries, exactly one setup entry of a valid size,
    // FIR entries of at most MaxFirEntryBytes, no entry name with a folder step ("..")
    // or an absolute path. Its FIR/limiter sets are kept, tied to the image, until
    // uploadCarriedSets: reading a file changes nothing in a processor.
    void fromFile(const QString& fileName);
    // Hands the FIR/limiter sets the archive carried to the device for upload; called once
    // the setup has been accepted for a processor.
    void uploadCarriedSets();
    // Writes the archive folder/makeFileName(number) with the FIR/limiter sets of the
    // device's manager that the image names.
    void toFile(const QString& folder, int number = -1);
    // The same with the sets given (null: no entry; set1 equal to set0: one entry).
    void toFile(const QString& folder, int number, QShPtrFLE set0, QShPtrFLE set1);

    // "Set" + two-digit number + "_" + the name with unsafe characters blanked + ".zun";
    // no prefix for a negative number. Never contains a folder separator, never starts
    // with a dot.
    QString makeFileName(int number) const;
    // The number of "Set<digits>" in a base name; -1 when there is none.
    static int numberFromFileName(const QString& baseName);

    // The first word of the image that a processor of that firmware would refuse (outside
    // the raw range of its parameter), described for the operator with its value and the
    // allowed range; empty when every value lies in its range.
    QString outOfRange(quint16 firmware) const;
    // The same for device's processor, and what it can not take either: DSP programs it can
    // not run, carried FIR sets at a rate none of its clocks runs.
    QString outOfRange(const CZun* device) const;
    // What is merely odd for device's processor and is stored as it is (one line each): EQs
    // not below half the sample rate of the setup's own clock (as a clock change leaves
    // them), carried FIR sets at another rate than that clock.
    QStringList oddities(const CZun* device) const;
    // A FIR set the setup runs on device's processor at another rate than the setup's own
    // clock ("its FIR set runs at ..., but the setup's clock at ... (set name)"); empty when
    // none does. Such an archive from a file is not recalled; a setup the processor stored
    // so itself (its clock changed at the front panel) is recalled as it holds it.
    QString recallMismatch(const CZun* device) const;
    // The refusal of a setup whose DSP programs do not suit the processor.
    QString programsRefusal() const;

    // Rewrites both DSP program ids for the device's DSP type.
    void AdaptDSPProgIDs(quint16 dspType, quint16 firmware);

    // The active FIR/limiter set id of DSP 0 (dsp 0 or 1) or DSP 1 (dsp 2).
    quint32 GetActiveFilterIndex(int dsp) const;
    // dsp 0 writes both DSPs' ids, 1 DSP 0's, 2 DSP 1's.
    void SetFIRIndex(quint32 id, int dsp);
    // The DSP program id of DSP 0 (dsp 0 or 1) or DSP 1 (dsp 2).
    quint16 GetDSPProgID(int dsp) const;

private:
    CZun* m_device = nullptr;
    quint32 m_storedId = 0;
    QList<QShPtrFLE> m_carried;
};
