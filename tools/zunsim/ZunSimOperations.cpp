#include "ZunSimOperations.h"

#include "CCmdMap.h"
#include "CZunImageDefaults.h"
#include "ZunCrc16.h"
#include "ZunSimDevice.h"
#include "ZunWire.h"

#include <QTextStream>
#include <QtEndian>

namespace
{
constexpr int FirmwarePieceSize = 16384;
constexpr int SetupImageBytes = ZunWire::ImageWords * 2;

bool validPin(quint16 pin)
{
    for (int shift = 0; shift < 16; shift += 4) {
        const int digit = (pin >> shift) & 0xF;
        if (digit < 1 || digit > 8)
            return false;
    }
    return true;
}

QVector<quint16> wordsOf(const QByteArray& bytes)
{
    QVector<quint16> w(ZunWire::ImageWords, 0);
    for (int i = 0; i < ZunWire::ImageWords && 2 * i + 1 < bytes.size(); ++i)
        w[i] = qFromLittleEndian<quint16>(bytes.constData() + 2 * i);
    return w;
}
} // namespace

ZunSimOperations::ZunSimOperations(ZunSimDevice* device, QSharedPointer<CCmdMap> map)
    : m_device(device), m_map(std::move(map))
{
}

int ZunSimOperations::num(const char* name, int fallback) const
{
    return m_map->contains(QLatin1String(name)) ? int(m_map->getCmdNr(name)) : fallback;
}

quint16 ZunSimOperations::word(const char* name) const
{
    const int n = num(name);
    return n >= 0 && n < ZunWire::ImageWords ? m_device->image().at(n) : 0;
}

void ZunSimOperations::setWord(const char* name, quint16 value)
{
    const int n = num(name);
    if (n >= 0 && n < ZunWire::ImageWords)
        m_device->image()[n] = value;
}

ZunSimOperations::Answer ZunSimOperations::refuse(const char* code) const
{
    Answer a;
    a.refused = true;
    a.code = quint16(num(code, 0xE005));
    return a;
}

ZunSimOperations::Answer ZunSimOperations::ok(quint16 w) const
{
    Answer a;
    a.word = w;
    return a;
}

QByteArray ZunSimOperations::imageBytes() const
{
    QByteArray bytes(SetupImageBytes, '\0');
    for (int i = 0; i < ZunWire::ImageWords; ++i)
        qToLittleEndian<quint16>(m_device->image().at(i), bytes.data() + 2 * i);
    return bytes;
}

void ZunSimOperations::takeImage(const QVector<quint16>& image, bool keepConfiguration)
{
    // The words of the running connection and the firmware's own version word are the
    // processor's, not the image's.
    QList<int> keep = {num("Cmd_Version"), num("Cmd_TCPCloseTime"), num("Cmd_VerboseLevel"),
                       num("Cmd_BroadcastID"), 19, num("Cmd_FlashSize")};
    if (keepConfiguration) {
        for (const char* name : {"Cmd_ClockSel", "Cmd_ExtClockSel", "Cmd_SPI_Routing", "Cmd_DSP_Routing",
                                 "Cmd_DSP_FullRouting0", "Cmd_DSP_FullRouting1", "Cmd_SPI_ARX_InpSel",
                                 "Cmd_SPI_ATX_OutSel", "Cmd_0_DSP_ID", "Cmd_1_DSP_ID", "Cmd_0_FIR_ID0",
                                 "Cmd_0_FIR_ID1", "Cmd_1_FIR_ID0", "Cmd_1_FIR_ID1"})
            keep << num(name);
    }
    QVector<quint16>& current = m_device->image();
    QVector<quint16> next = image;
    next.resize(ZunWire::ImageWords);
    for (int n : keep)
        if (n >= 0 && n < ZunWire::ImageWords)
            next[n] = current.at(n);
    current = next;
}

