#pragma once

#include <QDataStream>
#include <QMetaType>

// What a processor is built of: its 32-bit hardware word (from the announce, or from the
// hardware reply of the control link) and the extra word of that reply. A value type
// carried by queued signals. The feature-bit accessors live with the device model.
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

    bool operator==(const CZunHardwareInfo& o) const { return m_hardware == o.m_hardware && m_extra == o.m_extra; }
    bool operator!=(const CZunHardwareInfo& o) const { return !(*this == o); }

private:
    quint32 m_hardware = 0;
    quint32 m_extra = 0;
    bool m_valid = false;
};

QDataStream& operator<<(QDataStream& out, const CZunHardwareInfo& info);
QDataStream& operator>>(QDataStream& in, CZunHardwareInfo& info);

Q_DECLARE_METATYPE(CZunHardwareInfo)
