#pragma once

#include <QDataStream>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// What a processor is built of: its 32-bit hardware word (from the announce, or from the
// hardware reply of the control link) and the extra word of that reply. A value type
// carried by queued signals.
class CZunHardwareInfo
{
public:
    CZunHardwareInfo() = default;
    // From the announce: the extra word is not announced and stays 0.
    explicit CZunHardwareInfo(quint32 hardwareWord) { setValue(hardwareWord, 0); }
    CZunHardwareInfo(quint32 hardwareWord, quint32 extraWord) { setValue(hardwareWord, extraWord); }

    void setValue(quint32 hardwareWord, quint32 extraWord)
    {
        m_hardware = hardwareWord;
        m_extra = extraWord;
        m_valid = hardwareWord != 0;
    }

    quint32 hardwareWord() const { return m_hardware; }
    quint32 extraWord() const { return m_extra; }
    // False while the hardware word is 0 (nothing known yet).
    bool isValid() const { return m_valid; }

    bool hasFrontPanel() const { return bit(2); }
    bool hasAESTransmitter() const { return bit(3); }
    bool hasAESReceiver() const { return bit(4); }
    // DSP 1 present.
    bool isDoubleBoard() const { return bit(7); }
    bool hasSampleRateConverter() const { return bit(15); }
    // False while the top half is all ones (the Dante bit is then not valid).
    bool isDanteEnabled() const { return (m_hardware >> 16) != 0xFFFF && bit(24); }
    int daConverterCount() const { return bitCount(8, 4); }
    int adConverterCount() const { return bitCount(12, 3); }
    // Two outputs per DA converter, at most 4 per board.
    int analogOutputCount() const { return qMin(2 * daConverterCount(), isDoubleBoard() ? 8 : 4); }
    int analogInputCount() const { return qMin(2 * adConverterCount(), isDoubleBoard() ? 8 : 4); }
    // Rich-text summary for the advanced settings page and the device tool tip.
    QString toHtml() const;

    bool operator==(const CZunHardwareInfo& o) const { return m_hardware == o.m_hardware && m_extra == o.m_extra; }
    bool operator!=(const CZunHardwareInfo& o) const { return !(*this == o); }

private:
    bool bit(int n) const { return (m_hardware >> n) & 1u; }
    int bitCount(int first, int count) const
    {
        int n = 0;
        for (int i = first; i < first + count; ++i)
            n += bit(i) ? 1 : 0;
        return n;
    }

    quint32 m_hardware = 0;
    quint32 m_extra = 0;
    bool m_valid = false;
};

QDataStream& operator<<(QDataStream& out, const CZunHardwareInfo& info);
QDataStream& operator>>(QDataStream& in, CZunHardwareInfo& info);

Q_DECLARE_METATYPE(CZunHardwareInfo)