void ZunSimOperations::blockWritten()
{
    m_device->maintenance().transferValid = true;
}

bool ZunSimOperations::command(quint16 id, quint16 value, Answer* answer)
{
    if (is(id, "Cmd_MemCopy"))
        *answer = memCopy(value);
    else if (is(id, "Cmd_SetupStore"))
        *answer = storeSetup(value);
    else if (is(id, "Cmd_SetupSelect"))
        *answer = selectSetup(value);
    else if (is(id, "Cmd_DSP_Boot"))
        *answer = boot(value);
    else if (is(id, "Cmd_0_DSP_LoadKoef"))
        *answer = loadFir(0, value);
    else if (is(id, "Cmd_1_DSP_LoadKoef"))
        *answer = loadFir(1, value);
    else if (is(id, "Cmd_CheckFirmware"))
        *answer = checkFirmware(value);
    else if (is(id, "Cmd_BulkEraseF"))
        *answer = erase(value);
    else if (is(id, "Cmd_CheckBlockF")) {
        // 1 when the transfer buffer holds valid data of that many bytes (0 = any size).
        const ZunSimDevice::Maintenance& m = m_device->maintenance();
        const int size = m_device->transferBuffer().size();
        *answer = ok(m.transferValid && size > 0 && (value == 0 || value == (size & 0xFFFF)) ? 1 : 0);
    } else if (is(id, "Cmd_Pin"))
        *answer = pin(value);
    else if (is(id, "Cmd_IP_Hi") || is(id, "Cmd_IP_Lo")) {
        // The new address is used from the next start; the image keeps reporting 0.
        ZunSimDevice::Maintenance& m = m_device->maintenance();
        (is(id, "Cmd_IP_Hi") ? m.nextIpHi : m.nextIpLo) = value;
        m.nextIpSet = true;
        QTextStream(stderr) << "zunsim: address from the next start: " << (m.nextIpHi >> 8) << '.'
                            << (m.nextIpHi & 0xFF) << '.' << (m.nextIpLo >> 8) << '.' << (m.nextIpLo & 0xFF)
                            << Qt::endl;
        *answer = ok(value);
    } else {
        return false;
    }
    return true;
}

bool ZunSimOperations::blockRead(quint16 kind, QByteArray* data, Answer* answer)
{
    *answer = Answer();
    if (int(kind) == num("ID_Block_Flash")) {
        if (!m_device->maintenance().transferValid)
            *answer = refuse("Msg_ErrFlash"); // the copy before it failed: no valid data
        else
            *data = m_device->transferBuffer();
        return true;
    }
    if (int(kind) == num("ID_Block_SetupName")) {
        const quint8 listKind = quint8(word("Cmd_MemID2"));
        const ZunSimFlash::Entry* e = m_device->flash().find(listKind, quint8(word("Cmd_MemID0")));
        if (!e) {
            *answer = refuse("Msg_ErrRange");
        } else if (int(listKind) == num("ID_List_Setup")) {
            *data = e->data.mid(CZunImageDefaults::SetupNameByte, CZunImageDefaults::SetupNameLength);
        } else if (int(listKind) == num("ID_List_DSP_Prog")) {
            *data = QByteArray::number(e->id >> 16, 16).rightJustified(4, '0');
            data->append('\0');
        } else {
            *data = QByteArray(1, '\0');
        }
        return true;
    }
    return false;
}

