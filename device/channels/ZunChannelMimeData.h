#pragma once

#include "CZunDelay.h"
#include "ZunFilterParams.h"

#include <QList>
#include <QMimeData>

// The settings of one channel as a drag-and-drop or clipboard payload: its EQs, its
// crossover filters and, when it carries them, gain, delay, mute and polarity. Recognised
// by its type (qobject_cast); it also announces MimeType for the toolkit.
//
// Only a whole channel (a channel's copy) or a bare filter list (a CSV file) replaces the
// target's EQs and crossover filters; the settings a strip carries (gain, delay, mute,
// polarity, no lists) never remove them, whatever way they arrive.
class ZunChannelMimeData : public QMimeData
{
    Q_OBJECT
public:
    static constexpr const char* MimeType = "application/x-zun-channel";

    ZunChannelMimeData();
    // The EQs and crossover filters of a CSV filter list ("peq" rows become EQs); no
    // channel settings. A file that cannot be read gives empty lists.
    explicit ZunChannelMimeData(const QString& fileName);

    QList<EQ_PARAMS> getEQs() const { return m_eqs; }
    void setEQs(const QList<EQ_PARAMS>& eqs) { m_eqs = eqs; }
    void appendEQ(const EQ_PARAMS& eq) { m_eqs.append(eq); }
    QList<HO_FILTER_PARAMS> getFilters() const { return m_filters; }
    void setFilters(const QList<HO_FILTER_PARAMS>& filters) { m_filters = filters; }
    void appendFilter(const HO_FILTER_PARAMS& filter) { m_filters.append(filter); }
    CZunDelay getDelay() const { return m_delay; }
    void setDelay(const CZunDelay& delay) { m_delay = delay; }
    double getGain() const { return m_gain; }
    void setGain(double gain) { m_gain = gain; }
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted) { m_muted = muted; }
    bool isPhaseInverted() const { return m_inverted; }
    void setPhaseInverted(bool inverted) { m_inverted = inverted; }
    bool hasChannelSettings() const { return m_hasChannelSettings; }
    void setHasChannelSettings(bool has) { m_hasChannelSettings = has; }
    // The lists are a channel's complete EQs and filters (set by the channel's own copy).
    bool isWholeChannel() const { return m_wholeChannel; }
    void setWholeChannel(bool whole) { m_wholeChannel = whole; }
    // Whether applying the payload replaces the target's EQs and crossover filters.
    bool replacesFilters() const { return m_wholeChannel || !m_hasChannelSettings; }

    QStringList formats() const override;

private:
    QList<EQ_PARAMS> m_eqs;
    QList<HO_FILTER_PARAMS> m_filters;
    CZunDelay m_delay;
    double m_gain = 0.0;
    bool m_muted = false;
    bool m_inverted = false;
    bool m_hasChannelSettings = false;
    bool m_wholeChannel = false;
};
