// Every reply the link hands the image's dispatcher (CZunStatusBuffer::cmdCallback), in any
// order and state: parameter words, blocks (flash directory, image, setups, FIR sets, DSP
// status, setup names), memory copies, boots, recalls, refusals, replies that never came.
// Whatever they say, nothing escapes the dispatcher, the device's queued work runs, and the
// device stays whole and answers its getters.
//
// Input: replies one after another, each
//   command selector, value selector (an index into the names below, or 0xFF and a raw
//   little-endian word), flags (bit 0 error, 1 done, 2 not sent, 3 timed out,
//   4 superseded, 5 secret), payload length (255: the rest of the input), payload.
#include "CRoutingManager.h"
#include "FuzzDevice.h"

#include <QtEndian>

#include <stdexcept>

namespace {

const char* const Commands[] = {
    "ID_TX_Block",        "ID_TX_Status",      "Cmd_0_DSP_WaitLoop", "Cmd_0_DSP_TestReg",  "ID_TX_Version",
    "ID_TX_CmdReq",       "ID_TX_Hardware",    "ID_RX_Block_Start",  "Cmd_MemCopy",        "Cmd_CheckBlockF",
    "Cmd_CheckFirmware",  "Cmd_SetupSelect",   "Cmd_DSP_Boot",       "Cmd_DSP_InitAllPar", "Cmd_0_DSP_LoadKoef",
    "Cmd_1_DSP_LoadKoef", "Cmd_BulkEraseF",    "Cmd_SPI_Routing",    "Cmd_0_MasterMute",   "Cmd_1_MasterMute",
    "Cmd_0_MasterGain",   "Cmd_1_MasterGain",  "Cmd_0_MasterDelay",  "Cmd_0_InGainA",      "Cmd_0_InMuteA",
    "Cmd_0_InDelayB",     "Cmd_0_ChGain1",     "Cmd_1_ChDelay2",     "Cmd_0_ChMute0",      "Cmd_Pin",
    "Cmd_SetupStore",     "Cmd_MemID0",        "Cmd_MemID2",         "Cmd_KeyLock",        "Cmd_SetupFlags",
    "Cmd_String2App",     "Cmd_TCPCloseTime",  "Cmd_ClockSel",       "Cmd_0_DSP_ID"};

const char* const Values[] = {
    "ID_Block_Flash",          "ID_Block_DSP_Stat",       "ID_Block_SetupName", "CmdS_CopyMemDir2RxTxBuf",
    "CmdS_CopyDSPVar2RxTxBuf", "CmdS_CopyRxTxBuf2DSPVar", "CmdS_CopyRxTxBuf2F", "CmdS_CopyRxTxBuf2F_Raw",
    "CmdS_SaveParF",           "CmdS_DeleteInF",          "ID_List_Setup",      "ID_List_SetupEQ",
    "ID_List_Filter",          "ID_List_DSP_Prog",        "Msg_StatusIdle",     "Msg_CmdChangeN"};

// The reply's state by flag bit.
void (CZunCmd::*const States[])() = {&CZunCmd::setError,    &CZunCmd::setDone,       &CZunCmd::setNotSent,
                                     &CZunCmd::setTimedOut, &CZunCmd::setSuperseded, &CZunCmd::setSecret};

// The memory copy that reads a flash entry into the buffer: the sum of two names.
const quint8 FlashRead = quint8(sizeof(Values) / sizeof(*Values));

class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    bool atEnd() const { return m_p >= m_end; }
    quint8 byte() { return atEnd() ? 0 : *m_p++; }
    quint16 word()
    {
        const quint8 lo = byte();
        return quint16(lo | byte() << 8);
    }
    QByteArray take(size_t n)
    {
        n = qMin(n, size_t(m_end - m_p));
        const QByteArray out(reinterpret_cast<const char*>(m_p), int(n));
        m_p += n;
        return out;
    }
    size_t left() const { return size_t(m_end - m_p); }

    // A name of the table chosen by the next byte, or a raw word after 0xFF.
    template <size_t N> quint16 pick(const CCmdMap& map, const char* const (&names)[N], bool flashRead = false)
    {
        const quint8 s = byte();
        if (s == 0xFF)
            return word();
        if (flashRead && s == FlashRead)
            return quint16(number(map, "ID_FAI_Ctrl_r") + number(map, "CmdS_CopyF2RxTxBuf"));
        return number(map, names[s % N]);
    }

private:
    static quint16 number(const CCmdMap& map, const char* name)
    {
        return map.contains(QLatin1String(name)) ? quint16(map.getCmdNr(name)) : 0;
    }
    const uint8_t* m_p;
    const uint8_t* m_end;
};

} // namespace

// LeakSanitizer's check after an input whose allocations outlive it (the device keeps state
// between inputs) walks every chunk, freed ones in ASan's quarantine included: at the
// default 256 MB that is about 700,000 chunks, most of each such input's time. An input
// frees about 200 KB, so 64 MB still keeps a few hundred inputs' frees poisoned. ASAN_OPTIONS
// overrides it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=64"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CZun* zun = ZunFuzz::device();
    CZunStatusBuffer* image = zun->GetStatusBuffer();
    const CCmdMap& map = *zun->GetCmdMap();
    Input in(data, size);
    QList<CZunCmd> replies;
    while (!in.atEnd()) {
        const quint16 c = in.pick(map, Commands);
        const quint16 v = in.pick(map, Values, true);
        const quint8 flags = in.byte();
        const quint8 length = in.byte();
        CZunCmd cmd(c, v);
        cmd.setReply(in.take(length == 0xFF ? in.left() : length));
        for (size_t bit = 0; bit < sizeof(States) / sizeof(*States); ++bit)
            if (flags >> bit & 1)
                (cmd.*States[bit])();
        replies << cmd;
    }
    // As the link hands them over, one reply after another.
    for (const CZunCmd& cmd : qAsConst(replies))
        image->cmdCallback(cmd);
    // The device's queued reactions (hardware, directory, rebuilds) run here.
    ZunFuzz::settle(zun);
    try {
        zun->GetMasterGain(1);
        zun->GetChannelDelay(ZunC::Output2);
        zun->GetActiveFilterIndex(1);
        zun->GetSampleRate();
        zun->GetHardwareInfo().analogOutputCount();
        zun->GetRoutingManager()->GetInputs();
    } catch (const std::exception&) {
    }
    return 0;
}