ZunSimOperations::Answer ZunSimOperations::memCopy(quint16 op)
{
    const int fw = num("ID_FAI_Ctrl_w_RxTxBuf", 255), fr = num("ID_FAI_Ctrl_r", 254);
    const quint8 kind = quint8(word("Cmd_MemID2"));
    const quint8 slot = quint8(word("Cmd_MemID0"));
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    Answer a;
    if (op == num("CmdS_CopyDSPVar2RxTxBuf")) {
        m_device->transferBuffer() = imageBytes();
        m.transferValid = true;
        a = ok(op);
    } else if (op == num("CmdS_CopyMemDir2RxTxBuf")) {
        m_device->transferBuffer() = m_device->flash().directory();
        m.transferValid = true;
        a = ok(op);
    } else if (op == num("CmdS_CopyRxTxBuf2F") + fw) {
        a = upload(kind, slot);
    } else if (op == num("CmdS_CopyF2RxTxBuf") + fr) {
        a = download(kind, slot);
    } else if (op == num("CmdS_DeleteInF")) {
        a = remove(kind, slot);
    } else if (op == num("CmdS_CopyRxTxBuf2DSPVar")) {
        a = writeImage();
    } else if (op == num("CmdS_SaveSetupName")) {
        m.setupName = m_device->transferBuffer().left(CZunImageDefaults::SetupNameLength);
        a = ok(op);
    } else if (op == num("CmdS_SaveDeviceName")) {
        QByteArray name = m_device->transferBuffer().left(24);
        const int nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        while (name.endsWith(' '))
            name.chop(1);
        m_device->identity().name = QString::fromLatin1(name);
        a = ok(op);
    } else if ((op & 0xFF00) == num("CmdS_CopyRxTxBuf2F_Raw", 0x0200)) {
        // A firmware piece: the piece number sits in bits 4-7.
        const QByteArray& piece = m_device->transferBuffer();
        if (piece.isEmpty() || piece.size() > FirmwarePieceSize)
            return refuse("Msg_ErrBlockLength");
        if (m_device->faults().failUpload)
            return refuse("Msg_ErrFlash");
        m.firmwarePieces[(op & 0xF0) >> 4] = piece;
        a = ok(op);
    } else if ((op & 0xFF00) == num("CmdS_SaveParF", 0x0300)) {
        return storeSetup(op & 0xFF);
    } else {
        return refuse("Msg_ErrRange");
    }
    if (!a.refused)
        setWord("Cmd_MemCopy", op);
    return a;
}

ZunSimOperations::Answer ZunSimOperations::upload(quint8 kind, quint8 slot)
{
    const QByteArray& data = m_device->transferBuffer();
    if (m_device->faults().failUpload)
        return refuse("Msg_ErrFlash");
    if (data.isEmpty() || !m_device->maintenance().transferValid)
        return refuse("Msg_ErrBlockLength");
    quint32 id;
    if (int(kind) == num("ID_List_Setup")) {
        if (data.size() != SetupImageBytes)
            return refuse("Msg_ErrBlockLength");
        id = ZunCrc16(data);
    } else if (int(kind) == num("ID_List_Filter")) {
        id = ZunCrc16Data(data);
    } else if (int(kind) == num("ID_List_DSP_Prog")) {
        const int low = m_device->identity().programIdLow;
        id = quint32(word("Cmd_Block_ID")) << 16 | (low < 0 ? ZunCrc16(data) & 0xFFFF : quint32(low));
    } else {
        return refuse("Msg_ErrRange");
    }
    switch (m_device->flash().store(kind, slot, id, data)) {
    case ZunSimFlash::Result::Ok:
        return ok(quint16(num("CmdS_CopyRxTxBuf2F") + num("ID_FAI_Ctrl_w_RxTxBuf", 255)));
    case ZunSimFlash::Result::BadSlot:
        return refuse("Msg_ErrRange");
    default:
        return refuse("Msg_ErrFlash");
    }
}

ZunSimOperations::Answer ZunSimOperations::download(quint8 kind, quint8 slot)
{
    const ZunSimFlash::Entry* e = m_device->flash().find(kind, slot);
    if (!e) {
        m_device->maintenance().transferValid = false;
        return refuse("Msg_ErrRange");
    }
    m_device->transferBuffer() = e->data;
    m_device->maintenance().transferValid = true;
    return ok(quint16(num("CmdS_CopyF2RxTxBuf") + num("ID_FAI_Ctrl_r", 254)));
}

