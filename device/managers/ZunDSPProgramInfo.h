#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One DSP program as a value: a 16-bit program id split into its four digits (three
// bits each, digit 0 in bits 9-11) and its variant (bits 12-15), with the name of the
// embedded program image and the text shown for the program. Records are equal when
// their program ids are.
class ZunDSPProgramInfo
{
public:
    // DSP types of the processor's "Cmd_0_DSP_Type" word.
    static constexpr quint16 DSPTypeFromId = 255; // take the variant from the id
    static constexpr quint16 DSPType307 = 791;    // 0x0317
    static constexpr quint16 DSPType321 = 4897;   // 0x1321

    // The program id under DSP type 255; the firmware names the resource folder.
    explicit ZunDSPProgramInfo(quint16 progID = 0, quint16 firmware = 0);
    ZunDSPProgramInfo(const ZunDSPProgramInfo&) = default;
    ZunDSPProgramInfo& operator=(const ZunDSPProgramInfo&) = default;

    // Fills the record from id for the DSP type; throws std::logic_error for an
    // unknown DSP type or variant and then leaves the record as it was.
    void fromProgID(quint16 id, quint16 firmware, quint16 dspType);
    // The same program re-derived for another DSP type.
    void setDSPType(quint16 dspType);
    // The whole program image from the resources, following the firmware folder's
    // "version.txt" when the folder holds no images; throws std::logic_error when
    // there is none.
    QByteArray readProgram() const;

    // The program a DSP runs when it shares FIR coefficients in copy mode `mode`:
    // 1 copies digits 2 and 3 onto digits 0 and 1, 3 copies digit 3 onto all four;
    // every other mode keeps the id.
    static quint16 linkedProgID(int mode, quint16 id);

    quint16 digit(int index) const; // index 0-3, digit 0 first
    quint16 variant() const { return m_variant; }
    quint32 family() const { return m_family; }
    quint16 subVariant() const { return m_subVariant; }
    quint16 firmware() const { return m_firmware; }
    quint16 progID() const { return m_progID; }
    // Both texts are made when asked: the record is built far more often (to compare ids)
    // than it is shown or read.
    QString displayText() const;
    QString resourcePath() const;
    // The image's file name, "2121_307_0.dsp" for id 0x0451.
    QString fileName() const;

    bool operator==(const ZunDSPProgramInfo& other) const { return m_progID == other.m_progID; }
    bool operator!=(const ZunDSPProgramInfo& other) const { return !(*this == other); }

    // Registers the type for queued connections; calling it again does no harm.
    static void registerMetaType();

private:
    quint16 m_digit[4] = {0, 0, 0, 0};
    quint16 m_variant = 0;
    quint32 m_family = 307;
    quint16 m_subVariant = 0;
    quint16 m_firmware = 0;
    quint16 m_progID = 0;
};

Q_DECLARE_METATYPE(ZunDSPProgramInfo)