ZunSimOperations::Answer ZunSimOperations::remove(quint8 kind, quint8 slot)
{
    if (m_device->flash().remove(kind, slot) != ZunSimFlash::Result::Ok)
        return refuse("Msg_ErrRange");
    return ok(quint16(num("CmdS_DeleteInF")));
}

ZunSimOperations::Answer ZunSimOperations::writeImage()
{
    const QByteArray& data = m_device->transferBuffer();
    if (data.size() != SetupImageBytes || !m_device->maintenance().transferValid)
        return refuse("Msg_ErrBlockLength");
    takeImage(wordsOf(data), false);
    return ok(quint16(num("CmdS_CopyRxTxBuf2DSPVar")));
}

ZunSimOperations::Answer ZunSimOperations::storeSetup(quint16 slot)
{
    if (m_device->faults().failUpload)
        return refuse("Msg_ErrFlash");
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    QByteArray bytes = imageBytes();
    if (!m.setupName.isEmpty()) {
        // The name block becomes the name of the current parameters, as stored.
        const QByteArray name = m.setupName.leftJustified(CZunImageDefaults::SetupNameLength, ' ', true);
        bytes.replace(CZunImageDefaults::SetupNameByte, CZunImageDefaults::SetupNameLength, name);
        m.setupName.clear();
        takeImage(wordsOf(bytes), false);
        bytes = imageBytes();
    }
    quint8 used = 0;
    const quint8 kind = quint8(num("ID_List_Setup", 1));
    switch (m_device->flash().store(kind, quint8(qMin<quint16>(slot, 255)), ZunCrc16(bytes), bytes, &used)) {
    case ZunSimFlash::Result::Ok:
        setWord("Cmd_SetupSelect", used);
        return ok(slot);
    case ZunSimFlash::Result::BadSlot:
        return refuse("Msg_ErrRange");
    default:
        return refuse("Msg_ErrFlash");
    }
}

ZunSimOperations::Answer ZunSimOperations::frontPanelStore(quint16 slot, const QByteArray& name)
{
    m_device->maintenance().setupName = name;
    const Answer stored = storeSetup(slot);
    if (!stored.refused)
        setWord("Cmd_SetupStore", slot);
    return stored;
}

ZunSimOperations::Answer ZunSimOperations::selectSetup(quint16 slot)
{
    if (slot == 0xFE || slot == 0xFF) {
        // 254 restores the parameters and keeps the routing configuration, clock and
        // DSP/FIR selection; 255 restores everything.
        const quint16 fw = m_device->identity().firmware ? m_device->identity().firmware : 1080;
        takeImage(CZunImageDefaults::defaultImage(fw), slot == 0xFE);
        if (slot == 0xFF) {
            ZunSimDevice::Maintenance& m = m_device->maintenance();
            m.bootedProgram[0] = word("Cmd_0_DSP_ID");
            m.bootedProgram[1] = word("Cmd_1_DSP_ID");
            m.loadedFir[0] = m.loadedFir[1] = 0;
        }
        setWord("Cmd_SetupSelect", 0xCDEF);
        return ok(slot);
    }
    const ZunSimFlash::Entry* e = m_device->flash().find(quint8(num("ID_List_Setup", 1)), quint8(qMin<quint16>(slot, 255)));
    if (!e)
        return refuse("Msg_ErrRange");
    takeImage(wordsOf(e->data), false);
    setWord("Cmd_SetupSelect", slot);
    // A recalled setup runs the programs and FIR sets it names.
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    m.bootedProgram[0] = word("Cmd_0_DSP_ID");
    m.bootedProgram[1] = word("Cmd_1_DSP_ID");
    m.loadedFir[0] = quint32(word("Cmd_0_FIR_ID1")) << 16 | word("Cmd_0_FIR_ID0");
    m.loadedFir[1] = quint32(word("Cmd_1_FIR_ID1")) << 16 | word("Cmd_1_FIR_ID0");
    return ok(slot);
}

ZunSimOperations::Answer ZunSimOperations::boot(quint16 value)
{
    if (int(value) != num("ID_DSP_Prog_Over_ID"))
        return ok(value);
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    const int builtIn = num("Inf_DSP0000_307_0", 0);
    const quint8 kind = quint8(num("ID_List_DSP_Prog", 3));
    const char* names[2] = {"Cmd_0_DSP_ID", "Cmd_1_DSP_ID"};
    for (int d = 0; d < 2; ++d) {
        const quint16 p = word(names[d]);
        if (p != builtIn && !m_device->flash().findId(kind, p, true)) {
            // The program is not in the flash: the DSPs go on running what they ran.
            setWord(names[0], m.bootedProgram[0]);
            setWord(names[1], m.bootedProgram[1]);
            return refuse("Msg_ErrFlash");
        }
    }
    m.bootedProgram[0] = word(names[0]);
    m.bootedProgram[1] = word(names[1]);
    return ok(value);
}

ZunSimOperations::Answer ZunSimOperations::loadFir(int dsp, quint16 value)
{
    if (int(value) != num("ID_FAI_Ctrl_r", 254))
        return refuse("Msg_ErrRange");
    const char* low = dsp == 0 ? "Cmd_0_FIR_ID0" : "Cmd_1_FIR_ID0";
    const char* high = dsp == 0 ? "Cmd_0_FIR_ID1" : "Cmd_1_FIR_ID1";
    const quint32 id = quint32(word(high)) << 16 | word(low);
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    if (id != 0 && !m_device->flash().findId(quint8(num("ID_List_Filter", 2)), id, false)) {
        setWord(low, quint16(m.loadedFir[dsp] & 0xFFFF));
        setWord(high, quint16(m.loadedFir[dsp] >> 16));
        return refuse("Msg_ErrFlash");
    }
    m.loadedFir[dsp] = id;
    return ok(value);
}

ZunSimOperations::Answer ZunSimOperations::checkFirmware(quint16 words)
{
    // Success when the pieces 0..n-1 arrived without a gap and hold the announced size
    // (an odd file has one byte more than 2 x words).
    const QMap<int, QByteArray>& pieces = m_device->maintenance().firmwarePieces;
    qint64 total = 0;
    int expected = 0;
    bool contiguous = true;
    for (auto it = pieces.constBegin(); it != pieces.constEnd(); ++it, ++expected) {
        if (it.key() != expected)
            contiguous = false;
        total += it.value().size();
    }
    const bool good = contiguous && !pieces.isEmpty() && (total == 2 * qint64(words) || total == 2 * qint64(words) + 1)
        && !m_device->faults().failCheck;
    setWord("Cmd_CheckFirmware", good ? 1 : 0);
    // The processor restarts with the new firmware and announces its version.
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    if (good && m.nextFirmware != 0) {
        m_device->identity().firmware = m.nextFirmware;
        m.nextFirmware = 0;
    }
    return ok(good ? 1 : 0);
}

ZunSimOperations::Answer ZunSimOperations::erase(quint16 value)
{
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    m.firmwarePieces.clear();
    if (!m_map->contains(QStringLiteral("Inf_EraseOnly128K")) || int(value) != num("Inf_EraseOnly128K"))
        m_device->flash().eraseAll();
    return ok(value);
}

ZunSimOperations::Answer ZunSimOperations::pin(quint16 value)
{
    ZunSimDevice::Maintenance& m = m_device->maintenance();
    if (!m.pinAccepted) {
        m.pinAccepted = value == m.pin;
        return ok(m.pinAccepted ? 1 : 0);
    }
    m.pinAccepted = false;
    if (!validPin(value))
        return ok(0);
    m.pin = value;
    return ok(2);
}
